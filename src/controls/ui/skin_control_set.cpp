#include "controls/ui/skin_control_set.h"

#include <QWidget>

#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "platform/ui/qt_owned.h"

namespace taviro::controls::ui {

using platform::ui::Child;

CSkinControlSet::CSkinControlSet(QWidget* window, std::span<const SkinControlEntry> table,
                                 Pressed pressed, Slid slid) {
    for (const SkinControlEntry& entry : table) {
        if (entry.type != SkinControlEntry::Type::Button) {
            auto* slider = Child<CSkinSliderWidget>(
                window, entry.id,
                entry.type == SkinControlEntry::Type::HorizontalSlider ? Orientation::Horizontal
                                                                       : Orientation::Vertical);
            slider->setGeometry(entry.rect);
            QObject::connect(slider, &CSkinSliderWidget::SliderMessage, window, slid);
            m_sliders[entry.id] = slider;
            slider->show();  // made after the window was shown
            continue;
        }
        auto* button = Child<CSkinButtonWidget>(window, entry.id, entry.kind);
        // One strip holds every look; the frame index picks the look.
        ButtonPictures pictures;
        pictures.normal = pictures.hover = pictures.focus = pictures.pressed = pictures.disabled =
            entry.picture;
        button->SetFrameCount(entry.frames);
        button->SetPictures(pictures, false);
        button->setGeometry(entry.rect);
        QObject::connect(button, &CSkinButtonWidget::Clicked, window, pressed);
        m_buttons[entry.id] = button;
        button->show();
    }
}

CSkinButtonWidget* CSkinControlSet::Button(std::uint32_t id) const {
    const auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

CSkinSliderWidget* CSkinControlSet::Slider(std::uint32_t id) const {
    const auto it = m_sliders.find(id);
    return it == m_sliders.end() ? nullptr : it->second;
}

void CSkinControlSet::SetState(std::uint32_t id, SkinControlState state) const {
    CSkinButtonWidget* button = Button(id);
    if (button == nullptr)
        return;
    switch (state) {
        case SkinControlState::kReleased:
            button->SetCheck(0);
            break;
        case SkinControlState::kPressed:
            button->SetCheck(1);
            break;
        case SkinControlState::kEnabled:
            button->SetButtonEnabled(true);
            break;
        case SkinControlState::kDisabled:
            button->SetButtonEnabled(false);
            break;
    }
}

void CSkinControlSet::SetCheck(std::uint32_t id, bool down) const {
    if (CSkinButtonWidget* button = Button(id))
        button->SetCheck(down ? 1 : 0);
}

void CSkinControlSet::SetToolTips(const std::function<QString(std::uint32_t id)>& text) const {
    for (const auto& [id, button] : m_buttons)
        button->setToolTip(text(id));
    for (const auto& [id, slider] : m_sliders)
        slider->setToolTip(text(id));
}

}  // namespace taviro::controls::ui
