// Qt's offscreen platform for what the command-line client paints (PDF pages, snapshot
// captions): fonts need a GUI application, and the offscreen platform needs no display.
// Only built with the desktop client's Qt libraries.
//
// Thread: the main thread, before anything paints.
#pragma once

#include <QGuiApplication>
#include <memory>

namespace taviro::cli {

// A GUI application on the offscreen platform; null when the process already has one. Keep
// it alive while painting.
std::unique_ptr<QGuiApplication> MakeOffscreenApp();

}  // namespace taviro::cli
