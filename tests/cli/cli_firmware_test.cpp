// taviro-cli firmware and web-url end to end against the simulated recorder: the listing of a
// folder (only images newer than the recorder's, the newest per row), an upgrade of two named
// images whose bytes the recorder checks, and the failing exit status of a refusal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "protocol/byte_order.h"
#include "protocol/crc32.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr protocol::RecorderTime kBuilt = 1'300'000'000;

Bytes Image(const std::string& name, std::uint32_t version, std::size_t size) {
    Bytes b(size, 0);
    protocol::StoreBE32(b.data() + 8, version);
    std::copy(name.begin(), name.end(), b.begin() + 32);
    for (std::size_t i = 64; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return b;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class CliFirmwareTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro_cli_fw_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "Upgrade");
    }
    void TearDown() override {
        if (m_sim)
            m_sim->Stop();
        std::filesystem::remove_all(m_dir);
    }
    void Start(sim::SimConfig config) {
        config.push_records = true;  // the user lists with this user's upgrade right
        for (const char* name : {"BOOT", "LOADER", "KERNEL", "APP", "FS", "UI", "LOGO"})
            config.firmware.push_back({name, kBuilt});
        m_sim = std::make_unique<sim::CRecorderSim>(std::move(config));
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
    }
    void Put(const std::string& name, const Bytes& bytes) {
        std::ofstream out(m_dir / "Upgrade" / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    testing::ProgramResult Run(std::vector<std::string> extra) {
        std::vector<std::string> args =
            testing::CliArgs("firmware", m_sim->Port(), m_dir.string(),
                             {"--json", "--folder", (m_dir / "Upgrade").string()});
        args.insert(args.end(), extra.begin(), extra.end());
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args,
                                   60s * taviro::testing::kSanitizerSlowdown);
    }

    std::filesystem::path m_dir;
    std::unique_ptr<sim::CRecorderSim> m_sim;
};

TEST_F(CliFirmwareTest, ListsAndUpgradesTheNamedImages) {
    const Bytes app = Image("APP", kBuilt + 2, 30'000);
    const Bytes logo = Image("LOGO", kBuilt + 1, 8'001);
    Put("app_old.bin", Image("APP", kBuilt + 1, 100));
    Put("app.bin", app);
    Put("logo.bin", logo);
    Put("fs.bin", Image("FS", kBuilt, 100));  // what the recorder runs
    Start({});

    const auto list = Run({"--list"});
    ASSERT_EQ(list.exitStatus, 0) << list.err;
    EXPECT_EQ(CountOf(list.out, "\"event\":\"image\""), 2u) << list.out;
    EXPECT_NE(list.out.find("\"row\":1,\"component\":3,\"file\":\"app.bin\""), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("\"row\":5,\"component\":6,\"file\":\"logo.bin\""), std::string::npos);

    const auto upgrade = Run({"--image", "logo.bin", "--image=app.bin"});
    ASSERT_EQ(upgrade.exitStatus, 0) << upgrade.out << upgrade.err;
    EXPECT_EQ(CountOf(upgrade.out, "\"result\":\"done\""), 2u) << upgrade.out;
    EXPECT_NE(upgrade.out.find("\"percent\":100"), std::string::npos);
    std::vector<std::string> images;
    for (const auto& e : m_sim->Journal()) {
        if (e.IsEvent("fw-image"))
            images.push_back(e.why);
    }
    char appLine[80];
    char logoLine[80];
    std::snprintf(appLine, sizeof appLine, "component=3 bytes=30000 crc=%08X",
                  protocol::Crc32(app));
    std::snprintf(logoLine, sizeof logoLine, "component=6 bytes=8001 crc=%08X",
                  protocol::Crc32(logo));
    EXPECT_EQ(images, (std::vector<std::string>{appLine, logoLine}));

    // A name that is no accepted image fails before anything is sent.
    EXPECT_NE(Run({"--image", "fs.bin"}).exitStatus, 0);
}

TEST_F(CliFirmwareTest, ARefusalFailsTheCommand) {
    Put("app.bin", Image("APP", kBuilt + 1, 1'000));
    sim::SimConfig config;
    config.fw_update_reason = 18;
    Start(config);
    const auto result = Run({"--image", "app.bin"});
    EXPECT_EQ(result.exitStatus, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("\"result\":\"refused (18)\""), std::string::npos) << result.out;
}

}  // namespace
}  // namespace taviro::cli

namespace taviro::cli {
namespace {

// taviro-cli web-url: the address for a user who may open the setup, and nothing (a failing
// status) for one who may not.
TEST(CliWebUrl, PrintsTheAddressOnlyWhenTheRightsAllowIt) {
    sim::SimConfig config;
    config.push_records = true;  // the user lists with this user's setup right
    config.web_port = 80;
    config.key = {0x00, 0x0F, 0x10, 0xAB, 0xFF, 0x01, 0x9C, 0x70};
    sim::CRecorderSim allowed(config);
    ASSERT_TRUE(allowed.Start()) << allowed.LastError();
    const auto run = [](std::uint16_t port) {
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"),
                                   testing::CliArgs("web-url", port, ""),
                                   30s * taviro::testing::kSanitizerSlowdown);
    };
    const auto ok = run(allowed.Port());
    ASSERT_EQ(ok.exitStatus, 0) << ok.err;
    EXPECT_NE(ok.out.find("\nhttp://127.0.0.1:80/webdb/webdb.cgi?key=000f10abff019c70\n"),
              std::string::npos)
        << ok.out;

    // An older recorder lets only account 0 in: account 1 gets no address.
    config.product_major = 0;
    config.account = 1;
    sim::CRecorderSim refused(config);
    ASSERT_TRUE(refused.Start()) << refused.LastError();
    const auto no = run(refused.Port());
    EXPECT_NE(no.exitStatus, 0);
    EXPECT_EQ(no.out.find("http://"), std::string::npos) << no.out;
}

}  // namespace
}  // namespace taviro::cli
