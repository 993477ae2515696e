#include "controls/ui/skin_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include "platform/skin_numbers.h"
#include "platform/ui/skin_library.h"

namespace taviro::controls::ui {

namespace {

// Frames of the skin's button strips: normal, hover, focus, pressed, disabled.
constexpr int kFrameNormal = 0;
constexpr int kFrameHover = 1;
constexpr int kFramePressed = 3;
constexpr int kFrameDisabled = 4;
constexpr int kIndicatorFrames = 5;

}  // namespace

QColor SkinColour(unsigned rgb) {
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

QPalette SkinPalette() {
    const auto Rgb = SkinColour;
    using namespace skin_colour;
    QPalette p;
    p.setColor(QPalette::Window, Rgb(kBackground));
    p.setColor(QPalette::WindowText, Rgb(kText));
    p.setColor(QPalette::Base, Rgb(kField));
    p.setColor(QPalette::AlternateBase, Rgb(0x1A1D22));
    p.setColor(QPalette::Text, Rgb(kText));
    p.setColor(QPalette::Button, Rgb(kButton));
    p.setColor(QPalette::ButtonText, Rgb(kText));
    p.setColor(QPalette::Highlight, Rgb(kAccent));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, Rgb(kPanel));
    p.setColor(QPalette::ToolTipText, Rgb(kText));
    p.setColor(QPalette::PlaceholderText, Rgb(kDimText));
    p.setColor(QPalette::Light, Rgb(0x3A4049));
    p.setColor(QPalette::Midlight, Rgb(kBorder));
    p.setColor(QPalette::Mid, Rgb(kBorder));
    p.setColor(QPalette::Dark, Rgb(0x121418));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Link, Rgb(kAccent));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, Rgb(kDimText));
    }
    p.setColor(QPalette::Disabled, QPalette::Base, Rgb(0x24272C));
    p.setColor(QPalette::Disabled, QPalette::Button, Rgb(0x24272C));
    return p;
}

QFont SkinFont(int pointSize) {
    QFont font(QStringLiteral("Liberation Sans"), pointSize);
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    return font;
}

CSkinStyle::CSkinStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void CSkinStyle::polish(QPalette& palette) {
    palette = SkinPalette();
}

void CSkinStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    if (element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton) {
        // The pack's own boxes: the pressed frame is the checked look.
        const QImage strip = platform::ui::Skin().Image(element == PE_IndicatorCheckBox
                                                            ? platform::skin::kPicCheckBox
                                                            : platform::skin::kPicRadio);
        if (!strip.isNull() && strip.width() >= kIndicatorFrames) {
            const int w = strip.width() / kIndicatorFrames;
            const bool on = (option->state & State_On) != 0;
            const int frame = !(option->state & State_Enabled)    ? kFrameDisabled
                              : on                                ? kFramePressed
                              : (option->state & State_MouseOver) ? kFrameHover
                                                                  : kFrameNormal;
            painter->drawImage(option->rect, strip, QRect(frame * w, 0, w, strip.height()));
            return;
        }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void InstallSkinStyle(QApplication& application) {
    QApplication::setStyle(new CSkinStyle);
    QApplication::setPalette(SkinPalette());
    QApplication::setFont(SkinFont());
    (void)application;
}

}  // namespace taviro::controls::ui
