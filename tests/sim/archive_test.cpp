// The simulated recorder's archive and its month and day index: the built-in recordings, the
// archive file, and the month and day answers over TCP as a client receives them (pieces,
// flags, refusals).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "raw_client.h"
#include "sim/archive.h"
#include "sim/options.h"
#include "sim/playback_timeline.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Bytes = std::vector<std::uint8_t>;

protocol::RecorderTime At(std::string_view text) {
    const auto t = ParseRecorderTime(text);
    EXPECT_TRUE(t.has_value()) << text;
    return t.value_or(0);
}

// The flag byte of a day in a month record: 4 + month x 31 + day, both 0-based.
std::size_t FlagAt(int month, int day) {
    return 4 + static_cast<std::size_t>(month - 1) * 31 + static_cast<std::size_t>(day - 1);
}

std::vector<std::size_t> SetFlags(std::span<const std::uint8_t> record) {
    std::vector<std::size_t> out;
    for (std::size_t i = 4; i < record.size(); ++i) {
        if (record[i] != 0) {
            out.push_back(i);
        }
    }
    return out;
}

struct Day {
    std::uint32_t mask;
    std::uint8_t kinds;
    protocol::RecorderTime start;
    protocol::RecorderTime end;
};

std::vector<Day> Days(std::span<const std::uint8_t> bytes) {
    EXPECT_EQ(bytes.size() % kDayInfoRecordSize, 0u);
    std::vector<Day> out;
    for (std::size_t at = 0; at + kDayInfoRecordSize <= bytes.size(); at += kDayInfoRecordSize) {
        const auto* r = bytes.data() + at;
        for (std::size_t i = 5; i < 16; ++i) {
            EXPECT_NE(r[i], 0) << "the unused bytes are never zero, byte " << i;
        }
        out.push_back({protocol::LoadBE32(r), r[4],
                       static_cast<protocol::RecorderTime>(protocol::LoadBE32(r + 16)),
                       static_cast<protocol::RecorderTime>(protocol::LoadBE32(r + 20))});
    }
    return out;
}

bool operator==(const Day& a, const Day& b) {
    return a.mask == b.mask && a.kinds == b.kinds && a.start == b.start && a.end == b.end;
}

std::ostream& operator<<(std::ostream& os, const Day& d) {
    return os << "{mask " << d.mask << " kinds " << int(d.kinds) << " " << d.start << ".." << d.end
              << "}";
}

// One answer as a client collects it: every piece of `code` up to the flagged one.
struct Answer {
    std::uint16_t code = 0;
    Bytes bytes;
    std::vector<std::size_t> pieces;
};

std::optional<Answer> Collect(CRawClient& client) {
    Answer a;
    while (auto m = client.Recv()) {
        if (a.pieces.empty()) {
            a.code = m->header.Command();
        } else if (m->header.Command() != a.code) {
            ADD_FAILURE() << "code " << m->header.Command() << " inside an answer of " << a.code;
            return std::nullopt;
        }
        a.pieces.push_back(m->payload.size());
        a.bytes.insert(a.bytes.end(), m->payload.begin(), m->payload.end());
        if (m->header.LastFragment()) {
            return a;
        }
    }
    ADD_FAILURE() << "the answer was not completed";
    return std::nullopt;
}

Bytes DayRequest(std::uint32_t year, std::uint8_t month, std::uint8_t day) {
    Bytes b(8, 0);
    protocol::StoreBE32(b.data(), year);
    b[4] = month;
    b[5] = day;
    return b;
}

class SimIndex : public ::testing::Test {
  protected:
    void Start(SimConfig config = {}) {
        m_sim = std::make_unique<CRecorderSim>(config);
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
        ASSERT_TRUE(m_client.Login(m_sim->Port()));
    }
    std::unique_ptr<CRecorderSim> m_sim;
    CRawClient m_client;
};

TEST_F(SimIndex, MonthAnswerOfTheDefaultArchiveOnBothSides) {
    Start();
    for (const auto& [request, ack] :
         {std::pair{msg::PLAY_INFO_MONTH_REQ, msg::PLAY_INFO_MONTH_ACK},
          std::pair{msg::TRANS_INFO_MONTH_REQ, msg::TRANS_INFO_MONTH_ACK}}) {
        ASSERT_TRUE(m_client.Send(request));
        const auto answer = Collect(m_client);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->code, ack);
        ASSERT_EQ(answer->bytes.size(), 2 * kMonthInfoRecordSize);
        const std::span<const std::uint8_t> y2010(answer->bytes.data(), kMonthInfoRecordSize);
        const auto y2011 =
            std::span<const std::uint8_t>(answer->bytes).subspan(kMonthInfoRecordSize);
        EXPECT_EQ(protocol::LoadBE32(y2010.data()), 2010u);
        EXPECT_EQ(SetFlags(y2010), (std::vector{FlagAt(10, 12), FlagAt(10, 13)}));
        EXPECT_EQ(protocol::LoadBE32(y2011.data()), 2011u);
        EXPECT_EQ(SetFlags(y2011), (std::vector{FlagAt(3, 5)}));
    }
}

TEST_F(SimIndex, DayAnswersListTheStretchesThatTouchTheDay) {
    Start();
    const std::uint32_t all = 0xFFFF;
    ASSERT_TRUE(m_client.Send(msg::PLAY_INFO_DAY_REQ, DayRequest(2010, 10, 12)));
    auto answer = Collect(m_client);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->code, msg::PLAY_INFO_DAY_ACK);
    EXPECT_EQ(Days(answer->bytes),
              (std::vector<Day>{
                  {all, 1, At("2010-10-12T08:00:00"), At("2010-10-12T09:30:00")},
                  {0x5, 2, At("2010-10-12T12:00:00"), At("2010-10-12T12:05:00")},
                  {all, 1, At("2010-10-12T23:30:00"), At("2010-10-13T00:30:00")},
              }));

    // The stretch over midnight belongs to the next day too; the backup side answers alike.
    ASSERT_TRUE(m_client.Send(msg::TRANS_INFO_DAY_REQ, DayRequest(2010, 10, 13)));
    answer = Collect(m_client);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->code, msg::TRANS_INFO_DAY_ACK);
    EXPECT_EQ(Days(answer->bytes),
              (std::vector<Day>{
                  {all, 1, At("2010-10-12T23:30:00"), At("2010-10-13T00:30:00")},
                  {0x2, 1, At("2010-10-13T14:00:00"), At("2010-10-13T14:10:00")},
              }));

    // A day without recordings, and one the calendar does not have, are one empty piece.
    for (const auto& request : {DayRequest(2010, 10, 14), DayRequest(2010, 11, 31)}) {
        ASSERT_TRUE(m_client.Send(msg::PLAY_INFO_DAY_REQ, request));
        answer = Collect(m_client);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->pieces, std::vector<std::size_t>{0});
    }
}

TEST_F(SimIndex, AnswersSplitAnywhereAndReassemble) {
    SimConfig config;
    config.info_fragment_size = 7;  // not a divisor of either record size
    Start(config);
    ASSERT_TRUE(m_client.Send(msg::PLAY_INFO_MONTH_REQ));
    const auto month = Collect(m_client);
    ASSERT_TRUE(month);
    EXPECT_EQ(month->bytes, MonthInfoBytes(DefaultArchive(config)));
    EXPECT_EQ(month->pieces.size(), (2 * kMonthInfoRecordSize + 6) / 7);
    EXPECT_EQ(month->pieces.back(), 2 * kMonthInfoRecordSize % 7);

    ASSERT_TRUE(m_client.Send(msg::TRANS_INFO_DAY_REQ, DayRequest(2010, 10, 12)));
    const auto day = Collect(m_client);
    ASSERT_TRUE(day);
    EXPECT_EQ(day->bytes, DayInfoBytes(DefaultArchive(config), 2010, 10, 12));
    EXPECT_EQ(day->bytes.size(), 3 * kDayInfoRecordSize);
    for (std::size_t i = 0; i + 1 < day->pieces.size(); ++i) {
        EXPECT_EQ(day->pieces[i], 7u);
    }
}

TEST_F(SimIndex, RefusalsCarryTheirReason) {
    SimConfig config;
    config.month_reason = 53;
    config.day_reason = 86;
    Start(config);
    const std::pair<std::uint16_t, std::uint16_t> cases[] = {
        {msg::PLAY_INFO_MONTH_REQ, msg::PLAY_INFO_MONTH_NACK},
        {msg::TRANS_INFO_MONTH_REQ, msg::TRANS_INFO_MONTH_NACK},
        {msg::PLAY_INFO_DAY_REQ, msg::PLAY_INFO_DAY_NACK},
        {msg::TRANS_INFO_DAY_REQ, msg::TRANS_INFO_DAY_NACK},
    };
    for (const auto& [request, nack] : cases) {
        const bool day = request == msg::PLAY_INFO_DAY_REQ || request == msg::TRANS_INFO_DAY_REQ;
        ASSERT_TRUE(m_client.Send(request, day ? DayRequest(2010, 10, 12) : Bytes{}));
        const auto m = m_client.Recv();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->header.Command(), nack);
        EXPECT_EQ(m->payload, (Bytes{0, 0, 0, static_cast<std::uint8_t>(day ? 86 : 53)}));
    }
}

TEST_F(SimIndex, AnUnreadableDayRequestIsRefusedWithReasonOne) {
    Start();
    for (const Bytes& request : {Bytes{0x00, 0x00, 0x07, 0xDA, 10, 12, 0}, DayRequest(2010, 13, 1),
                                 DayRequest(2010, 10, 0)}) {
        ASSERT_TRUE(m_client.Send(msg::PLAY_INFO_DAY_REQ, request));
        const auto m = m_client.Recv();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->header.Command(), msg::PLAY_INFO_DAY_NACK);
        EXPECT_EQ(m->payload, (Bytes{0, 0, 0, 1}));
    }
}

// ---- The archive file ------------------------------------------------------------------

SimConfig FourChannels() {
    SimConfig c;
    c.channels = 4;
    c.audio_channels = 0x1;
    c.titles = {"Gate"};
    return c;
}

TEST(SimArchiveFile, ItemsOfAFile) {
    const std::string text =
        "# a recorder after a year change\r\n"
        "flag 2013-11-31        # the 31st of a 30-day month, in a year without recordings\n"
        "stretch 0x0003 both 2012-12-31T23:00:00 2013-01-01T01:00:00\n"
        "stretch 4 event 2011-06-01T10:00:00 2011-06-01T10:00:01\n"
        "\n"
        "channel 2 352x240 25 audio\n"
        "channel 1 720x576 12\n";
    std::string error;
    const auto archive = ParseArchive(text, FourChannels(), &error);
    ASSERT_TRUE(archive) << error;
    ASSERT_EQ(archive->stretches.size(), 2u);
    EXPECT_EQ(archive->stretches[0], (ArchiveStretch{0x4, kRecordEvent, At("2011-06-01T10:00:00"),
                                                     At("2011-06-01T10:00:01")}))
        << "stretches are kept in start order";
    EXPECT_EQ(archive->stretches[1].kinds, kRecordContinuous | kRecordEvent);
    const ArchiveChannel& ch1 = archive->channels[0];
    EXPECT_EQ(std::tie(ch1.width, ch1.height, ch1.fps, ch1.audio, ch1.title),
              std::make_tuple(720, 576, 12, false, std::string("Gate")))
        << "a channel line decides the sound too";
    const ArchiveChannel& ch2 = archive->channels[1];
    EXPECT_EQ(std::tie(ch2.width, ch2.height, ch2.fps, ch2.audio, ch2.title),
              std::make_tuple(352, 240, 25, true, std::string("CH2")));
    EXPECT_EQ(archive->channels[2].fps, 30) << "channels without a line record as live";

    // Years ascending; December 31 is the record's last byte; the impossible day is kept.
    const Bytes month = MonthInfoBytes(*archive);
    ASSERT_EQ(month.size(), 3 * kMonthInfoRecordSize);
    const auto record = [&](std::size_t i) {
        return std::span<const std::uint8_t>(month).subspan(i * kMonthInfoRecordSize,
                                                            kMonthInfoRecordSize);
    };
    EXPECT_EQ(protocol::LoadBE32(record(0).data()), 2011u);
    EXPECT_EQ(SetFlags(record(0)), std::vector<std::size_t>{FlagAt(6, 1)});
    EXPECT_EQ(protocol::LoadBE32(record(1).data()), 2012u);
    EXPECT_EQ(SetFlags(record(1)), std::vector<std::size_t>{375});
    EXPECT_EQ(protocol::LoadBE32(record(2).data()), 2013u);
    EXPECT_EQ(SetFlags(record(2)), (std::vector<std::size_t>{FlagAt(1, 1), FlagAt(11, 31)}));
    EXPECT_EQ(FlagAt(11, 31), 344u);
}

TEST(SimArchiveFile, BadLinesAreRefusedWithTheirNumberAndWhy) {
    const struct {
        const char* line;
        const char* says;
    } cases[] = {
        {"record 0x1 continuous 2010-10-12T08:00:00 2010-10-12T09:00:00", "unknown item"},
        {"stretch 0x1 continuous 2010-10-12T08:00:00", "stretch MASK KINDS START END"},
        {"stretch 0x0 continuous 2010-10-12T08:00:00 2010-10-12T09:00:00", "bad channel mask"},
        {"stretch 0x10 continuous 2010-10-12T08:00:00 2010-10-12T09:00:00",
         "the recorder does not have"},
        {"stretch 0x1 sometimes 2010-10-12T08:00:00 2010-10-12T09:00:00", "bad kinds"},
        {"stretch 0x1 event 2010-10-12T08:00:00 2010-02-30T09:00:00", "bad time '2010-02-30"},
        {"stretch 0x1 event 2010-10-12T08:00:00 2010-10-12T08:00:00", "ends before it starts"},
        {"flag 2010-10-32", "bad date"},
        {"flag 1969-12-31", "bad date"},
        {"channel 5 704x480 30", "bad channel"},
        {"channel 1 640x480 30", "bad picture size"},
        {"channel 1 704x480 0", "bad frame rate"},
        {"channel 1 704x480 30 stereo", "only 'audio'"},
        {"channel 1 704x480 30\nchannel 1 352x240 30", "given twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string error;
        EXPECT_FALSE(ParseArchive(std::string("# ok\n") + c.line + "\n", FourChannels(), &error));
        EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(ParseArchive(std::string(kMaxArchiveLine + 1, ' '), FourChannels(), &error));
    EXPECT_EQ(error, "line 1: longer than 1024 characters");
}

TEST(SimArchiveFile, TheRecorderRefusesToStartOnABadFile) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("taviro-archive-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(path);
        out << "stretch 0x1 continuous 2010-10-12T08:00:00 2010-10-12T09:00:00\nflag 2010-1-1\n";
    }
    const auto line = ParseCommandLine(
        std::vector<std::string_view>{"--archive", path.c_str(), "--info-fragment-size", "333",
                                      "--refuse-month", "83", "--refuse-day", "98", "--refuse-play",
                                      "53", "--play-fail-after", "12", "--play-fail-code", "86"});
    ASSERT_EQ(line.error, "");
    EXPECT_EQ(line.config.archive_file, path.string());
    EXPECT_EQ(line.config.info_fragment_size, 333);
    EXPECT_EQ(line.config.month_reason, 83);
    EXPECT_EQ(line.config.day_reason, 98);
    EXPECT_EQ(line.config.play_reason, 53);
    EXPECT_EQ(line.config.play_fail_after, 12u);
    EXPECT_EQ(line.config.play_fail_code, 86);

    CRecorderSim sim(line.config);
    EXPECT_FALSE(sim.Start());
    EXPECT_EQ(sim.LastError(), "archive " + path.string() +
                                   ": line 2: bad date '2010-1-1' (YYYY-MM-DD, 1970 to 2037, "
                                   "day 01..31)");
    std::filesystem::remove(path);
    CRecorderSim missing(line.config);
    EXPECT_FALSE(missing.Start());
    EXPECT_NE(missing.LastError().find("No such file"), std::string::npos) << missing.LastError();
}

// ---- Which frames a playback has ---------------------------------------------------------

TEST(SimPlayTimeline, FramesKeyFramesAndGapsOfTheRecordedRuns) {
    SimConfig config = FourChannels();
    config.live_fps = 10;
    SimArchive archive = EmptyArchive(config);
    const auto t0 = At("2010-10-12T08:00:00");
    // Channel 0: two touching stretches (one run) starting mid-group, an event stretch
    // that only the event playback sees, and a later one.
    archive.stretches = {{0x1, kRecordContinuous, t0 + 3, t0 + 4},
                         {0x1, kRecordContinuous, t0 + 4, t0 + 6},
                         {0x1, kRecordEvent, t0 + 20, t0 + 21},
                         {0x1, kRecordContinuous, t0 + 40, t0 + 42}};
    const CPlayTimeline all(archive, 0x1, false, 0, 7);
    const std::int64_t us = 1'000'000;
    const auto at = [&](std::int64_t s, int k) { return PlayFrame{t0 + s, k}; };

    // The run starts with a key frame, then every 7th frame of the day's count is one.
    EXPECT_EQ(all.Counter(0, at(3, 0)), 28803u * 10);
    EXPECT_TRUE(all.IsKey(0, at(3, 0)));
    EXPECT_FALSE(all.IsKey(0, at(3, 1)));
    EXPECT_TRUE(all.IsKey(0, at(3, 6)));  // 288036 = 7 x 41148
    EXPECT_FALSE(all.IsKey(0, at(4, 0))) << "touching stretches are one run";
    EXPECT_EQ(all.KeyAtOrBefore(0, at(3, 5)), at(3, 0));
    EXPECT_EQ(all.KeyAtOrBefore(0, at(4, 2)), at(3, 6));
    EXPECT_EQ(all.KeyForStart(0, (t0 + 4) * us + 250'000), at(3, 6));
    EXPECT_EQ(all.KeyForStart(0, (t0 + 4) * us + 350'000), at(4, 3));
    EXPECT_EQ(all.KeyForStart(0, (t0 + 7) * us), at(20, 0)) << "in a gap: the next run";

    // Frames on both sides of a gap; microseconds of a frame.
    EXPECT_EQ(all.Next(0, at(5, 9)), at(20, 0));
    EXPECT_EQ(all.Prev(0, at(20, 0)), at(5, 9));
    EXPECT_EQ(all.Micros(0, at(20, 3)), (t0 + 20) * us + 300'000);
    EXPECT_EQ(all.FirstAtOrAfter(0, (t0 + 20) * us + 300'001), at(20, 4));
    EXPECT_EQ(all.LastAtOrBefore(0, (t0 + 20) * us + 299'999), at(20, 2));
    EXPECT_EQ(all.Next(0, at(41, 9)), std::nullopt);
    EXPECT_EQ(all.Prev(0, at(3, 0)), std::nullopt);

    // Event playback, cut at an end time.
    const CPlayTimeline events(archive, 0x1, true, t0 + 41, 15);
    EXPECT_EQ(events.FirstAtOrAfter(0, t0 * us), at(20, 0));
    EXPECT_EQ(events.Next(0, at(20, 9)), std::nullopt);
    const CPlayTimeline cut(archive, 0x1, false, t0 + 41, 15);
    EXPECT_EQ(cut.Next(0, at(40, 9)), std::nullopt);

    EXPECT_TRUE(PlayKindsSelectEventsOnly(0x04));
    EXPECT_FALSE(PlayKindsSelectEventsOnly(0));
    EXPECT_FALSE(PlayKindsSelectEventsOnly(0x3F));
}

}  // namespace
}  // namespace taviro::sim::test
