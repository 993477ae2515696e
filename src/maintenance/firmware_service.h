// Firmware upgrade on the session: FW_UPDATE_REQ, the recorder's six answers to it, and the
// transfer worker Thread_FwUpgrade that streams an image in FW_DATA messages of at most
// 8,000 bytes (the header's length is the piece's size; the last piece carries the
// last-fragment flag).
//
// The answers go to the upgrade window (Window::Firmware) as WM_FW_* with the reason code
// in lParam, but only while an upgrade window is open (its owner says so through
// SetWindowOpen); otherwise they are read and dropped. The worker posts WM_FW_PROGRESS
// (slot, percent) and, as its very last act, WM_FW_WORKER_ENDED (slot, FwWorkerResult).
//
// Threads: RequestUpdate, StartTransfer, RequestStop and SetWindowOpen from the window's
// thread (none of them waits on the network; StartTransfer joins only a worker that has
// already announced its end). The RecvFn_ handlers run on the receive thread. The
// shutdown (CloseGates) stops and joins a running worker before the goodbye goes out;
// StopTransfer does the same for an owner that may wait (the command-line client).
// Ownership: the worker owns its file; the service owns the worker and outlives it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>

#include "maintenance/firmware_scan.h"
#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::maintenance {

// The recorder's firmware answers and the transfer's progress, for the upgrade window;
// lParam = the reason code (answers) or wParam = upgrade slot (progress, end).
inline constexpr std::uint32_t WM_FW_UPDATE_ACK = 0x522A;
inline constexpr std::uint32_t WM_FW_UPDATE_NACK = 0x522B;
inline constexpr std::uint32_t WM_FW_DATA_RX_DONE = 0x522C;
inline constexpr std::uint32_t WM_FW_DATA_RX_FAIL = 0x522D;
inline constexpr std::uint32_t WM_FW_UPDATE_DONE = 0x522E;
inline constexpr std::uint32_t WM_FW_UPDATE_FAIL = 0x522F;
inline constexpr std::uint32_t WM_FW_PROGRESS = 0x5414;      // lParam = percent sent
inline constexpr std::uint32_t WM_FW_WORKER_ENDED = 0x5415;  // lParam = 0 sent, else a failure

inline constexpr std::size_t kFwChunkSize = 8000;

// lParam of WM_FW_WORKER_ENDED.
enum FwWorkerResult : std::int64_t {
    kFwSent = 0,        // every byte went out
    kFwOpenFailed = 1,  // the image could not be opened, or it is empty
    kFwReadFailed = 2,  // a read error or a file shorter than it was
    kFwSendFailed = 3,  // the connection took no more
    kFwStopped = 4,     // the stop flag ended the transfer early
};

class CFirmwareService final : public protocol::ISessionService {
  public:
    explicit CFirmwareService(protocol::CRecorderSession& session,
                              platform::Window window = platform::Window::Firmware);
    // Joins a worker that still runs (the session's shutdown normally has).
    ~CFirmwareService() override;
    CFirmwareService(const CFirmwareService&) = delete;
    CFirmwareService& operator=(const CFirmwareService&) = delete;

    [[nodiscard]] std::string_view Name() const override { return "firmware"; }
    void Register(protocol::CDispatchTable& table) override;
    void CloseGates() override;

    // The upgrade window opened or closed: the recorder's answers are forwarded only while
    // it is open.
    void SetWindowOpen(bool open) { m_bWindowOpen.store(open); }
    [[nodiscard]] bool WindowOpen() const { return m_bWindowOpen.load(); }

    // Queues FW_UPDATE_REQ; false (nothing sent) while closing or while a worker runs.
    bool RequestUpdate(const FwUpdateRequest& request);
    // Starts Thread_FwUpgrade for `slot` with the image at `path`; false while closing,
    // while another worker runs or while one is being stopped. Never waits.
    bool StartTransfer(std::size_t slot, const std::filesystem::path& path);
    // Sets the stop flag; the worker ends before its next piece. Never waits.
    void RequestStop() { m_bStop.store(true); }
    // RequestStop, then waits for the worker (at most one piece's send limit).
    void StopTransfer();
    [[nodiscard]] bool TransferRunning() const { return m_bWorkerRunning.load(); }

  private:
    void Thread_FwUpgrade(std::size_t slot, std::filesystem::path path);
    FwWorkerResult SendImage(std::size_t slot, const std::filesystem::path& path);
    bool RecvFn_Answer(const protocol::PacketHeader& header, std::uint32_t message);
    bool RecvFn_Refusal(const protocol::PacketHeader& header, std::uint32_t message);
    void JoinWorker();

    protocol::CRecorderSession& m_session;
    const platform::Window m_window;
    std::atomic<bool> m_bWindowOpen{false};
    std::atomic<bool> m_bClosed{false};
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bWorkerRunning{false};
    std::mutex m_workerLock;  // guards starting and joining m_worker
    std::thread m_worker;
};

}  // namespace taviro::maintenance
