// Backups from the simulated recorder over TCP, as a client sees them: the capacity answer
// and its refusals, a transfer reassembled from its fragments (order, index blocks, the
// display-exempt copies, watermarks, the event log, the record the client does not know),
// the little-endian recorders, stopping a transfer, the rate cap and the scripted faults.
#include <gtest/gtest.h>

#include <string>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "raw_client.h"
#include "sim/options.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using protocol::LoadBE32;

constexpr std::uint32_t kVideo = 0x20061123u;
constexpr std::uint32_t kAudio = 0x2518F049u;
constexpr std::uint32_t kEventLog = 0x20100611u;
constexpr std::uint32_t kUnknown = 0x12345678u;

protocol::RecorderTime At(std::string_view text) {
    const auto t = ParseRecorderTime(text);
    EXPECT_TRUE(t.has_value()) << text;
    return t.value_or(0);
}

Bytes Range(std::uint32_t mask, protocol::RecorderTime start, protocol::RecorderTime end) {
    Bytes b(24, 0);
    protocol::StoreBE32(b.data(), mask);
    b[4] = 63;  // every recording kind, the one little-endian word
    protocol::StoreBE32(b.data() + 16, static_cast<std::uint32_t>(start));
    protocol::StoreBE32(b.data() + 20, static_cast<std::uint32_t>(end));
    return b;
}

Bytes Words(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (const std::uint32_t v : values) {
        b.resize(b.size() + 4);
        protocol::StoreBE32(b.data() + b.size() - 4, v);
    }
    return b;
}

// The watermark rule, written out again: each visited byte is summed and says how far on
// the next one lies.
std::uint16_t Checksum(std::span<const std::uint8_t> p) {
    unsigned sum = 0;
    for (std::size_t pos = 0; pos < p.size(); pos += (p[pos] & 7u) * 2 + 2) {
        sum = (sum + p[pos]) & 0xFFFFu;
    }
    return static_cast<std::uint16_t>(sum);
}

// A reassembled record, its numeric words read in the recorder's order.
struct Record {
    Bytes bytes;
    bool bigEndian = true;
    [[nodiscard]] std::uint32_t W(std::size_t at) const {
        return bigEndian ? LoadBE32(bytes.data() + at) : protocol::LoadLE32(bytes.data() + at);
    }
    [[nodiscard]] std::uint32_t Kind() const { return W(16); }
    [[nodiscard]] int Channel() const { return static_cast<int>(W(20)); }
    [[nodiscard]] std::int64_t Micros() const { return std::int64_t{W(24)} * 1'000'000 + W(36); }
    [[nodiscard]] bool Key() const { return W(44) == 1; }
    [[nodiscard]] bool Exempt() const { return bytes[52] == 1; }
    [[nodiscard]] std::span<const std::uint8_t> Unit() const {
        return std::span(bytes).subspan(192);
    }
    [[nodiscard]] std::uint16_t Watermark() const { return protocol::LoadBE16(bytes.data() + 53); }
};

struct Transfer {
    std::vector<Record> records;
    std::uint16_t end = 0;  // the message after the records; 0 when none came
    Bytes endPayload;
    [[nodiscard]] std::uint64_t Size() const {
        std::uint64_t n = 0;
        for (const Record& r : records) {
            n += r.bytes.size();
        }
        return n;
    }
};

class SimBackup : public ::testing::Test {
  protected:
    static SimConfig Config() {
        SimConfig c;
        c.channels = 4;
        c.live_width = 352;
        c.live_height = 240;
        c.live_fps = 10;
        c.audio_channels = 0x4;  // channel 3 has sound
        c.backup_fragment_size = 5000;
        return c;
    }

    void Start(const SimConfig& config) {
        m_sim = std::make_unique<CRecorderSim>(config);
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
        ASSERT_TRUE(m_client.Login(m_sim->Port()));
        m_bigEndian = protocol::ProductTypeFor(config.product_number) == 3;
        m_fragmentSize = config.backup_fragment_size;
    }

    std::optional<Received> Ask(std::uint16_t code, const Bytes& payload = {}) {
        if (!m_client.Send(code, payload)) {
            return std::nullopt;
        }
        return m_client.Recv();
    }

    // Records until anything but TRANS_ON_DATA arrives (or `most` records are complete).
    Transfer Read(std::size_t most = SIZE_MAX) {
        Transfer t;
        Record partial{{}, m_bigEndian};
        while (t.records.size() < most) {
            auto m = m_client.Recv();
            if (!m) {
                break;
            }
            if (m->header.Command() != msg::TRANS_ON_DATA) {
                EXPECT_TRUE(partial.bytes.empty()) << "a message inside a record";
                t.end = m->header.Command();
                t.endPayload = m->payload;
                break;
            }
            EXPECT_GE(m->payload.size(), 1u);
            EXPECT_LE(m->payload.size(), m_fragmentSize);
            partial.bytes.insert(partial.bytes.end(), m->payload.begin(), m->payload.end());
            if (m->header.LastFragment()) {
                t.records.push_back(std::move(partial));
                partial = Record{{}, m_bigEndian};
            }
        }
        return t;
    }

    bool JournalHas(std::string_view event, std::string_view part) const {
        for (const auto& e : m_sim->Journal()) {
            if (e.IsEvent(event) && e.why.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<CRecorderSim> m_sim;
    CRawClient m_client;
    bool m_bigEndian = true;
    std::size_t m_fragmentSize = 16384;
};

TEST_F(SimBackup, CapacityIsAnsweredOrRefusedAsConfigured) {
    Start(Config());
    const struct {
        Bytes request;
        std::uint16_t code;
        Bytes payload;
    } cases[] = {
        // Nothing recorded: between the stretches, channels the recorder lacks, an empty
        // range.
        {Range(0x5, At("2010-10-12T10:00:00"), At("2010-10-12T10:10:00")), msg::TRANS_ON_ACK,
         Words({0})},
        {Range(0xF0, At("2010-10-12T08:00:00"), At("2010-10-12T08:01:00")), msg::TRANS_ON_ACK,
         Words({0})},
        {Range(0x5, At("2010-10-12T08:01:00"), At("2010-10-12T08:00:00")), msg::TRANS_ON_ACK,
         Words({0})},
        {Bytes(23, 0), msg::TRANS_ON_NACK, Words({1})},
    };
    for (const auto& c : cases) {
        const auto answer = Ask(msg::TRANS_ON_REQ, c.request);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->header.Command(), c.code);
        EXPECT_EQ(answer->payload, c.payload);
    }
    // The client giving up on the answer needs none.
    ASSERT_TRUE(m_client.Send(msg::CAPA_CAL_CANCEL));
    EXPECT_TRUE(m_client.StaysQuiet(200ms));
    EXPECT_TRUE(JournalHas("backup-capacity", "mask 0x00f0"));

    const struct {
        std::optional<std::uint32_t> sizeKb;
        std::optional<std::int32_t> refuse;
        std::optional<std::pair<std::uint32_t, std::uint32_t>> sizes;
        std::uint16_t code;
        Bytes payload;
    } configured[] = {
        {4321, {}, {}, msg::TRANS_ON_ACK, Words({4321})},
        {{}, 85, {}, msg::TRANS_ON_NACK, Words({85})},
        {{}, 87, std::pair{5000u, 1200u}, msg::TRANS_ON_NACK, Words({87, 5000, 1200})},
    };
    for (const auto& c : configured) {
        SimConfig config = Config();
        config.backup_size_kb = c.sizeKb;
        config.backup_refuse = c.refuse;
        config.backup_refuse_sizes = c.sizes;
        CRecorderSim sim(config);
        ASSERT_TRUE(sim.Start()) << sim.LastError();
        CRawClient client;
        ASSERT_TRUE(client.Login(sim.Port()));
        ASSERT_TRUE(client.Send(msg::TRANS_ON_REQ,
                                Range(0x5, At("2010-10-12T08:00:00"), At("2010-10-12T08:00:10"))));
        const auto answer = client.Recv();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->header.Command(), c.code);
        EXPECT_EQ(answer->payload, c.payload);
    }
}

TEST_F(SimBackup, ATransferSendsEveryRecordOfTheRangeInOrder) {
    Start(Config());
    const protocol::RecorderTime start = At("2010-10-12T12:00:00");  // the event stretch
    const Bytes range = Range(0x5, start, start + 12);
    const auto size = Ask(msg::TRANS_ON_REQ, range);
    ASSERT_TRUE(size);
    ASSERT_EQ(size->header.Command(), msg::TRANS_ON_ACK);
    ASSERT_EQ(size->payload.size(), 4u);
    const std::uint32_t kb = LoadBE32(size->payload.data());

    ASSERT_TRUE(m_client.Send(msg::TRANS_DATA_REQ, range));
    const Transfer t = Read();
    EXPECT_EQ(t.end, msg::TRANS_ON_DONE);
    EXPECT_TRUE(t.endPayload.empty());
    // 12 s of channels 1 and 3 at 10 frames a second, the copies before blocks 2 and 3,
    // 25 blocks a second of channel 3's sound, the event log and the unknown record.
    ASSERT_EQ(t.records.size(), 240u + 2u + 300u + 2u);
    const double actual = static_cast<double>(t.Size());
    EXPECT_NEAR(kb * 1024.0, actual, actual * 0.05) << "the size answer is an honest estimate";

    EXPECT_EQ(t.records[0].Kind(), kVideo);
    EXPECT_EQ(t.records[0].Micros(), std::int64_t{start} * 1'000'000);
    EXPECT_EQ(t.records[1].Kind(), kEventLog);
    EXPECT_EQ(t.records[2].Kind(), kUnknown);
    EXPECT_EQ(t.records[2].bytes.size(), 64u);

    // The event log: the alarm before the range, the motion stretch, the audio event.
    const Record& log = t.records[1];
    ASSERT_EQ(log.bytes.size(), 64u + 3 * 32u);
    EXPECT_EQ(log.W(28), 3 * 32u);
    const struct {
        protocol::RecorderTime start, end;
        std::uint32_t mask;
        std::uint8_t kind;
    } events[] = {{start - 1800, start - 1770, 0x5, 1},
                  {start, At("2010-10-12T12:05:00"), 0x5, 2},
                  {start + 5, start + 8, 0x1, 7}};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t at = 64 + 32 * i;
        EXPECT_EQ(log.W(at), static_cast<std::uint32_t>(events[i].start)) << i;
        EXPECT_EQ(log.W(at + 4), static_cast<std::uint32_t>(events[i].end)) << i;
        EXPECT_EQ(log.W(at + 8), events[i].mask) << i;
        EXPECT_EQ(log.bytes[at + 12], events[i].kind) << i;
        EXPECT_EQ(Bytes(log.bytes.begin() + static_cast<std::ptrdiff_t>(at + 13),
                        log.bytes.begin() + static_cast<std::ptrdiff_t>(at + 32)),
                  Bytes(19, 0));
    }

    // Time order, video before audio and lower channels first at the same time; block keys;
    // key frames every 25 frames and at the marker channel's block starts; watermarks.
    std::tuple<std::int64_t, bool, int> last{0, false, 0};
    std::size_t exempt = 0;
    std::size_t audio = 0;
    for (std::size_t i = 0; i < t.records.size(); ++i) {
        const Record& r = t.records[i];
        if (i == 1 || i == 2) {
            continue;
        }
        const bool isAudio = r.Kind() == kAudio;
        const std::tuple<std::int64_t, bool, int> order{r.Micros(), isAudio,
                                                        isAudio ? 0 : r.Channel()};
        EXPECT_LE(last, order) << "record " << i;
        last = order;
        const auto second = static_cast<std::int64_t>(r.W(24));
        if (isAudio) {
            ++audio;
            EXPECT_EQ(r.W(52), 0x4u);
            EXPECT_EQ(r.bytes.size(), 64u + 48u);
            EXPECT_EQ(r.W(36) % 40'000, 0u);
            continue;
        }
        ASSERT_EQ(r.Kind(), kVideo) << "record " << i;
        ASSERT_EQ(r.W(28), r.bytes.size() - 192);
        EXPECT_EQ(LoadBE32(r.bytes.data() + 92),
                  protocol::Crc32(std::span(r.bytes).subspan(96, 32)));
        EXPECT_EQ(Bytes(r.bytes.begin() + 48, r.bytes.begin() + 51), (Bytes{1, 0, 2}))
            << "an event recording";
        EXPECT_EQ(r.bytes[51] == 2, r.Key()) << "record " << i;
        EXPECT_EQ(r.Watermark(), r.Key() ? Checksum(r.Unit()) : 0) << "record " << i;
        EXPECT_EQ(r.bytes[128 + 2] >> 6, r.Key() ? 0 : 1) << "encoder header, record " << i;
        if (r.Exempt()) {
            // The copy of the block's first key frame, right before it, the block before
            // it complete.
            ++exempt;
            EXPECT_EQ(r.Channel(), 0);
            EXPECT_EQ(r.W(36), 0u);
            EXPECT_EQ((second - start) % 4, 0);
            EXPECT_EQ(r.W(40), 0xFFFFFFFFu);
            EXPECT_TRUE(r.Key());
            ASSERT_LT(i + 1, t.records.size());
            const Record& next = t.records[i + 1];
            EXPECT_FALSE(next.Exempt());
            EXPECT_EQ(next.Micros(), r.Micros());
            EXPECT_EQ(next.W(40), 1 + (second - start) / 4);
            Bytes original = r.bytes;
            original[52] = 0;
            std::copy_n(next.bytes.begin() + 40, 4, original.begin() + 40);
            EXPECT_EQ(original, next.bytes) << "a copy of the frame after it";
            EXPECT_LT(t.records[i - 1].W(24), second);
            continue;
        }
        EXPECT_EQ(r.W(40), 1 + (second - start) / 4);
        const std::uint32_t counter =
            static_cast<std::uint32_t>(second % 86'400) * 10 + r.W(36) / 100'000;
        const bool blockStart =
            r.Channel() == 0 && r.W(36) == 0 && second > start && (second - start) % 4 == 0;
        EXPECT_EQ(r.Key(), counter % 25 == 0 || (second == start && r.W(36) == 0) || blockStart)
            << "channel " << r.Channel() << " frame " << counter;
    }
    EXPECT_EQ(exempt, 2u);
    EXPECT_EQ(audio, 300u);

    // The client closes the transfer after the end too.
    const auto off = Ask(msg::TRANS_OFF_REQ);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->header.Command(), msg::TRANS_OFF_ACK);
    EXPECT_TRUE(JournalHas("backup-start",
                           "mask 0x0005 kinds 63 2010-10-12T12:00:00..2010-10-12T12:00:12"));
    EXPECT_TRUE(
        JournalHas("backup-done", "video 242 (exempt 2), audio 300, event-log 1, unknown 1"));
}

TEST_F(SimBackup, OtherProductTypesStoreTheWordsLittleEndian) {
    SimConfig config = Config();
    config.product_number = 12;  // product type 5
    config.backup_tamper = 2;
    Start(config);
    const protocol::RecorderTime start = At("2010-10-12T12:00:00");
    ASSERT_TRUE(m_client.Send(msg::TRANS_DATA_REQ, Range(0x5, start, start + 2)));
    const Transfer t = Read();
    EXPECT_EQ(t.end, msg::TRANS_ON_DONE);
    ASSERT_EQ(t.records.size(), 40u + 50u + 2u);

    const Record& first = t.records[0];
    EXPECT_EQ(first.Kind(), kVideo);
    EXPECT_EQ(first.Channel(), 0);
    EXPECT_EQ(first.W(24), static_cast<std::uint32_t>(start));
    EXPECT_EQ(first.W(28), first.bytes.size() - 192);
    EXPECT_EQ(first.W(40), 1u);
    EXPECT_TRUE(first.Key());
    EXPECT_EQ(LoadBE32(first.bytes.data() + 92),
              protocol::Crc32(std::span(first.bytes).subspan(96, 32)))
        << "the title's CRC is big-endian from every recorder";
    // Two seconds: no audio event, only the alarm and the motion stretch.
    const Record& log = t.records[1];
    EXPECT_EQ(log.Kind(), kEventLog);
    EXPECT_EQ(log.W(28), 64u);
    EXPECT_EQ(log.W(64), static_cast<std::uint32_t>(start - 1800));
    EXPECT_EQ(log.W(96 + 8), 0x5u);
    EXPECT_EQ(t.records[2].Kind(), kUnknown);

    // One key frame per channel, so two watermarks, and the second was tampered with.
    std::vector<const Record*> marked;
    std::size_t audio = 0;
    for (const Record& r : t.records) {
        if (r.Kind() == kAudio) {
            ++audio;
            EXPECT_EQ(r.W(52), 0x4u);
            EXPECT_EQ(r.W(28), 48u);
        } else if (r.Kind() == kVideo && r.bytes[51] == 2) {
            marked.push_back(&r);
        }
    }
    EXPECT_EQ(audio, 50u);
    ASSERT_EQ(marked.size(), 2u);
    EXPECT_EQ(marked[0]->Watermark(), Checksum(marked[0]->Unit()));
    EXPECT_EQ(marked[1]->Channel(), 2);
    EXPECT_EQ(marked[1]->Watermark(), static_cast<std::uint16_t>(Checksum(marked[1]->Unit()) + 1));
}

TEST_F(SimBackup, TransferOffStopsATransferThatTheRateHolds) {
    SimConfig config = Config();
    config.backup_rate_kbps = 400;
    Start(config);
    ASSERT_TRUE(m_client.Send(msg::TRANS_DATA_REQ,
                              Range(0xF, At("2010-10-12T08:00:00"), At("2010-10-12T09:00:00"))));
    const auto began = Clock::now();
    Transfer t;
    std::uint64_t received = 0;
    while (received < 400 * 1024) {
        Transfer more = Read(1);
        ASSERT_EQ(more.records.size(), 1u) << "after " << t.records.size() << " records";
        received += more.records[0].bytes.size();
        t.records.push_back(std::move(more.records[0]));
    }
    // Each record goes once the ones before fit the rate: the first is free, the last of
    // these waited for about all the others (more than 270 KB here).
    EXPECT_GE(Clock::now() - began, 500ms);

    ASSERT_TRUE(m_client.Send(msg::TRANS_OFF_REQ));
    const Transfer rest = Read();
    EXPECT_EQ(rest.end, msg::TRANS_OFF_ACK);
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
    // Only what was already on its way arrived after the request.
    const std::size_t total = t.records.size() + rest.records.size();
    EXPECT_TRUE(JournalHas("backup-off", "records " + std::to_string(total) + ":")) << total;
}

TEST_F(SimBackup, ScriptedFailureAndDrop) {
    SimConfig config = Config();
    config.backup_fail_after = 5;
    Start(config);
    const protocol::RecorderTime start = At("2010-10-12T12:00:00");
    ASSERT_TRUE(m_client.Send(msg::TRANS_DATA_REQ, Range(0x5, start, start + 12)));
    const Transfer failed = Read();
    EXPECT_EQ(failed.records.size(), 5u);
    EXPECT_EQ(failed.end, msg::TRANS_ON_FAIL);
    EXPECT_EQ(failed.endPayload, Words({86}));
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
    EXPECT_TRUE(JournalHas("fault", "backup-fail-after"));

    config = Config();
    config.backup_drop_after = 4;
    CRecorderSim sim(config);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    ASSERT_TRUE(client.Send(msg::TRANS_DATA_REQ, Range(0x5, start, start + 12)));
    std::size_t records = 0;
    while (auto m = client.Recv(1s)) {
        EXPECT_EQ(m->header.Command(), msg::TRANS_ON_DATA);
        records += m->header.LastFragment() ? 1u : 0u;
    }
    EXPECT_EQ(records, 4u);
    EXPECT_TRUE(client.WaitForClose(1s));
    ASSERT_TRUE(sim.WaitForJournal(
        [](const std::vector<JournalEntry>& e) { return FindClose(e) != nullptr; }, 2s));
    EXPECT_EQ(FindClose(sim.Journal())->why, "backup-drop-after");
}

TEST(SimBackupOptions, TheCommandLineSetsTheBackupFields) {
    const std::vector<std::string_view> args = {
        "--backup-size-kb",      "77",      "--backup-refuse",        "87",
        "--backup-refuse-sizes", "900,100", "--backup-fragment-size", "1",
        "--backup-rate",         "64",      "--backup-fail-after",    "3",
        "--backup-fail-code",    "9",       "--backup-drop-after",    "0",
        "--backup-tamper",       "2"};
    const CommandLine line = ParseCommandLine(args);
    ASSERT_EQ(line.error, "");
    const SimConfig& c = line.config;
    EXPECT_EQ(c.backup_size_kb, 77u);
    EXPECT_EQ(c.backup_refuse, 87);
    EXPECT_EQ(c.backup_refuse_sizes, (std::pair{900u, 100u}));
    EXPECT_EQ(c.backup_fragment_size, 1u);
    EXPECT_EQ(c.backup_rate_kbps, 64u);
    EXPECT_EQ(c.backup_fail_after, 3u);
    EXPECT_EQ(c.backup_fail_code, 9);
    EXPECT_EQ(c.backup_drop_after, 0u);
    EXPECT_EQ(c.backup_tamper, 2u);
    for (const auto& bad : {std::vector<std::string_view>{"--backup-fragment-size", "0"},
                            std::vector<std::string_view>{"--backup-refuse-sizes", "5"},
                            std::vector<std::string_view>{"--backup-tamper", "0"}}) {
        EXPECT_NE(ParseCommandLine(bad).error, "") << bad[0];
    }
}

}  // namespace
}  // namespace taviro::sim::test
