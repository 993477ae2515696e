// `taviro-cli logs` fetches the recorder's log and prints one view of it as the search
// window lists it (newest first, the window's five columns), and can save the view as CSV
// or print it into a PDF through the printing module.
//
// `taviro-cli local-log` prints this computer's own log (the storage folder's
// Log/m7400.log) as the local archive window lists it, newest first; no recorder needed.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunLogs(const std::vector<std::string>& args);
int RunLocalLog(const std::vector<std::string>& args);

}  // namespace taviro::cli
