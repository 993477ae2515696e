// CRecorderSession: the transport of one connection to one recorder. It owns the socket
// and the session's threads: the connect thread (connects, ends), the receive thread
// Thread_Connecting (the only reader; dispatches every message), the sender thread (sends
// the queued requests in order) and the keep-alive thread (an empty message every 10 s). The
// protocol areas are service modules (ISessionService) that register their receive handlers in the
// dispatch table and send through the transport; the transport runs the shutdown in its fixed order
// and asks the services for their parts. Everything the user must learn reaches the owner's message
// sink; the session never calls window code.
//
// Threads: the owner creates the session, adds the services and starts it. Requests go
// through the outbox (Send) from any thread and never wait on the network; SendNow waits
// (up to the send limit) and is for the session's own workers (talk sender, firmware).
// DestroyWindow may wait for seconds: it runs on a worker, never on the window thread and never on
// the receive thread (it refuses to). The destructor runs it when the owner has not.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/local_log_sink.h"
#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/channel_mask.h"
#include "protocol/dispatch_table.h"
#include "protocol/outbox.h"
#include "protocol/packet_header.h"
#include "protocol/reply_collector.h"
#include "protocol/session_service.h"
#include "protocol/wire.h"

namespace taviro::protocol {

// How a session's connection ended, as its owner reads it once the receive thread (or a
// failed connect thread) is done. Only kLost is a connection the client may try to make
// again by itself: the recorder neither said goodbye nor refused, and nobody asked to stop.
enum class SessionEnd : std::uint8_t {
    kRunning,        // not ended (or never started)
    kConnectFailed,  // the connection could not be made (socket, name, connect)
    kStopped,        // the owner stopped it (disconnect, quit)
    kGoodbye,        // the recorder said goodbye (BYE48), with or without a known reason
    kRefused,        // the recorder's login answer was not accepted (unsupported product)
    kLost,           // closed, reset, read limit or send failure without a goodbye
};

struct SessionConfig {
    // Dotted IPv4, or a host name that the connect thread resolves.
    std::string address;
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
    // How long the shutdown lets queued requests and the goodbye take to go out before it
    // breaks the connection off (a recorder that stopped reading never takes them).
    std::chrono::milliseconds shutdownSendLimit{2'000};
    // The socket's send buffer in bytes (0: the system's). Tests make it small so that a
    // recorder that stops reading fills it at once.
    int sendBufferBytes = 0;
};

class CRecorderSession {
  public:
    CRecorderSession(platform::IMessageSink& owner, std::shared_ptr<platform::ILocalLog> localLog,
                     SessionConfig config);
    ~CRecorderSession();
    CRecorderSession(const CRecorderSession&) = delete;
    CRecorderSession& operator=(const CRecorderSession&) = delete;

    // Owner's thread, before Connect: the service claims its codes and takes part in the
    // shutdown. The service must outlive the session's threads.
    void AddService(ISessionService& service);

    // Starts the connect thread and returns at once; the outcome arrives as notifications.
    void Connect();
    // Runs on an already connected socket (tests and the fuzz harness use socket pairs).
    void ConnectOver(platform::CSocket connected);
    // Takes a connected socket without starting any thread, so that the caller can drive
    // ReceiveOneMessage() itself (the fuzz harness: deterministic and single-threaded).
    void AttachConnected(platform::CSocket connected);
    // The orderly shutdown. Idempotent; may wait for seconds (bounded); never on the
    // receive thread.
    void DestroyWindow();

    // --- sending ---
    // Queues one whole request for the sender thread. Never waits; false when the outbox is
    // closed (shutting down) or full, or the payload is too long for one message.
    bool Send(std::uint16_t command, std::span<const std::uint8_t> payload = {},
              bool lastFragment = false, bool audioOn = false);
    // Send, and the sender then leaves the socket alone for `gapAfter` (the recorder takes
    // play-control messages at its own pace). Never waits.
    bool SendPaced(std::uint16_t command, std::span<const std::uint8_t> payload,
                   std::chrono::milliseconds gapAfter, bool lastFragment = false,
                   bool audioOn = false);
    // Sends at once on the calling thread, waiting up to the send limit when the recorder
    // does not read. For the session's own worker threads only.
    bool SendNow(std::uint16_t command, std::span<const std::uint8_t> payload = {},
                 bool lastFragment = false, bool audioOn = false);
    // Waits up to `timeout` until a send would not have to wait (the socket takes more
    // bytes, or it is closed and a send fails at once).
    [[nodiscard]] bool WaitSendable(std::chrono::milliseconds timeout) const;
    // Waits until every queued request went out (or failed); false when `limit` passed.
    bool FlushRequests(std::chrono::milliseconds limit);
    [[nodiscard]] std::size_t QueuedRequests() const { return m_outbox.Size(); }

    // --- for services, on the receive thread ---
    bool Read(void* buffer, std::size_t count);
    // Reads the whole payload; false only when the read fails.
    bool ReadPayload(const PacketHeader& header, std::vector<std::uint8_t>& out);
    bool Discard(const PacketHeader& header);
    std::int32_t ReadReason(const PacketHeader& header,
                            std::array<std::uint8_t, 8>* extra = nullptr);
    // Reads a tabled refusal and posts what the table maps its reason to; returns the
    // reason (kReasonReadFailed when the read failed).
    std::int32_t HandleRefusal(const PacketHeader& header);
    // Reads the payload into `collector` (see CReplyCollector); false only when the read
    // fails. A fragment nobody waits for is read and dropped. `beforeDelivery` runs when the
    // reply is complete, before it is posted (the owner clears its busy flag there).
    bool ReadReply(const PacketHeader& header, CReplyCollector& collector,
                   const std::function<void()>& beforeDelivery = nullptr);
    // The receive loop ends after the message being handled.
    void StopReceiving() { m_bRecvStop = true; }
    // The login was accepted: every service is told (live view asks for its pictures).
    void NotifyLoggedIn();
    // Starts the keep-alive thread (the login, once accepted).
    void StartKeepAlive();

    // --- for services, any thread ---
    platform::IMessageSink& Owner() { return m_owner; }
    void PostControl(std::uint64_t control, platform::ControlState state);
    // A local log entry of this connection (kind 2): the user ID and the address.
    void WriteConnectionLog(std::uint32_t subType);
    [[nodiscard]] const SessionConfig& Config() const { return m_config; }
    // The recorder's dotted address (the resolved one once a host name was looked up).
    [[nodiscard]] std::string AddressText() const;

    // --- state (any thread) ---
    [[nodiscard]] bool ReceiveThreadRunning() const { return m_nSockThreadID.load() != 0; }
    [[nodiscard]] bool KeepAliveRunning() const { return m_nKeepAliveThreadID.load() != 0; }
    [[nodiscard]] bool SenderRunning() const { return m_nSendThreadID.load() != 0; }
    [[nodiscard]] bool ClosingDown() const { return m_bDestroyed.load(); }
    // How the connection ended (kRunning while it has not). Final once set: written by the
    // connect or receive thread before its last notification is posted.
    [[nodiscard]] SessionEnd EndCause() const { return m_nEnd.load(); }
    // The login was accepted at some point of this session.
    [[nodiscard]] bool WasLoggedIn() const { return m_bAccepted.load(); }
    // Receive thread: the recorder said goodbye / its answer was refused; the end that
    // follows is not a loss.
    void NoteGoodbye() { m_bGoodbye = true; }
    void NoteRefused() { m_bRefused = true; }
    // Whether the long-running service of this kind runs (false when none is added).
    [[nodiscard]] bool ServiceOn(Service kind) const;
    [[nodiscard]] bool AudioOn() const { return m_bAudioOn.load(); }
    // The recorder's audio was on when the connection ended (AudioOn() is false by then), so
    // that a connection made again after a loss can ask for it again.
    [[nodiscard]] bool AudioOnAtEnd() const { return m_bAudioOnAtEnd.load(); }
    [[nodiscard]] std::uint32_t HeaderLowBits() const { return m_nHeaderLowBits.load(); }
    // The two values of the last 12-byte refusal that keeps them (the transfer needs more
    // space than is available: needed and available size).
    [[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> TransferSizes() const;
    // The local disk check keeps its two figures (needed and available megabytes) there too.
    void SetTransferSizes(std::uint32_t needed, std::uint32_t available);

    // Reads one message (header, then its handler) from the socket on the calling thread.
    // The receive thread's loop body; the fuzz harness drives it directly. False ends the
    // connection.
    bool ReceiveOneMessage();

  private:
    void Thread_Connect();
    void Thread_Connecting();
    void Thread_Send();
    void Thread_KeepAlive();
    void StartIoThreads();
    void StopKeepAlive();
    void StopSender();
    void JoinThread(std::thread& thread);
    void SetAudioState(bool on);
    void SetAddressText(std::string address);
    bool RecvFn_Refusal(const PacketHeader& header);

    platform::IMessageSink& m_owner;
    std::shared_ptr<platform::ILocalLog> m_localLog;
    SessionConfig m_config;

    CWireSocket m_socket;
    COutbox m_outbox;
    CDispatchTable m_dispatch;
    std::vector<ISessionService*> m_services;  // in the order the shutdown asks them

    mutable std::mutex m_addressLock;  // guards m_strAddress
    std::string m_strAddress;
    mutable std::mutex m_refusalLock;  // guards m_transferSizes
    std::optional<std::pair<std::uint32_t, std::uint32_t>> m_transferSizes;

    std::atomic<bool> m_bAudioOn{false};
    std::atomic<bool> m_bAudioOnAtEnd{false};
    std::atomic<std::uint32_t> m_nHeaderLowBits{0};
    std::atomic<bool> m_bAccepted{false};  // the login was accepted at some point
    std::atomic<bool> m_bDestroyed{false};
    std::atomic<bool> m_bGoodbye{false};
    std::atomic<bool> m_bRefused{false};
    std::atomic<SessionEnd> m_nEnd{SessionEnd::kRunning};

    // Thread ids are small non-zero numbers while the thread runs, 0 otherwise.
    std::atomic<std::uint64_t> m_nSockThreadID{0};
    std::atomic<std::uint64_t> m_nConnectThreadID{0};
    std::atomic<std::uint64_t> m_nKeepAliveThreadID{0};
    std::atomic<std::uint64_t> m_nSendThreadID{0};
    std::atomic<bool> m_bRecvStop{true};
    std::atomic<bool> m_bConnectStop{false};
    std::atomic<bool> m_bSendStop{false};

    std::mutex m_keepAliveLock;  // guards the keep-alive wait and m_bKeepAliveStop changes
    std::condition_variable m_keepAliveWake;
    std::atomic<bool> m_bKeepAliveStop{true};

    std::mutex m_threadLock;  // guards starting and joining the std::thread objects
    std::thread m_connectThread;
    std::thread m_recvThread;
    std::thread m_sendThread;
    std::thread m_keepAliveThread;
    std::thread::id m_recvThreadId;
};

}  // namespace taviro::protocol
