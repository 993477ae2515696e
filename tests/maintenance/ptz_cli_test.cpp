// taviro-cli ptz end to end against the simulated recorder: a timed move on a steerable
// camera reaches the recorder as the move and its stop; a fixed camera is reported as such,
// gets no operation, and the command fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/recorder_sim.h"
#include "support/run_program.h"

namespace taviro::maintenance {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> PtzEvents(const sim::CRecorderSim& recorder) {
    std::vector<std::string> out;
    for (const auto& e : recorder.Journal()) {
        if (e.IsEvent("ptz")) {
            out.push_back(e.why);
        }
    }
    return out;
}

TEST(PtzCliTest, MovesASteerableCameraAndRefusesAFixedOne) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("taviro-ptz-cli-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    sim::SimConfig config;
    config.ptz_channels = 0x0002;  // only the camera of channel 2 (index 1) is steerable
    config.push_records = true;    // the user lists with this user's PTZ right
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto run = [&](std::vector<std::string> operation) {
        std::vector<std::string> args =
            testing::CliArgs("ptz", recorder.Port(), (dir / "st").string(), {"--json"});
        args.insert(args.end(), operation.begin(), operation.end());
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args, 60s);
    };

    const auto moved = run({"--channel", "2", "--move", "zoom-in", "--ms", "100"});
    EXPECT_EQ(moved.exitStatus, 0) << moved.err;
    EXPECT_NE(moved.out.find("{\"event\":\"ptz\",\"channel\":2,\"steerable\":true}"),
              std::string::npos)
        << moved.out;
    EXPECT_EQ(PtzEvents(recorder),
              (std::vector<std::string>{"ch1 steerable", "ch1 zoom up", "ch1 stop"}));

    const auto fixed = run({"--channel", "1", "--preset-call", "300"});
    EXPECT_NE(fixed.exitStatus, 0);
    EXPECT_NE(fixed.out.find("\"steerable\":false"), std::string::npos) << fixed.out;
    const auto events = PtzEvents(recorder);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events.back(), "ch0 fixed");  // and no preset call after it

    const auto usage = run({"--channel", "1", "--tour", "--menu", "leave"});
    EXPECT_EQ(usage.exitStatus, 2);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace taviro::maintenance
