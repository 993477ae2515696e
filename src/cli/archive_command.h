// The local archive without a window and without a recorder:
//
// `taviro-cli verify --dir DIR [--json]` checks every backup pair of DIR (structure and the
// watermark checksums), one line per pair; exit 1 when any is altered or damaged.
//
// `taviro-cli archive --dir DIR --list [--json]` prints the months, days and per-channel
// stretches the pairs of DIR hold, as `recordings` prints the recorder's.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunVerify(const std::vector<std::string>& args);
int RunArchive(const std::vector<std::string>& args);

}  // namespace taviro::cli
