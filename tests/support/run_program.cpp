#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace taviro::testing {

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() {
        for (int f : fd) {
            if (f >= 0)
                ::close(f);
        }
    }
};

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         std::chrono::milliseconds limit) {
    ProgramResult result;
    Pipe out, err;
    if (::pipe2(out.fd, O_CLOEXEC) != 0 || ::pipe2(err.fd, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argvStore;
    argvStore.push_back(path);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out.fd[1]);
    out.fd[1] = -1;
    ::close(err.fd[1]);
    err.fd[1] = -1;
    if (rc != 0) {
        return result;
    }
    const auto deadline = start + limit;
    bool outOpen = true, errOpen = true, killed = false;
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd p[2] = {{outOpen ? out.fd[0] : -1, POLLIN, 0},
                       {errOpen ? err.fd[0] : -1, POLLIN, 0}};
        if (::poll(p, 2, static_cast<int>(left.count())) < 0) {
            continue;
        }
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (p[i].revents == 0)
                continue;
            const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (!killed && WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

std::vector<std::string> CliArgs(const std::string& command, unsigned port,
                                 const std::string& storage,
                                 const std::vector<std::string>& extra) {
    std::vector<std::string> args = {
        command,  "--host", "127.0.0.1",  "--port", std::to_string(port),
        "--user", "admin",  "--password", "1234"};
    if (!storage.empty()) {
        args.push_back("--storage");
        args.push_back(storage);
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::string BuiltProgram(const std::string& relative) {
    const char* dir = std::getenv("TAVIRO_BINARY_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + relative;
}

}  // namespace taviro::testing
