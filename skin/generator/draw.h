// Drawing the skin pictures: each description entry becomes one QImage.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <map>
#include <string>

#include "description.h"

namespace taviro::skin {

// The skin's colours, one place for the whole pack.
struct Palette {
    QColor background{0x1e, 0x21, 0x26};
    QColor titleBar{0x16, 0x18, 0x1c};
    QColor panel{0x25, 0x29, 0x30};
    QColor panelBorder{0x32, 0x38, 0x42};
    QColor well{0x12, 0x14, 0x17};
    QColor buttonTop{0x3a, 0x40, 0x4a};
    QColor buttonBottom{0x2c, 0x31, 0x39};
    QColor hoverTop{0x47, 0x4e, 0x5a};
    QColor hoverBottom{0x36, 0x3c, 0x46};
    QColor buttonBorder{0x15, 0x17, 0x1b};
    QColor accent{0x2d, 0x9c, 0xdb};
    QColor accentDark{0x1c, 0x6f, 0xa3};
    QColor text{0xd5, 0xd9, 0xdf};
    QColor textDim{0x6b, 0x71, 0x7a};
    QColor record{0xe0, 0x48, 0x4d};
    QColor good{0x4c, 0xc3, 0x8a};
};
const Palette& Colors();

// The font of the skin: "Liberation Sans" (metric twin of Arial), DejaVu Sans after it.
QFont SkinFont(int pixelSize, bool bold = false);

// Glyphs: vector icons by name, drawn into `box` in `color` (skin/README.md lists them).
// False for an unknown name.
bool DrawGlyph(QPainter& p, const std::string& name, const QRectF& box, const QColor& color);
bool KnownGlyph(const std::string& name);

// One entry's picture; a null image with `error` set when the entry is wrong.
QImage DrawEntry(const Entry& e, const std::map<std::string, const Entry*>& all,
                 std::string& error);

// The main window's background drawn from the control table.
QImage DrawMainBackground(int width, int height);
// The main window as it looks with its controls in place (the preview contact sheet).
QImage DrawPreview(const std::map<int, QImage>& pictures, const QImage& idle);

}  // namespace taviro::skin
