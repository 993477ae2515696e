// The recorder simulator as a process of its own for the whole-client benchmarks, so its
// encoding is never counted as the client's: started with the given options on a free
// loopback port, stopped (SIGTERM, then waited for) when the object goes.
//
// Thread: the benchmark's main thread.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace taviro::bench {

class CSimProcess {
  public:
    CSimProcess() = default;
    CSimProcess(const CSimProcess&) = delete;
    CSimProcess& operator=(const CSimProcess&) = delete;
    ~CSimProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // Starts `build`/sim/taviro-recorder-sim with `options` (the port and port file are
    // added) and waits up to `wait` for its port; 0 with a message on stderr when it does
    // not come up.
    int Start(const std::filesystem::path& build, const std::filesystem::path& scratch,
              std::vector<std::string> options, std::chrono::milliseconds wait) {
        const std::string portFile = (scratch / "port").string();
        const std::string path = (build / "sim" / "taviro-recorder-sim").string();
        std::vector<std::string> args = {path, "--port", "0", "--port-file", portFile};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
            std::fprintf(stderr, "cannot start %s\n", path.c_str());
            return 0;
        }
        const auto until = std::chrono::steady_clock::now() + wait;
        int port = 0;
        while (port == 0 && std::chrono::steady_clock::now() < until) {
            std::ifstream in(portFile);
            in >> port;
            if (port == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        if (port == 0)
            std::fprintf(stderr, "the simulator did not start\n");
        return port;
    }

  private:
    pid_t m_pid = -1;
};

}  // namespace taviro::bench
