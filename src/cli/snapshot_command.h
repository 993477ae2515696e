// `taviro-cli snapshot`: runs live view for a few seconds, then saves the picture of every
// requested channel exactly as the Save button does (the same jobs and workers), prints
// each file written and exits 0 only when every requested channel was saved.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "snapshot/picture.h"

namespace taviro::cli {

int RunSnapshot(const std::vector<std::string>& args);

// The caption painter of the command-line tool: Qt's on its offscreen platform where the
// desktop client's libraries are built (it owns the application object it needs), else one
// that draws nothing. Thread: the command's main thread creates and destroys it.
std::unique_ptr<snapshot::ICaptionPainter> MakeCaptionPainter();

}  // namespace taviro::cli
