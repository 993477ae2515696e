#include "controls/ui/skin_slider_widget.h"

#include <QMouseEvent>
#include <QPainter>

#include "controls/ui/skin_paint.h"
#include "platform/skin_numbers.h"
#include "platform/ui/skin_library.h"

namespace taviro::controls::ui {
namespace {

Point ToPoint(const QPointF& p) {
    return Point{static_cast<int>(p.x()), static_cast<int>(p.y())};
}

}  // namespace

CSkinSliderWidget::CSkinSliderWidget(std::uint32_t id, Orientation orientation, QWidget* parent)
    : QWidget(parent), m_model(id, orientation) {
    namespace skin = platform::skin;
    const bool horizontal = orientation == Orientation::Horizontal;
    m_trackPicture = horizontal ? skin::kPicSliderTrackH : skin::kPicSliderTrackV;
    const int thumb = horizontal ? skin::kPicSliderThumbH : skin::kPicSliderThumbV;
    m_model.SetPictures(SliderPictures{ThumbPicture{thumb, kColorKey & 0xFFFFFFu}, {}});
    const QImage thumbImage = platform::ui::Skin().Image(thumb);
    if (!thumbImage.isNull())
        m_model.SetThumbSize(thumbImage.width(), thumbImage.height());
    else if (horizontal)
        m_model.SetThumbSize(kDefaultThumbLength, kDefaultThumbBreadth);
    else
        m_model.SetThumbSize(kDefaultThumbBreadth, kDefaultThumbLength);
    setFocusPolicy(Qt::ClickFocus);
    m_model.SetSize(width(), height());
}

void CSkinSliderWidget::SetRange(int minimum, int maximum) {
    if (m_model.SetRange(minimum, maximum))
        update();
}

void CSkinSliderWidget::SetPosition(int value) {
    // A drag in progress owns the thumb; the owner's periodic updates wait for its end.
    if (m_model.Dragging())
        return;
    if (m_model.SetPosition(value))
        update();
}

void CSkinSliderWidget::SetSliderEnabled(bool on) {
    Apply(m_model.SetEnabled(on));
}

void CSkinSliderWidget::Apply(const Reaction& reaction) {
    if (reaction.capture == CaptureChange::Take)
        grabMouse();
    else if (reaction.capture == CaptureChange::Release)
        releaseMouse();
    if (reaction.takeFocus)
        setFocus(Qt::MouseFocusReason);
    if (reaction.repaint)
        update();
    for (const ControlPost& post : reaction.posts)
        emit SliderMessage(post.message, m_model.Id(), static_cast<int>(post.lParam));
}

void CSkinSliderWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage track = platform::ui::Skin().Image(m_trackPicture);
    if (!track.isNull())
        painter.drawImage(rect(), Transparent(track));
    const Rect t = m_model.ThumbRect();
    const QRect thumbRect(t.left, t.top, t.width, t.height);
    const QImage thumb = platform::ui::Skin().Image(m_model.Pictures().thumb.picture);
    if (!thumb.isNull()) {
        QImage shown = Transparent(thumb);
        if (!m_model.Enabled()) {
            painter.setOpacity(0.45);
        }
        painter.drawImage(thumbRect.topLeft(), shown);
        painter.setOpacity(1.0);
    } else {
        painter.fillRect(thumbRect, m_model.Enabled() ? TextColor() : DisabledText());
    }
}

void CSkinSliderWidget::resizeEvent(QResizeEvent* event) {
    m_model.SetSize(width(), height());
    QWidget::resizeEvent(event);
}

void CSkinSliderWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    Apply(m_model.OnButtonDown(ToPoint(event->position())));
}

void CSkinSliderWidget::mouseMoveEvent(QMouseEvent* event) {
    Apply(m_model.OnMouseMove(ToPoint(event->position())));
}

void CSkinSliderWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    Apply(m_model.OnButtonUp(ToPoint(event->position())));
}

}  // namespace taviro::controls::ui
