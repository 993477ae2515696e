// taviro-cli live end to end: the simulator streams its camera pattern, the real client
// decodes it through the session, queues and decoder threads, and the saved pictures must
// be the pattern exactly (planar) or within the rounding of the colour conversion (RGB).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

#include "sim/h264_test_pattern.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> Planar(const sim::YuvPicture& p) {
    std::vector<std::uint8_t> out(p.y);
    out.insert(out.end(), p.u.begin(), p.u.end());
    out.insert(out.end(), p.v.begin(), p.v.end());
    return out;
}

// The frame number whose pattern equals `picture`, searched over the frames the stream can
// have reached; -1 when none does.
int MatchingFrame(const std::vector<std::uint8_t>& picture, int channel, int width, int height) {
    for (std::uint32_t f = 0; f < 600; ++f) {
        if (Planar(sim::MakeH264TestPattern(channel, f, width, height)) == picture) {
            return static_cast<int>(f);
        }
    }
    return -1;
}

// A number field of a JSON line ("key":number); NaN when the line lacks it.
double Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const auto at = line.find(tag);
    return at == std::string::npos ? std::nan("")
                                   : std::strtod(line.c_str() + at + tag.size(), nullptr);
}

class CliLiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-live-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    testing::ProgramResult Live(std::uint16_t port, std::vector<std::string> extra) {
        std::vector<std::string> args = {"live",
                                         "--host",
                                         "127.0.0.1",
                                         "--port",
                                         std::to_string(port),
                                         "--user",
                                         "admin",
                                         "--password",
                                         "1234",
                                         "--storage",
                                         (m_dir / "st").string(),
                                         "--save-dir",
                                         (m_dir / "pictures").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args, 60s);
    }

    std::filesystem::path m_dir;
};

TEST_F(CliLiveTest, EveryRequestedChannelDecodesToTheRecordersPictureExactly) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 704;
    config.live_height = 480;
    config.live_gop = 10;
    config.live_fragment_size = 300;       // pieces that split the 324-byte prefix
    config.live_dependent_start = 0x0004;  // channel 3 joins in the middle of a group
    config.live_available = 0x000F;        // four cameras; the client narrows to three
    config.push_records = true;
    config.titles = {"Gate", "Yard", "Hall"};
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const auto result =
        Live(recorder.Port(), {"--seconds", std::to_string(2 * testing::kSanitizerSlowdown),
                               "--channels", "0x0007", "--deinterlace"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("ch01  received"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Gate"), std::string::npos) << result.out;
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c + 1);
        char name[16];
        std::snprintf(name, sizeof name, "ch%02d.yuv", c + 1);
        const auto picture = ReadFile(m_dir / "pictures" / name);
        ASSERT_EQ(picture.size(), 704u * 480u * 3u / 2u);
        EXPECT_GE(MatchingFrame(picture, c, 704, 480), 10) << "no frame of the pattern matches";
        std::snprintf(name, sizeof name, "ch%02d.ppm", c + 1);
        EXPECT_GT(ReadFile(m_dir / "pictures" / name).size(), 704u * 480u * 3u);
    }
}

TEST_F(CliLiveTest, RgbPicturesMatchWithinTheColourConversion) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    // Two seconds of pictures, longer under a sanitizer: the channel selection may start a
    // new stream on the client, whose first picture then waits for the recorder's next key
    // frame, up to a second later.
    const int seconds = 2 * testing::kSanitizerSlowdown;
    const auto result = Live(
        recorder.Port(), {"--seconds", std::to_string(seconds), "--channels", "0x0001", "--rgb"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    const auto ppm = ReadFile(m_dir / "pictures" / "ch01.ppm");
    const std::string head = "P6\n352 240\n255\n";
    ASSERT_GT(ppm.size(), head.size());
    ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + static_cast<std::ptrdiff_t>(head.size())),
              head);
    const std::vector<std::uint8_t> rgb(ppm.begin() + static_cast<std::ptrdiff_t>(head.size()),
                                        ppm.end());
    ASSERT_EQ(rgb.size(), 352u * 240u * 3u);
    // The frame counter tells which frame this is only through the pattern: find the frame
    // whose conversion is closest, and require it to be close everywhere.
    int best = -1;
    int bestWorst = 256;
    // The last picture is at most the frame of the run's end (30 a second) and a little.
    const auto frames = static_cast<std::uint32_t>(30 * (seconds + 3));
    for (std::uint32_t f = 0; f < frames; ++f) {
        const auto p = sim::MakeH264TestPattern(0, f, 352, 240);
        int worst = 0;
        for (int r = 0; r < 240 && worst <= 8; ++r) {
            for (int x = 0; x < 352; ++x) {
                const double y = 1.164 * (p.y[static_cast<std::size_t>(r * 352 + x)] - 16);
                const std::size_t ci = static_cast<std::size_t>((r / 2) * 176 + x / 2);
                const double cb = p.u[ci] - 128.0, cr = p.v[ci] - 128.0;
                const double expected[3] = {y + 1.596 * cr, y - 0.392 * cb - 0.813 * cr,
                                            y + 2.017 * cb};
                for (int k = 0; k < 3; ++k) {
                    const double e = expected[k] < 0 ? 0 : (expected[k] > 255 ? 255 : expected[k]);
                    const int got = rgb[static_cast<std::size_t>((r * 352 + x) * 3 + k)];
                    worst = std::max(worst, static_cast<int>(std::abs(got - e) + 0.5));
                }
            }
        }
        if (worst < bestWorst) {
            bestWorst = worst;
            best = static_cast<int>(f);
        }
    }
    EXPECT_GE(best, 0);
    EXPECT_LE(bestWorst, 6) << "closest frame " << best;
}

TEST_F(CliLiveTest, StatsLinesEverySecondWithTheRecordersRates) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    config.live_fps = 12;
    config.live_available = 0x0003;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    // Three seconds; more under a sanitizer, whose slower threads make single seconds uneven.
    const int seconds = 2 + testing::kSanitizerSlowdown;
    const auto result =
        Live(recorder.Port(), {"--seconds", std::to_string(seconds), "--stats", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    std::map<std::pair<int, int>, std::string> lines;  // (second, channel) -> line
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        if (line.find("\"event\":\"stats\"") == std::string::npos)
            continue;
        const int second = static_cast<int>(Field(line, "second"));
        const int channel = static_cast<int>(Field(line, "channel"));
        EXPECT_TRUE(lines.emplace(std::pair(second, channel), line).second) << "twice: " << line;
        EXPECT_GE(second, 1);
        EXPECT_LE(second, seconds);
        EXPECT_TRUE(channel == 1 || channel == 2)
            << "a channel the recorder does not send: " << line;
    }
    // From the second second on the stream runs steadily: both channels with bits, decoding
    // and pictures for the view, received at the recorder's rate (averaged over the seconds,
    // as a busy machine may move a picture across a second's border).
    for (int channel = 1; channel <= 2; ++channel) {
        double received = 0;
        double decoded = 0;
        double shown = 0;
        for (int second = 2; second <= seconds; ++second) {
            SCOPED_TRACE(::testing::Message() << "second " << second << " channel " << channel);
            const auto found = lines.find(std::pair(second, channel));
            ASSERT_NE(found, lines.end()) << result.out;
            const std::string& line = found->second;
            EXPECT_GT(Field(line, "kbps"), 0.0) << line;
            EXPECT_GT(Field(line, "decoded_fps"), 0.0) << line;
            // A picture decoded just before a second's end may be shown just after it.
            EXPECT_LE(Field(line, "shown_fps"), Field(line, "decoded_fps") + 1.0) << line;
            decoded += Field(line, "decoded_fps");
            shown += Field(line, "shown_fps");
            EXPECT_GT(Field(line, "decode_ms"), 0.0) << line;
            EXPECT_GE(Field(line, "dropped_total"), Field(line, "dropped")) << line;
            received += Field(line, "received_fps");
        }
        EXPECT_NEAR(received / (seconds - 1), 12.0, 3.0) << result.out;
        EXPECT_LE(shown, decoded + 1.0) << "more pictures shown than decoded: " << result.out;
    }
}

// Three recorders on one command line, their password in a file: the two that answer each
// give their own pictures exactly (told apart by their sizes), every line names its recorder,
// and the third, which refuses, neither holds them up nor is lost in the exit status.
TEST_F(CliLiveTest, SeveralRecordersEachGiveTheirOwnPicturesAndTheWorstStatus) {
    const std::pair<int, int> sizes[2] = {{704, 480}, {352, 240}};
    std::vector<std::unique_ptr<sim::CRecorderSim>> recorders;
    for (const auto& [width, height] : sizes) {
        sim::SimConfig config;
        config.live_stream = true;
        config.live_width = width;
        config.live_height = height;
        config.live_available = recorders.empty() ? 0x0003 : 0x0001;
        recorders.push_back(std::make_unique<sim::CRecorderSim>(config));
        ASSERT_TRUE(recorders.back()->Start()) << recorders.back()->LastError();
    }
    // A port where nothing listens any more: that recorder refuses.
    std::uint16_t refusing = 0;
    {
        sim::CRecorderSim gone{sim::SimConfig{}};
        ASSERT_TRUE(gone.Start());
        refusing = gone.Port();
    }
    std::filesystem::create_directories(m_dir);
    std::ofstream(m_dir / "password") << "1234\nnot this line\n";
    const auto address = [](std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); };
    const auto result = testing::RunProgram(
        testing::BuiltProgram("src/cli/taviro-cli"),
        {"live", "--recorder", address(recorders[0]->Port()), "--recorder",
         address(recorders[1]->Port()), "--recorder", address(refusing), "--user", "admin",
         "--password-file", (m_dir / "password").string(), "--storage", (m_dir / "st").string(),
         "--save-dir", (m_dir / "pictures").string(), "--seconds",
         std::to_string(2 * testing::kSanitizerSlowdown), "--deinterlace", "--json"},
        60s);
    EXPECT_EQ(result.exitStatus, 3) << "the refusal is the worst status\n"
                                    << result.out << result.err;

    std::map<int, int> channelLines;  // recorder -> channel lines
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        const int recorder = static_cast<int>(Field(line, "recorder"));
        ASSERT_TRUE(line.starts_with("{\"recorder\":")) << line;
        ASSERT_GE(recorder, 1);
        ASSERT_LE(recorder, 3);
        const std::uint16_t port =
            recorder == 3 ? refusing : recorders[static_cast<std::size_t>(recorder - 1)]->Port();
        EXPECT_NE(line.find("\"address\":\"" + address(port) + "\""), std::string::npos) << line;
        if (line.find("\"event\":\"channel\"") != std::string::npos)
            ++channelLines[recorder];
    }
    EXPECT_EQ(channelLines[1], 2) << result.out;
    EXPECT_EQ(channelLines[2], 1) << result.out;
    EXPECT_EQ(channelLines.count(3), 0u);
    for (int r = 0; r < 2; ++r) {
        const auto [width, height] = sizes[r];
        for (int c = 0; c < (r == 0 ? 2 : 1); ++c) {
            SCOPED_TRACE(::testing::Message() << "recorder " << r + 1 << " channel " << c + 1);
            char name[32];
            std::snprintf(name, sizeof name, "r%d/ch%02d.yuv", r + 1, c + 1);
            const auto picture = ReadFile(m_dir / "pictures" / name);
            ASSERT_EQ(picture.size(), static_cast<std::size_t>(width * height * 3 / 2));
            EXPECT_GE(MatchingFrame(picture, c, width, height), 0);
        }
    }
}

}  // namespace
}  // namespace taviro::cli
