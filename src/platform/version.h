// The project's version, the same as the Debian package's: what `--version` prints.
#pragma once

#include <string>
#include <string_view>

namespace taviro::platform {

// "X.Y.Z".
[[nodiscard]] std::string_view ProjectVersion();
// The first line `--version` prints: "NAME X.Y.Z".
[[nodiscard]] std::string VersionLine(std::string_view program);

}  // namespace taviro::platform
