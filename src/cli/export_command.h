// `taviro-cli export --dir DIR --from T --to T [--channels MASK] --out FILE.mp4|FILE.mkv
// [--json]`: the backup pairs of DIR between the two times (the recorder's wall clock,
// YYYY-MM-DDTHH:MM:SS, the end not included) into standard video files, one per channel
// (archive/export.h names them). Prints per file its frames and duration:
//
//   text   FILE  frames N  duration S.SSS s
//   JSON   {"event":"file","path":"...","channel":N,"frames":N,"duration":S.SSS,
//           "audio_samples":N}
//
// and with --json progress lines {"event":"progress","bytes":N,"total":M}, at most one
// every 200 ms. Exit 0 when every file was written, 1 when the export failed (the reason on
// standard error; no file is left under a final name), 2 on a usage error.
//
// Threads: runs on the calling thread.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunExport(const std::vector<std::string>& args);

}  // namespace taviro::cli
