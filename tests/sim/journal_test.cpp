// The journal's line format and its reader, which tests and scripts rely on.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/journal.h"

namespace taviro::sim {
namespace {

TEST(SimJournal, MessagesAndEventsSurviveFormatAndParse) {
    JournalEntry m;
    m.t = 12.5;
    m.dir = JournalDir::Tx;
    m.code = 259;
    m.name = "SYS_ETC_INFO";
    m.length = 320;
    m.payload = {0x00, 0x7F, 0x80, 0xFF};
    m.fault = "stall-mid-payload";
    const std::string line = FormatJournalLine(m);
    EXPECT_EQ(line,
              "{\"t\":12.500000,\"dir\":\"tx\",\"code\":259,\"name\":\"SYS_ETC_INFO\","
              "\"length\":320,\"payload\":\"007f80ff\",\"fault\":\"stall-mid-payload\"}");
    const auto back = ParseJournalLine(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(FormatJournalLine(*back), line);
    EXPECT_EQ(back->payload, m.payload);
    EXPECT_EQ(back->length, 320u);

    JournalEntry e;
    e.t = 0.25;
    e.event = "login";
    e.why = "we\"ird\\name\n\x01";  // user names come from the command line
    const auto eBack = ParseJournalLine(FormatJournalLine(e));
    ASSERT_TRUE(eBack);
    EXPECT_EQ(eBack->why, e.why);
    EXPECT_FALSE(eBack->IsMessage());
}

TEST(SimJournal, ParserRejectsBrokenLinesAndIgnoresUnknownKeys) {
    const char* bad[] = {
        "",
        "{",
        "{\"t\":1,\"dir\":\"rx\",\"code\":1,\"name\":\"HELLO\",\"length\":0,\"payload\":\"",
        "{\"dir\":\"rx\",\"code\":1,\"payload\":\"\"}",              // no time
        "{\"t\":1,\"dir\":\"rx\",\"payload\":\"\"}",                 // no code
        "{\"t\":1,\"dir\":\"up\",\"code\":1}",                       // bad direction
        "{\"t\":1,\"dir\":\"rx\",\"code\":1,\"payload\":\"abc\"}",   // odd hex
        "{\"t\":1,\"dir\":\"rx\",\"code\":1,\"payload\":\"zz\"}",    // not hex
        "{\"t\":1,\"dir\":\"rx\",\"code\":-1}",                      // negative code
        "{\"t\":1,\"dir\":\"rx\",\"code\":1.5}",                     // fractional code
        "{\"t\":nan,\"event\":\"accept\"}",                          // not finite
        "{\"t\":1,\"event\":\"accept\"} trailing",                   // junk after
        "{\"t\":1,\"event\":{\"nested\":1}}",                        // nesting
        "{\"t\":1,\"event\":\"accept\",\"dir\":\"rx\",\"code\":1}",  // both kinds
        "{\"t\":1,\"event\":\"bad\\q\"}",                            // bad escape
        "{\"t\":1,\"event\":\"accept\",}",                           // dangling comma
    };
    for (const char* line : bad) {
        EXPECT_FALSE(ParseJournalLine(line)) << line;
    }
    const auto ok = ParseJournalLine(
        " {\"t\":3,\"extra\":true,\"n\":7,\"event\":\"accept\",\"why\":\"\\u0041\"} ");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->event, "accept");
    EXPECT_EQ(ok->why, "A");
}

TEST(SimJournal, ReaderSkipsGarbageOverlongAndUnfinishedLines) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("sim_journal_reader_" + std::to_string(::getpid()));
    {
        std::ofstream out(path, std::ios::binary);
        out << "{\"t\":1,\"event\":\"accept\"}\n";
        out << "not json at all\n";
        out << std::string(3u << 20, 'x') << "\n";  // longer than the reader takes
        out << "{\"t\":2,\"dir\":\"rx\",\"code\":511,\"name\":\"KEEP_ALIVE\",\"length\":0,"
               "\"payload\":\"\"}\n";
        out << std::string("\0\xff\n", 3);
        out << "{\"t\":3,\"event\":\"clo";  // still being written
    }
    const auto entries = ReadJournal(path.string());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].IsEvent("accept"));
    EXPECT_TRUE(entries[1].IsRx(511));
    EXPECT_TRUE(ReadJournal((path.string() + ".missing")).empty());
    std::filesystem::remove(path);
}

TEST(SimJournal, WriterStampsNamesByDirectionAndWakesWaiters) {
    CJournal journal;
    const std::uint8_t reason[] = {0, 0, 0, 1};
    journal.Message(JournalDir::Rx, 4, 0, {});
    journal.Message(JournalDir::Tx, 4, 4, reason);
    journal.Message(JournalDir::Rx, 102, 0, {});
    journal.Message(JournalDir::Tx, 102, 4, reason);
    journal.Message(JournalDir::Tx, 499, 0, {});
    const auto entries = journal.Entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].name, "BYE");
    EXPECT_EQ(entries[1].name, "BYE48");
    EXPECT_EQ(entries[2].name, "TRANS_OFF_REQ");
    EXPECT_EQ(entries[3].name, "TRANS_ON_NACK");
    EXPECT_EQ(entries[4].name, "UNKNOWN");

    std::thread writer([&journal] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        journal.Event("close", "goodbye");
    });
    EXPECT_TRUE(
        journal.WaitFor([](const auto& e) { return !e.empty() && e.back().IsEvent("close"); },
                        std::chrono::seconds(5)));
    writer.join();
    EXPECT_FALSE(
        journal.WaitFor([](const auto& e) { return e.size() > 6; }, std::chrono::milliseconds(20)));
}

}  // namespace
}  // namespace taviro::sim
