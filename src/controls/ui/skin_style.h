// The one look of every window built from standard controls (lists, tables, edits, spin
// boxes, combo boxes, progress bars, tabs, check boxes, radio buttons, tool buttons such as
// the calendar's days): the skin's colours and font over Qt's Fusion style, with the skin
// pack's own check-box and radio pictures where it has them. Installed once for the whole
// application, so no window styles its controls itself.
//
// Thread: the GUI thread. The style belongs to the application once installed.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QProxyStyle>

class QApplication;

namespace taviro::controls::ui {

// The skin's colours: charcoal background, panels, the accent of pressed, checked and
// focused states, and the grey of labels.
namespace skin_colour {
inline constexpr unsigned kBackground = 0x1E2126;
inline constexpr unsigned kPanel = 0x252930;
inline constexpr unsigned kBorder = 0x323842;
inline constexpr unsigned kField = 0x15171B;
inline constexpr unsigned kText = 0xD5D9DF;
inline constexpr unsigned kDimText = 0x6C737D;
inline constexpr unsigned kAccent = 0x2D9CDB;
inline constexpr unsigned kButton = 0x2A2E35;
}  // namespace skin_colour

// A skin colour (0xRRGGBB) as Qt takes it.
QColor SkinColour(unsigned rgb);

QPalette SkinPalette();
// "Liberation Sans" (metric-compatible with Arial), DejaVu Sans after it.
QFont SkinFont(int pointSize = 9);

class CSkinStyle final : public QProxyStyle {
  public:
    CSkinStyle();
    void polish(QPalette& palette) override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// Installs the style, its palette and font for the whole application.
void InstallSkinStyle(QApplication& application);

}  // namespace taviro::controls::ui
