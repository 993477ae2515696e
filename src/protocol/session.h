// CRecorderSession: the client's side of one connection to one recorder. It owns the
// socket and three threads: the connect thread (connects, sends HELLO, ends), the receive
// thread Thread_Connecting (the only reader; runs every receive handler) and the
// keep-alive thread. Everything the user must learn reaches the owner's message sink as
// WM_RECORDER_NOTIFY (category, code); the session never calls window code.
//
// Threads: the owner's thread creates the session, calls Connect(), sends requests and
// calls DestroyWindow(); it must never call DestroyWindow() from a sink callback that runs
// on the receive thread. The destructor runs DestroyWindow() when the owner has not.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/channel_mask.h"
#include "protocol/hello.h"
#include "protocol/packet_header.h"
#include "protocol/wire.h"

namespace taviro::protocol {

struct SessionConfig {
    std::string address;  // dotted IPv4; host names are resolved before the session
    std::uint16_t port = 0;
    std::string userId;
    std::string password;
    std::string description;  // free text of the connect dialog; never sent

    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds keepAliveInterval{10'000};
    std::chrono::milliseconds recvLimit = kDefaultRecvLimit;
    // Pause after the recorder closed before the receive thread ends (lets a goodbye
    // reason be presented first); cut short by a stop request.
    std::chrono::milliseconds closeGrace{1'000};
};

// Which long-running service is active; shutdown stops the one that is on.
enum class Service { Live, Playback, Backup, Talk };

class CRecorderSession {
  public:
    CRecorderSession(platform::IMessageSink& owner, logs::ILocalLog* localLog,
                     SessionConfig config);
    ~CRecorderSession();
    CRecorderSession(const CRecorderSession&) = delete;
    CRecorderSession& operator=(const CRecorderSession&) = delete;

    // Starts the connect thread and returns at once; the outcome arrives as notifications
    // and as WM_SESSION_LOGGED_IN once the login answer was accepted.
    void Connect();
    // Runs the receive thread on an already connected socket and sends HELLO, as the
    // connect thread does after connecting (tests and the fuzz harness use socket pairs).
    void ConnectOver(platform::CSocket connected);
    // Takes a connected socket without starting any thread, so that the caller can drive
    // ReceiveOneMessage() itself (the fuzz harness: deterministic and single-threaded).
    void AttachConnected(platform::CSocket connected);
    // The orderly shutdown. Idempotent; runs on the owner's thread.
    void DestroyWindow();

    // --- requests (any thread; each message goes out whole) ---
    bool Send(std::uint16_t command, std::span<const std::uint8_t> payload = {},
              bool lastFragment = false, bool audioOn = false);
    // The live request for a channel selection; marks live as on.
    bool SendLiveRequest(ChannelMask mask);

    // --- state (any thread) ---
    [[nodiscard]] bool LoggedIn() const { return m_bLoggedIn.load(); }
    [[nodiscard]] bool HelloAccepted() const { return m_bHelloAccepted.load(); }
    [[nodiscard]] bool Ready() const { return m_bReady.load(); }
    [[nodiscard]] int ProductType() const { return m_nProductType.load(); }
    [[nodiscard]] int ChannelCount() const;
    [[nodiscard]] HelloAck Hello() const;
    [[nodiscard]] bool AudioOn() const { return m_bAudioOn.load(); }
    [[nodiscard]] ChannelMask AudioChannelMask() const { return m_nAudioChannelMask.load(); }
    void SetAudioChannelMask(ChannelMask mask) { m_nAudioChannelMask.store(mask); }
    [[nodiscard]] std::uint32_t HeaderLowBits() const { return m_nHeaderLowBits.load(); }
    [[nodiscard]] bool PlaybackViewChannelCapable() const { return m_bPlayViewCh.load(); }
    [[nodiscard]] bool ReceiveThreadRunning() const { return m_nSockThreadID.load() != 0; }
    [[nodiscard]] bool KeepAliveRunning() const { return m_nKeepAliveThreadID.load() != 0; }
    [[nodiscard]] bool ServiceOn(Service s) const;
    void SetServiceOn(Service s, bool on);
    [[nodiscard]] const SessionConfig& Config() const { return m_config; }
    // The password currently in force (the recorder's user list may replace it).
    [[nodiscard]] std::string Password() const;
    // The two values of the last 12-byte refusal that keeps them (the transfer needs more
    // space than is available: needed and available size).
    [[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> TransferSizes() const;

    // Reads one message (header, then its handler) from the socket on the calling thread.
    // The receive thread's loop body; the fuzz harness drives it directly. False ends the
    // connection.
    bool ReceiveOneMessage();

  private:
    using Handler = bool (CRecorderSession::*)(const PacketHeader&);

    void Thread_Connect();
    void Thread_Connecting();
    void Thread_KeepAlive();
    void StartReceiveThread();
    void StartKeepAlive();
    void StopKeepAlive();
    void JoinThread(std::thread& thread);
    void WriteConnectionLog(std::uint32_t subType);
    void PostControl(std::uint64_t control, platform::ControlState state);
    void SetAudioState(bool on);

    bool RecvFn_Hello48Ack(const PacketHeader& header);
    bool RecvFn_Bye48(const PacketHeader& header);
    bool RecvFn_Refusal(const PacketHeader& header);

    static const std::array<Handler, 512>& Handlers();

    platform::IMessageSink& m_owner;
    logs::ILocalLog* m_localLog;
    SessionConfig m_config;

    CWireSocket m_socket;

    mutable std::mutex m_helloLock;  // guards m_hello and m_strPassword
    HelloAck m_hello;
    std::string m_strPassword;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> m_transferSizes;

    std::atomic<int> m_nProductType{0};
    std::atomic<bool> m_bLoggedIn{false};
    std::atomic<bool> m_bHelloAccepted{false};
    std::atomic<bool> m_bReady{false};
    std::atomic<bool> m_bAudioOn{false};
    std::atomic<ChannelMask> m_nAudioChannelMask{0};
    std::atomic<std::uint32_t> m_nHeaderLowBits{0};
    std::atomic<bool> m_bPlayViewCh{false};
    std::atomic<bool> m_bLiveOn{false};
    std::atomic<bool> m_bPlaybackOn{false};
    std::atomic<bool> m_bBackupOn{false};
    std::atomic<bool> m_bTalkOn{false};
    std::atomic<bool> m_bDestroyed{false};

    // Thread ids are small non-zero numbers while the thread runs, 0 otherwise.
    std::atomic<std::uint64_t> m_nSockThreadID{0};
    std::atomic<std::uint64_t> m_nConnectThreadID{0};
    std::atomic<std::uint64_t> m_nKeepAliveThreadID{0};
    std::atomic<bool> m_bRecvStop{true};
    std::atomic<bool> m_bConnectStop{false};

    std::mutex m_keepAliveLock;  // guards the keep-alive wait and m_bKeepAliveStop changes
    std::condition_variable m_keepAliveWake;
    std::atomic<bool> m_bKeepAliveStop{true};

    std::mutex m_threadLock;  // guards starting and joining the std::thread objects
    std::thread m_connectThread;
    std::thread m_recvThread;
    std::thread m_keepAliveThread;
    std::thread::id m_recvThreadId;
};

}  // namespace taviro::protocol
