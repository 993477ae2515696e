// Backup on the recorder's side: the size of a range, and its transfer.
//
// TRANS_ON_REQ (a 24-byte range, backup_stream.h) asks what a backup of the range takes.
// TRANS_ON_ACK answers with the size in kilobytes, one big-endian word: the records the
// transfer would send, in bytes (EstimateBackupBytes), / 1024 rounded up, so 0 when the
// requested channels hold nothing in the range; or the configured size. A recorder set to
// refuse answers TRANS_ON_NACK with its code, one big-endian word, or three when it names
// the kilobytes needed and available (the recorder does that with code 87, "not enough
// room"); 1 refuses a request it cannot read. CAPA_CAL_CANCEL, the client giving up on the
// answer, needs none: the answer is sent before the next request is read anyway.
//
// TRANS_DATA_REQ (the same range) starts the transfer: every record of the range, each as
// one or more TRANS_ON_DATA messages carrying consecutive pieces of it (at most the
// configured fragment size, the last piece flagged, word 3 the record's time), then
// TRANS_ON_DONE. Records are made one at a time, only while the socket has room for more,
// so the client's reading paces the transfer and the recorder never holds more than a
// record; a configured rate caps it further, so that progress can be watched. A new
// TRANS_DATA_REQ replaces a running transfer; TRANS_ON_FAIL 1 refuses one it cannot read.
//
// TRANS_OFF_REQ stops a running transfer at once (no further record goes out) and is
// answered with TRANS_OFF_ACK; the client also sends it after TRANS_ON_DONE, and it is
// answered then as well.
//
// Faults: after the configured number of records of a transfer, TRANS_ON_FAIL with the
// configured code (and the transfer ends), or the connection closes.
//
// Journal events: backup-capacity (the decoded range and the answer), backup-start (the
// decoded range), backup-done, backup-off (records sent per kind so far), and a fault event
// for each scripted fault.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "sim/archive.h"
#include "sim/backup_stream.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

class CBackupService final : public ISimService {
  public:
    CBackupService(const SimConfig& config, std::shared_ptr<const SimArchive> archive);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;
    void Poll(CSimConnection& connection) override;
    [[nodiscard]] bool Busy() const override { return m_busy; }

  private:
    using Clock = std::chrono::steady_clock;

    struct Counts {
        std::uint64_t video = 0;  // the display-exempt copies included
        std::uint64_t exempt = 0;
        std::uint64_t audio = 0;
        std::uint64_t eventLogs = 0;
        std::uint64_t unknown = 0;
        std::uint64_t bytes = 0;
        [[nodiscard]] std::uint64_t Records() const { return video + audio + eventLogs + unknown; }
    };

    void Capacity(CSimConnection& connection, std::span<const std::uint8_t> payload);
    void Start(CSimConnection& connection, std::span<const std::uint8_t> payload);
    bool SendRecord(CSimConnection& connection, const BackupRecord& record);
    // The scripted faults, when the record count has reached theirs. True when one fired.
    bool FaultIfDue(CSimConnection& connection);
    [[nodiscard]] bool RateAllows() const;
    [[nodiscard]] std::string CountsText() const;

    // Configuration.
    std::shared_ptr<const SimArchive> m_archive;
    protocol::ChannelMask m_channels;
    BackupStreamOptions m_streamOptions;
    std::size_t m_fragmentSize;
    std::optional<std::uint32_t> m_sizeKb;
    std::optional<std::int32_t> m_refuse;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> m_refuseSizes;
    std::uint32_t m_rateKbps;
    std::optional<std::uint32_t> m_failAfter;
    std::int32_t m_failCode;
    std::optional<std::uint32_t> m_dropAfter;

    // The transfer.
    std::optional<CBackupStream> m_stream;
    Counts m_counts;
    Clock::time_point m_started{};
    bool m_busy = false;
};

}  // namespace taviro::sim
