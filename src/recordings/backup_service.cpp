#include "recordings/backup_service.h"

#include <chrono>
#include <cstdio>
#include <limits>

#include "platform/storage.h"
#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "recordings/messages.h"
#include "recordings/play_control.h"

namespace taviro::recordings {

namespace {

namespace msg = protocol::msg;
using protocol::PacketHeader;

// The size a record's header states (header and payload), 0 when it is too short to say.
std::size_t StatedRecordSize(std::span<const std::uint8_t> record, int productType) {
    if (record.size() < 32) {
        return 0;
    }
    const std::uint32_t payload =
        archive::Load32(record.data() + 28, archive::HeaderOrderFor(productType));
    const bool video = archive::KindOfRecord(record, productType) == archive::RecordKind::Video;
    return (video ? 192u : 64u) + static_cast<std::size_t>(payload);
}

}  // namespace

std::array<std::uint8_t, 24> EncodeBackupRange(const BackupRange& range) {
    return EncodePlayRequest(PlayRequest{range.channels, range.kinds, range.start, range.end});
}

std::string CapacityText(std::uint32_t kilobytes) {
    std::array<char, 32> text{};
    if (kilobytes < 1024) {
        std::snprintf(text.data(), text.size(), "%u KByte", kilobytes);
    } else if (kilobytes < 1'048'576) {
        std::snprintf(text.data(), text.size(), "%u MByte", kilobytes / 1024);
    } else {
        std::snprintf(text.data(), text.size(), "%u GByte", kilobytes / 1'048'576);
    }
    return text.data();
}

bool CapacityFits(std::uint32_t kilobytes, std::int64_t freeMegabytes) {
    const std::int64_t needed = static_cast<std::int64_t>(kilobytes) / 1024;
    return freeMegabytes - needed >= kBackupMarginMegabytes;
}

CBackupService::CBackupService(protocol::CRecorderSession& session, protocol::CLoginService& login)
    : m_session(session), m_login(login) {
    m_target.folder = platform::DefaultStorageFolder() / "Download";
}

CBackupService::~CBackupService() {
    std::shared_ptr<CBackupTransfer> transfer;
    {
        std::lock_guard lock(m_lock);
        transfer = std::move(m_pTransfer);
    }
    if (transfer) {
        // Unless the recorder said it was done, a transfer that goes with its service was
        // cut short (a clip is then not finished).
        transfer->Finish(BackupEnd::kConnectionEnded);
        transfer->Join();
    }
}

void CBackupService::Register(protocol::CDispatchTable& table) {
    const auto on = [&](std::uint16_t code, bool (CBackupService::*fn)(const PacketHeader&)) {
        table.Register(code, [this, fn](const PacketHeader& h) { return (this->*fn)(h); });
    };
    on(msg::TRANS_ON_ACK, &CBackupService::RecvFn_OnAck);
    on(msg::TRANS_ON_NACK, &CBackupService::RecvFn_OnNack);
    on(msg::TRANS_ON_DATA, &CBackupService::RecvFn_Data);
    on(msg::TRANS_ON_DONE, &CBackupService::RecvFn_OnDone);
    on(msg::TRANS_ON_FAIL, &CBackupService::RecvFn_OnFail);
    on(msg::TRANS_OFF_ACK, &CBackupService::RecvFn_OffAck);
}

void CBackupService::SetTarget(BackupTarget target) {
    std::lock_guard lock(m_lock);
    m_target = std::move(target);
}

std::shared_ptr<CBackupTransfer> CBackupService::Transfer() const {
    std::lock_guard lock(m_lock);
    return m_pTransfer;
}

std::uint64_t CBackupService::BytesReceived() const {
    const auto transfer = Transfer();
    return transfer ? transfer->BytesReceived() : 0;
}

bool CBackupService::Finishing() const {
    const auto transfer = Transfer();
    return m_bRunning.load() || (transfer && !transfer->Ended()) || AwaitingOffAck();
}

namespace {
// How long the tail of a stopped transfer may hold the next backup back.
constexpr std::int64_t kOffAckWaitMs = 5'000;

std::int64_t SteadyMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

bool CBackupService::AwaitingOffAck() const {
    return m_bAwaitOffAck.load() && SteadyMillis() - m_nOffSentMs.load() < kOffAckWaitMs;
}

void CBackupService::SendTransferOff() {
    m_nOffSentMs = SteadyMillis();
    m_bAwaitOffAck = true;
    m_session.Send(msg::TRANS_OFF_REQ);
}

std::optional<BackupOutcome> CBackupService::LastOutcome() const {
    const auto transfer = Transfer();
    if (transfer && transfer->Ended()) {
        return transfer->Outcome();
    }
    std::lock_guard lock(m_lock);
    return m_lastOutcome;
}

// --- requests ---

bool CBackupService::RequestCapacity(const BackupRange& range) {
    if (m_bGatesClosed.load()) {
        return false;
    }
    return m_session.Send(msg::TRANS_ON_REQ, EncodeBackupRange(range));
}

bool CBackupService::CancelCapacity() {
    return !m_bGatesClosed.load() && m_session.Send(msg::CAPA_CAL_CANCEL);
}

bool CBackupService::Start(const BackupRange& range) {
    if (m_bGatesClosed.load()) {
        return false;
    }
    std::shared_ptr<CBackupTransfer> finished;
    {
        std::lock_guard lock(m_lock);
        if (m_bRunning.load() || (m_pTransfer && !m_pTransfer->Ended()) || AwaitingOffAck()) {
            // A transfer still writing would take this one's records as its own or drop
            // them, and records the recorder sent before it took the last TRANS_OFF_REQ
            // would land in this one: one backup at a time, each with its own writer.
            return false;
        }
        if (m_pTransfer) {
            m_lastOutcome = m_pTransfer->Outcome();
            finished = std::move(m_pTransfer);  // joined below, outside the lock
        }
        // The request goes out before the writer exists, so a writer that fails at once
        // (a folder that cannot be made) asks the recorder to stop after it was asked to
        // start, never before.
        m_bAwaitOffAck = false;
        m_nTransferGen.fetch_add(1);
        m_bRunning = true;
        if (!m_session.Send(msg::TRANS_DATA_REQ, EncodeBackupRange(range))) {
            m_bRunning = false;
            return false;
        }
        archive::WriterOptions options;
        options.folder = m_target.folder;
        options.productType = m_login.ProductType();
        options.splitBytes = m_target.splitBytes;
        options.clock = m_target.clock;
        options.vidSpaceLimit = m_target.vidSpaceLimit;
        m_session.Owner().Post(platform::Window::Main, recordings::WM_BACKUP_STARTED,
                               m_nCapacityKb.load(), 0);
        auto onWriteFailure = [this] {
            // The writer cannot go on: the recorder stops sending.
            if (m_bRunning.exchange(false)) {
                SendTransferOff();
            }
        };
        auto writer = m_target.makeWriter ? m_target.makeWriter() : nullptr;
        m_pTransfer =
            writer ? std::make_shared<CBackupTransfer>(m_session.Owner(), std::move(writer),
                                                       std::move(onWriteFailure), m_target.folder)
                   : std::make_shared<CBackupTransfer>(m_session.Owner(), std::move(options),
                                                       std::move(onWriteFailure));
    }
    if (finished) {
        finished->Join();  // it has ended: nothing is waited for
    }
    return true;
}

void CBackupService::EndTransfer(BackupEnd why) {
    if (m_bRunning.exchange(false)) {
        SendTransferOff();
    }
    if (const auto transfer = Transfer()) {
        transfer->Finish(why);  // the writer writes what is queued and closes the pair
    }
}

bool CBackupService::Stop() {
    const bool wasRunning = m_bRunning.load();
    EndTransfer(BackupEnd::kStopped);
    std::shared_ptr<CBackupTransfer> transfer;
    {
        std::lock_guard lock(m_lock);
        transfer = m_pTransfer;
    }
    if (transfer) {
        transfer->Join();
    }
    return wasRunning;
}

bool CBackupService::StopRunning() {
    if (!m_bRunning.load()) {
        return false;
    }
    EndTransfer(BackupEnd::kConnectionEnded);
    return true;
}

void CBackupService::OnClosed() {
    // Every session thread has ended: nothing more arrives, the pair is closed as it stands.
    m_bRunning = false;
    if (const auto transfer = Transfer()) {
        transfer->Finish(BackupEnd::kConnectionEnded);
        transfer->Join();
    }
}

// --- the recorder's answers (receive thread) ---

bool CBackupService::RecvFn_OnAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    if (payload.size() < 4) {
        return true;  // nothing to go by
    }
    const std::uint32_t kilobytes = protocol::LoadBE32(payload.data());
    m_nCapacityKb = kilobytes;
    std::filesystem::path folder;
    std::function<std::int64_t(const std::filesystem::path&)> freeSpace;
    {
        std::lock_guard lock(m_lock);
        folder = m_target.folder;
        freeSpace = m_target.freeSpace;
    }
    const std::int64_t free = freeSpace ? freeSpace(folder) : platform::FreeMegabytes(folder);
    const bool fits = CapacityFits(kilobytes, free);
    if (!fits) {
        // The notification shows what is needed and what may be used.
        const std::int64_t needed = kilobytes / 1024;
        const std::int64_t available = std::max<std::int64_t>(free - kBackupMarginMegabytes, 0);
        m_session.SetTransferSizes(static_cast<std::uint32_t>(needed),
                                   static_cast<std::uint32_t>(std::min<std::int64_t>(
                                       available, std::numeric_limits<std::uint32_t>::max())));
        m_session.Owner().Notify(13, 0);
    }
    m_session.Owner().Post(platform::Window::Search, recordings::WM_BACKUP_CAPACITY, kilobytes,
                           fits ? 1 : 0);
    return true;
}

bool CBackupService::RecvFn_OnNack(const PacketHeader& header) {
    if (m_session.HandleRefusal(header) == protocol::kReasonReadFailed) {
        return false;
    }
    m_session.Owner().Post(platform::Window::Search, recordings::WM_BACKUP_CAPACITY, 0, -1);
    return true;
}

bool CBackupService::RecvFn_Data(const PacketHeader& header) {
    const std::size_t length = header.Length();
    const std::uint32_t generation = m_nTransferGen.load();
    if (generation != m_nRecordGen) {
        // A record begun for an earlier transfer: its rest never comes.
        m_nRecordGen = generation;
        m_record.clear();
        m_bOverflow = false;
    }
    if (!m_bRunning.load() || m_bAwaitOffAck.load()) {
        // No transfer runs, or this is the tail of a stopped one: read and dropped.
        m_record.clear();
        m_bOverflow = false;
        m_piece.resize(length);
        return m_session.Read(m_piece.data(), length);
    }
    if (m_bOverflow || m_record.size() + length > kMaxTransferRecord) {
        // More than any record can hold: the rest of it is read and dropped.
        m_bOverflow = true;
        m_record.clear();
        m_piece.resize(length);
        if (!m_session.Read(m_piece.data(), length)) {
            return false;
        }
    } else {
        // Each piece is read straight into the record being built.
        const std::size_t at = m_record.size();
        m_record.resize(at + length);
        if (!m_session.Read(m_record.data() + at, length)) {
            return false;
        }
        if (at == 0 && !header.LastFragment()) {
            // The first piece holds the record's header: room for all of it at once (within
            // the bound), so a large picture is not copied again while it grows.
            m_record.reserve(
                std::min(kMaxTransferRecord, StatedRecordSize(m_record, m_login.ProductType())));
        }
    }
    if (!header.LastFragment()) {
        return true;
    }
    const bool whole = !m_bOverflow;
    m_bOverflow = false;
    std::vector<std::uint8_t> record;
    record.swap(m_record);
    m_record.reserve(64 * 1024);
    if (!whole || !m_bRunning.load()) {
        return true;
    }
    const auto kind = archive::KindOfRecord(record, m_login.ProductType());
    if (const auto transfer = Transfer()) {
        transfer->Put(kind, std::move(record));
    }
    return true;
}

bool CBackupService::RecvFn_OnDone(const PacketHeader& header) {
    if (!m_session.Discard(header)) {
        return false;
    }
    EndTransfer(BackupEnd::kDone);
    return true;
}

bool CBackupService::RecvFn_OnFail(const PacketHeader& header) {
    if (m_session.HandleRefusal(header) == protocol::kReasonReadFailed) {
        return false;
    }
    EndTransfer(BackupEnd::kRecorderFailed);
    return true;
}

bool CBackupService::RecvFn_OffAck(const PacketHeader& header) {
    // The recorder has taken the stop: nothing more of that transfer follows.
    m_bAwaitOffAck = false;
    m_record.clear();
    m_bOverflow = false;
    return m_session.Discard(header);
}

}  // namespace taviro::recordings
