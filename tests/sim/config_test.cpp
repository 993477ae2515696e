// The simulator's command line and field parsers.
#include <gtest/gtest.h>

#include "sim/options.h"
#include "sim/sim_config.h"

namespace taviro::sim {
namespace {

CommandLine Parse(std::initializer_list<std::string_view> args) {
    return ParseCommandLine(std::vector<std::string_view>(args));
}

TEST(SimOptions, EveryOptionReachesItsField) {
    const auto line = Parse({"--bind",
                             "0.0.0.0",
                             "--port=4000",
                             "--port-file",
                             "/tmp/p",
                             "--product-number",
                             "12",
                             "--channels",
                             "4",
                             "--account",
                             "2",
                             "--capabilities",
                             "0",
                             "--key",
                             "0011223344556677",
                             "--web-port",
                             "8080",
                             "--mac",
                             "AA:bb:cc:dd:ee:0F",
                             "--protocol-version",
                             "3.4",
                             "--product-version",
                             "0.9",
                             "--front-ver",
                             "7",
                             "--firmware",
                             "main=2010-10-11T12:00:00",
                             "--firmware",
                             "a=b=1970-01-01T00:00:01",
                             "--user",
                             "alice:secret",
                             "--user",
                             "bob::0,2,6,8",
                             "--bad-password-reason",
                             "-2",
                             "--journal",
                             "j.jsonl",
                             "--once",
                             "--verbose",
                             "--read-timeout-ms",
                             "500",
                             "--close-after-seconds",
                             "1.5",
                             "--close-after-messages",
                             "9",
                             "--stall-mid-payload",
                             "--send-unknown",
                             "300:1000",
                             "--send-unknown",
                             "0:0",
                             "--lying-length",
                             "--bye-reason",
                             "37",
                             "--fault-delay-ms",
                             "0"});
    ASSERT_EQ(line.error, "");
    const SimConfig& c = line.config;
    EXPECT_EQ(c.bind_address, "0.0.0.0");
    EXPECT_EQ(c.port, 4000);
    EXPECT_EQ(c.port_file, "/tmp/p");
    EXPECT_EQ(c.product_number, 12);
    EXPECT_EQ(c.channels, 4);
    EXPECT_EQ(c.account, 2);
    EXPECT_EQ(c.capabilities, 0);
    EXPECT_EQ(c.key, (std::array<std::uint8_t, 8>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    EXPECT_EQ(c.web_port, 8080);
    EXPECT_EQ(c.mac, (std::array<std::uint8_t, 6>{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x0F}));
    EXPECT_EQ(c.protocol_major, 3);
    EXPECT_EQ(c.protocol_minor, 4);
    EXPECT_EQ(c.product_major, 0);
    EXPECT_EQ(c.product_minor, 9);
    EXPECT_EQ(c.front_ver, 7);
    ASSERT_EQ(c.firmware.size(), 2u);
    EXPECT_EQ(c.firmware[0].name, "main");
    EXPECT_EQ(c.firmware[0].built, 1286798400);
    EXPECT_EQ(c.firmware[1].name, "a=b");
    EXPECT_EQ(c.firmware[1].built, 1);
    ASSERT_EQ(c.users.size(), 2u);
    EXPECT_EQ(c.users[0].password, "secret");
    EXPECT_EQ(c.users[0].rights, (std::array<std::uint8_t, 9>{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(c.users[1].password, "");
    EXPECT_EQ(c.users[1].rights, (std::array<std::uint8_t, 9>{1, 0, 1, 0, 0, 0, 1, 0, 1}));
    EXPECT_EQ(c.bad_password_reason, -2);
    EXPECT_EQ(c.journal_path, "j.jsonl");
    EXPECT_TRUE(c.once);
    EXPECT_TRUE(c.verbose);
    EXPECT_EQ(c.read_timeout, std::chrono::milliseconds(500));
    EXPECT_EQ(c.close_after, std::chrono::milliseconds(1500));
    EXPECT_EQ(c.close_after_messages, 9u);
    EXPECT_TRUE(c.stall_mid_payload);
    ASSERT_EQ(c.send_unknown.size(), 2u);
    EXPECT_EQ(c.send_unknown[0].code, 300);
    EXPECT_EQ(c.send_unknown[0].length, 1000);
    EXPECT_TRUE(c.lying_length);
    EXPECT_EQ(c.bye_reason, 37);
    EXPECT_EQ(c.fault_delay, std::chrono::milliseconds(0));
}

TEST(SimOptions, DefaultsAreTheDocumentedOnes) {
    const auto line = Parse({});
    ASSERT_EQ(line.error, "");
    const SimConfig& c = line.config;
    EXPECT_EQ(c.bind_address, "127.0.0.1");
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(c.product_number, 11);
    EXPECT_EQ(c.channels, 16);
    EXPECT_EQ(c.account, 0);
    EXPECT_EQ(c.capabilities, 8);
    EXPECT_EQ(c.bad_password_reason, 1);
    EXPECT_EQ(c.fault_delay, std::chrono::milliseconds(200));
    const auto users = EffectiveUsers(c);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].name, "admin");
    EXPECT_EQ(users[0].password, "1234");
    EXPECT_FALSE(c.once || c.stall_mid_payload || c.lying_length || c.bye_reason || c.close_after ||
                 c.close_after_messages);
}

TEST(SimOptions, BadCommandLinesNameTheProblem) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--no-such-option"},
        {"stray"},
        {"--port"},
        {"--port", "65536"},
        {"--once=yes"},
        {"--channels", "-1"},
        {"--channels", "256"},
        {"--mac", "aa:bb:cc:dd:ee"},
        {"--mac", "aa-bb-cc-dd-ee-ff"},
        {"--mac", "gg:bb:cc:dd:ee:ff"},
        {"--key", "001122334455667"},
        {"--key", "00112233445566778"},
        {"--key", "0011223344556x77"},
        {"--protocol-version", "1"},
        {"--protocol-version", "1.256"},
        {"--firmware", "main"},
        {"--firmware", "=2010-01-01T00:00:00"},
        {"--firmware", "x=2011-02-29T00:00:00"},
        {"--firmware", "x=2010-13-01T00:00:00"},
        {"--firmware", "x=1969-12-31T23:59:59"},
        {"--firmware", "x=2038-01-19T03:14:08"},
        {"--firmware", "x=2010-01-01 00:00:00"},
        {"--firmware", "123456789012345678901234567890123=2010-01-01T00:00:00"},
        {"--user", "nopassword"},
        {"--user", ":pw"},
        {"--user", "seventeen-chars-x:pw"},
        {"--user", "a:seventeen-chars-x"},
        {"--user", "a:b:9"},
        {"--user", "a:b:0,,1"},
        {"--user", "a:b:0,"},
        {"--user", "a:1", "--user", "A:2"},
        {"--send-unknown", "512:0"},
        {"--send-unknown", "1:65536"},
        {"--send-unknown", "1"},
        {"--close-after-seconds", ".5"},
        {"--close-after-seconds", "1.2345"},
        {"--bad-password-reason", "x"},
        {"--bye-reason", "4294967296"},
    };
    for (const auto& args : bad) {
        const auto line = ParseCommandLine(args);
        std::string joined;
        for (auto a : args) {
            joined += std::string(a) + " ";
        }
        EXPECT_NE(line.error, "") << joined;
    }
    std::vector<std::string> many;
    for (int i = 0; i < 21; ++i) {
        many.push_back("--firmware=f" + std::to_string(i) + "=2010-01-01T00:00:00");
    }
    std::vector<std::string_view> views(many.begin(), many.end());
    EXPECT_NE(ParseCommandLine(views).error, "") << "more than 20 firmware entries";
    views.pop_back();
    EXPECT_EQ(ParseCommandLine(views).error, "");

    std::vector<std::string> users;
    for (int i = 0; i < 28; ++i) {
        users.push_back("--user=u" + std::to_string(i) + ":p");
    }
    std::vector<std::string_view> userViews(users.begin(), users.end());
    EXPECT_NE(ParseCommandLine(userViews).error, "") << "more than 27 users";
    userViews.pop_back();
    EXPECT_EQ(ParseCommandLine(userViews).error, "");
}

TEST(SimOptions, RecorderTimesAreReadAsUtcWallClock) {
    EXPECT_EQ(ParseRecorderTime("1970-01-01T00:00:00"), 0);
    EXPECT_EQ(ParseRecorderTime("2000-02-29T23:59:59"), 951868799);
    EXPECT_EQ(ParseRecorderTime("2021-03-04T05:06:07"), 1614834367);
    EXPECT_EQ(ParseRecorderTime("2038-01-19T03:14:07"), 2147483647);
    EXPECT_FALSE(ParseRecorderTime("2100-02-29T00:00:00"));  // not a leap year
    EXPECT_FALSE(ParseRecorderTime("2010-04-31T00:00:00"));
    EXPECT_FALSE(ParseRecorderTime("2010-01-01T24:00:00"));
    EXPECT_FALSE(ParseRecorderTime("2010-01-01T00:00:60"));
    EXPECT_FALSE(ParseRecorderTime("2010-1-01T00:00:00"));
}

TEST(SimOptions, SecondsAndHelpText) {
    EXPECT_EQ(ParseSeconds("2"), std::chrono::milliseconds(2000));
    EXPECT_EQ(ParseSeconds("0.25"), std::chrono::milliseconds(250));
    EXPECT_EQ(ParseSeconds("3.5"), std::chrono::milliseconds(3500));
    EXPECT_FALSE(ParseSeconds("1."));
    EXPECT_FALSE(ParseSeconds("-1"));
    EXPECT_TRUE(Parse({"--help"}).help);
    const std::string usage = UsageText();
    for (const char* option : {"--bind", "--port-file", "--firmware", "--user", "--journal",
                               "--once", "--stall-mid-payload", "--fault-delay-ms"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace taviro::sim
