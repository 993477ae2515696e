// CClientApp: the desktop client's process. Reads the command line, loads the skin pack,
// detects player mode and the sound output, opens the settings, and runs the main window
// for the whole life of the program. Headless machines get --screenshot: the main window is
// captured after a few seconds.
//
// Thread: the GUI thread (main). The QApplication exists before and after Run.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace taviro::app::ui {

// Answers the command lines that need no window (--help, --skin-path) with their exit
// status; nullopt for any other line, which the program runs. main() asks before Qt looks
// for a display, so these work without one.
std::optional<int> AnswerWithoutWindow(std::span<const std::string> args);

class CClientApp {
  public:
    // `args` without the program name and without the options Qt consumed.
    explicit CClientApp(std::vector<std::string> args) : m_args(std::move(args)) {}
    // The exit status: 0 after a normal quit, 2 for a wrong command line.
    int Run();

  private:
    std::vector<std::string> m_args;
};

}  // namespace taviro::app::ui
