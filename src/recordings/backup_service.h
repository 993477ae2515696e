// CBackupService: backup download as a session module. The capacity calculation
// (TRANS_ON_REQ, its answer checked against the local disk), the transfer (TRANS_DATA_REQ,
// the records of TRANS_ON_DATA reassembled from their fragments and handed to the writer
// thread of CBackupTransfer), its end (TRANS_ON_DONE, TRANS_ON_FAIL, the user's stop, the
// connection's end) and TRANS_OFF_REQ.
//
// The window learns the capacity by recordings::WM_BACKUP_CAPACITY (to the search window), the
// transfer by recordings::WM_BACKUP_STARTED / recordings::WM_BACKUP_PROGRESS /
// recordings::WM_BACKUP_FINISHED (to the main window).
//
// Threads: requests from the owner's thread; Stop() and the destructor wait for the writer
// and belong on a worker. The receive handlers run on the receive thread and never wait on
// the writer beyond its bounded backlog.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "protocol/channel_mask.h"
#include "protocol/login_service.h"
#include "protocol/recorder_time.h"
#include "protocol/session.h"
#include "protocol/session_service.h"
#include "recordings/backup_transfer.h"

namespace taviro::recordings {

// The largest record a transfer carries: a frame header and the largest picture.
inline constexpr std::size_t kMaxTransferRecord = 192 + 1'244'160;
// What must stay free on the disk after the backup.
inline constexpr std::int64_t kBackupMarginMegabytes = 100;

struct BackupRange {
    protocol::ChannelMask channels = 0;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
    // The recording kinds: all six (63) for a range, one event kind's bit for an event.
    std::uint32_t kinds = 0x3F;
};
// TRANS_ON_REQ / TRANS_DATA_REQ: mask, the kinds (little-endian), 0, 0, start, end.
std::array<std::uint8_t, 24> EncodeBackupRange(const BackupRange& range);

// The size as the backup page shows it: "%d KByte", "%d MByte" or "%d GByte".
std::string CapacityText(std::uint32_t kilobytes);
// Whether a backup of `kilobytes` leaves the margin free of `freeMegabytes` (64-bit,
// signed: nothing wraps).
bool CapacityFits(std::uint32_t kilobytes, std::int64_t freeMegabytes);

struct BackupTarget {
    std::filesystem::path folder;  // the storage folder's Download
    std::uint64_t splitBytes = archive::kDefaultSplitBytes;
    std::function<std::int64_t()> clock;  // for tests; the system clock when empty
    // Free megabytes of the folder's disk; platform::FreeMegabytes when empty.
    std::function<std::int64_t(const std::filesystem::path&)> freeSpace;
    // For tests: a disk that fills up after this many bytes of a .vid (0: none).
    std::uint64_t vidSpaceLimit = 0;
    // A clip: the writer of each transfer instead of a backup pair in `folder` (whose disk
    // the size is still checked against). Called on the owner's thread by Start().
    std::function<std::shared_ptr<archive::ITransferWriter>()> makeWriter;
};

class CBackupService final : public protocol::ISessionService {
  public:
    CBackupService(protocol::CRecorderSession& session, protocol::CLoginService& login);
    ~CBackupService() override;

    [[nodiscard]] std::string_view Name() const override { return "backup"; }
    void Register(protocol::CDispatchTable& table) override;
    [[nodiscard]] protocol::Service Kind() const override { return protocol::Service::Backup; }
    [[nodiscard]] bool Running() const override { return m_bRunning.load(); }
    bool StopRunning() override;
    void CloseGates() override { m_bGatesClosed = true; }
    void OnClosed() override;

    // Before a capacity request or a start (owner's thread).
    void SetTarget(BackupTarget target);
    // TRANS_ON_REQ; the answer comes as recordings::WM_BACKUP_CAPACITY.
    bool RequestCapacity(const BackupRange& range);
    // CAPA_CAL_CANCEL: the size question was closed without starting.
    bool CancelCapacity();
    // TRANS_DATA_REQ with a new writer. False when the gates are closed, the request cannot
    // be queued, or the previous transfer is still writing (Finishing(): its data would
    // otherwise be lost; the caller says so and the user tries again once it has ended).
    bool Start(const BackupRange& range);
    // A transfer has not ended yet: it runs, or it writes what is queued and closes its
    // pair (recordings::WM_BACKUP_FINISHED follows).
    [[nodiscard]] bool Finishing() const;
    // The user's stop: TRANS_OFF_REQ, what is queued written, the pair closed. Waits for the
    // writer (a worker's call). False when no backup ran.
    bool Stop();

    // Sets the running mark alone, without a transfer (the rights tests of the session).
    void SetRunning(bool running) { m_bRunning.store(running); }

    // The kilobytes of the last capacity answer.
    [[nodiscard]] std::uint32_t CapacityKilobytes() const { return m_nCapacityKb.load(); }
    [[nodiscard]] std::uint64_t BytesReceived() const;
    // What the last finished backup wrote (after recordings::WM_BACKUP_FINISHED).
    [[nodiscard]] std::optional<BackupOutcome> LastOutcome() const;

  private:
    bool RecvFn_OnAck(const protocol::PacketHeader& header);
    bool RecvFn_OnNack(const protocol::PacketHeader& header);
    bool RecvFn_Data(const protocol::PacketHeader& header);
    bool RecvFn_OnDone(const protocol::PacketHeader& header);
    bool RecvFn_OnFail(const protocol::PacketHeader& header);
    bool RecvFn_OffAck(const protocol::PacketHeader& header);
    // The transfer has ended on the recorder's side: TRANS_OFF_REQ, the writer finishes.
    void EndTransfer(BackupEnd why);
    // TRANS_OFF_REQ, once per transfer; what the recorder still sends of that transfer
    // until its TRANS_OFF_ACK is dropped.
    void SendTransferOff();
    // The recorder still owes the acknowledgement of a TRANS_OFF_REQ (for a bounded time: a
    // recorder that never acknowledges holds no later backup back for ever).
    bool AwaitingOffAck() const;
    std::shared_ptr<CBackupTransfer> Transfer() const;

    protocol::CRecorderSession& m_session;
    protocol::CLoginService& m_login;
    BackupTarget m_target;  // owner's thread before requests; read by the receive thread

    mutable std::mutex m_lock;  // guards m_pTransfer and m_lastOutcome
    std::shared_ptr<CBackupTransfer> m_pTransfer;
    std::optional<BackupOutcome> m_lastOutcome;

    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bGatesClosed{false};
    std::atomic<std::uint32_t> m_nCapacityKb{0};
    std::atomic<bool> m_bAwaitOffAck{false};
    std::atomic<std::int64_t> m_nOffSentMs{0};  // steady clock
    // Counts the transfers started: a record begun under an earlier one is never completed
    // by the pieces of a later one.
    std::atomic<std::uint32_t> m_nTransferGen{0};

    // The record being reassembled and the transfer it belongs to (receive thread only).
    std::uint32_t m_nRecordGen = 0;
    std::vector<std::uint8_t> m_record;
    std::vector<std::uint8_t> m_piece;
    bool m_bOverflow = false;
};

}  // namespace taviro::recordings
