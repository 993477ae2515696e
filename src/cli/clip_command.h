// `taviro-cli clip` writes a stretch of a recorder's channels straight into one MP4 or
// Matroska file per channel: the recorder's backup transfer goes through the clip writer
// instead of a backup pair, so nothing but the finished clips is left on disk.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunClip(const std::vector<std::string>& args);

}  // namespace taviro::cli
