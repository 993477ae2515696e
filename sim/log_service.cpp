#include "sim/log_service.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"
#include "sim/info_reply.h"
#include "sim/status_service.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

constexpr std::size_t kDetailAt = 24;
constexpr std::size_t kShortTextAt = 152;
constexpr std::size_t kParamsAt = 184;
// Where the old and new setting blocks of operation sub-types 13..23 sit in the detail.
constexpr std::size_t kOldBlockAt = 64;
constexpr std::size_t kNewBlockAt = 96;
constexpr std::size_t kBlockSize = 32;
// The smallest room a record takes: its number and size word.
constexpr std::size_t kMinOccupied = 8;
constexpr std::int64_t kDay = 86'400;

using Block = std::array<std::uint8_t, kBlockSize>;

template <std::size_t N>
void SetText(std::array<std::uint8_t, N>& field, std::string_view text) {
    field.fill(0);
    std::memcpy(field.data(), text.data(), std::min(text.size(), N));
}

class CLogBuilder {
  public:
    SimLogEntry& Add(std::string_view time, std::uint32_t kind, int subType, std::uint32_t param,
                     std::string_view shortText, std::string_view detail) {
        SimLogEntry e;
        e.kind = kind;
        e.subType = 1u << subType;
        // The table below only holds valid times; a typo shows up as 1970 in the tests.
        e.time = ParseRecorderTime(time).value_or(0);
        e.param = param;
        SetText(e.shortText, shortText);
        SetText(e.detail, detail);
        m_entries.push_back(e);
        return m_entries.back();
    }

    // A setup change of operation sub-types 13..23: the text stays below the blocks.
    SimLogEntry& Change(std::string_view time, int subType, std::uint32_t camera,
                        std::string_view detail, const Block& before, const Block& after) {
        SimLogEntry& e = Add(time, kLogOperation, subType, camera, "admin", detail.substr(0, 63));
        std::copy(before.begin(), before.end(), e.detail.begin() + kOldBlockAt);
        std::copy(after.begin(), after.end(), e.detail.begin() + kNewBlockAt);
        return e;
    }

    // An archive written (operation sub-type 9).
    SimLogEntry& Archive(std::string_view time, std::string_view user, std::string_view detail,
                         std::uint8_t medium, std::uint8_t format, std::uint8_t low,
                         std::uint8_t high, std::string_view from, std::string_view to) {
        SimLogEntry& e = Add(time, kLogOperation, 9, 0, user, detail);
        e.params[0] = medium;
        e.params[1] = format;
        e.params[2] = low;
        e.params[3] = high;
        protocol::StoreBE32(e.params.data() + 8,
                            static_cast<std::uint32_t>(ParseRecorderTime(from).value_or(0)));
        protocol::StoreBE32(e.params.data() + 12,
                            static_cast<std::uint32_t>(ParseRecorderTime(to).value_or(0)));
        return e;
    }

    std::vector<SimLogEntry> Take() {
        std::stable_sort(
            m_entries.begin(), m_entries.end(),
            [](const SimLogEntry& a, const SimLogEntry& b) { return a.time < b.time; });
        return std::move(m_entries);
    }

  private:
    std::vector<SimLogEntry> m_entries;
};

// A generic setting block pair for the sub-types whose items are the recorder's own: the
// first byte names the sub-type, two later items differ.
std::pair<Block, Block> GenericChange(int subType) {
    Block before{static_cast<std::uint8_t>(subType), 0, 2, 1, 15, 30, 0, 1};
    Block after = before;
    after[1] = 1;
    after[5] = 15;
    return {before, after};
}

}  // namespace

std::vector<SimLogEntry> DefaultLog() {
    CLogBuilder b;
    // 2010-10-11: the recorder is installed and set up.
    b.Add("2010-10-11T07:58:12", kLogPower, 0, 0, "System", "Power on");
    b.Add("2010-10-11T08:00:05", kLogRecord, 0, 0, "Schedule",
          "Continuous recording started on CH01-CH16");
    b.Add("2010-10-11T08:10:00", kLogOperation, 0, 0, "admin", "Setup opened at the front panel");
    b.Add("2010-10-11T08:12:40", kLogOperation, 12, 0, "admin", "Language: English");
    b.Add("2010-10-11T08:14:02", kLogOperation, 10, 0, "admin",
          "IP 192.168.1.100, mask 255.255.255.0, gateway 192.168.1.1");
    b.Add("2010-10-11T08:15:30", kLogOperation, 11, 0, "admin",
          "E-mail alarm notice to security@example.com");
    // Sub-type 13, the camera name page: items 0..9 and the channel set at 10..11.
    b.Change("2010-10-11T08:20:11", 13, 3, "CH03 Gate -> Front gate",
             Block{1, 0, 0, 1, 0, 30, 5, 1, 15, 3, 0x00, 0x03},
             Block{0, 0, 1, 1, 2, 15, 5, 1, 30, 3, 0x01, 0x07});
    const struct {
        const char* time;
        int subType;
        std::uint32_t camera;
        const char* detail;
    } changes[] = {
        {"2010-10-11T08:22:45", 14, 0, "Recording quality"},
        {"2010-10-11T08:24:10", 15, 0, "Motion areas"},
        {"2010-10-11T08:25:00", 16, 0, "Recording duration"},
        {"2010-10-11T08:26:33", 17, 5, "Camera 5 recording"},
        {"2010-10-11T08:27:05", 18, 5, "Camera 5 frame rate"},
        {"2010-10-11T08:28:40", 19, 2, "Camera 2 event input"},
        {"2010-10-11T08:29:12", 20, 2, "Camera 2 alarm output"},
        {"2010-10-11T08:31:00", 21, 0, "Weekday schedule"},
        {"2010-10-11T08:32:30", 22, 0, "Holidays: 2010-12-24, 2010-12-25"},
        {"2010-10-11T08:33:15", 23, 0, "Recording hours 07:00-19:00"},
    };
    for (const auto& c : changes) {
        const auto [before, after] = GenericChange(c.subType);
        b.Change(c.time, c.subType, c.camera, c.detail, before, after);
    }
    b.Add("2010-10-11T08:30:12", kLogOperation, 7, 0, "admin",
          "Clock 2010-10-11 08:31:00 -> 08:30:12");
    b.Add("2010-10-11T08:35:00", kLogOperation, 4, 0, "admin", "Setup changed: 12 items").params = {
        0x05, 0x81, 0x12, 0x09, 0x03, 0x41};
    b.Add("2010-10-11T08:36:20", kLogOperation, 1, 0, "admin", "Setup closed");
    b.Add("2010-10-11T08:40:00", kLogOperation, 8, 0, "admin", "Password changed for operator");
    b.Add("2010-10-11T09:02:17", kLogClient, 0, 0, "admin", "192.168.1.20");
    b.Add("2010-10-11T09:02:50", kLogOperation, 3, 0, "admin", "Remote setup from 192.168.1.20");
    // Byte 2 bit 3 names no item.
    b.Add("2010-10-11T09:05:03", kLogOperation, 4, 0, "admin", "Remote setup changed: 4 items")
        .params = {0x00, 0x10, 0x0A, 0x00, 0x10, 0x80};
    b.Add("2010-10-11T09:07:44", kLogOperation, 2, 0, "admin",
          "Factory defaults of the network page");
    b.Add("2010-10-11T09:10:00", kLogClient, 1, 0, "admin", "192.168.1.20");
    b.Add("2010-10-11T10:30:00", kLogOperation, 5, 0, "admin", "Firmware 2.1.4 installed from USB");
    b.Add("2010-10-11T10:34:50", kLogOperation, 6, 0, "admin", "Settings database initialised");
    b.Add("2010-10-11T11:00:00", kLogClient, 2, 0, "guest", "192.168.1.77");

    // 2010-10-12: a day of recordings (the default archive) with events in them.
    b.Add("2010-10-12T07:59:30", kLogClient, 3, 0, "operator", "10.0.0.7");
    b.Add("2010-10-12T08:15:00", kLogEvent, 0, 0x0001, "Sensor 1", "");
    b.Add("2010-10-12T08:47:30", kLogEvent, 1, 0x8001, "Motion", "");
    b.Add("2010-10-12T09:12:20", kLogClient, 4, 0, "operator", "10.0.0.7");
    b.Add("2010-10-12T09:30:00", kLogRecord, 1, 0, "Schedule", "Continuous recording stopped");
    b.Archive("2010-10-12T10:05:00", "operator", "Archive to DVD-R", 2, 1, 0x05, 0x80,
              "2010-10-12T08:00:00", "2010-10-12T08:30:00");
    b.Add("2010-10-12T10:40:00", kLogClient, 5, 0, "operator", "10.0.0.7");
    b.Add("2010-10-12T12:00:00", kLogEvent, 0, 0x0005, "Sensor 3", "");
    b.Add("2010-10-12T12:00:00", kLogRecord, 2, 0, "Event", "Event recording on CH01 CH03");
    b.Add("2010-10-12T12:02:10", kLogEvent, 2, 0x0004, "Audio level", "");
    b.Add("2010-10-12T14:20:00", kLogEvent, 3, 0x0010, "Video loss", "");
    b.Add("2010-10-12T16:00:00", kLogClient, 6, 0, "admin", "192.168.1.20");
    b.Add("2010-10-12T20:00:00", kLogRecord, 3, 0, "System",
          "HDD1 full, overwriting from 2010-09-01");
    b.Add("2010-10-12T23:12:40", kLogPower, 1, 0, "System", "Power restored after 00:02:51");
    b.Add("2010-10-12T23:45:10", kLogEvent, 0, 0x0300, "Sensor 9", "");

    // 2010-10-13.
    b.Archive("2010-10-13T00:10:00", "admin", "Archive to USB disk", 7, 0, 0xFF, 0x00,
              "2010-10-12T23:30:00", "2010-10-13T00:30:00");
    b.Add("2010-10-13T00:20:00", kLogEvent, 2, 0x0040, "Audio level", "");
    b.Add("2010-10-13T03:14:00", kLogRecord, 4, 0, "System", "HDD3 not responding");
    b.Add("2010-10-13T03:14:05", kLogEvent, 4, 0, "HDD3", "Disk error");
    b.Add("2010-10-13T14:02:00", kLogEvent, 1, 0x0002, "Motion", "");
    b.Archive("2010-10-13T15:00:00", "admin", "Archive to PC 192.168.1.20", 9, 1, 0x02, 0x00,
              "2010-10-13T14:00:00", "2010-10-13T14:10:00");
    b.Archive("2010-10-13T15:30:00", "admin", "Archive", 8, 3, 0x00, 0x81, "2010-10-12T08:00:00",
              "2010-10-12T09:30:00");
    b.Add("2010-10-13T17:00:00", kLogClient, 7, 0, "admin", "192.168.1.20");
    b.Add("2010-10-13T18:30:00", kLogPower, 2, 0, "admin", "Shutdown from the front panel");
    return b.Take();
}

std::array<std::uint8_t, kLogRecordSize> LogRecordBytes(const SimLogEntry& entry,
                                                        std::uint32_t number, std::uint32_t size,
                                                        protocol::RecorderTime time) {
    std::array<std::uint8_t, kLogRecordSize> r{};
    protocol::StoreBE32(r.data(), number);
    protocol::StoreBE32(r.data() + 4, size);
    protocol::StoreBE32(r.data() + 8, entry.kind);
    protocol::StoreBE32(r.data() + 12, entry.subType);
    protocol::StoreBE32(r.data() + 16, static_cast<std::uint32_t>(time));
    protocol::StoreBE32(r.data() + 20, entry.param);
    std::copy(entry.detail.begin(), entry.detail.end(), r.begin() + kDetailAt);
    std::copy(entry.shortText.begin(), entry.shortText.end(), r.begin() + kShortTextAt);
    std::copy(entry.params.begin(), entry.params.end(), r.begin() + kParamsAt);
    return r;
}

std::vector<std::uint8_t> LogBytes(std::span<const SimLogEntry> entries, std::size_t count,
                                   std::uint32_t size) {
    if (entries.empty()) {
        return {};
    }
    const auto [first, last] = std::minmax_element(
        entries.begin(), entries.end(),
        [](const SimLogEntry& a, const SimLogEntry& b) { return a.time < b.time; });
    // Each further pass starts on the day after the previous pass ended, whole days on, so
    // times of day stay as they are.
    const std::int64_t pass = ((std::int64_t{last->time} - first->time) / kDay + 1) * kDay;
    const std::size_t occupied = std::max<std::size_t>(size, kMinOccupied);
    const std::size_t kept = std::min(occupied, kLogRecordSize);
    std::vector<std::uint8_t> out(count * occupied, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const SimLogEntry& e = entries[i % entries.size()];
        const std::int64_t t = e.time + static_cast<std::int64_t>(i / entries.size()) * pass;
        const auto time =
            static_cast<protocol::RecorderTime>(std::clamp<std::int64_t>(t, INT32_MIN, INT32_MAX));
        const auto record = LogRecordBytes(e, static_cast<std::uint32_t>(i + 1), size, time);
        std::copy_n(record.begin(), kept, out.begin() + static_cast<std::ptrdiff_t>(i * occupied));
    }
    return out;
}

std::vector<std::uint8_t> LogBytes(const SimConfig& config) {
    const auto entries = config.log_entries ? *config.log_entries : DefaultLog();
    return LogBytes(entries, config.log_records.value_or(entries.size()), config.log_record_size);
}

std::vector<std::uint8_t> SystemInfoBytes() {
    // The layout of the recorder's system answer is its own; a client that did not ask
    // must not look at it anyway.
    std::vector<std::uint8_t> out(64, 0);
    constexpr std::string_view kText = "MRKD7310 system information";
    std::copy(kText.begin(), kText.end(), out.begin());
    return out;
}

CLogService::CLogService(const SimConfig& config)
    : m_entries(config.log_entries ? *config.log_entries : DefaultLog()),
      m_count(config.log_records.value_or(m_entries.size())),
      m_recordSize(config.log_record_size),
      m_pieceSize(InfoPieceSize(config.info_fragment_size)),
      m_reason(config.log_reason),
      m_interleave(config.log_interleave),
      m_status(StatusBytes(config)) {}

bool CLogService::Handles(std::uint16_t code) const {
    return code == msg::LOG_INFO_REQ;
}

void CLogService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& /*header*/,
                            std::span<const std::uint8_t> /*payload*/) {
    // The request has no payload; anything that came with it is not looked at.
    if (m_reason) {
        SendRefusal(connection, msg::LOG_INFO_NACK, *m_reason);
        return;
    }
    const auto bytes = LogBytes(m_entries, m_count, m_recordSize);
    auto interleave = [&] {
        if (m_interleave == LogInterleave::System) {
            connection.Send(msg::SYSTEM_INFO_ACK, SystemInfoBytes(), true, false, "log-interleave");
        } else if (m_interleave == LogInterleave::Status) {
            connection.Send(msg::STATUS_INFO_ACK, m_status, true, false, "log-interleave");
        }
    };
    const bool single = bytes.size() <= m_pieceSize;
    if (single) {
        interleave();
    }
    SendPieces(connection, msg::LOG_INFO_ACK, bytes, m_pieceSize, [&](std::size_t piece) {
        if (piece == 1 && !single) {
            interleave();
        }
    });
}

}  // namespace taviro::sim
