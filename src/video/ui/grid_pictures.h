// The grid's pictures from the skin pack: the idle and video-loss pictures and the status
// icons, each icon combined once from its image and mask.
//
// Threads: the user-interface thread (the skin library is GUI-thread only).
#pragma once

#include "platform/ui/skin_library.h"
#include "video/ui/pane_painter.h"

namespace taviro::video::ui {

GridPictures LoadGridPictures(const platform::ui::CSkinLibrary& skin);

}  // namespace taviro::video::ui
