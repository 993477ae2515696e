// taviro-cli connect end to end: the real program against the simulated recorder, judged
// by its exit status, what it prints and what the recorder's journal shows it sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

#include "logs/local_log.h"
#include "platform/socket.h"
#include "protocol/catalogue.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;
using sim::JournalDir;
using sim::JournalEntry;
namespace msg = protocol::msg;

// True once the recorder has closed the client's connection (the journal is complete).
bool WaitForClose(const sim::CRecorderSim& recorder) {
    return recorder.WaitForJournal(
        [](const std::vector<JournalEntry>& journal) {
            for (const auto& e : journal) {
                if (e.IsEvent("close"))
                    return true;
            }
            return false;
        },
        5s);
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_storage = std::filesystem::temp_directory_path() /
                    ("taviro-cli-test-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_storage);
    }
    void TearDown() override { std::filesystem::remove_all(m_storage); }

    testing::ProgramResult Connect(std::uint16_t port, std::vector<std::string> extra,
                                   const std::string& password = "1234") {
        std::vector<std::string> args = {
            "connect", "--host",     "localhost", "--port",    std::to_string(port), "--user",
            "ADMIN",   "--password", password,    "--storage", m_storage.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args, 60s);
    }

    static std::vector<int> ClientCodes(const std::vector<JournalEntry>& journal) {
        std::vector<int> codes;
        for (const auto& e : journal) {
            if (e.dir == JournalDir::Rx)
                codes.push_back(e.code);
        }
        return codes;
    }

    std::filesystem::path m_storage;
};

TEST_F(CliTest, CleanSessionPrintsIdentityKeepsAliveAndEndsWithTheGoodbye) {
    sim::SimConfig config;
    config.firmware = {{"MAIN", 1286798400}, {"BOOT", 1262304000}};
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const auto result = Connect(recorder.Port(), {"--seconds", "11"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("MRKD7310"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("channels : 16"), std::string::npos);
    EXPECT_NE(result.out.find("MAC      : 00:1c:54:10:20:30"), std::string::npos);
    EXPECT_NE(result.out.find("firmware : MAIN 2010-10-11 12:00:00"), std::string::npos);
    EXPECT_NE(result.out.find("firmware : BOOT 2010-01-01 00:00:00"), std::string::npos);

    ASSERT_TRUE(WaitForClose(recorder));
    const auto journal = recorder.Journal();
    const auto codes = ClientCodes(journal);
    ASSERT_GE(codes.size(), 5u);
    EXPECT_EQ(codes.front(), msg::HELLO);
    EXPECT_EQ(codes[1], msg::LIVE_REQ);
    EXPECT_EQ(codes.back(), msg::BYE);
    EXPECT_EQ(codes[codes.size() - 2], msg::LIVE_STOP);

    std::vector<double> keepAlives;
    for (const auto& e : journal) {
        if (e.IsRx(msg::KEEP_ALIVE))
            keepAlives.push_back(e.t);
    }
    ASSERT_EQ(keepAlives.size(), 2u);
    EXPECT_NEAR(keepAlives[1] - keepAlives[0], 10.0, 0.5);

    // The log-in and log-out entries of the local log name the user and the recorder.
    const auto log = logs::ReadLocalLog(m_storage / "Log" / logs::kLocalLogFileName);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].subType, logs::entry::kLogIn);
    EXPECT_EQ(log.records[1].subType, logs::entry::kLogOut);
    EXPECT_EQ(log.records[0].shortText, "ADMIN");
    EXPECT_EQ(log.records[0].detail, "127.0.0.1");
}

struct FailureCase {
    const char* name;
    void (*configure)(sim::SimConfig&);
    std::string password;
    int exitStatus;
    std::vector<std::string> lines;  // JSON lines that must appear, in this order
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class CliFailureTest : public CliTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliFailureTest, EndsWithTheNotificationAndExitStatusOfTheCause) {
    const FailureCase& c = GetParam();
    sim::SimConfig config;
    c.configure(config);
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const auto result = Connect(recorder.Port(), {"--json", "--seconds", "5"}, c.password);
    EXPECT_EQ(result.exitStatus, c.exitStatus) << result.out << result.err;
    std::size_t at = 0;
    for (const auto& line : c.lines) {
        const auto found = result.out.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing " << line << " in\n" << result.out;
        at = found + line.size();
    }
    // Every line is one JSON object and the last one is the summary.
    std::istringstream lines(result.out);
    std::string line, last;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
        last = line;
    }
    EXPECT_EQ(last.rfind("{\"event\":\"summary\"", 0), 0u) << last;
    EXPECT_NE(last.find("\"exit\":" + std::to_string(c.exitStatus)), std::string::npos);
    EXPECT_LT(result.took, 20s);
}

const FailureCase kFailures[] = {
    {"WrongPassword",
     [](sim::SimConfig& c) { c.bad_password_reason = 35; },
     "wrong",
     6,
     {R"({"event":"notify","category":3,"code":5})",
      R"({"event":"notify","category":2,"code":0})"}},
    {"PermissionGoodbye",
     [](sim::SimConfig& c) { c.bye_reason = 37; },
     "1234",
     6,
     {R"("event":"login")", R"({"event":"notify","category":15,"code":0})",
      R"({"event":"notify","category":2,"code":0})"}},
    {"UnsupportedProduct",
     [](sim::SimConfig& c) { c.product_number = 1; },
     "1234",
     5,
     {R"({"event":"message","text":"Not MRKD7310 or TQ71!"})",
      R"({"event":"notify","category":2,"code":0})"}},
    {"RecorderDrops",
     [](sim::SimConfig& c) { c.close_after = 1s; },
     "1234",
     7,
     {R"("event":"login")", R"({"event":"notify","category":2,"code":0})"}},
};

INSTANTIATE_TEST_SUITE_P(Causes, CliFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(CliTest, UnsupportedProductGetsNothingButTheGoodbye) {
    sim::SimConfig config;
    config.product_number = 1;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start());
    const auto result = Connect(recorder.Port(), {});
    EXPECT_EQ(result.exitStatus, 5);
    ASSERT_TRUE(WaitForClose(recorder));
    EXPECT_EQ(ClientCodes(recorder.Journal()), (std::vector<int>{msg::HELLO, msg::BYE}));
}

TEST_F(CliTest, ARecorderThatNeverAnswersIsAConnectTimeoutNamingTheRecorder) {
    // Loopback only. A listener that never accepts: the kernel completes the first connects
    // (nobody reads the login), and once its queue is full further connects get no answer.
    auto listener = platform::ListenTcp("127.0.0.1", 0, 0);
    ASSERT_TRUE(listener.Valid());
    const std::uint16_t port = platform::BoundPort(listener);
    const auto unanswered = Connect(port, {"--connect-timeout-ms", "500"});
    EXPECT_EQ(unanswered.exitStatus, 4) << unanswered.out << unanswered.err;
    EXPECT_NE(unanswered.err.find("did not answer"), std::string::npos) << unanswered.err;
    EXPECT_NE(unanswered.err.find("recorder localhost:" + std::to_string(port)), std::string::npos)
        << unanswered.err;
    EXPECT_EQ(unanswered.err.find("ended"), std::string::npos) << unanswered.err;
    EXPECT_LT(unanswered.took, 10s);
}

TEST_F(CliTest, RefusedConnectionAndUsageErrors) {
    auto listener = platform::ListenTcp("127.0.0.1", 0);
    const std::uint16_t port = platform::BoundPort(listener);
    listener.Close();
    auto refused = Connect(port, {"--json"});
    EXPECT_EQ(refused.exitStatus, 3) << refused.out << refused.err;
    EXPECT_NE(refused.out.find(R"({"event":"notify","category":1,"code":1})"), std::string::npos);
    // The failed connection is in the local log.
    const auto log = logs::ReadLocalLog(m_storage / "Log" / logs::kLocalLogFileName);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].subType, logs::entry::kConnectFailed);

    auto plain = Connect(port, {});
    EXPECT_EQ(plain.exitStatus, 3);
    EXPECT_NE(plain.err.find("refused"), std::string::npos) << plain.err;

    const auto cli = testing::BuiltProgram("src/cli/taviro-cli");
    EXPECT_EQ(testing::RunProgram(cli, {"connect", "--port", "1"}, 10s).exitStatus, 2);
    EXPECT_EQ(
        testing::RunProgram(
            cli, {"connect", "--host", "h", "--port", "99999", "--user", "u", "--password", "p"},
            10s)
            .exitStatus,
        2);
    EXPECT_EQ(testing::RunProgram(cli, {"frobnicate"}, 10s).exitStatus, 2);
    EXPECT_EQ(testing::RunProgram(cli, {}, 10s).exitStatus, 2);
    // Several recorders: each once, as HOST:PORT, and not beside --host.
    const std::string one = "127.0.0.1:" + std::to_string(port);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--recorder", one, "--recorder", one},
          std::vector<std::string>{"--recorder", "127.0.0.1"},
          std::vector<std::string>{"--recorder", one, "--host", "127.0.0.1"}}) {
        std::vector<std::string> args = {"live", "--user", "u", "--password", "p"};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(testing::RunProgram(cli, args, 10s).exitStatus, 2) << bad[1];
    }
    // The password from the variable when no option gives one; never two options at once.
    const std::vector<std::string> noPassword = {
        "connect", "--host", "127.0.0.1", "--port",          std::to_string(port),
        "--user",  "u",      "--storage", m_storage.string()};
    ASSERT_EQ(::unsetenv("TAVIRO_PASSWORD"), 0);
    EXPECT_EQ(testing::RunProgram(cli, noPassword, 10s).exitStatus, 2);
    ASSERT_EQ(::setenv("TAVIRO_PASSWORD", "p", 1), 0);
    EXPECT_EQ(testing::RunProgram(cli, noPassword, 10s).exitStatus, 3) << "tried, and refused";
    ASSERT_EQ(::unsetenv("TAVIRO_PASSWORD"), 0);
    auto both = noPassword;
    both.insert(both.end(), {"--password", "p", "--password-file", "/dev/null"});
    EXPECT_EQ(testing::RunProgram(cli, both, 10s).exitStatus, 2);
}

TEST(Versions, EveryProgramNamesItselfAndTheProjectsVersion) {
    // The version the project, and so the package, is built with.
    const char* source = std::getenv("TAVIRO_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream lists(std::filesystem::path(source) / "CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(lists)), {});
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, std::regex(R"(project\(taviro VERSION ([0-9.]+))")));
    const std::string version = match[1];
    for (const auto& [name, path] : {std::pair{"taviro-cli", "src/cli/taviro-cli"},
                                     std::pair{"taviro-recorder-sim", "sim/taviro-recorder-sim"},
                                     std::pair{"taviro", "src/app/ui/taviro"}}) {
        const std::string program = testing::BuiltProgram(path);
        if (std::string_view(name) == "taviro" && !std::filesystem::exists(program))
            continue;  // a build without the desktop client
        const auto run = testing::RunProgram(program, {"--version"}, 10s);
        EXPECT_EQ(run.exitStatus, 0) << name << run.err;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')), std::string(name) + " " + version);
    }
}

}  // namespace
}  // namespace taviro::cli
