// `taviro-cli connect`: log in to a recorder, print who it is, stay connected for a while
// and disconnect in order.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunConnect(const std::vector<std::string>& args);

}  // namespace taviro::cli
