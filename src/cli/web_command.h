// `taviro-cli web-url` logs in and prints the address of the recorder's web setup pages for
// this user, as the RSetup button would open it (the rights applied), without starting a
// browser.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunWebUrl(const std::vector<std::string>& args);

}  // namespace taviro::cli
