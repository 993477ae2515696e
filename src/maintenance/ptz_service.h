// Pan-tilt-zoom control on the session: which channel is steered (PTZ_CHANNEL_REQ, answered
// by PTZ_CHANNEL_ACK), the one-byte operations (PTZ_MOVE_REQ) and the end of a held move
// (PTZ_MOVE_STOP, no payload). The answer goes to the PTZ windows as WM_PTZ_CHANNEL_ACK
// (wParam the channel asked for, lParam the availability 1 or 2).
//
// A held move must never outlive the session: the service remembers whether a move is
// under way and sends its stop itself when the session closes, whatever the windows did.
//
// Threads: the requests from the owner's thread (through the outbox, never waiting); the
// RecvFn_ handler on the receive thread; the shutdown hooks on the shutdown's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "maintenance/ptz_rules.h"
#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::maintenance {

// wParam = steered channel, lParam = availability (1, 2).
inline constexpr std::uint32_t WM_PTZ_CHANNEL_ACK = 0x5416;

// What the PTZ controller sends through; CPtzService is the real one, tests record.
// Called on the owner's thread only.
class IPtzLink {
  public:
    virtual ~IPtzLink() = default;
    virtual bool SendChannel(int channel, PtzMode mode) = 0;
    virtual bool SendMove(std::uint8_t code, int number) = 0;
    virtual bool SendStop() = 0;

  protected:
    IPtzLink() = default;
    IPtzLink(const IPtzLink&) = default;
    IPtzLink& operator=(const IPtzLink&) = default;
};

// Bytes of PTZ_CHANNEL_ACK that are looked at; the rest of a longer payload is skipped.
inline constexpr std::size_t kPtzAckKept = 4;

class CPtzService final : public protocol::ISessionService, public IPtzLink {
  public:
    // Answers go to `window` (the command-line client's sink takes any).
    explicit CPtzService(protocol::CRecorderSession& session,
                         platform::Window window = platform::Window::Ptz)
        : m_session(session), m_window(window) {}

    [[nodiscard]] std::string_view Name() const override { return "ptz"; }
    void Register(protocol::CDispatchTable& table) override;
    // A move still held when the session closes is stopped before the goodbye.
    void OnClosing() override;
    void CloseGates() override { m_bClosed = true; }

    // IPtzLink. False (nothing sent) once the session is closing or the outbox refused.
    bool SendChannel(int channel, PtzMode mode) override;
    bool SendMove(std::uint8_t code, int number) override;
    bool SendStop() override;

    [[nodiscard]] bool Moving() const { return m_bMoving.load(); }
    // The channel of the last PTZ_CHANNEL_REQ (-1: none yet).
    [[nodiscard]] int SteeredChannel() const { return m_nChannel.load(); }

  private:
    bool RecvFn_PtzChannelAck(const protocol::PacketHeader& header);

    protocol::CRecorderSession& m_session;
    const platform::Window m_window;
    std::atomic<bool> m_bClosed{false};
    std::atomic<bool> m_bMoving{false};
    std::atomic<int> m_nChannel{-1};
    // The channels of the requests not yet answered, oldest first: the answer names no
    // channel, and two quick pane clicks must not credit the first answer to the second.
    std::mutex m_askedLock;
    std::deque<int> m_asked;
};

}  // namespace taviro::maintenance
