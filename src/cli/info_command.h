// `taviro-cli events` lists the recorder's events of one kind, a page or all pages, as the
// search window's event list shows them (numbered within the kind).
//
// `taviro-cli status` prints the search window's two information pages, the system page
// (from the login answer) and the status page (the recorder's status answer), as
// name/value pairs with the texts the window shows.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunEvents(const std::vector<std::string>& args);
int RunStatus(const std::vector<std::string>& args);

}  // namespace taviro::cli
