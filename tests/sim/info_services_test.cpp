// The simulated recorder's event search, remote log and status answers over TCP, as a client
// receives them (pieces split anywhere, the flagged last piece, refusals, the unasked reply
// inside a log), and the command line and text file that configure them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "raw_client.h"
#include "sim/archive.h"
#include "sim/event_service.h"
#include "sim/info_file.h"
#include "sim/log_service.h"
#include "sim/options.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Bytes = std::vector<std::uint8_t>;
using protocol::LoadBE32;

protocol::RecorderTime At(std::string_view text) {
    const auto t = ParseRecorderTime(text);
    EXPECT_TRUE(t.has_value()) << text;
    return t.value_or(0);
}

Bytes Words(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (const std::uint32_t v : values) {
        b.resize(b.size() + 4);
        protocol::StoreBE32(b.data() + b.size() - 4, v);
    }
    return b;
}

// Every message up to and including the one that completes an answer of `code`; messages
// of other codes in between are kept apart, in order.
struct Answer {
    Bytes bytes;
    std::vector<std::size_t> pieces;
    std::vector<Received> others;
};

std::optional<Answer> Collect(CRawClient& client, std::uint16_t code) {
    Answer a;
    while (auto m = client.Recv()) {
        if (m->header.Command() != code) {
            a.others.push_back(*m);
            continue;
        }
        a.pieces.push_back(m->payload.size());
        a.bytes.insert(a.bytes.end(), m->payload.begin(), m->payload.end());
        if (m->header.LastFragment()) {
            return a;
        }
    }
    ADD_FAILURE() << "no completed answer of code " << code;
    return std::nullopt;
}

// Every piece but the last is exactly `size` bytes.
void ExpectSplitAt(const Answer& a, std::size_t size) {
    ASSERT_FALSE(a.pieces.empty());
    EXPECT_EQ(a.pieces.size(), (a.bytes.size() + size - 1) / size);
    for (std::size_t i = 0; i + 1 < a.pieces.size(); ++i) {
        EXPECT_EQ(a.pieces[i], size) << "piece " << i;
    }
}

struct Event {
    std::uint32_t mask;
    std::uint8_t kind;
    protocol::RecorderTime start;
    protocol::RecorderTime end;
};

// Records as a client reads them; the unused bytes are never zeros.
std::vector<Event> Events(std::span<const std::uint8_t> bytes) {
    EXPECT_EQ(bytes.size() % 24, 0u);
    std::vector<Event> out;
    for (std::size_t at = 0; at + 24 <= bytes.size(); at += 24) {
        const auto* r = bytes.data() + at;
        for (std::size_t i = 5; i < 16; ++i) {
            EXPECT_NE(r[i], 0) << "record at " << at << ", byte " << i;
        }
        out.push_back({LoadBE32(r), r[4], static_cast<protocol::RecorderTime>(LoadBE32(r + 16)),
                       static_cast<protocol::RecorderTime>(LoadBE32(r + 20))});
    }
    return out;
}

class SimInfo : public ::testing::Test {
  protected:
    void Start(SimConfig config = {}) {
        m_sim = std::make_unique<CRecorderSim>(config);
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
        ASSERT_TRUE(m_client.Login(m_sim->Port()));
    }
    // One paged answer: current page, last page, events.
    std::tuple<std::uint32_t, std::uint32_t, std::vector<Event>> Page(std::uint32_t kind,
                                                                      std::uint32_t page) {
        EXPECT_TRUE(m_client.Send(msg::EVENT_INFO_REQ, Words({kind, page})));
        const auto a = Collect(m_client, msg::EVENT_INFO_ACK_BYPG);
        if (!a || a->bytes.size() < 12) {
            ADD_FAILURE() << "no page header";
            return {};
        }
        return {LoadBE32(a->bytes.data() + 4), LoadBE32(a->bytes.data() + 8),
                Events(std::span(a->bytes).subspan(12))};
    }
    std::unique_ptr<CRecorderSim> m_sim;
    CRawClient m_client;
};

// ---- Events --------------------------------------------------------------------------

TEST_F(SimInfo, EventPagesOfTheDefaultArchive) {
    SimConfig config;
    config.info_fragment_size = 7;  // not a divisor of the header or a record
    Start(config);
    const SimArchive archive = DefaultArchive(config);

    // The first motion page, reassembled from its pieces.
    ASSERT_TRUE(m_client.Send(msg::EVENT_INFO_REQ, Words({2, 0})));
    const auto first = Collect(m_client, msg::EVENT_INFO_ACK_BYPG);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->bytes.size(), 12 + 20 * 24u);
    ExpectSplitAt(*first, 7);
    EXPECT_EQ(LoadBE32(first->bytes.data() + 4), 0u);
    EXPECT_EQ(LoadBE32(first->bytes.data() + 8), 2u);

    // Every page of every kind: the demo's counts, oldest first, each event inside a
    // recording of its channels so that playing it shows pictures.
    const std::map<std::uint32_t, std::size_t> expected = {{1, 28}, {2, 51}, {7, 25}};
    for (const auto& [kind, total] : expected) {
        SCOPED_TRACE(kind);
        std::vector<Event> all;
        const std::uint32_t lastPage = static_cast<std::uint32_t>((total - 1) / 20);
        for (std::uint32_t page = 0; page <= lastPage; ++page) {
            const auto [current, last, events] = Page(kind, page);
            EXPECT_EQ(current, page);
            EXPECT_EQ(last, lastPage);
            EXPECT_EQ(events.size(), page < lastPage ? 20u : total - 20 * lastPage);
            all.insert(all.end(), events.begin(), events.end());
        }
        ASSERT_EQ(all.size(), total);
        for (std::size_t i = 0; i < all.size(); ++i) {
            const auto& e = all[i];
            EXPECT_EQ(e.kind, kind);
            EXPECT_LT(e.start, e.end);
            // Alarms name a second channel when the recording has one.
            EXPECT_GE(std::popcount(e.mask), 1) << i;
            EXPECT_LE(std::popcount(e.mask), kind == 1 ? 2 : 1) << i;
            if (i > 0) {
                EXPECT_LE(all[i - 1].start, e.start);
            }
            const bool recorded = std::any_of(
                archive.stretches.begin(), archive.stretches.end(), [&](const ArchiveStretch& s) {
                    return s.start <= e.start && e.end <= s.end && (e.mask & ~s.mask) == 0;
                });
            EXPECT_TRUE(recorded) << "event " << i << " at " << e.start;
        }
    }
    // The event recording's own alarm spans it on both its channels.
    const auto [current, last, alarms] = Page(1, 0);
    EXPECT_TRUE(std::any_of(alarms.begin(), alarms.end(), [](const Event& e) {
        return e.mask == 0x5 && e.start == At("2010-10-12T12:00:00") &&
               e.end == At("2010-10-12T12:05:00");
    }));

    // A page beyond the last is the last; a kind without events is one empty page.
    const auto [beyondCurrent, beyondLast, beyond] = Page(2, 0xFFFFFFFF);
    EXPECT_EQ(beyondCurrent, 2u);
    EXPECT_EQ(beyondLast, 2u);
    EXPECT_EQ(beyond.size(), 11u);
    const auto [noneCurrent, noneLast, none] = Page(5, 3);
    EXPECT_EQ(noneCurrent, 0u);
    EXPECT_EQ(noneLast, 0u);
    EXPECT_TRUE(none.empty());

    // A request the recorder cannot read.
    ASSERT_TRUE(m_client.Send(msg::EVENT_INFO_REQ, Bytes{0, 0, 0, 2}));
    const auto refusal = m_client.Recv();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->header.Command(), msg::EVENT_INFO_NACK_BYPG);
    EXPECT_EQ(refusal->payload, (Bytes{0, 0, 0, 1}));
}

TEST_F(SimInfo, UnpagedAnswerHoldsEveryEventOfTheKindAndNoHeader) {
    SimConfig config;
    config.event_unpaged = true;
    config.event_page_size = 1;  // has no say over the unpaged form
    config.info_fragment_size = 5;
    config.events = std::vector<SimEvent>{
        {0x8001, 2, 100, 200}, {0x0002, 1, 150, 160}, {0x0004, 2, 300, 301}, {0x0008, 7, -5, 0}};
    Start(config);
    ASSERT_TRUE(m_client.Send(msg::EVENT_INFO_REQ, Words({2, 9})));
    const auto a = Collect(m_client, msg::EVENT_INFO_ACK);
    ASSERT_TRUE(a);
    ExpectSplitAt(*a, 5);
    ASSERT_EQ(a->bytes.size(), 48u);
    // The first record byte by byte: mask, kind, start, end.
    EXPECT_EQ(Bytes(a->bytes.begin(), a->bytes.begin() + 5), (Bytes{0, 0, 0x80, 0x01, 2}));
    EXPECT_EQ(Bytes(a->bytes.begin() + 16, a->bytes.begin() + 24),
              (Bytes{0, 0, 0, 100, 0, 0, 0, 200}));
    const auto events = Events(a->bytes);
    EXPECT_EQ(events[1].mask, 0x4u);
    EXPECT_EQ(events[1].start, 300);

    ASSERT_TRUE(m_client.Send(msg::EVENT_INFO_REQ, Words({7, 0})));
    const auto audio = Collect(m_client, msg::EVENT_INFO_ACK);
    ASSERT_TRUE(audio);
    ASSERT_EQ(Events(audio->bytes).size(), 1u);
    EXPECT_EQ(Events(audio->bytes)[0].start, -5);

    // No events of the kind: one empty, flagged piece.
    ASSERT_TRUE(m_client.Send(msg::EVENT_INFO_REQ, Words({3, 0})));
    const auto empty = Collect(m_client, msg::EVENT_INFO_ACK);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->pieces, std::vector<std::size_t>{0});
}

TEST_F(SimInfo, RefusalsCarryTheirReason) {
    for (const bool unpaged : {false, true}) {
        SCOPED_TRACE(unpaged);
        SimConfig config;
        config.event_unpaged = unpaged;
        config.event_reason = 53;
        config.log_reason = 83;
        config.status_reason = 86;
        Start(config);
        const std::tuple<std::uint16_t, Bytes, std::uint16_t, std::uint8_t> cases[] = {
            {msg::EVENT_INFO_REQ, Words({1, 0}),
             unpaged ? msg::EVENT_INFO_NACK : msg::EVENT_INFO_NACK_BYPG, 53},
            {msg::LOG_INFO_REQ, {}, msg::LOG_INFO_NACK, 83},
            {msg::STATUS_INFO_REQ, {}, msg::STATUS_INFO_NACK, 86},
        };
        for (const auto& [request, payload, nack, reason] : cases) {
            ASSERT_TRUE(m_client.Send(request, payload));
            const auto m = m_client.Recv();
            ASSERT_TRUE(m);
            EXPECT_EQ(m->header.Command(), nack);
            EXPECT_EQ(m->payload, (Bytes{0, 0, 0, reason}));
        }
        m_client.Close();
        m_sim.reset();
    }
}

// ---- Remote log -------------------------------------------------------------------------

struct LogRecord {
    std::uint32_t number, size, kind, subType;
    protocol::RecorderTime time;
    std::uint32_t param;
    std::span<const std::uint8_t> detail, shortText, params;
};

LogRecord ReadRecord(std::span<const std::uint8_t> r) {
    return {LoadBE32(r.data()),
            LoadBE32(r.data() + 4),
            LoadBE32(r.data() + 8),
            LoadBE32(r.data() + 12),
            static_cast<protocol::RecorderTime>(LoadBE32(r.data() + 16)),
            LoadBE32(r.data() + 20),
            r.subspan(24, 128),
            r.subspan(152, 32),
            r.subspan(184, 16)};
}

std::string Text(std::span<const std::uint8_t> field) {
    const auto nul = std::find(field.begin(), field.end(), 0);
    EXPECT_NE(nul, field.end()) << "a text without its NUL";
    return std::string(field.begin(), nul);
}

TEST_F(SimInfo, TheBuiltInLogHasEverySubTypeOfEveryKind) {
    Start();
    ASSERT_TRUE(m_client.Send(msg::LOG_INFO_REQ));
    const auto a = Collect(m_client, msg::LOG_INFO_ACK);
    ASSERT_TRUE(a);
    ExpectSplitAt(*a, 8000);
    ASSERT_EQ(a->bytes.size(), 53 * 200u);

    std::map<int, std::set<int>> seen;  // kind bit -> sub-type bits
    const LogRecord* camera13 = nullptr;
    std::vector<LogRecord> records;
    for (std::size_t i = 0; i < 53; ++i) {
        records.push_back(ReadRecord(std::span(a->bytes).subspan(i * 200, 200)));
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& r = records[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(r.number, i + 1);
        EXPECT_EQ(r.size, 200u);
        ASSERT_EQ(std::popcount(r.kind), 1);
        ASSERT_EQ(std::popcount(r.subType), 1);
        seen[std::countr_zero(r.kind)].insert(std::countr_zero(r.subType));
        if (i > 0) {
            EXPECT_LE(records[i - 1].time, r.time);
        }
        EXPECT_FALSE(Text(r.shortText).empty());
        const auto detail = Text(r.detail);
        if (r.kind == kLogOperation && r.subType >= (1u << 13)) {
            EXPECT_LT(detail.size(), 64u) << "the text runs into the setting blocks";
            EXPECT_FALSE(
                std::equal(r.detail.begin() + 64, r.detail.begin() + 96, r.detail.begin() + 96))
                << "old and new settings alike";
        }
        if (r.kind == kLogOperation && r.subType == (1u << 13)) {
            camera13 = &r;
        }
        if (r.kind == kLogOperation && r.subType == (1u << 9)) {
            // An archive: its span lies in the recordings, start before end.
            const auto from = static_cast<protocol::RecorderTime>(LoadBE32(r.params.data() + 8));
            const auto to = static_cast<protocol::RecorderTime>(LoadBE32(r.params.data() + 12));
            EXPECT_GE(from, At("2010-10-12T08:00:00"));
            EXPECT_LT(from, to);
            EXPECT_NE(r.params[2] | r.params[3], 0);
        }
    }
    const std::map<int, int> subTypes = {{0, 3}, {1, 5}, {2, 24}, {3, 8}, {4, 5}};
    for (const auto& [kind, count] : subTypes) {
        EXPECT_EQ(seen[kind].size(), static_cast<std::size_t>(count)) << "kind " << kind;
        EXPECT_EQ(*seen[kind].rbegin(), count - 1) << "kind " << kind;
    }
    // The camera name change: camera 3, the channel set big-endian at block bytes 10..11.
    ASSERT_NE(camera13, nullptr);
    EXPECT_EQ(camera13->param, 3u);
    EXPECT_EQ(camera13->detail[64 + 10], 0x00);
    EXPECT_EQ(camera13->detail[64 + 11], 0x03);
    EXPECT_EQ(camera13->detail[96 + 10], 0x01);
    EXPECT_EQ(camera13->detail[96 + 11], 0x07);
    // An event naming the first and the last channel.
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const LogRecord& r) {
        return r.kind == kLogEvent && r.param == 0x8001;
    }));
}

TEST(SimLogBytes, RecordSizesCutOrPadAndCountsTakeFurtherPasses) {
    const auto entries = DefaultLog();
    const auto full = LogBytes(entries, 60, 200);
    ASSERT_EQ(full.size(), 60 * 200u);
    // Past the first pass the entries repeat, numbered on, on later days.
    const auto again = ReadRecord(std::span(full).subspan(53 * 200, 200));
    const auto original = ReadRecord(std::span(full).subspan(0, 200));
    EXPECT_EQ(again.number, 54u);
    EXPECT_EQ(again.kind, original.kind);
    EXPECT_GT(again.time, ReadRecord(std::span(full).subspan(52 * 200, 200)).time);
    EXPECT_EQ((again.time - original.time) % 86'400, 0);

    for (const std::uint32_t size : {184u, 24u, 256u, 0u}) {
        SCOPED_TRACE(size);
        const std::size_t occupied = std::max<std::size_t>(size, 8);
        const auto bytes = LogBytes(entries, 60, size);
        ASSERT_EQ(bytes.size(), 60 * occupied);
        for (std::size_t i = 0; i < 60; ++i) {
            const auto* r = bytes.data() + i * occupied;
            EXPECT_EQ(LoadBE32(r), i + 1);
            EXPECT_EQ(LoadBE32(r + 4), size);
            // Whatever of the record fits is the record; beyond its 200 bytes, zeros.
            const std::size_t kept = std::min<std::size_t>(occupied, 200);
            EXPECT_TRUE(std::equal(r + 8, r + kept, full.data() + i * 200 + 8));
            EXPECT_TRUE(std::all_of(r + kept, r + occupied, [](std::uint8_t b) { return b == 0; }));
        }
    }
    EXPECT_TRUE(LogBytes(std::span<const SimLogEntry>{}, 10, 200).empty());
}

TEST_F(SimInfo, ALongLogSplitsAcrossRecordBoundaries) {
    SimConfig config;
    config.log_record_size = 184;
    config.log_records = 2600;
    config.info_fragment_size = 1000;  // 1000 / 184 is not whole
    Start(config);
    ASSERT_TRUE(m_client.Send(msg::LOG_INFO_REQ));
    const auto a = Collect(m_client, msg::LOG_INFO_ACK);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->bytes.size(), 2600 * 184u);
    ExpectSplitAt(*a, 1000);
    protocol::RecorderTime previous = INT32_MIN;
    for (std::size_t i = 0; i < 2600; ++i) {
        const auto* r = a->bytes.data() + i * 184;
        ASSERT_EQ(LoadBE32(r), i + 1);
        ASSERT_EQ(LoadBE32(r + 4), 184u);
        const auto time = static_cast<protocol::RecorderTime>(LoadBE32(r + 16));
        ASSERT_LE(previous, time) << i;
        previous = time;
    }
}

TEST_F(SimInfo, AnUnaskedReplyArrivesInsideTheLog) {
    for (const auto& [interleave, code, length] :
         {std::tuple{LogInterleave::Status, msg::STATUS_INFO_ACK, std::size_t{56}},
          std::tuple{LogInterleave::System, msg::SYSTEM_INFO_ACK, std::size_t{64}}}) {
        SCOPED_TRACE(code);
        SimConfig config;
        config.log_interleave = interleave;
        config.info_fragment_size = 4000;
        Start(config);
        ASSERT_TRUE(m_client.Send(msg::LOG_INFO_REQ));
        std::vector<std::uint16_t> order;
        Bytes log;
        while (auto m = m_client.Recv()) {
            order.push_back(m->header.Command());
            if (m->header.Command() == code) {
                EXPECT_TRUE(m->header.LastFragment());
                EXPECT_EQ(m->payload.size(), length);
            } else {
                log.insert(log.end(), m->payload.begin(), m->payload.end());
                if (m->header.LastFragment()) {
                    break;
                }
            }
        }
        EXPECT_EQ(order, (std::vector<std::uint16_t>{msg::LOG_INFO_ACK, code, msg::LOG_INFO_ACK,
                                                     msg::LOG_INFO_ACK}));
        EXPECT_EQ(log, LogBytes(DefaultLog(), 53, 200));
        m_client.Close();
        m_sim.reset();
    }
}

// ---- Status -----------------------------------------------------------------------------

TEST_F(SimInfo, StatusInFullAndShort) {
    const auto line = ParseCommandLine(std::vector<std::string_view>{
        "--status-disk", "2000000,2000001", "--status-group-a", "-,7:3", "--status-group-b",
        "-,0:2", "--status-modes", "0,1,2,3,4", "--info-fragment-size", "5"});
    ASSERT_EQ(line.error, "");
    Start(line.config);
    ASSERT_TRUE(m_client.Send(msg::STATUS_INFO_REQ));
    const auto a = Collect(m_client, msg::STATUS_INFO_ACK);
    ASSERT_TRUE(a);
    ExpectSplitAt(*a, 5);
    ASSERT_EQ(a->bytes.size(), 56u);
    const auto* s = a->bytes.data();
    EXPECT_EQ(LoadBE32(s + 8), 2'000'000u);
    EXPECT_EQ(LoadBE32(s + 12), 2'000'001u);
    EXPECT_EQ(Bytes(s + 16, s + 28), (Bytes{0, 1, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0}));
    EXPECT_EQ(Bytes(s + 28, s + 30), (Bytes{0, 1}));
    EXPECT_EQ(Bytes(s + 32, s + 34), (Bytes{0, 0}));
    EXPECT_EQ(Bytes(s + 36, s + 38), (Bytes{0, 2}));
    EXPECT_EQ(Bytes(s + 40, s + 56), (Bytes{0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    m_client.Close();
    m_sim.reset();

    SimConfig config;
    config.status_short = true;
    Start(config);
    ASSERT_TRUE(m_client.Send(msg::STATUS_INFO_REQ));
    const auto shortStatus = Collect(m_client, msg::STATUS_INFO_ACK);
    ASSERT_TRUE(shortStatus);
    EXPECT_EQ(shortStatus->pieces, std::vector<std::size_t>{16});
    EXPECT_EQ(LoadBE32(shortStatus->bytes.data() + 8), config.status_disk_total);
    EXPECT_EQ(LoadBE32(shortStatus->bytes.data() + 12), config.status_disk_part);
}

// ---- Configuration ----------------------------------------------------------------------

TEST(SimInfoConfig, TheInfoFileAndTheOptions) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("taviro-info-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(path);
        out << "# events\n"
               "event motion 0x8001 2010-10-12T08:00:00 2010-10-12T08:00:20\n"
               "  event 9 3 -5 0\n"
               "log event 1 2010-10-12T08:00:00 0x8001 | Motion # 1 |\n"
               "log 0x40 0x3 -5 7 | ops | Cam#3 name | 0102 | 00ff 0107\n";
    }
    const auto line = ParseCommandLine(std::vector<std::string_view>{
        "--info-file", path.c_str(), "--event-page-size", "7", "--event-unpaged", "--refuse-event",
        "98", "--log-record-size", "24", "--log-records", "2600", "--refuse-log", "1",
        "--log-interleave", "status", "--status-short", "--refuse-status", "83"});
    std::filesystem::remove(path);
    ASSERT_EQ(line.error, "");
    const SimConfig& c = line.config;
    ASSERT_TRUE(c.events);
    ASSERT_EQ(c.events->size(), 2u);
    EXPECT_EQ((*c.events)[0],
              (SimEvent{0x8001, 2, At("2010-10-12T08:00:00"), At("2010-10-12T08:00:20")}));
    EXPECT_EQ((*c.events)[1], (SimEvent{3, 9, -5, 0}));
    ASSERT_TRUE(c.log_entries);
    ASSERT_EQ(c.log_entries->size(), 2u);
    const auto& e0 = (*c.log_entries)[0];
    EXPECT_EQ(e0.kind, kLogEvent);
    EXPECT_EQ(e0.subType, 2u);
    EXPECT_EQ(e0.param, 0x8001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e0.shortText.data())), "Motion # 1");
    const auto& e1 = (*c.log_entries)[1];
    EXPECT_EQ(e1.kind, 0x40u);
    EXPECT_EQ(e1.subType, 3u);
    EXPECT_EQ(e1.time, -5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e1.detail.data())), "Cam#3 name");
    EXPECT_EQ(e1.params[0], 1);
    EXPECT_EQ(e1.params[1], 2);
    EXPECT_EQ(e1.detail[65], 0xFF);
    EXPECT_EQ(e1.detail[96], 0x01);
    EXPECT_EQ(e1.detail[97], 0x07);
    EXPECT_EQ(c.event_page_size, 7u);
    EXPECT_TRUE(c.event_unpaged);
    EXPECT_EQ(c.event_reason, 98);
    EXPECT_EQ(c.log_record_size, 24u);
    EXPECT_EQ(c.log_records, 2600u);
    EXPECT_EQ(c.log_reason, 1);
    EXPECT_EQ(c.log_interleave, LogInterleave::Status);
    EXPECT_TRUE(c.status_short);
    EXPECT_EQ(c.status_reason, 83);

    // Mistakes are told with their line; values out of range are refused.
    const struct {
        const char* text;
        const char* says;
    } bad[] = {
        {"event smoke 1 0 1", "bad kind 'smoke'"},
        {"event alarm 1 2010-13-01T00:00:00 1", "bad time"},
        {"log power 32 0 0", "bad sub-type '32'"},
        {"log power 0 0 0 | 123456789012345678901234567890123", "at most 32 bytes"},
        {"log power 0 0 0 | a | b | 0g", "bad params"},
        {"log power 0 0 0 | a | b | 00 | 00", "'OLD NEW'"},
        {"| x", "unknown item"},
        {"snapshot 1", "unknown item 'snapshot'"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.text);
        std::string error;
        EXPECT_FALSE(ParseInfoFile(std::string("# ok\n") + b.text + "\n", &error));
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
        EXPECT_NE(error.find(b.says), std::string::npos) << error;
    }
    for (const auto& args : std::vector<std::vector<std::string_view>>{
             {"--event-page-size", "0"},
             {"--log-record-size", "4097"},
             {"--log-records", "100001"},
             {"--status-group-a", "1:1,2:2,3:3,4:4,5:5"},
             {"--status-modes", "1,2,256"},
             {"--log-interleave", "bye"},
             {"--info-file", "/nonexistent/taviro-info.txt"}}) {
        EXPECT_NE(ParseCommandLine(args).error, "") << args[0] << " " << args[1];
    }
}

}  // namespace
}  // namespace taviro::sim::test
