// taviro-recorder-sim: the simulated recorder as a program, for scripts and for trying the
// desktop client without a recorder. Runs until interrupted, or with --once until the first
// client is done.
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/trace.h"
#include "platform/version.h"
#include "sim/options.h"
#include "sim/recorder_sim.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnSignal(int) {
    g_interrupted = 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace taviro::sim;
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("%s\n", taviro::platform::VersionLine("taviro-recorder-sim").c_str());
        return 0;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "taviro-recorder-sim: %s (see --help)\n", line.error.c_str());
        return 2;
    }
    if (line.config.verbose) {
        taviro::platform::SetTraceEnabled(true);
    }
    // A client that vanishes while we write to it must end that connection, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    CRecorderSim sim(line.config);
    if (!sim.Start()) {
        std::fprintf(stderr, "taviro-recorder-sim: %s\n", sim.LastError().c_str());
        return 1;
    }
    std::fprintf(stderr, "taviro-recorder-sim: listening on %s:%u\n",
                 line.config.bind_address.c_str(), static_cast<unsigned>(sim.Port()));
    // Tells once when the camera channels' video is ready (it encodes in the background).
    auto camera = sim.CameraLoops();
    while (g_interrupted == 0 && !sim.WaitUntilFinished(std::chrono::milliseconds(100))) {
        if (camera && camera->Done()) {
            const std::string error = camera->Error();
            if (error.empty()) {
                std::fprintf(stderr, "taviro-recorder-sim: camera video ready (%lld ms)\n",
                             static_cast<long long>(camera->EncodeTime().count()));
            } else {
                std::fprintf(stderr, "taviro-recorder-sim: camera video failed: %s\n",
                             error.c_str());
            }
            camera.reset();
        }
    }
    sim.Stop();
    return 0;
}
