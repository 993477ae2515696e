// The QPainter half of every pane, shared by both renderers: the idle, video-loss and
// blocked pictures stretched over a pane, and the on-screen display over a picture (label
// lines, made here from the channel's view by video::MakePaneTexts, status icons, the
// "Tampered!" mark) or over the video-loss picture.
//
// Threads: the user-interface thread, inside a renderer's paint. The caller holds the
// channel's lock while it passes that channel's ChannelView.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "video/channel_views.h"
#include "video/pane_texts.h"
#include "video/stream_stats.h"
#include "video/ui/pane_plan.h"

namespace taviro::video::ui {

// The pictures the grid draws. The owner fills them (from the skin library in the client,
// from synthetic pictures in tests); a null image is simply not drawn.
struct GridPictures {
    QImage idle;       // "ComMark"
    QImage videoLoss;  // "VdoLoss"
    QImage blocked;    // "VdoLoss" again
    // Status icons, already combined from their image and mask (transparent where the mask
    // is white).
    std::array<QImage, 2> audio;  // audio-icon state 0 (heard) and 1 (present elsewhere)
    std::array<QImage, 2> ptz;    // PTZ control states 1 and 2
    QImage pause;
    QImage play;
    QImage forwardSlice;
    QImage backwardSlice;
    QImage stepForward;               // speed code 10
    QImage stepBackward;              // speed code 11
    std::array<QImage, 2> integrity;  // state 0, states 1 and 2
};

// The icon a 16 x 16 image/mask pair stands for: drawing it equals AND-ing the mask into
// the pane and OR-ing the image over it (mask black = the image's colour, white = the pane).
QImage MaskedIcon(const QImage& image, const QImage& mask);

// 0x00BBGGRR.
QColor FromColorRef(std::uint32_t colour);

// The OSD font: "Arial" bold, 17 pixels high.
QFont OsdFont();
inline constexpr int kOsdFontPixels = 17;

// Everything grid-wide the OSD needs besides the channel's own view.
struct OsdState {
    int osdMode = 0;  // 0 full, 1 title only, 2 off, 3 statistics
    const GridStatus* status = nullptr;
    const GridPictures* pictures = nullptr;
    // The YUV renderer shows stills from their inner rectangle, as it shows pictures.
    bool trimStills = false;
    // The last second's statistics per channel of each recorder, by its place (statistics
    // mode; none or null draws none).
    std::vector<const StreamStats*> stats;
    // Which renderer draws, as the last statistics line ("renderer: RGB"); empty: none.
    QString renderer;
};

// A still picture (idle, video loss, blocked) over the pane; nothing for a null image.
void DrawStill(QPainter& painter, const QRect& pane, const QImage& picture, bool trim);
// The video-loss text over the video-loss picture, when the camera flag asks for it.
void DrawVideoLossText(QPainter& painter, const PanePlan& plan, const OsdState& osd);
// Label lines, status icons and the "Tampered!" mark over a picture; in statistics mode the
// title line and the channel's statistics under it. With several recorders the pane names
// its recorder. `view` is the plan's channel view, its lock held.
void DrawOsd(QPainter& painter, const PanePlan& plan, const ChannelView& view, const OsdState& osd);
// The picture (or its absence) a plan entry asks for, except the decoded picture itself.
void DrawNonPicture(QPainter& painter, const PanePlan& plan, const OsdState& osd);

inline QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace taviro::video::ui
