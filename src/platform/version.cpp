#include "platform/version.h"

// Set for this file only by the build, from the project's version.
#ifndef TAVIRO_PROJECT_VERSION
#error "TAVIRO_PROJECT_VERSION is set by the build"
#endif

namespace taviro::platform {

std::string_view ProjectVersion() {
    return TAVIRO_PROJECT_VERSION;
}

std::string VersionLine(std::string_view program) {
    std::string line(program);
    line += ' ';
    line += ProjectVersion();
    return line;
}

}  // namespace taviro::platform
