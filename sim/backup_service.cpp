#include "sim/backup_service.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/socket.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/hello.h"
#include "sim/connection.h"
#include "sim/live_stream.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

// The general refusal of a request the recorder cannot read.
constexpr std::int32_t kBadRequest = 1;
// The refusal that names the kilobytes needed and available.
constexpr std::int32_t kNoRoom = 87;
// One Poll sends for at most this long, so the client's TRANS_OFF_REQ is read in between.
constexpr std::chrono::milliseconds kBurst{20};
constexpr std::uint64_t kKilobyte = 1024;

std::string TimeText(protocol::RecorderTime t) {
    const ArchiveDate d = DateOf(t);
    const std::int64_t ofDay = ((std::int64_t{t} % 86'400) + 86'400) % 86'400;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day,
                  static_cast<int>(ofDay / 3600), static_cast<int>(ofDay / 60 % 60),
                  static_cast<int>(ofDay % 60));
    return text;
}

std::string RangeText(const BackupRange& r) {
    char mask[32];
    std::snprintf(mask, sizeof mask, "mask 0x%04x kinds %u ", static_cast<unsigned>(r.mask),
                  static_cast<unsigned>(r.kinds));
    return mask + TimeText(r.start) + ".." + TimeText(r.end);
}

std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> values) {
    std::vector<std::uint8_t> out(4 * values.size());
    std::size_t at = 0;
    for (const std::uint32_t v : values) {
        protocol::StoreBE32(out.data() + at, v);
        at += 4;
    }
    return out;
}

}  // namespace

CBackupService::CBackupService(const SimConfig& config, std::shared_ptr<const SimArchive> archive)
    : m_archive(std::move(archive)),
      m_channels(RecorderChannels(config)),
      m_fragmentSize(
          std::clamp<std::size_t>(config.backup_fragment_size, 1, protocol::kMaxPayload)),
      m_sizeKb(config.backup_size_kb),
      m_refuse(config.backup_refuse),
      m_refuseSizes(config.backup_refuse_sizes),
      m_rateKbps(config.backup_rate_kbps),
      m_failAfter(config.backup_fail_after),
      m_failCode(config.backup_fail_code),
      m_dropAfter(config.backup_drop_after) {
    m_streamOptions.productType = protocol::ProductTypeFor(config.product_number) == 5 ? 5 : 3;
    m_streamOptions.pocStep = config.live_poc_step;
    m_streamOptions.amplitude = config.audio_amplitude;
    m_streamOptions.tamper = config.backup_tamper.value_or(0);
}

bool CBackupService::Handles(std::uint16_t code) const {
    return code == msg::TRANS_ON_REQ || code == msg::TRANS_DATA_REQ || code == msg::TRANS_OFF_REQ ||
           code == msg::CAPA_CAL_CANCEL;
}

void CBackupService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                               std::span<const std::uint8_t> payload) {
    switch (header.Command()) {
        case msg::TRANS_ON_REQ:
            Capacity(connection, payload);
            return;
        case msg::TRANS_DATA_REQ:
            Start(connection, payload);
            return;
        case msg::TRANS_OFF_REQ:
            connection.Journal().Event("backup-off",
                                       m_stream ? CountsText() : "no transfer running");
            m_stream.reset();
            m_busy = false;
            connection.Send(msg::TRANS_OFF_ACK, {});
            return;
        default:
            // CAPA_CAL_CANCEL: the size went out before this was read; nothing to stop.
            return;
    }
}

void CBackupService::Capacity(CSimConnection& connection, std::span<const std::uint8_t> payload) {
    const auto range = ParseBackupRange(payload);
    if (!range) {
        connection.Journal().Event("backup-capacity", "unreadable request");
        connection.Send(msg::TRANS_ON_NACK, Words({static_cast<std::uint32_t>(kBadRequest)}));
        return;
    }
    if (m_refuse || m_refuseSizes) {
        const auto code = static_cast<std::uint32_t>(m_refuse.value_or(kNoRoom));
        connection.Journal().Event("backup-capacity",
                                   RangeText(*range) + ": refused " + std::to_string(code));
        connection.Send(msg::TRANS_ON_NACK,
                        m_refuseSizes ? Words({code, m_refuseSizes->first, m_refuseSizes->second})
                                      : Words({code}));
        return;
    }
    std::uint32_t kb = 0;
    if (m_sizeKb) {
        kb = *m_sizeKb;
    } else {
        const std::uint64_t bytes =
            EstimateBackupBytes(*m_archive, m_channels, *range, m_streamOptions.pocStep);
        kb = static_cast<std::uint32_t>(
            std::min<std::uint64_t>((bytes + kKilobyte - 1) / kKilobyte, UINT32_MAX));
    }
    connection.Journal().Event("backup-capacity",
                               RangeText(*range) + ": " + std::to_string(kb) + " KB");
    connection.Send(msg::TRANS_ON_ACK, Words({kb}));
}

void CBackupService::Start(CSimConnection& connection, std::span<const std::uint8_t> payload) {
    m_stream.reset();
    m_busy = false;
    const auto range = ParseBackupRange(payload);
    if (!range) {
        connection.Journal().Event("backup-start", "unreadable request");
        connection.Send(msg::TRANS_ON_FAIL, Words({static_cast<std::uint32_t>(kBadRequest)}));
        return;
    }
    connection.Journal().Event("backup-start", RangeText(*range));
    m_stream.emplace(m_archive, m_channels, *range, m_streamOptions);
    m_counts = {};
    m_started = Clock::now();
}

void CBackupService::Poll(CSimConnection& connection) {
    m_busy = false;
    if (!m_stream || connection.SendingStopped()) {
        return;
    }
    const auto deadline = Clock::now() + kBurst;
    for (;;) {
        if (FaultIfDue(connection)) {
            return;
        }
        // Only while the socket has room: a record is made when it can go, and a client that
        // stops reading stops the recorder too (its own messages are still read meanwhile).
        if (!RateAllows() ||
            platform::WaitWritable(connection.Fd(), std::chrono::milliseconds(0)) !=
                platform::WaitResult::Ready) {
            return;
        }
        const auto record = m_stream->Next();
        if (!record) {
            const bool failed = m_stream->Failed();
            connection.Journal().Event("backup-done", (failed ? "failed, " : "") + CountsText());
            m_stream.reset();
            if (failed) {
                connection.Send(msg::TRANS_ON_FAIL,
                                Words({static_cast<std::uint32_t>(kBadRequest)}));
            } else {
                connection.Send(msg::TRANS_ON_DONE, {});
            }
            return;
        }
        if (!SendRecord(connection, *record)) {
            return;
        }
        if (Clock::now() >= deadline) {
            m_busy = true;
            return;
        }
    }
}

bool CBackupService::SendRecord(CSimConnection& connection, const BackupRecord& record) {
    for (const auto& fragment : SplitStreamElement(msg::TRANS_ON_DATA, record.bytes, record.seconds,
                                                   m_fragmentSize, connection.AudioOn(), 0)) {
        if (!connection.SendPrebuilt(fragment.header, fragment.wire)) {
            return false;
        }
    }
    switch (record.kind) {
        case BackupRecordKind::Video:
            ++m_counts.video;
            m_counts.exempt += record.exempt ? 1 : 0;
            break;
        case BackupRecordKind::Audio:
            ++m_counts.audio;
            break;
        case BackupRecordKind::EventLog:
            ++m_counts.eventLogs;
            break;
        case BackupRecordKind::Unknown:
            ++m_counts.unknown;
            break;
    }
    m_counts.bytes += record.bytes.size();
    return true;
}

bool CBackupService::FaultIfDue(CSimConnection& connection) {
    const std::uint64_t records = m_counts.Records();
    if (m_failAfter && records >= *m_failAfter) {
        connection.Journal().Event("fault", "backup-fail-after");
        m_stream.reset();
        connection.Send(msg::TRANS_ON_FAIL, Words({static_cast<std::uint32_t>(m_failCode)}), false,
                        false, "backup-fail-after");
        return true;
    }
    if (m_dropAfter && records >= *m_dropAfter) {
        connection.Journal().Event("fault", "backup-drop-after");
        m_stream.reset();
        connection.CloseNow("backup-drop-after");
        return true;
    }
    return false;
}

bool CBackupService::RateAllows() const {
    if (m_rateKbps == 0) {
        return true;
    }
    // Whatever went out so far must fit the rate over the time since the start; the first
    // record always goes at once.
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_started).count();
    const double allowed =
        static_cast<double>(m_rateKbps) * kKilobyte * static_cast<double>(elapsed) / 1e6;
    return static_cast<double>(m_counts.bytes) <= allowed;
}

std::string CBackupService::CountsText() const {
    return "records " + std::to_string(m_counts.Records()) + ": video " +
           std::to_string(m_counts.video) + " (exempt " + std::to_string(m_counts.exempt) +
           "), audio " + std::to_string(m_counts.audio) + ", event-log " +
           std::to_string(m_counts.eventLogs) + ", unknown " + std::to_string(m_counts.unknown) +
           ", bytes " + std::to_string(m_counts.bytes);
}

}  // namespace taviro::sim
