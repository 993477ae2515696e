// The recorder's log: splitting a reply into records (sizes, damage, limits), the rows of the
// seven views, the setup details and the play target; and the rows of the client's own log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "logs/local_log.h"
#include "logs/local_log_view.h"
#include "logs/remote_log.h"
#include "logs/remote_log_details.h"

namespace taviro::logs {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Texts as "T<id>", so every cell shows which string-table entry it came from.
std::string IdText(int id) {
    return "T" + std::to_string(id);
}
LogListContext Context(bool loggedIn = true, bool forPrint = false, int dateOrder = 0) {
    return LogListContext{IdText, dateOrder, loggedIn, forPrint};
}

RemoteLogRecord Rec(std::int32_t number, std::uint32_t kind, std::uint32_t subType,
                    std::int32_t time = 0, std::uint32_t param = 0, const std::string& detail = "",
                    const std::string& shortText = "") {
    RemoteLogRecord r;
    r.number = number;
    r.size = 200;
    r.kind = kind;
    r.subType = subType;
    r.time = time;
    r.param = param;
    std::memcpy(r.detail.data(), detail.data(), std::min(detail.size(), r.detail.size()));
    std::memcpy(r.shortText.data(), shortText.data(),
                std::min(shortText.size(), r.shortText.size()));
    return r;
}

// `count` records of `size` bytes each, numbered from 1, with the size in every record.
Bytes Reply(std::size_t count, std::int32_t size) {
    Bytes out;
    for (std::size_t i = 0; i < count; ++i) {
        RemoteLogRecord r = Rec(static_cast<std::int32_t>(i + 1), 1u << (i % 5), 1, 1000, 0,
                                "detail " + std::to_string(i + 1), "short");
        r.size = size;
        r.params[15] = 0xEE;
        const auto bytes = r.Encode();
        Bytes record(bytes.begin(), bytes.end());
        record.resize(static_cast<std::size_t>(std::max(size, 0)), 0xAB);
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}

std::vector<std::int32_t> Numbers(const std::vector<LogRow>& rows,
                                  const std::vector<RemoteLogRecord>& records) {
    std::vector<std::int32_t> out;
    for (const LogRow& row : rows)
        out.push_back(records[row.record].number);
    return out;
}

// --- splitting the reply ------------------------------------------------------------------

TEST(ParseRemoteLogTest, RecordSizeBelowTheSixWordsRefusesTheReply) {
    for (std::int32_t size : {0, 23, -1, -200}) {
        Bytes reply = Reply(3, 200);
        reply[4] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(size) >> 24);
        reply[5] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(size) >> 16);
        reply[6] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(size) >> 8);
        reply[7] = static_cast<std::uint8_t>(size);
        const auto parse = ParseRemoteLog(reply);
        EXPECT_TRUE(parse.records.empty()) << size;
        EXPECT_FALSE(parse.error.empty()) << size;
    }
    for (std::size_t length : {0u, 7u}) {
        const auto parse = ParseRemoteLog(Bytes(length, 0));
        EXPECT_TRUE(parse.records.empty());
        EXPECT_FALSE(parse.error.empty());
    }
    // The first record claims more than the whole reply holds.
    const auto parse = ParseRemoteLog(Reply(2, 300));
    Bytes cut = Reply(1, 300);
    cut.resize(250);
    EXPECT_EQ(parse.records.size(), 2u);
    EXPECT_TRUE(ParseRemoteLog(cut).records.empty());
    EXPECT_FALSE(ParseRemoteLog(cut).error.empty());
}

TEST(ParseRemoteLogTest, EachRecordKeepsAtMost200BytesAndReadsTheRestAsZeros) {
    // 24 bytes: only the six words; the texts and params read as empty.
    auto parse = ParseRemoteLog(Reply(3, 24));
    ASSERT_EQ(parse.records.size(), 3u);
    EXPECT_TRUE(parse.error.empty());
    EXPECT_EQ(parse.recordSize, 24u);
    EXPECT_EQ(parse.records[2].number, 3);
    EXPECT_EQ(parse.records[2].time, 1000);
    EXPECT_EQ(parse.records[2].DetailText(), "");
    EXPECT_EQ(parse.records[2].params[15], 0);

    parse = ParseRemoteLog(Reply(3, 200));
    ASSERT_EQ(parse.records.size(), 3u);
    EXPECT_EQ(parse.records[1].DetailText(), "detail 2");
    EXPECT_EQ(parse.records[1].ShortText(), "short");
    EXPECT_EQ(parse.records[1].params[15], 0xEE);
    EXPECT_EQ(parse.records[1].kind, 2u);

    // 256 bytes: the 56 bytes past 200 are dropped and the next record still lines up.
    parse = ParseRemoteLog(Reply(3, 256));
    ASSERT_EQ(parse.records.size(), 3u);
    EXPECT_EQ(parse.records[2].number, 3);
    EXPECT_EQ(parse.records[2].DetailText(), "detail 3");
    EXPECT_EQ(parse.records[2].params[15], 0xEE);
}

TEST(ParseRemoteLogTest, FragmentsThatEndInsideARecordLeaveItOut) {
    Bytes reply = Reply(4, 200);
    reply.resize(3 * 200 + 77);
    const auto parse = ParseRemoteLog(reply);
    ASSERT_EQ(parse.records.size(), 3u);
    EXPECT_EQ(parse.trailingBytes, 77u);
    EXPECT_EQ(parse.droppedRecords, 0u);
    EXPECT_EQ(parse.records.back().number, 3);
}

TEST(ParseRemoteLogTest, At2500RecordsTheRestIsDroppedAndCounted) {
    const auto parse = ParseRemoteLog(Reply(2600, 24));
    ASSERT_EQ(parse.records.size(), 2500u);
    EXPECT_EQ(parse.droppedRecords, 100u);
    EXPECT_EQ(parse.records.back().number, 2500);
    EXPECT_TRUE(parse.error.empty());
}

TEST(ParseRemoteLogTest, TextsWithoutTerminatorStopAtTheirField) {
    RemoteLogRecord r = Rec(1, 8, 1);
    r.detail.fill('d');
    r.shortText.fill('s');
    r.params.fill('p');
    const auto bytes = r.Encode();
    const auto parse = ParseRemoteLog(Bytes(bytes.begin(), bytes.end()));
    ASSERT_EQ(parse.records.size(), 1u);
    EXPECT_EQ(parse.records[0].DetailText(), std::string(128, 'd'));
    EXPECT_EQ(parse.records[0].ShortText(), std::string(32, 's'));
    const auto rows = BuildLogRows(parse.records, LogView::Client, Context());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].cells[3], std::string(32, 's'));
    EXPECT_EQ(rows[0].cells[4], std::string(127, 'd'));  // a cell holds 127 characters

    // A cell is never cut inside a UTF-8 character.
    std::string umlauts;
    for (int i = 0; i < 64; ++i)
        umlauts += "\xC3\xA4";
    const auto cells = RecordCells(Rec(1, 8, 1, 0, 0, umlauts), Context());
    EXPECT_EQ(cells[4].size(), 126u);
}

// --- list rows ------------------------------------------------------------------------------

TEST(RemoteLogRowsTest, CellsOfEachKind) {
    const std::vector<RemoteLogRecord> records = {
        Rec(7, 1, 1, -5, 0, "not shown", "boot"),             // power on: no detail
        Rec(8, 1, 2, 0, 0, "by user"),                        // power off: detail
        Rec(9, 2, 1u << 4, 86399, 0, "disk 1"),               // record
        Rec(10, 4, 1u << 2, 0, 0, "binary"),                  // factory default: no detail
        Rec(11, 4, 1u << 8, 0, 0, "binary"),                  // clock set: no detail
        Rec(12, 4, 1u << 3, 0, 0, "changed"),                 // setup changed: detail
        Rec(13, 8, 1u << 7, 0, 0, "10.0.0.9", "admin"),       // client
        Rec(14, 16, 1u << 1, 1286798400, 0x8001, "ignored"),  // event: channels
        Rec(15, 0x20, 1),                                     // no known kind: skipped
        Rec(16, 1, 0),                                        // no sub-type: empty cell
        Rec(17, 1, 1u << 5),                                  // sub-type without a text
        Rec(-3, 2 | 16, 1),                                   // lowest kind bit wins: Record
    };
    const auto rows = BuildLogRows(records, LogView::All, Context());
    EXPECT_EQ(Numbers(rows, records),
              (std::vector<std::int32_t>{-3, 17, 16, 14, 13, 12, 11, 10, 9, 8, 7}));
    auto cellsOf = [&](std::int32_t number) {
        for (const LogRow& row : rows) {
            if (records[row.record].number == number)
                return row.cells;
        }
        return LogCells{};
    };
    EXPECT_EQ(cellsOf(7), (LogCells{"00007", "1970-01-01 00:00:00", "T5110", "boot", ""}));
    EXPECT_EQ(cellsOf(8)[4], "by user");
    EXPECT_EQ(cellsOf(9), (LogCells{"00009", "1970-01-01 23:59:59", "T5117", "", "disk 1"}));
    EXPECT_EQ(cellsOf(10)[2], "T5120");
    EXPECT_EQ(cellsOf(10)[4], "");
    EXPECT_EQ(cellsOf(11)[4], "");
    EXPECT_EQ(cellsOf(12), (LogCells{"00012", "1970-01-01 00:00:00", "T5121", "", "changed"}));
    EXPECT_EQ(cellsOf(13),
              (LogCells{"00013", "1970-01-01 00:00:00", "T5129", "admin", "10.0.0.9"}));
    EXPECT_EQ(cellsOf(14), (LogCells{"00014", "2010-10-11 12:00:00", "T5131", "", "01 16 "}));
    EXPECT_EQ(cellsOf(16)[2], "");
    EXPECT_EQ(cellsOf(17)[2], "");
    EXPECT_EQ(cellsOf(-3)[0], "-0003");
    EXPECT_EQ(cellsOf(-3)[2], "T5113");

    // The other two date orders.
    EXPECT_EQ(RecordCells(records[7], Context(true, false, 1))[1], "10-11-2010 12:00:00");
    EXPECT_EQ(RecordCells(records[7], Context(true, false, 2))[1], "11-10-2010 12:00:00");
}

TEST(RemoteLogRowsTest, ViewsAndTheLoggedInRule) {
    const std::vector<RemoteLogRecord> records = {
        Rec(1, 1, 1),        Rec(2, 2, 1),        Rec(3, 4, 1u << 9),
        Rec(4, 8, 1),        Rec(5, 16, 1, 0, 3), Rec(6, 4, 1u << 13, 0, 2),
        Rec(7, 4, 1u << 23), Rec(8, 4, 1u << 12), Rec(9, 4, (1u << 4) | (1u << 9)),
    };
    auto numbers = [&](LogView view, bool loggedIn) {
        return Numbers(BuildLogRows(records, view, Context(loggedIn)), records);
    };
    using V = std::vector<std::int32_t>;
    EXPECT_EQ(numbers(LogView::All, true), (V{9, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(numbers(LogView::All, false), (V{9, 8, 5, 4, 3, 2, 1}));
    EXPECT_EQ(numbers(LogView::Power, false), (V{1}));
    EXPECT_EQ(numbers(LogView::Record, false), (V{2}));
    EXPECT_EQ(numbers(LogView::Operation, true), (V{9, 8, 7, 6, 3}));
    EXPECT_EQ(numbers(LogView::Operation, false), (V{9, 8, 3}));
    EXPECT_EQ(numbers(LogView::Client, false), (V{4}));
    EXPECT_EQ(numbers(LogView::Event, false), (V{5}));
    // The record whose lowest sub-type bit is 9 is an archive record; 9 below 4 is not.
    EXPECT_EQ(numbers(LogView::Archive, true), (V{3}));
    EXPECT_TRUE(numbers(LogView::Archive, false).empty());

    EXPECT_EQ(InfoOf(LogView::All).pageButton, 450);
    EXPECT_EQ(InfoOf(LogView::Archive).pageButton, 456);
    EXPECT_STREQ(InfoOf(LogView::Operation).documentName, "Remote Log Operation");
    EXPECT_STREQ(InfoOf(LogView::Archive).documentName, "Remote Log Archive");
    for (const LogView view : kLogViews)
        EXPECT_EQ(LogViewFromPageButton(InfoOf(view).pageButton), view);
    EXPECT_FALSE(LogViewFromPageButton(457).has_value());
}

TEST(RemoteLogRowsTest, PerCameraSetupTextsChannelsAndButtons) {
    const std::vector<RemoteLogRecord> records = {
        Rec(1, 4, 1u << 20, 0, 5),  Rec(2, 4, 1u << 13, 0, 16),   Rec(3, 4, 1u << 17, 0, 17),
        Rec(4, 4, 1u << 21),        Rec(5, 16, 1u << 0, 50, 0x6), Rec(6, 16, 1u << 3, 50, 0x6),
        Rec(7, 16, 1u << 2, 50, 0), Rec(8, 4, 1u << 4),           Rec(9, 4, 1u << 5),
    };
    const auto list = BuildLogRows(records, LogView::All, Context());
    const auto print = BuildLogRows(records, LogView::All, Context(true, true));
    ASSERT_EQ(list.size(), records.size());
    auto row = [&](const std::vector<LogRow>& rows, std::int32_t number) {
        return *std::find_if(rows.begin(), rows.end(),
                             [&](const LogRow& r) { return records[r.record].number == number; });
    };
    EXPECT_EQ(row(list, 1).cells[2], " Cam05 Actione");
    EXPECT_EQ(row(print, 1).cells[2], " Cam05 Action");
    EXPECT_EQ(row(list, 2).cells[2], " Cam16 Name");
    EXPECT_EQ(row(list, 4).cells[2], " Rec Schedule Set");

    EXPECT_EQ(row(list, 1).channelMask, 1u << 4);
    EXPECT_EQ(row(list, 2).channelMask, 1u << 15);
    EXPECT_EQ(row(list, 3).channelMask, 0u);  // camera 17 does not exist
    EXPECT_EQ(row(list, 4).channelMask, 0u);
    EXPECT_EQ(row(list, 5).channelMask, 0x6u);

    // Details for setup sub-types 4, 9 and 13..23; play for alarm, motion and video loss.
    EXPECT_TRUE(row(list, 1).canDetails);
    EXPECT_TRUE(row(list, 8).canDetails);
    EXPECT_FALSE(row(list, 9).canDetails);
    EXPECT_TRUE(row(list, 5).canPlay);
    EXPECT_FALSE(row(list, 6).canPlay);  // sub-type 3
    EXPECT_FALSE(row(list, 7).canPlay);  // no channels to play
    EXPECT_FALSE(row(list, 5).canDetails);

    // The Event view plays but has no details; the Operation view the other way round.
    const auto events = BuildLogRows(records, LogView::Event, Context());
    EXPECT_TRUE(row(events, 5).canPlay);
    const auto setup = BuildLogRows(records, LogView::Operation, Context());
    EXPECT_TRUE(row(setup, 8).canDetails);
    EXPECT_FALSE(row(setup, 8).canPlay);

    const auto target = PlayTarget(records[4]);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->channelMask, 0x6u);
    EXPECT_EQ(target->start, 50u);
    EXPECT_EQ(PlayTarget(Rec(1, 16, 1, -9, 1))->start, 0u);
    EXPECT_FALSE(PlayTarget(records[0]).has_value());
}

TEST(RemoteLogRowsTest, EveryTextOfTheTablesIsInTheBuiltInTexts) {
    const LogListContext context{platform::BuiltInTexts(), 0, true, false};
    const std::pair<std::uint32_t, int> kinds[] = {{1, 3}, {2, 5}, {4, 24}, {8, 8}, {16, 5}};
    for (const auto& [kind, bits] : kinds) {
        for (int bit = 0; bit < bits; ++bit)
            EXPECT_FALSE(SubTypeText(Rec(1, kind, 1u << bit), context).empty()) << kind << bit;
    }
    RemoteLogRecord setup = Rec(1, 4, 1u << 4);
    setup.params = {0x3F, 0xFF, 0xF7, 0x0F, 0x1F, 0xFF};
    for (const LogCells& row : DetailRows(setup, context)) {
        EXPECT_FALSE(row[1].empty());
        EXPECT_FALSE(row[2].empty());
    }
    EXPECT_EQ(platform::BuiltInText(5520), "Remote Log");
}

// --- setup details ------------------------------------------------------------------------

TEST(RemoteLogDetailsTest, SetupItemsFromTheSixBitSets) {
    RemoteLogRecord r = Rec(42, 4, 1u << 4, 0, 0, "menu", "admin");
    // Byte 0 bits 0 and 6 (6 has no item), byte 2 bits 3 (unused) and 4, byte 3 bit 7 (none),
    // byte 5 bits 0 and 7.
    r.params = {0x41, 0x00, 0x18, 0x80, 0x00, 0x81};
    const auto rows = DetailRows(r, Context());
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (LogCells{"00042", "1970-01-01 00:00:00", "T5121", "admin", "menu"}));
    EXPECT_EQ(rows[1], (LogCells{"", "T5893", "T5660", "", ""}));
    EXPECT_EQ(rows[2], (LogCells{"", "T5894", "T5489", "", ""}));
    EXPECT_EQ(rows[3], (LogCells{"", "T5026", " Global", "", ""}));
    EXPECT_EQ(rows[4], (LogCells{"", "T5026", " Duration", "", ""}));
    EXPECT_EQ(DetailViewFor(r), DetailView::Changes);

    // A record without details shows its own row only.
    EXPECT_EQ(DetailRows(Rec(1, 4, 1u << 3), Context()).size(), 1u);
    EXPECT_EQ(DetailViewFor(Rec(1, 4, 1u << 3)), DetailView::None);
}

TEST(RemoteLogDetailsTest, ArchiveCopyRows) {
    RemoteLogRecord r = Rec(3, 4, 1u << 9);
    r.params = {6, 1, 0x81, 0x80, 0, 0, 0, 0, 0x4C, 0xB2, 0xFC, 0x40, 0xFF, 0xFF, 0xFF, 0xFB};
    auto rows = DetailRows(r, Context());
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[1], (LogCells{"", "T5899", " DVD+RW DL", "", ""}));
    EXPECT_EQ(rows[2], (LogCells{"", "T5492", " AVI", "", ""}));
    EXPECT_EQ(rows[3], (LogCells{"", "T5420", " 2010-10-11 12:00:00", "", ""}));
    EXPECT_EQ(rows[4], (LogCells{"", "T5421", " 1970-01-01 00:00:00", "", ""}));  // time -5
    EXPECT_EQ(rows[5], (LogCells{"", "T5152", " 01 08", "", ""}));
    EXPECT_EQ(rows[6], (LogCells{"", "T5152", " 16", "", ""}));

    r.params = {8, 0, 0, 0};
    rows = DetailRows(r, Context(true, false, 2));
    ASSERT_EQ(rows.size(), 5u);  // no channel rows
    EXPECT_EQ(rows[1][2], " Unknown");
    EXPECT_EQ(rows[2][2], " Exclusive");
    EXPECT_EQ(rows[3][2], " 01-01-1970 00:00:00");
    r.params[0] = 9;
    EXPECT_EQ(DetailRows(r, Context())[1][2], " PC");
    r.params[0] = 200;
    EXPECT_EQ(DetailRows(r, Context())[1][2], " Unknown");
}

// Old block at detail bytes 64..95, new block at 96..127.
void SetBlocks(RemoteLogRecord& r, std::size_t offset, std::uint8_t before, std::uint8_t after) {
    r.detail[kSetupOldBlockOffset + offset] = before;
    r.detail[kSetupNewBlockOffset + offset] = after;
}

TEST(RemoteLogDetailsTest, CameraSettingsShowOnlyWhatChanged) {
    RemoteLogRecord r = Rec(5, 4, 1u << 13, 0, 2, "camera 2");
    SetBlocks(r, 0, 1, 0);  // on -> off
    SetBlocks(r, 1, 1, 2);  // still on: no row
    SetBlocks(r, 2, 2, 1);
    SetBlocks(r, 3, 0, 7);
    SetBlocks(r, 4, 0, 2);
    SetBlocks(r, 5, 30, 30);  // unchanged
    SetBlocks(r, 9, 3, 250);
    SetBlocks(r, 10, 0x80, 0x00);  // channels: old 16, new 1 and 2
    SetBlocks(r, 11, 0x01, 0x03);
    const auto rows = DetailRows(r, Context());
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0][2], " Cam02 Name");
    EXPECT_EQ(rows[0][4], "camera 2");
    EXPECT_EQ(rows[1], (LogCells{"", "T5461", " T5344 --> T5340", "", ""}));
    EXPECT_EQ(rows[2], (LogCells{"", "T5466", " T5933 --> T5874", "", ""}));
    EXPECT_EQ(rows[3], (LogCells{"", "T5920", " T5692 --> T5693", "", ""}));
    EXPECT_EQ(rows[4], (LogCells{"", "T5921", " D1 --> 4CIF", "", ""}));
    EXPECT_EQ(rows[5], (LogCells{"", "T5927", " 3 --> 250", "", ""}));
    EXPECT_EQ(rows[6], (LogCells{"", "T5030", " 1,16 ", "", ""}));
    EXPECT_EQ(rows[7], (LogCells{"", "", " --> 1,2", "", ""}));

    // The text in front of the blocks ends at byte 64 even without a terminator.
    RemoteLogRecord longText = Rec(6, 4, 1u << 13);
    std::fill(longText.detail.begin(), longText.detail.end(), std::uint8_t{'x'});
    EXPECT_EQ(DetailRows(longText, Context())[0][4], std::string(64, 'x'));
    EXPECT_EQ(RecordCells(longText, Context())[4], std::string(64, 'x'));
}

TEST(RemoteLogDetailsTest, OtherSettingsAndTheMotionArea) {
    RemoteLogRecord clock = Rec(1, 4, 1u << 23);
    // The clock moved from 2010-10-11 12:00:00 to an hour later; the zone from +1 to -5.
    const std::uint8_t before[4] = {0x4C, 0xB2, 0xFC, 0x40};
    const std::uint8_t after[4] = {0x4C, 0xB3, 0x0A, 0x50};
    for (std::size_t i = 0; i < 4; ++i)
        SetBlocks(clock, i, before[i], after[i]);
    SetBlocks(clock, 4, 1, 0xFB);
    auto rows = DetailRows(clock, Context());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1],
              (LogCells{"", "T5037", " 2010-10-11 12:00:00 --> 2010-10-11 13:00:00", "", ""}));
    EXPECT_EQ(rows[2], (LogCells{"", "Time zone", " UTC+1 --> UTC-5", "", ""}));

    RemoteLogRecord schedule = Rec(1, 4, 1u << 21);
    SetBlocks(schedule, 1, 1, 2);
    SetBlocks(schedule, 7, 3, 9);
    rows = DetailRows(schedule, Context());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], (LogCells{"", "Sunday", " T5046 --> T5047", "", ""}));
    EXPECT_EQ(rows[2], (LogCells{"", "Saturday", " Continuous and event --> 9", "", ""}));

    RemoteLogRecord area = Rec(1, 4, 1u << 15);
    EXPECT_EQ(DetailViewFor(area), DetailView::MotionArea);
    SetBlocks(area, 0, 0x80, 0x80);   // line 1 unchanged
    SetBlocks(area, 30, 0x00, 0xC0);  // line 16, first two cells added
    SetBlocks(area, 31, 0x01, 0x00);  // and the last removed
    const MotionAreaChange change = MotionAreaOf(area);
    EXPECT_TRUE(change.before.Cell(0, 0));
    EXPECT_TRUE(change.before.Cell(15, 15));
    EXPECT_FALSE(change.after.Cell(15, 15));
    EXPECT_TRUE(change.after.Cell(15, 1));
    EXPECT_FALSE(change.after.Cell(16, 0));
    EXPECT_FALSE(change.after.Cell(0, -1));
    rows = DetailRows(area, Context());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][1], "Area row 16");
    EXPECT_EQ(rows[1][2], " ...............# --> ##..............");
}

// --- the client's own log -------------------------------------------------------------------

LocalLogRecord Local(std::uint32_t slot, std::uint32_t kind, std::uint32_t subType,
                     std::uint32_t time, const std::string& user = "",
                     const std::string& address = "") {
    LocalLogRecord r;
    r.number = slot;
    r.kind = kind;
    r.subType = subType;
    r.time = time;
    r.shortText = user;
    r.detail = address;
    return r;
}

TEST(LocalLogViewTest, RowsNewestFirstWithTextsByKind) {
    LocalLogContents contents;
    contents.records = {
        Local(0, 1, 1, 0, "u", "a"),                   // program start: no texts
        Local(1, 2, 1, 3600, "admin", "192.168.0.5"),  // log-in
        Local(2, 2, 8 | 4, 0, "guest", "x"),           // failed (lowest used bit: 4)
        Local(3, 1, 4, 0),                             // no sub-type bit the kind uses
        Local(4, 0x10, 1, 86400, "u", "a"),            // no known kind
        Local(5, 8, 2, 0),                             // snapshots
    };
    const auto rows = BuildLocalLogRows(contents, {IdText, 0});
    ASSERT_EQ(rows.size(), 6u);
    using C = std::array<std::string, 5>;
    EXPECT_EQ(rows[0].cells, (C{"0006", "1970-01-01 00:00:00", "T5368", "", ""}));
    EXPECT_EQ(rows[1].cells, (C{"0005", "1970-01-02 00:00:00", "", "", ""}));
    EXPECT_EQ(rows[2].cells, (C{"0004", "1970-01-01 00:00:00", "", "", ""}));
    EXPECT_EQ(rows[3].cells, (C{"0003", "1970-01-01 00:00:00", "T5364", "guest", "x"}));
    EXPECT_EQ(rows[4].cells, (C{"0002", "1970-01-01 01:00:00", "T5362", "admin", "192.168.0.5"}));
    EXPECT_EQ(rows[5].cells, (C{"0001", "1970-01-01 00:00:00", "T5360", "", ""}));
    EXPECT_EQ(rows[5].record, 0u);
}

TEST(LocalLogViewTest, LostAndRestoredConnectionsNameTheirUserAndRecorder) {
    LocalLogContents contents;
    contents.records = {
        Local(0, logs::entry::kConnection, logs::entry::kConnectionLost, 0, "admin", "10.0.0.9"),
        Local(1, logs::entry::kConnection, logs::entry::kConnectionBack, 0, "admin", "10.0.0.9"),
    };
    const auto rows = BuildLocalLogRows(contents, {IdText, 0});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].cells[2], "T5370");
    EXPECT_EQ(rows[0].cells[4], "10.0.0.9");
    EXPECT_EQ(rows[1].cells[2], "T5369");
    EXPECT_EQ(rows[1].cells[3], "admin");
}

TEST(LocalLogViewTest, WrappedRingListsSlotZeroNewestAndAMissingFileNothing) {
    // A full ring after 2,501 entries: slot 0 holds the last one, the next slot is 1.
    Bytes file(kLocalLogHeaderSize, 0);
    file[0] = 1;
    file[4] = 1;
    for (std::uint32_t slot = 0; slot < kLocalLogSlots; ++slot) {
        const std::uint32_t entry = slot == 0 ? 2500 : slot;
        const auto bytes =
            Local(slot, 2, 2, 1000 + entry, "u", "entry " + std::to_string(entry)).Encode();
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    const auto rows = BuildLocalLogRows(ParseLocalLog(file), {IdText, 0});
    ASSERT_EQ(rows.size(), 2500u);
    EXPECT_EQ(rows.front().cells[0], "2500");
    EXPECT_EQ(rows.front().cells[4], "entry 2500");
    EXPECT_EQ(rows.back().cells[0], "0001");
    EXPECT_EQ(rows.back().cells[4], "entry 1");

    const auto missing =
        std::filesystem::temp_directory_path() / "taviro-no-such-log" / "m7400.log";
    EXPECT_TRUE(BuildLocalLogRows(ReadLocalLog(missing), {IdText, 0}).empty());
}

}  // namespace
}  // namespace taviro::logs
