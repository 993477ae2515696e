// The scripted faults: each one must reach the client exactly as described, and the
// simulator must go on serving afterwards.
#include <gtest/gtest.h>

#include <thread>

#include "protocol/catalogue.h"
#include "raw_client.h"
#include "sim/fault_script.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Clock = std::chrono::steady_clock;

SimConfig FaultConfig() {
    SimConfig c;
    c.fault_delay = 50ms;
    return c;
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<std::uint8_t>(i & 0xFF));
    }
    return out;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

std::string CloseWhy(const CRecorderSim& sim) {
    sim.WaitForJournal([](const auto& e) { return FindClose(e) != nullptr; }, 3s);
    const auto journal = sim.Journal();
    const auto* close = FindClose(journal);
    return close ? close->why : "(no close)";
}

TEST(SimFaults, CloseAfterMessagesCountsHelloAndAnswersTheLastOne) {
    SimConfig c = FaultConfig();
    c.close_after_messages = 3;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));      // message 1
    ASSERT_TRUE(client.Send(msg::KEEP_ALIVE));  // 2
    EXPECT_TRUE(client.StaysQuiet(150ms));
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));  // 3: still answered, then the end
    std::vector<std::uint8_t> before;
    EXPECT_TRUE(client.WaitForClose(3s, &before));
    EXPECT_EQ(before, HeaderBytes(21u << 7, 0));
    EXPECT_EQ(CloseWhy(sim), "close-after-messages");
    const auto journal = sim.Journal();
    EXPECT_EQ(CountEntries(journal, [](const JournalEntry& e) { return e.dir == JournalDir::Rx; }),
              3u);
}

TEST(SimFaults, CloseAfterSecondsCountsFromLogin) {
    SimConfig c = FaultConfig();
    c.close_after = 400ms;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    // Waiting before the login must not count.
    EXPECT_TRUE(client.StaysQuiet(500ms));
    ASSERT_TRUE(client.SendHello("admin", "1234"));
    ASSERT_TRUE(client.Recv());
    const auto loggedIn = Clock::now();
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));
    const auto ack = client.Recv();
    ASSERT_TRUE(ack) << "the connection is still served before the time is up";
    EXPECT_EQ(ack->header.Command(), msg::LIVE_STOP_ACK);
    EXPECT_TRUE(client.WaitForClose(5s));
    // Not before the configured time (a lower bound only; the upper one is the wait above).
    EXPECT_GE(Clock::now() - loggedIn, 350ms);
    EXPECT_EQ(CloseWhy(sim), "close-after-seconds");
}

TEST(SimFaults, StallSendsHalfARecordThenNothingButKeepsTheSocketOpen) {
    SimConfig c = FaultConfig();
    c.stall_mid_payload = true;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    // SYS_ETC_INFO (259 << 7 = 0x8180) announcing 320 bytes, then 160 of them.
    const auto bytes = client.RecvRaw(16 + 160);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, Concat({HeaderBytes(0x8180, 320), Pattern(160)}));
    EXPECT_TRUE(client.StaysQuiet(500ms));
    // The recorder still reads the client but answers nothing, not even LIVE_STOP.
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));
    EXPECT_TRUE(client.StaysQuiet(300ms));
    ASSERT_TRUE(sim.WaitForJournal(
        [](const auto& e) {
            return CountEntries(e, [](const JournalEntry& x) { return x.IsRx(20); }) == 1;
        },
        3s));
    ASSERT_TRUE(client.Send(msg::BYE));
    EXPECT_TRUE(client.WaitForClose());
    EXPECT_EQ(CloseWhy(sim), "goodbye");
    const auto journal = sim.Journal();
    const auto stall = std::find_if(journal.begin(), journal.end(),
                                    [](const JournalEntry& e) { return e.IsTx(259); });
    ASSERT_NE(stall, journal.end());
    EXPECT_EQ(stall->length, 320u);
    EXPECT_EQ(stall->payload.size(), 160u);
    EXPECT_EQ(stall->fault, "stall-mid-payload");
    EXPECT_EQ(CountEntries(journal, [](const JournalEntry& e) { return e.IsTx(21); }), 0u);
}

TEST(SimFaults, UnknownCodesArriveWithPatternedPayloadsAndTheStreamStaysInStep) {
    SimConfig c = FaultConfig();
    c.send_unknown = {{300, 1000}, {500, 0}, {77, 65535}};
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    const std::pair<std::uint16_t, std::size_t> expected[] = {{300, 1000}, {500, 0}, {77, 65535}};
    for (const auto& [code, length] : expected) {
        const auto m = client.Recv();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->header.Command(), code);
        EXPECT_EQ(m->header.Length(), length);
        EXPECT_EQ(m->payload, Pattern(length));
    }
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));
    const auto ack = client.Recv();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.Command(), msg::LIVE_STOP_ACK);
}

TEST(SimFaults, LyingLengthIsFollowedAtOnceByTheNextMessage) {
    SimConfig c = FaultConfig();
    c.lying_length = true;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    // SYS_NOTICE (257 << 7 = 0x8080) claiming 32 bytes with only 8 behind it, then a proper
    // 12-byte SYS_NOTICE: 52 bytes in all, and nothing after them.
    const auto bytes = client.RecvRaw(52);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes,
              Concat({HeaderBytes(0x8080, 32), Pattern(8), HeaderBytes(0x8080, 12), Pattern(12)}));
    EXPECT_TRUE(client.StaysQuiet(200ms));
    const auto journal = sim.Journal();
    const auto lie = std::find_if(journal.begin(), journal.end(),
                                  [](const JournalEntry& e) { return e.fault == "lying-length"; });
    ASSERT_NE(lie, journal.end());
    EXPECT_EQ(lie->code, 257);
    EXPECT_EQ(lie->length, 32u);
    EXPECT_EQ(lie->payload.size(), 8u);
}

TEST(SimFaults, ByeReasonSaysGoodbyeThenCloses) {
    SimConfig c = FaultConfig();
    c.bye_reason = -2;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    std::vector<std::uint8_t> before;
    ASSERT_TRUE(client.WaitForClose(3s, &before));
    EXPECT_EQ(before, Concat({HeaderBytes(0x200, 4), {0xFF, 0xFF, 0xFF, 0xFE}}));
    EXPECT_EQ(CloseWhy(sim), "bye-reason");
}

TEST(SimFaults, FaultsWaitForTheDelayAndComeInTheirOrder) {
    SimConfig c = FaultConfig();
    c.fault_delay = 400ms;
    c.send_unknown = {{450, 2}};
    c.lying_length = true;
    c.bye_reason = 33;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    EXPECT_TRUE(client.StaysQuiet(200ms)) << "nothing before the delay has passed";
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(client.WaitForClose(3s, &bytes));
    EXPECT_EQ(bytes, Concat({HeaderBytes(450u << 7, 2),
                             Pattern(2),
                             HeaderBytes(0x8080, 32),
                             Pattern(8),
                             HeaderBytes(0x8080, 12),
                             Pattern(12),
                             HeaderBytes(0x200, 4),
                             {0, 0, 0, 33}}));
    const auto journal = sim.Journal();
    const auto login = std::find_if(journal.begin(), journal.end(),
                                    [](const JournalEntry& e) { return e.IsEvent("login"); });
    const auto first = std::find_if(journal.begin(), journal.end(),
                                    [](const JournalEntry& e) { return e.IsTx(450); });
    ASSERT_NE(login, journal.end());
    ASSERT_NE(first, journal.end());
    EXPECT_GE(first->t - login->t, 0.35);
}

TEST(SimFaults, EveryClientGetsTheFaultsAgain) {
    SimConfig c = FaultConfig();
    c.bye_reason = 1;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    for (int i = 0; i < 2; ++i) {
        CRawClient client;
        ASSERT_TRUE(client.Login(sim.Port()));
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(client.WaitForClose(3s, &bytes));
        EXPECT_EQ(bytes.size(), 20u) << "client " << i;
    }
}

TEST(SimFaults, DropResetsWithoutAGoodbyeTheFirstClientOrEveryOneWhenRepeated) {
    for (const bool repeat : {false, true}) {
        SCOPED_TRACE(repeat ? "drop-every" : "drop-after");
        SimConfig c = FaultConfig();
        c.drop_after = 200ms;
        c.drop_repeat = repeat;
        CRecorderSim sim(c);
        ASSERT_TRUE(sim.Start());
        for (int i = 0; i < 2; ++i) {
            CRawClient client;
            ASSERT_TRUE(client.Login(sim.Port()));
            std::vector<std::uint8_t> bytes;
            if (i == 0 || repeat) {
                ASSERT_TRUE(client.WaitForClose(3s, &bytes)) << "client " << i;
                EXPECT_TRUE(bytes.empty()) << "no goodbye before the reset";
            } else {
                EXPECT_FALSE(client.WaitForClose(600ms)) << "a later client keeps its connection";
            }
        }
        // Counted once the server is done with the client (after the client saw the end).
        const auto until = Clock::now() + 3s;
        while (sim.ClientsServed() < 2u && Clock::now() < until)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(sim.Drops(), repeat ? 2u : 1u);
    }
}

}  // namespace
}  // namespace taviro::sim::test
