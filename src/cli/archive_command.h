// The local archive without a window and without a recorder:
//
// `taviro-cli verify --dir DIR [--json]` checks every backup pair of DIR (structure and the
// watermark checksums), one line per pair; exit 1 when any is altered or damaged.
//
// `taviro-cli archive --dir DIR --list [--json]` prints the months, days and per-channel
// stretches the pairs of DIR hold, as `recordings` prints the recorder's.
//
// `taviro-cli archive --dir DIR --from T ...` plays the pairs from T for a few seconds and
// prints a line for every channel the playback held: pictures shown, the last one's time
// ("-", or null in JSON, when none) and its watermark state. Exit 1 with the reason on
// standard error when no channel showed a picture.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunVerify(const std::vector<std::string>& args);
int RunArchive(const std::vector<std::string>& args);

}  // namespace taviro::cli
