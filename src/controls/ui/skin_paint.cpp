#include "controls/ui/skin_paint.h"

#include <algorithm>

namespace taviro::controls::ui {

QImage StripFrame(const QImage& strip, int frames, int index) {
    if (strip.isNull())
        return {};
    const int width = frames > 0 ? strip.width() / frames : strip.height();
    if (width <= 0)
        return {};
    const int count = std::max(1, strip.width() / width);
    const int i = std::clamp(index, 0, count - 1);
    return strip.copy(i * width, 0, width, strip.height());
}

QImage Transparent(const QImage& picture, const QImage& mask) {
    if (picture.isNull())
        return {};
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    const bool masked = !mask.isNull() && mask.size() == picture.size();
    const QImage m = masked ? mask.convertToFormat(QImage::Format_RGB32) : QImage();
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        const auto* maskLine = masked ? reinterpret_cast<const QRgb*>(m.constScanLine(y)) : nullptr;
        for (int x = 0; x < out.width(); ++x) {
            const bool keyed = (line[x] | 0xFF000000u) == kColorKey;
            const bool maskedOut = maskLine != nullptr && qGray(maskLine[x]) >= 128;
            if (keyed || maskedOut)
                line[x] = 0;
        }
    }
    return out;
}

QColor PlainFill() {
    return QColor(0x2b, 0x30, 0x38);
}
QColor TextColor() {
    return QColor(0xd8, 0xdc, 0xe2);
}
QColor DisabledText() {
    return QColor(0x6b, 0x71, 0x7a);
}
QColor Highlight() {
    return QColor(0x3a, 0x40, 0x49);
}

}  // namespace taviro::controls::ui
