// The web setup address and the browsers tried for it, and a real program started without a
// shell.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "maintenance/web_setup.h"
#include "platform/process_launcher.h"
#include "protocol/hello.h"

namespace taviro::maintenance {
namespace {

TEST(WebSetupUrl, KeyDigitsPortAndHostRebuiltFromNumbers) {
    const std::array<std::uint8_t, 8> key = {0x00, 0x0F, 0x10, 0xAB, 0xFF, 0x01, 0x9C, 0x70};
    protocol::HelloAck hello;
    auto raw = hello.Encode();
    raw[26] = 0x50;
    raw[27] = 0x00;
    const auto parsed = protocol::HelloAck::Parse(raw);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(WebSetupUrl("192.168.0.7", parsed->webPort, key),
              "http://192.168.0.7:80/webdb/webdb.cgi?key=000f10abff019c70");
    // Only a dotted IPv4 address becomes the host: nothing else of the text reaches the
    // browser's command line.
    EXPECT_FALSE(WebSetupUrl("10.0.0.1 --evil", 80, key));
    EXPECT_FALSE(WebSetupUrl("recorder.local", 80, key));
    EXPECT_FALSE(WebSetupUrl("", 80, key));
}

class CRecordingLauncher final : public platform::IProcessLauncher {
  public:
    bool Start(const std::string& program, const std::vector<std::string>& arguments) override {
        tried.push_back(program);
        last = arguments;
        return program == startable;
    }
    std::string startable;
    std::vector<std::string> tried;
    std::vector<std::string> last;
};

TEST(WebSetupBrowser, ChosenThenBrowserVariableThenXdgOpen) {
    const std::string url = "http://1.2.3.4:80/webdb/webdb.cgi?key=0000000000000000";
    const auto commands = BrowserCommands(url, "firefox", "  :lynx -dump:w3m %s --x::");
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].program, "firefox");
    EXPECT_EQ(commands[0].arguments, std::vector<std::string>{url});
    EXPECT_EQ(commands[1].program, "lynx");
    EXPECT_EQ(commands[1].arguments, (std::vector<std::string>{"-dump", url}));
    EXPECT_EQ(commands[2].arguments, (std::vector<std::string>{url, "--x"}));
    EXPECT_EQ(commands[3].program, "xdg-open");
    EXPECT_EQ(BrowserCommands(url, "", nullptr).size(), 1u);

    CRecordingLauncher launcher;
    launcher.startable = "w3m";
    EXPECT_TRUE(OpenWebSetup(commands, launcher));
    EXPECT_EQ(launcher.tried, (std::vector<std::string>{"firefox", "lynx", "w3m"}));
    launcher.startable = "none of them";
    EXPECT_FALSE(OpenWebSetup(commands, launcher));
}

TEST(WebSetupBrowser, ProgramGetsTheAddressAsItsOneArgumentWithoutAShell) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("taviro-web-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto script = dir / "browser";
    const auto out = dir / "args";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << out.string()
          << ".tmp\"\nmv \"" << out.string() << ".tmp\" \"" << out.string() << "\"\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    platform::CSpawnLauncher launcher;
    // Characters a shell would act on arrive untouched.
    const std::string url = "http://1.2.3.4:80/x?key=$(touch boom);`id`&a=b";
    ASSERT_TRUE(launcher.Start(script.string(), {url}));
    std::string text;
    for (int i = 0; i < 500 && text.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(out);
        std::stringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    EXPECT_EQ(text, url + "\n");
    EXPECT_FALSE(std::filesystem::exists("boom"));
    EXPECT_FALSE(launcher.Start((dir / "missing").string(), {url}));
    EXPECT_FALSE(launcher.Start("", {url}));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace taviro::maintenance
