// One client's connection on the recorder side: the socket, the login state, the closing
// schedule and the receive loop that hands whole messages to the services. Everything here
// runs on the simulator's server thread; only Stop() on CRecorderSim reaches in from
// outside, and it does so by shutting the socket down, which wakes any wait below.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"
#include "protocol/packet_header.h"
#include "protocol/wire.h"
#include "sim/journal.h"
#include "sim/service.h"

namespace taviro::sim {

// Lets another thread wake a connection's waits (by shutting its socket down) without
// racing the close of the descriptor: the connection detaches before it closes, both under
// the same lock, so Abort() never touches a descriptor number that has been reused.
class CConnectionAbort {
  public:
    void Attach(int fd);
    void Detach();
    void Abort();

  private:
    std::mutex m_lock;
    int m_fd = -1;
};

class CSimConnection {
  public:
    using Clock = std::chrono::steady_clock;

    // How long the loop sleeps at most between passes when the client is quiet.
    static constexpr std::chrono::milliseconds kPollStep{20};
    // How long a closing connection keeps reading what the client still sends, so that
    // closing with unread input does not reset the connection and destroy our last message
    // before the client has read it.
    static constexpr std::chrono::milliseconds kDrainTime{200};

    // `abort`, when given, must outlive the connection.
    CSimConnection(platform::CSocket socket, CJournal& journal,
                   std::chrono::milliseconds readTimeout, CConnectionAbort* abort = nullptr);
    ~CSimConnection();
    CSimConnection(const CSimConnection&) = delete;
    CSimConnection& operator=(const CSimConnection&) = delete;

    [[nodiscard]] int Fd() const { return m_wire.Fd(); }

    // Serves the client until it says goodbye, drops, a service or fault closes the
    // connection, or `stop` is set. Returns the reason, as journaled in the close event.
    std::string Run(std::span<const std::unique_ptr<ISimService>> services,
                    const std::atomic<bool>& stop);

    // Sends one well-formed message and journals it. After StopSending() nothing goes out
    // (and nothing is journaled) but the call still succeeds, so services need not care.
    // False when the socket failed; the loop then ends the connection.
    bool Send(std::uint16_t code, std::span<const std::uint8_t> payload, bool lastFragment = false,
              bool audioOn = false, std::string_view fault = {});
    // For faults that break the framing on purpose: a header announcing `announced` bytes,
    // then only `bytes`. Journaled with the announced length and the bytes really sent.
    bool SendBroken(std::uint16_t code, std::uint16_t announced,
                    std::span<const std::uint8_t> bytes, std::string_view fault);
    // A message built elsewhere as wire bytes (header and piece), such as a live stream
    // fragment whose header carries the frame time. Journaled without its payload bytes:
    // the stream would swamp the journal.
    bool SendPrebuilt(const protocol::PacketHeader& header, std::span<const std::uint8_t> wire);
    // --- live audio (AUDIO_ONOFF_REQ) ---
    // While the recorder sends this client audio, every header it sends carries audioOn.
    void SetAudioOn(bool on) { m_audioOn = on; }
    [[nodiscard]] bool AudioOn() const { return m_audioOn; }
    // --- end live audio ---
    void StopSending() { m_sendingStopped = true; }
    // This long after the login nothing more is read from the client (the stop-reading
    // fault).
    void SetStopReadingAfter(std::optional<std::chrono::milliseconds> after) {
        m_stopReadingAfter = after;
    }
    [[nodiscard]] bool SendingStopped() const { return m_sendingStopped; }

    // Ends the connection at the next pass / after `pause`. The earliest request wins and
    // its reason is the one journaled.
    void CloseNow(std::string_view why) { CloseAfter(std::chrono::milliseconds(0), why); }
    void CloseAfter(std::chrono::milliseconds pause, std::string_view why);
    // Ends the connection at the next pass with a reset: no goodbye, nothing drained, as
    // when the network between recorder and client breaks.
    void DropNow(std::string_view why) {
        m_reset = true;
        CloseNow(why);
    }
    [[nodiscard]] bool Closing() const { return m_closeAt.has_value(); }

    void SetLoggedIn(std::size_t userSlot);
    [[nodiscard]] bool LoggedIn() const { return m_userSlot.has_value(); }
    [[nodiscard]] std::optional<std::size_t> UserSlot() const { return m_userSlot; }
    [[nodiscard]] Clock::time_point LoginTime() const { return m_loginTime; }
    // Whole messages received on this connection so far, HELLO included.
    [[nodiscard]] std::uint32_t ReceivedMessages() const { return m_received; }

    CJournal& Journal() { return m_journal; }

  private:
    enum class ReadResult { Message, PeerClosed, Failed };
    ReadResult ReadMessage(protocol::PacketHeader& header, std::vector<std::uint8_t>& payload);
    void Dispatch(std::span<const std::unique_ptr<ISimService>> services,
                  const protocol::PacketHeader& header, std::span<const std::uint8_t> payload);
    // Half-closes, reads and drops whatever still arrives for a moment, closes.
    void Drain(const std::atomic<bool>& stop);
    // After a failed send: journals the whole messages the client left unread.
    void JournalPending();
    void CloseSocket();

    protocol::CWireSocket m_wire;
    CJournal& m_journal;
    CConnectionAbort* m_abort;
    bool m_sendingStopped = false;
    std::optional<std::chrono::milliseconds> m_stopReadingAfter;
    bool m_audioOn = false;  // live audio: see SetAudioOn
    bool m_sendFailed = false;
    bool m_reset = false;  // DropNow: closed with a reset
    std::optional<Clock::time_point> m_closeAt;
    std::string m_closeWhy;
    std::optional<std::size_t> m_userSlot;
    Clock::time_point m_loginTime{};
    std::uint32_t m_received = 0;
};

}  // namespace taviro::sim
