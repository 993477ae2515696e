// Login and the basic session on the simulated recorder, driven by a raw client.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "protocol/catalogue.h"
#include "protocol/hello.h"
#include "raw_client.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;

SimConfig QuickConfig() {
    SimConfig c;
    c.fault_delay = 50ms;
    return c;
}

bool HasClose(const std::vector<JournalEntry>& entries) {
    return FindClose(entries) != nullptr;
}

TEST(SimLogin, HelloAckIsByteExactForEveryConfiguredField) {
    SimConfig c = QuickConfig();
    c.protocol_major = 2;
    c.protocol_minor = 3;
    c.product_number = 12;
    c.product_major = 4;
    c.product_minor = 5;
    c.front_ver = 6;
    c.channels = 8;
    c.account = 2;
    c.mac = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    c.capabilities = 0x0B;
    c.key = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33};
    c.web_port = 8080;                           // 0x1F90
    c.firmware.push_back({"main", 1286798400});  // 2010-10-11T12:00:00
    // Exactly 32 bytes: fills the field with no terminator.
    c.firmware.push_back({"0123456789abcdef0123456789ABCDEF", 1614834367});
    c.firmware.push_back({"boot", 1});
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start()) << sim.LastError();

    CRawClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.SendHello("ADMIN", "1234"));
    // Raw, so the header is checked byte by byte too: code 5 << 7 = 0x280, length 768.
    const auto head = client.RecvRaw(16);
    ASSERT_TRUE(head);
    const std::vector<std::uint8_t> expectedHead = {0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x03, 0x00,
                                                    0,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(*head, expectedHead);
    const auto payload = client.RecvRaw(768);
    ASSERT_TRUE(payload);

    std::vector<std::uint8_t> expected(768, 0);
    expected[0] = 2;   // protocol major
    expected[1] = 3;   // protocol minor
    expected[2] = 12;  // product_number
    expected[3] = 4;   // product major
    expected[4] = 5;   // product minor
    expected[5] = 6;   // front_ver
    expected[6] = 8;   // channel_num
    expected[7] = 2;   // account
    const std::uint8_t mac[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    std::copy(std::begin(mac), std::end(mac), expected.begin() + 8);
    expected[16] = 0x0B;  // capabilities
    const std::uint8_t key[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33};
    std::copy(std::begin(key), std::end(key), expected.begin() + 18);
    expected[26] = 0x90;  // web port, little-endian
    expected[27] = 0x1F;
    const char* names[] = {"main", "0123456789abcdef0123456789ABCDEF", "boot"};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string n = names[i];
        std::copy(n.begin(), n.end(), expected.begin() + static_cast<std::ptrdiff_t>(48 + 32 * i));
    }
    const std::uint8_t firmVer[] = {0x4C, 0xB2, 0xFC, 0x40, 0x60, 0x40, 0x6A, 0xBF, 0, 0, 0, 1};
    std::copy(std::begin(firmVer), std::end(firmVer), expected.begin() + 688);
    ASSERT_EQ(payload->size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ((*payload)[i], expected[i]) << "offset " << i;
    }
    // And the client's own parser reads the same values back.
    const auto parsed = protocol::HelloAck::Parse(*payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->webPort, 8080);
    EXPECT_EQ(parsed->FirmwareName(1), "0123456789abcdef0123456789ABCDEF");
    EXPECT_EQ(parsed->FirmVer[0], 1286798400);
}

TEST(SimLogin, DefaultsDescribeASixteenChannelRecorderWithAdmin1234) {
    CRecorderSim sim(QuickConfig());
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    const auto ack = client.Login(sim.Port(), "admin", "1234");
    ASSERT_TRUE(ack);
    ASSERT_EQ(ack->size(), 768u);
    EXPECT_EQ((*ack)[2], 11);  // MRKD7310
    EXPECT_EQ((*ack)[6], 16);
    EXPECT_EQ((*ack)[7], 0);
    EXPECT_EQ((*ack)[16], 8);
    for (std::size_t i = 688; i < 768; ++i) {
        EXPECT_EQ((*ack)[i], 0) << "no firmware entries by default, offset " << i;
    }
}

TEST(SimLogin, RefusedLoginsGetBye48WithTheReasonAndTheConnectionCloses) {
    SimConfig c = QuickConfig();
    c.users = {{"alice", "secret", {}}, {"bob", "hunter2", {}}};
    c.bad_password_reason = 35;
    // Faults belong to logged-in clients only; a refused one must not see them.
    c.send_unknown.push_back({300, 10});
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());

    struct Attempt {
        std::string user, password;
        std::size_t helloSize;
    };
    const Attempt attempts[] = {
        {"alice", "wrong", 32},    // wrong password
        {"carol", "secret", 32},   // unknown user
        {"alice", "hunter2", 32},  // another user's password
        {"admin", "1234", 32},     // the default account is gone once users are given
        {"alice", "secret", 31},   // a HELLO of the wrong size names nobody
    };
    for (const auto& a : attempts) {
        SCOPED_TRACE(a.user + "/" + a.password + " size " + std::to_string(a.helloSize));
        CRawClient client;
        ASSERT_TRUE(client.Connect(sim.Port()));
        auto hello = protocol::BuildHelloPayload(a.user, a.password);
        ASSERT_TRUE(client.Send(msg::HELLO, std::span(hello).first(a.helloSize)));
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(client.WaitForClose(3s, &bytes));
        const auto expected = [] {
            auto b = HeaderBytes(0x200, 4);  // BYE48: code 4 << 7, length 4
            b.insert(b.end(), {0x00, 0x00, 0x00, 0x23});
            return b;
        }();
        EXPECT_EQ(bytes, expected);
    }
    ASSERT_TRUE(sim.WaitForJournal(
        [](const auto& e) {
            return CountEntries(e, [](const JournalEntry& x) { return x.IsEvent("close"); }) == 5;
        },
        3s));
    const auto journal = sim.Journal();
    EXPECT_EQ(FindClose(journal)->why, "login refused");
    EXPECT_EQ(CountEntries(journal, [](const JournalEntry& x) { return x.IsTx(300); }), 0u);
    EXPECT_EQ(CountEntries(journal, [](const JournalEntry& x) { return x.IsTx(5); }), 0u);
}

TEST(SimLogin, NamesAndPasswordsCompareWithoutCaseAndUseTheFull16Bytes) {
    SimConfig c = QuickConfig();
    c.users = {{"Operator", "PassWord", {}}, {"sixteen-chars-id", "sixteen-chars-pw", {}}};
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    {
        CRawClient client;  // the client lower-cases both texts
        EXPECT_TRUE(client.Login(sim.Port(), "OPERATOR", "password"));
    }
    {
        CRawClient client;  // 16 bytes each: no terminator in either field
        EXPECT_TRUE(client.Login(sim.Port(), "Sixteen-Chars-ID", "sixteen-chars-pw"));
    }
    ASSERT_TRUE(sim.WaitForJournal(
        [](const auto& e) {
            return CountEntries(e, [](const JournalEntry& x) { return x.IsEvent("login"); }) == 2;
        },
        3s));
    const auto journal = sim.Journal();
    std::vector<std::string> users;
    for (const auto& e : journal) {
        if (e.IsEvent("login")) {
            users.push_back(e.why);
        }
    }
    EXPECT_EQ(users, (std::vector<std::string>{"Operator", "sixteen-chars-id"}));
}

TEST(SimLogin, KeepAlivesAreToleratedAndLiveStopIsAcknowledged) {
    CRecorderSim sim(QuickConfig());
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.Send(msg::KEEP_ALIVE));
    }
    // A keep-alive with stray bits around the code (word 0 bits 0..2 and 16..31) is the
    // same keep-alive.
    ASSERT_TRUE(client.SendRaw(HeaderBytes(0xABCDFF87u, 0)));
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));
    // Nothing answers the keep-alives, so the acknowledgement is the very next message.
    const auto ack = client.RecvRaw(16);
    ASSERT_TRUE(ack);
    EXPECT_EQ(*ack, HeaderBytes(21u << 7, 0));  // LIVE_STOP_ACK, no payload
    EXPECT_TRUE(client.StaysQuiet(150ms)) << "the connection stays open and quiet";

    const std::uint8_t mask[] = {0x00, 0x00, 0xFF, 0xFF};
    ASSERT_TRUE(client.Send(msg::LIVE_REQ, mask));
    ASSERT_TRUE(client.Send(msg::BYE));
    EXPECT_TRUE(client.WaitForClose());
    ASSERT_TRUE(sim.WaitForJournal(HasClose, 3s));
    const auto journal = sim.Journal();
    EXPECT_EQ(CountEntries(journal, [](const JournalEntry& e) { return e.IsRx(511); }), 4u);
    const auto live = std::find_if(journal.begin(), journal.end(),
                                   [](const JournalEntry& e) { return e.IsRx(16); });
    ASSERT_NE(live, journal.end());
    EXPECT_EQ(live->name, "LIVE_REQ");
    EXPECT_EQ(ToHex(live->payload), "0000ffff");
    EXPECT_EQ(FindClose(journal)->why, "goodbye");
}

TEST(SimLogin, RequestsBeforeLoginAreJournaledButNotAnswered) {
    CRecorderSim sim(QuickConfig());
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));
    EXPECT_TRUE(client.StaysQuiet(200ms));
    ASSERT_TRUE(client.SendHello("admin", "1234"));
    const auto answer = client.Recv();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->header.Command(), msg::HELLO48_ACK);
    ASSERT_TRUE(sim.WaitForJournal(
        [](const auto& e) {
            return CountEntries(e, [](const JournalEntry& x) { return x.IsRx(20); }) == 1;
        },
        3s));
}

TEST(SimLogin, JournalRecordsBothDirectionsInMemoryAndInTheFileWhileRunning) {
    const auto path =
        std::filesystem::temp_directory_path() / ("sim_journal_" + std::to_string(::getpid()));
    SimConfig c = QuickConfig();
    c.journal_path = path.string();
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    const auto hello = protocol::BuildHelloPayload("admin", "1234");
    ASSERT_TRUE(client.Send(msg::HELLO, hello));
    const auto ack = client.Recv();
    ASSERT_TRUE(ack);
    const std::uint8_t junk[] = {0xFE, 0xED};
    ASSERT_TRUE(client.Send(400, junk));  // a code the recorder does not know
    ASSERT_TRUE(client.Send(msg::BYE));
    ASSERT_TRUE(client.WaitForClose());
    ASSERT_TRUE(sim.WaitForJournal(HasClose, 3s));

    // Read while the simulator is still running: every line is already flushed.
    const auto fromFile = ReadJournal(path.string());
    const auto inMemory = sim.Journal();
    ASSERT_EQ(fromFile.size(), inMemory.size());
    std::vector<std::string> shape;
    for (std::size_t i = 0; i < fromFile.size(); ++i) {
        EXPECT_EQ(FormatJournalLine(fromFile[i]), FormatJournalLine(inMemory[i]));
        const auto& e = fromFile[i];
        shape.push_back(e.IsMessage() ? (e.dir == JournalDir::Rx ? "rx " : "tx ") + e.name
                                      : e.event);
        if (i > 0) {
            EXPECT_GE(e.t, fromFile[i - 1].t);
        }
    }
    EXPECT_EQ(shape, (std::vector<std::string>{"listen", "accept", "rx HELLO", "tx HELLO48_ACK",
                                               "login", "rx UNKNOWN", "rx BYE", "close"}));
    EXPECT_EQ(fromFile[2].code, 1);
    EXPECT_EQ(fromFile[2].length, 32u);
    EXPECT_EQ(ToHex(fromFile[2].payload), ToHex(hello));
    EXPECT_EQ(fromFile[3].code, 5);
    EXPECT_EQ(fromFile[3].length, 768u);
    EXPECT_EQ(fromFile[3].payload, ack->payload);
    EXPECT_EQ(fromFile[5].code, 400);
    EXPECT_EQ(ToHex(fromFile[5].payload), "feed");
    sim.Stop();
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace taviro::sim::test
