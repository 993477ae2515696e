#include "app/client_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taviro::app {
namespace {

ParsedOptions Parse(std::vector<std::string> args) {
    return ParseClientOptions(args);
}

TEST(ClientOptions, ConnectUserPasswordAndTheHeadlessOptions) {
    const auto p = Parse({"--connect", "10.0.0.5:2001", "--user", "admin", "--password", "1234",
                          "--screenshot", "/tmp/s.png", "--screenshot-after", "2.5", "--quit-after",
                          "4", "--settings", "/tmp/t.ini"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(*p.options->connectHost, "10.0.0.5");
    EXPECT_EQ(p.options->connectPort, 2001);
    EXPECT_EQ(p.options->user, "admin");
    EXPECT_EQ(p.options->password, "1234");
    EXPECT_EQ(*p.options->screenshot, "/tmp/s.png");
    EXPECT_DOUBLE_EQ(p.options->screenshotAfter, 2.5);
    EXPECT_DOUBLE_EQ(*p.options->quitAfter, 4.0);
    EXPECT_EQ(*p.options->settingsFile, "/tmp/t.ini");
    EXPECT_FALSE(p.options->player);
    EXPECT_TRUE(Parse({"--player"}).options->player);
}

// --connect given again adds recorders in order, up to 16 in all.
TEST(ClientOptions, ConnectMayBeGivenForSixteenRecorders) {
    std::vector<std::string> args;
    for (int r = 0; r < 16; ++r)
        args.insert(args.end(), {"--connect", "10.0.0." + std::to_string(r + 1) + ":2000"});
    const auto p = Parse(args);
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(*p.options->connectHost, "10.0.0.1");
    ASSERT_EQ(p.options->moreConnects.size(), 15u);
    EXPECT_EQ(p.options->moreConnects[0].host, "10.0.0.2");
    EXPECT_EQ(p.options->moreConnects[14].host, "10.0.0.16");
    args.insert(args.end(), {"--connect", "10.0.0.17:2000"});
    EXPECT_FALSE(Parse(args).options);
}

TEST(ClientOptions, PortsOutsideTheDialogsRangeAndBadValuesAreRefused) {
    std::string host;
    std::int32_t port = 0;
    EXPECT_TRUE(SplitHostPort("recorder.local", host, port));
    EXPECT_EQ(port, 2000);
    EXPECT_TRUE(SplitHostPort("h:1", host, port));
    EXPECT_TRUE(SplitHostPort("h:65534", host, port));
    for (const char* bad : {"h:65535", "h:0", "h:", ":80", "h:12x", "h:-1", ""})
        EXPECT_FALSE(SplitHostPort(bad, host, port)) << bad;

    EXPECT_FALSE(Parse({"--connect"}).options);
    EXPECT_FALSE(Parse({"--connect", "h:99999"}).options);
    EXPECT_FALSE(Parse({"--screenshot-after", "-1"}).options);
    EXPECT_FALSE(Parse({"--quit-after", "nan"}).options);
    EXPECT_FALSE(Parse({"--bogus"}).options);
    EXPECT_NE(Parse({"--bogus"}).error.find("--bogus"), std::string::npos);
    EXPECT_TRUE(Parse({"--help"}).help);
    // The questions answered without a window win over whatever else the line says.
    const auto skin = Parse({"--player", "--skin-path", "--bogus"});
    EXPECT_TRUE(skin.skinPath);
    EXPECT_FALSE(skin.help);
    EXPECT_FALSE(Parse({"--player"}).skinPath);
    EXPECT_TRUE(Parse({"--player", "--version"}).version);
}

}  // namespace
}  // namespace taviro::app
