// Drawing helpers shared by the skinned widgets: frames out of a strip and transparent
// pictures (magenta colour key, alpha, or a black/white mask picture).
// Thread: the GUI thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

class QPainter;

namespace taviro::controls::ui {

// The skin's colour key: pixels of this colour are transparent.
inline constexpr QRgb kColorKey = 0xFFFF00FF;

// Frame `index` of a strip of `frames` equal-width frames; frames <= 0 means square frames
// (each as wide as the picture is high). An index past the strip gives the last frame.
QImage StripFrame(const QImage& strip, int frames, int index);

// The picture with magenta pixels made transparent; with a mask (same size, black where
// opaque), the mask's white pixels made transparent as well.
QImage Transparent(const QImage& picture, const QImage& mask = QImage());

// The skin's plain fills and text colours, used where a control has no picture.
QColor PlainFill();
QColor TextColor();
QColor DisabledText();
QColor Highlight();

}  // namespace taviro::controls::ui
