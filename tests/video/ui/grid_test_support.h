// Shared pieces of the grid window tests: a main-window stand-in holding the grid, the
// hand-over of a picture as a decoder does it, and colour checks with a tolerance.
#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "grid_decode_support.h"
#include "platform/h264_decoder.h"
#include "platform/ui/qt_owned.h"
#include "video/ui/channel_grid.h"

namespace taviro::video::ui::testing {

// What a decoder does when it hands over a picture, without decoding: fills the view and
// tells the listener, under the channel's lock.
inline void HandOver(CChannelViews& views, int channel,
                     const std::function<void(ChannelView&)>& fill) {
    ChannelView& view = views.Channel(channel);
    std::lock_guard lock(view.lock);
    fill(view);
    views.MarkPicture(channel);
    if (IPictureListener* listener = views.Listener())
        listener->OnPicture(channel);
}

// The main window's client area with the grid at its place.
struct GridWindow {
    explicit GridWindow(CChannelViews& views, int drawMode) {
        main = std::make_unique<QWidget>();
        main->resize(928, 712);
        grid = platform::ui::Child<CChannelGrid>(main.get(), views, drawMode);
    }
    // Shows the window and waits until every pane was drawn once.
    bool Show() {
        main->show();
        if (!QTest::qWaitForWindowExposed(main.get()))
            return false;
        return QTest::qWaitFor([this] { return grid->TotalPaneDraws() > 0; }, 5000);
    }
    // Waits until the pending repaints ran.
    void Settle(int ms = 150) { QTest::qWait(ms); }

    std::unique_ptr<QWidget> main;
    CChannelGrid* grid = nullptr;  // owned by main
};

inline bool Near(QColor c, int r, int g, int b, int tolerance) {
    return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
           std::abs(c.blue() - b) <= tolerance;
}

inline std::string Describe(QColor c) {
    return "(" + std::to_string(c.red()) + ", " + std::to_string(c.green()) + ", " +
           std::to_string(c.blue()) + ")";
}

// Pixels of `image` inside `area` for which `match` holds.
template <class Match>
int CountPixels(const QImage& image, const QRect& area, Match match) {
    int n = 0;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

inline QImage Solid(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

}  // namespace taviro::video::ui::testing
