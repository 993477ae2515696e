#include "maintenance/firmware_service.h"

#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/trace.h"
#include "protocol/catalogue.h"

namespace taviro::maintenance {

namespace {

namespace msg = protocol::msg;
using platform::Trace;
using protocol::PacketHeader;

}  // namespace

CFirmwareService::CFirmwareService(protocol::CRecorderSession& session, platform::Window window)
    : m_session(session), m_window(window) {}

CFirmwareService::~CFirmwareService() {
    StopTransfer();
}

void CFirmwareService::Register(protocol::CDispatchTable& table) {
    const std::pair<std::uint16_t, std::uint32_t> answers[] = {
        {msg::FW_UPDATE_ACK, maintenance::WM_FW_UPDATE_ACK},
        {msg::FW_DATA_RX_DONE, maintenance::WM_FW_DATA_RX_DONE},
        {msg::FW_UPDATE_DONE, maintenance::WM_FW_UPDATE_DONE},
    };
    for (const auto& [code, message] : answers) {
        table.Register(code, [this, message = message](const PacketHeader& h) {
            return RecvFn_Answer(h, message);
        });
    }
    const std::pair<std::uint16_t, std::uint32_t> refusals[] = {
        {msg::FW_UPDATE_NACK, maintenance::WM_FW_UPDATE_NACK},
        {msg::FW_DATA_RX_FAIL, maintenance::WM_FW_DATA_RX_FAIL},
        {msg::FW_UPDATE_FAIL, maintenance::WM_FW_UPDATE_FAIL},
    };
    for (const auto& [code, message] : refusals) {
        table.Register(code, [this, message = message](const PacketHeader& h) {
            return RecvFn_Refusal(h, message);
        });
    }
}

void CFirmwareService::CloseGates() {
    // The goodbye must not go out between two pieces of an image: the worker is stopped and
    // waited for here, before the transport queues it.
    m_bClosed = true;
    StopTransfer();
}

bool CFirmwareService::RequestUpdate(const FwUpdateRequest& request) {
    if (m_bClosed.load() || m_bWorkerRunning.load()) {
        return false;
    }
    Trace("Send... FW_UPDATE_REQ...\n");
    return m_session.Send(msg::FW_UPDATE_REQ, request);
}

bool CFirmwareService::StartTransfer(std::size_t slot, const std::filesystem::path& path) {
    if (m_bClosed.load() || m_bWorkerRunning.load()) {
        return false;
    }
    // The window's thread never waits here: the lock is held for long only by a stop or the
    // shutdown joining a worker stuck in a send, and then no transfer may start anyway.
    std::unique_lock lock(m_workerLock, std::try_to_lock);
    if (!lock.owns_lock() || m_bClosed.load() || m_bWorkerRunning.load()) {
        return false;
    }
    // The previous worker has already said it ended; this join does not wait on anything.
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_bStop = false;
    m_bWorkerRunning = true;
    m_worker = std::thread([this, slot, path] { Thread_FwUpgrade(slot, path); });
    return true;
}

void CFirmwareService::StopTransfer() {
    m_bStop = true;
    JoinWorker();
}

void CFirmwareService::JoinWorker() {
    std::lock_guard lock(m_workerLock);
    // Under the lock: a transfer that started after the caller's stop request (its start
    // clears the flag) is stopped too, so the join never waits for a whole image.
    m_bStop = true;
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CFirmwareService::Thread_FwUpgrade(std::size_t slot, std::filesystem::path path) {
    Trace("Thread_FwUpgrade Start...\n");
    const FwWorkerResult result = SendImage(slot, path);
    Trace("Thread_FwUpgrade close...\n");
    m_bStop = true;
    // Cleared before the last message, so the window that receives it may start the next
    // request at once.
    m_bWorkerRunning = false;
    m_session.Owner().Post(m_window, maintenance::WM_FW_WORKER_ENDED, slot, result);
}

FwWorkerResult CFirmwareService::SendImage(std::size_t slot, const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!file || error || size == 0) {
        return kFwOpenFailed;
    }
    std::vector<std::uint8_t> chunk(kFwChunkSize);
    std::uint64_t remaining = size;
    std::int64_t lastPercent = -1;
    while (remaining > 0) {
        if (m_bStop.load()) {
            return kFwStopped;
        }
        const bool last = remaining <= kFwChunkSize;
        const std::size_t want = last ? static_cast<std::size_t>(remaining) : kFwChunkSize;
        file.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(want));
        // A file that shrank or cannot be read ends the transfer: the recorder would
        // otherwise take a truncated image for a whole one.
        if (file.gcount() != static_cast<std::streamsize>(want)) {
            return kFwReadFailed;
        }
        if (!m_session.SendNow(msg::FW_DATA, std::span<const std::uint8_t>(chunk.data(), want),
                               last)) {
            return kFwSendFailed;
        }
        remaining -= want;
        const auto percent = static_cast<std::int64_t>((size - remaining) * 100 / size);
        if (percent != lastPercent) {
            lastPercent = percent;
            m_session.Owner().Post(m_window, maintenance::WM_FW_PROGRESS, slot, percent);
        }
        std::this_thread::yield();
    }
    return kFwSent;
}

bool CFirmwareService::RecvFn_Answer(const PacketHeader& header, std::uint32_t message) {
    // These answers carry nothing; whatever comes with them is read over.
    if (!m_session.Discard(header)) {
        return false;
    }
    if (m_bWindowOpen.load()) {
        m_session.Owner().Post(m_window, message, 0, 0);
    }
    return true;
}

bool CFirmwareService::RecvFn_Refusal(const PacketHeader& header, std::uint32_t message) {
    // The whole payload is read; the reason is its first four bytes (-100 when shorter).
    const std::int32_t reason = m_session.ReadReason(header);
    if (reason == protocol::kReasonReadFailed) {
        return false;
    }
    if (message == maintenance::WM_FW_UPDATE_NACK) {
        Trace("RecvFn_FwUpdateNack... %d\n", reason);
    }
    if (m_bWindowOpen.load()) {
        m_session.Owner().Post(m_window, message, 0, reason);
    }
    return true;
}

}  // namespace taviro::maintenance
