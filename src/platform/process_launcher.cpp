#include "platform/process_launcher.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/trace.h"

extern char** environ;

namespace taviro::platform {

bool CSpawnLauncher::Start(const std::string& program, const std::vector<std::string>& arguments) {
    if (program.empty())
        return false;
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    // glibc reports a program that cannot be executed as the result of posix_spawnp.
    const int rc = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        Trace("process launcher: %s did not start (%d)\n", program.c_str(), rc);
        return false;
    }
    // The program started; a reaper that cannot be made only leaves a zombie until we exit.
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        Trace("process launcher: no reaper for %s\n", program.c_str());
    }
    return true;
}

}  // namespace taviro::platform
