#include "cli/offscreen_app.h"

namespace taviro::cli {

std::unique_ptr<QGuiApplication> MakeOffscreenApp() {
    if (QCoreApplication::instance() != nullptr)
        return nullptr;
    // QGuiApplication keeps references to argc and argv for its whole life.
    static int argc = 3;
    static char arg0[] = "taviro-cli";
    static char arg1[] = "-platform";
    static char arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace taviro::cli
