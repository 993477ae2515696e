// The server around the sessions: one client after another, hostile clients, start and
// stop, and the taviro-recorder-sim program itself.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "protocol/catalogue.h"
#include "raw_client.h"
#include "sim/recorder_sim.h"

extern char** environ;

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Clock = std::chrono::steady_clock;

bool ClosesReach(const CRecorderSim& sim, std::size_t n) {
    return sim.WaitForJournal(
        [n](const auto& e) {
            return CountEntries(e, [](const JournalEntry& x) { return x.IsEvent("close"); }) >= n;
        },
        5s);
}

std::vector<std::string> CloseReasons(const CRecorderSim& sim) {
    std::vector<std::string> out;
    for (const auto& e : sim.Journal()) {
        if (e.IsEvent("close")) {
            out.push_back(e.why);
        }
    }
    return out;
}

TEST(SimServer, ServesTheNextClientAfterGoodbyeDropAndBrokenMessage) {
    CRecorderSim sim(SimConfig{});
    ASSERT_TRUE(sim.Start());
    {
        CRawClient first;
        ASSERT_TRUE(first.Login(sim.Port()));
        ASSERT_TRUE(first.Send(msg::BYE));
        EXPECT_TRUE(first.WaitForClose());
    }
    {
        CRawClient dropped;
        ASSERT_TRUE(dropped.Login(sim.Port()));
        dropped.Close();
    }
    {
        CRawClient crashed;  // disappears with a reset
        ASSERT_TRUE(crashed.Login(sim.Port()));
        crashed.Abort();
    }
    {
        CRawClient halfway;  // announces 100 bytes, sends 10, leaves
        ASSERT_TRUE(halfway.Login(sim.Port()));
        auto bytes = HeaderBytes(msg::LIVE_REQ << 7, 100);
        bytes.resize(bytes.size() + 10, 0xAA);
        ASSERT_TRUE(halfway.SendRaw(bytes));
        halfway.Close();
    }
    CRawClient last;
    EXPECT_TRUE(last.Login(sim.Port()));
    ASSERT_TRUE(ClosesReach(sim, 4));
    const auto reasons = CloseReasons(sim);
    ASSERT_GE(reasons.size(), 4u);
    EXPECT_EQ(reasons[0], "goodbye");
    EXPECT_EQ(reasons[1], "peer closed");
    EXPECT_TRUE(reasons[2] == "connection reset" || reasons[2] == "peer closed") << reasons[2];
    EXPECT_EQ(reasons[3], "read failed");
    EXPECT_EQ(sim.ClientsAccepted(), 5u);
}

TEST(SimServer, ServesOneClientAtATime) {
    CRecorderSim sim(SimConfig{});
    ASSERT_TRUE(sim.Start());
    CRawClient first;
    ASSERT_TRUE(first.Login(sim.Port()));
    CRawClient second;
    ASSERT_TRUE(second.Connect(sim.Port()));  // waits in the listen queue
    ASSERT_TRUE(second.SendHello("admin", "1234"));
    EXPECT_FALSE(second.Recv(300ms)) << "not served while the first client is";
    ASSERT_TRUE(first.Send(msg::BYE));
    const auto answer = second.Recv();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->header.Command(), msg::HELLO48_ACK);
}

TEST(SimServer, SurvivesGarbageHugeLengthsAndAbruptCloses) {
    SimConfig c;
    c.read_timeout = 300ms;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    std::mt19937 random(20240601);
    std::vector<std::uint8_t> garbage(200'000);
    for (auto& b : garbage) {
        b = static_cast<std::uint8_t>(random());
    }
    {
        CRawClient hostile;  // random bytes, with and without a login first
        ASSERT_TRUE(hostile.Connect(sim.Port()));
        hostile.SendRaw(garbage);
        hostile.Close();
    }
    {
        CRawClient hostile;
        ASSERT_TRUE(hostile.Login(sim.Port()));
        hostile.SendRaw(garbage);
        hostile.Abort();
    }
    {
        CRawClient hostile;  // every length bit set: 65,535 bytes announced, none follow
        ASSERT_TRUE(hostile.Connect(sim.Port()));
        ASSERT_TRUE(hostile.SendRaw(HeaderBytes(0xFFFFFFFFu, 0xFFFFFFFFu)));
        EXPECT_TRUE(hostile.WaitForClose(3s)) << "a client stuck inside a message is dropped";
    }
    {
        CRawClient hostile;  // a HELLO header with 65,535 bytes of payload
        ASSERT_TRUE(hostile.Connect(sim.Port()));
        auto bytes = HeaderBytes(msg::HELLO << 7, 0xFFFF);
        bytes.resize(bytes.size() + 0xFFFF, 'a');
        ASSERT_TRUE(hostile.SendRaw(bytes));
        std::vector<std::uint8_t> answer;
        EXPECT_TRUE(hostile.WaitForClose(3s, &answer));
        EXPECT_EQ(answer.size(), 20u) << "refused like any other unknown user";
    }
    for (int i = 0; i < 5; ++i) {
        CRawClient hostile;  // connects and vanishes
        ASSERT_TRUE(hostile.Connect(sim.Port()));
        if (i % 2 == 0) {
            hostile.Abort();
        }
    }
    CRawClient honest;
    EXPECT_TRUE(honest.Login(sim.Port()));
    EXPECT_TRUE(sim.Running());
}

TEST(SimServer, StopEndsAConnectionStuckInsideAMessage) {
    SimConfig c;
    c.read_timeout = 60s;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    ASSERT_TRUE(client.SendRaw(HeaderBytes(msg::LIVE_REQ << 7, 4)));  // no payload follows
    std::this_thread::sleep_for(100ms);
    const auto before = Clock::now();
    sim.Stop();
    // The bound is far below the read timeout: Stop must not wait for it.
    EXPECT_LT(Clock::now() - before, 10s);
    EXPECT_TRUE(client.WaitForClose());
    EXPECT_EQ(CloseReasons(sim), (std::vector<std::string>{"stopped"}));
    EXPECT_FALSE(sim.Running());
    sim.Stop();  // idempotent
}

TEST(SimServer, StartFailuresAreReported) {
    CRecorderSim first(SimConfig{});
    ASSERT_TRUE(first.Start());
    EXPECT_FALSE(first.Start()) << "already started";

    SimConfig taken;
    taken.port = first.Port();
    CRecorderSim second(taken);
    EXPECT_FALSE(second.Start());
    EXPECT_NE(second.LastError().find("cannot listen"), std::string::npos);

    SimConfig badJournal;
    badJournal.journal_path = "/nonexistent-dir/journal.jsonl";
    CRecorderSim third(badJournal);
    EXPECT_FALSE(third.Start());
    EXPECT_NE(third.LastError().find("journal"), std::string::npos);

    SimConfig twice;
    twice.users = {{"a", "1", {}}, {"A", "2", {}}};
    CRecorderSim fourth(twice);
    EXPECT_FALSE(fourth.Start());
}

TEST(SimServer, OnceStopsAcceptingAfterTheFirstClientAndWritesThePortFile) {
    const auto portFile =
        std::filesystem::temp_directory_path() / ("sim_port_" + std::to_string(::getpid()));
    SimConfig c;
    c.once = true;
    c.port_file = portFile.string();
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    std::ifstream in(portFile);
    unsigned port = 0;
    in >> port;
    EXPECT_EQ(port, sim.Port());
    {
        CRawClient client;
        ASSERT_TRUE(client.Login(sim.Port()));
        ASSERT_TRUE(client.Send(msg::BYE));
        EXPECT_TRUE(client.WaitForClose());
    }
    EXPECT_TRUE(sim.WaitUntilFinished(5s));
    EXPECT_FALSE(sim.Running());
    sim.Stop();
    CRawClient late;
    EXPECT_FALSE(late.Connect(static_cast<std::uint16_t>(port)));
    std::filesystem::remove(portFile);
}

// The program, as a script runs it.
class CSimProcess {
  public:
    ~CSimProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Spawn(const std::vector<std::string>& args) {
        const char* dir = std::getenv("TAVIRO_BINARY_DIR");
        const std::string exe = std::string(dir ? dir : ".") + "/sim/taviro-recorder-sim";
        std::vector<std::string> all{exe};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        return ::posix_spawn(&m_pid, exe.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
    }
    // The exit status, or -1 when the program is still running after `timeout`.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

  private:
    pid_t m_pid = -1;
};

TEST(SimProgram, RunsOnceOnAFreePortAndLogsAClientIn) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("sim_program_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto portFile = dir / "port";
    const auto journal = dir / "journal.jsonl";
    CSimProcess process;
    ASSERT_TRUE(process.Spawn({"--port", "0", "--port-file", portFile.string(), "--once",
                               "--journal=" + journal.string(), "--product-number", "12", "--user",
                               "Viewer:Pass:0,2,6,8"}));
    unsigned port = 0;
    for (int i = 0; i < 250 && port == 0; ++i) {
        std::ifstream in(portFile);
        in >> port;
        if (port == 0) {
            std::this_thread::sleep_for(20ms);
        }
    }
    ASSERT_NE(port, 0u) << "no port file";
    {
        CRawClient client;
        const auto ack = client.Login(static_cast<std::uint16_t>(port), "viewer", "pass");
        ASSERT_TRUE(ack);
        EXPECT_EQ((*ack)[2], 12);
        ASSERT_TRUE(client.Send(msg::BYE));
        EXPECT_TRUE(client.WaitForClose());
    }
    EXPECT_EQ(process.Wait(10s), 0);
    const auto entries = ReadJournal(journal.string());
    EXPECT_EQ(CountEntries(entries, [](const JournalEntry& e) { return e.IsRx(1); }), 1u);
    EXPECT_EQ(CountEntries(entries, [](const JournalEntry& e) { return e.IsTx(5); }), 1u);
    EXPECT_EQ(CountEntries(entries, [](const JournalEntry& e) { return e.IsEvent("close"); }), 1u);
    std::filesystem::remove_all(dir);
}

TEST(SimProgram, RejectsABadCommandLine) {
    CSimProcess process;
    ASSERT_TRUE(process.Spawn({"--mac", "not-a-mac"}));
    EXPECT_EQ(process.Wait(10s), 2);
}

}  // namespace
}  // namespace taviro::sim::test
