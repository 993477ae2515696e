// `taviro-cli backup` downloads a stretch of recordings into .vid/.idx pairs: it asks the
// recorder for the size, checks the local disk as the backup page does, runs the transfer
// through the real session and writer, prints the progress and one line per pair written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "recordings/backup_service.h"

namespace taviro::cli {

class CCommandSession;

int RunBackup(const std::vector<std::string>& args);

// The size question (checked against the disk of `out`) and the transfer of `range` into
// the writer the backup service's target names, for `backup` and `clip`: prints the size
// and the progress, waits for the end (a transfer that stalls for 30 s fails) and closes
// the connection. Returns the exit status; `reason` why it failed.
int RunTransfer(CCommandSession& command, const recordings::BackupRange& range,
                const std::filesystem::path& out, std::string* reason);

}  // namespace taviro::cli
