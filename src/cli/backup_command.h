// `taviro-cli backup` downloads a stretch of recordings into .vid/.idx pairs: it asks the
// recorder for the size, checks the local disk as the backup page does, runs the transfer
// through the real session and writer, prints the progress and one line per pair written.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunBackup(const std::vector<std::string>& args);

}  // namespace taviro::cli
