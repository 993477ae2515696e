// The recorder's log and status, asked for by the search window's Log and Info pages (and
// the command-line client): LOG_INFO_REQ and STATUS_INFO_REQ, whose answers come in
// fragments. The reply collector gathers the one outstanding answer, bounded at the
// window's 2,400,000 bytes, and hands it to the search window as a posted message with its
// own copy of the bytes: logs::WM_RECORDER_LOG_DONE or logs::WM_RECORDER_STATUS_DONE.
//
// Only the answer asked for is taken: a status reply during a log reply, or a
// SYSTEM_INFO_ACK nobody asked for, is read off the socket and dropped. A refusal is shown
// by the main window (the refusal table) and ends the wait: the same done message is
// posted without bytes and with lParam kInfoRefused, so the window clears its busy flag and
// stays open.
//
// Threads: requests and Cancel from any thread (they never wait); the RecvFn_ handlers on
// the receive thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "protocol/reply_collector.h"
#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::logs {

inline constexpr std::size_t kInfoReplyCapacity = 2'400'000;
// lParam of a done message that ends a refused request.
inline constexpr std::int64_t kInfoRefused = -1;

class CInfoService final : public protocol::ISessionService {
  public:
    // Answers go to `window` (the search window; the command-line client's sink takes any).
    explicit CInfoService(protocol::CRecorderSession& session,
                          std::size_t capacity = kInfoReplyCapacity,
                          platform::Window window = platform::Window::Search);

    [[nodiscard]] std::string_view Name() const override { return "info"; }
    void Register(protocol::CDispatchTable& table) override;
    void CloseGates() override;

    // LOG_INFO_REQ / STATUS_INFO_REQ; false (nothing sent) while busy or closing.
    bool RequestLog();
    bool RequestStatus();
    // The window gave up waiting (it closed): busy off, the answer is dropped.
    void Cancel();
    [[nodiscard]] bool Busy() const { return m_bBusy.load(); }

  private:
    bool Begin(std::uint16_t request, std::uint16_t answer, std::uint32_t message);
    bool RecvFn_Answer(const protocol::PacketHeader& header);
    bool RecvFn_Refusal(const protocol::PacketHeader& header);

    protocol::CRecorderSession& m_session;
    protocol::CReplyCollector m_collector;
    const platform::Window m_window;
    std::atomic<bool> m_bBusy{false};
    std::atomic<bool> m_bClosed{false};
};

}  // namespace taviro::logs
