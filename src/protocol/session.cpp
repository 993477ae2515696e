#include "protocol/session.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/refusals.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {

using platform::ControlState;
using platform::Trace;
using platform::Window;

namespace {

std::uint64_t NextThreadId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1);
}

constexpr std::chrono::milliseconds kIdlePoll{100};
constexpr std::chrono::milliseconds kSenderPoll{100};
constexpr std::chrono::milliseconds kKeepAliveProbeIdle{3'000};
constexpr std::chrono::milliseconds kKeepAliveProbeInterval{2'000};
constexpr std::chrono::milliseconds kShutdownReadGrace{2'000};
// How long a closing connection reads on, dropping what comes, until the recorder closes;
// and how long the recorder may stay silent meanwhile (it has read everything then).
constexpr std::chrono::milliseconds kCloseDrain{1'000};
constexpr std::chrono::milliseconds kCloseQuiet{100};
// The least time a recorder has to answer the login, whatever the connect timeout.
constexpr std::chrono::milliseconds kLoginAnswerMin{3'000};

// Reads and drops what arrives until the peer closes, stays quiet for kCloseQuiet, an
// error, or `limit` has passed.
void DrainUntilClosed(CWireSocket& socket, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::uint8_t scratch[4096];
    for (;;) {
        const int fd = socket.Fd();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (fd < 0 || left.count() <= 0 ||
            platform::WaitReadable(fd, std::min(left, kCloseQuiet)) !=
                platform::WaitResult::Ready) {
            return;
        }
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return;
        }
    }
}

// Whole wire bytes of one message.
std::vector<std::uint8_t> WireMessage(std::uint16_t command, std::span<const std::uint8_t> payload,
                                      bool lastFragment, bool audioOn) {
    const auto header = PacketHeader::Make(command, static_cast<std::uint16_t>(payload.size()),
                                           lastFragment, audioOn);
    std::vector<std::uint8_t> wire(kHeaderSize + payload.size());
    const auto head = header.ToNetwork();
    std::copy(head.begin(), head.end(), wire.begin());
    std::copy(payload.begin(), payload.end(), wire.begin() + kHeaderSize);
    return wire;
}

// The code of a message in wire form (for traces).
std::uint16_t WireCommand(const std::vector<std::uint8_t>& wire) {
    return PacketHeader::FromNetwork(wire.data()).Command();
}

}  // namespace

CRecorderSession::CRecorderSession(platform::IMessageSink& owner,
                                   std::shared_ptr<platform::ILocalLog> localLog,
                                   SessionConfig config)
    : m_owner(owner), m_localLog(std::move(localLog)), m_config(std::move(config)) {
    m_strAddress = m_config.address;
    m_socket.SetRecvLimit(m_config.recvLimit);
    PostControl(protocol::kCtlConnect, ControlState::kPressed);
}

CRecorderSession::~CRecorderSession() {
    DestroyWindow();
    // DestroyWindow refuses to run on the receive thread; whatever still runs is joined
    // here so no thread outlives the object.
    m_bConnectStop = true;
    m_bRecvStop = true;
    StopKeepAlive();
    StopSender();
    JoinThread(m_connectThread);
    JoinThread(m_recvThread);
}

void CRecorderSession::AddService(ISessionService& service) {
    service.Register(m_dispatch);
    m_services.push_back(&service);
    std::stable_sort(m_services.begin(), m_services.end(),
                     [](const ISessionService* a, const ISessionService* b) {
                         return static_cast<int>(a->Kind()) < static_cast<int>(b->Kind());
                     });
}

void CRecorderSession::JoinThread(std::thread& thread) {
    // The thread object is taken out under the lock and joined outside it: the thread
    // being joined may itself need the lock (the receive thread starts the keep-alive).
    std::thread local;
    {
        std::lock_guard lock(m_threadLock);
        if (!thread.joinable() || thread.get_id() == std::this_thread::get_id()) {
            return;
        }
        local = std::move(thread);
    }
    local.join();
}

void CRecorderSession::Connect() {
    std::lock_guard lock(m_threadLock);
    if (m_bDestroyed || m_connectThread.joinable()) {
        return;
    }
    m_nConnectThreadID = NextThreadId();
    m_connectThread = std::thread(&CRecorderSession::Thread_Connect, this);
}

void CRecorderSession::ConnectOver(platform::CSocket connected) {
    m_socket.Attach(std::move(connected));
    StartIoThreads();
    for (ISessionService* service : m_services) {
        service->OnConnected();
    }
}

void CRecorderSession::AttachConnected(platform::CSocket connected) {
    m_socket.Attach(std::move(connected));
    m_socket.SetNonBlocking(true);
}

void CRecorderSession::Thread_Connect() {
    struct Done {
        std::atomic<std::uint64_t>& id;
        ~Done() { id = 0; }
    } done{m_nConnectThreadID};

    platform::CSocket socket = platform::CSocket::CreateTcp();
    if (!socket.Valid()) {
        m_nEnd = SessionEnd::kConnectFailed;
        // No socket at all (descriptors used up): told, and the session released, like any
        // other connect that cannot be made.
        m_owner.Post(Window::Main, protocol::WM_RELEASE_SESSION, 0, 0);
        m_owner.Notify(0, 0);
        return;
    }
    socket.SetKeepAlive(kKeepAliveProbeIdle, kKeepAliveProbeInterval);
    socket.SetNoDelay(true);
    if (m_config.sendBufferBytes > 0) {
        socket.SetSendBuffer(m_config.sendBufferBytes);
    }
    // A host name is resolved here, on the connect thread, so nobody else waits for it.
    auto address = platform::ParseIPv4(m_config.address, m_config.port);
    if (!address && !m_config.address.empty()) {
        if (const auto dotted = platform::ResolveIPv4(m_config.address)) {
            SetAddressText(*dotted);
            address = platform::ParseIPv4(*dotted, m_config.port);
        }
        if (!address) {
            Trace("connect failed: cannot resolve %s\n", m_config.address.c_str());
            m_nEnd = SessionEnd::kConnectFailed;
            // A name nobody knows: the connection cannot be opened, and the operator is
            // told so, like a refused connect, instead of a Connect button that stays down.
            m_owner.Post(Window::Main, protocol::WM_RELEASE_SESSION, 0, 0);
            m_owner.Notify(0, 1);  // code 1: the name is unknown (0: no socket)
            WriteConnectionLog(platform::log_entry::kConnectFailed);
            return;
        }
    }
    platform::ConnectResult result = platform::ConnectResult::OtherError;
    int err = 0;
    if (address) {
        result = platform::ConnectWithTimeout(
            socket, *address, m_config.connectTimeout,
            [](const void* self) {
                return static_cast<const CRecorderSession*>(self)->m_bConnectStop.load();
            },
            this, &err);
    }
    if (result != platform::ConnectResult::Ok) {
        socket.Close();
        Trace("connect failed: %d\n", err);
        // Set before the notifications, and also when nothing is posted (other errors).
        if (!m_bConnectStop) {
            m_nEnd = SessionEnd::kConnectFailed;
        }
        // Any failure but the owner's own cancel is told: an unreachable network or host
        // reads as a recorder that does not answer, instead of a connect left hanging with
        // the Connect button down and nothing said.
        if (result == platform::ConnectResult::Refused) {
            m_owner.Post(Window::Main, protocol::WM_RELEASE_SESSION, 0, 0);
            m_owner.Notify(1, 1);
        } else if (result != platform::ConnectResult::Cancelled && !m_bConnectStop) {
            m_owner.Post(Window::Main, protocol::WM_RELEASE_SESSION, 0, 0);
            m_owner.Notify(1, 0);
        }
        WriteConnectionLog(platform::log_entry::kConnectFailed);
        return;
    }
    m_socket.Attach(std::move(socket));
    if (m_bConnectStop) {
        return;  // the owner is shutting down; it closes the socket
    }
    StartIoThreads();
    for (ISessionService* service : m_services) {
        service->OnConnected();
    }
}

void CRecorderSession::StartIoThreads() {
    std::lock_guard lock(m_threadLock);
    if (m_bDestroyed || m_recvThread.joinable()) {
        return;
    }
    m_bRecvStop = false;
    m_nSockThreadID = NextThreadId();
    m_recvThread = std::thread(&CRecorderSession::Thread_Connecting, this);
    m_recvThreadId = m_recvThread.get_id();
    m_bSendStop = false;
    m_nSendThreadID = NextThreadId();
    m_sendThread = std::thread(&CRecorderSession::Thread_Send, this);
}

void CRecorderSession::Thread_Connecting() {
    m_socket.SetNonBlocking(true);
    bool asked = false;  // the loop ended because the owner stopped it
    // A recorder that takes the connection but never answers the login (a host whose
    // listener never accepts, a stalled peer) is a connect that timed out, not a session
    // that ended: the operator is told that the recorder did not answer.
    const auto answerBy =
        std::chrono::steady_clock::now() + std::max(m_config.connectTimeout, kLoginAnswerMin);
    bool noAnswer = false;
    for (;;) {
        if (m_bRecvStop) {
            asked = true;
            break;
        }
        if (!m_bAccepted && !m_bRefused && !m_bGoodbye &&
            std::chrono::steady_clock::now() >= answerBy) {
            Trace("connect failed: no answer to the login\n");
            noAnswer = true;
            break;
        }
        const int fd = m_socket.Fd();
        if (fd < 0) {
            break;
        }
        pollfd p{fd, static_cast<short>(POLLIN | POLLRDHUP), 0};
        const int n = ::poll(&p, 1, static_cast<int>(kIdlePoll.count()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || (p.revents & (POLLERR | POLLNVAL))) {
            break;
        }
        if (n == 0) {
            continue;
        }
        bool closed = false;
        if (p.revents & POLLIN) {
            std::uint8_t probe = 0;
            const ssize_t k = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
            if (k > 0) {
                // Data still waiting is read even when the recorder has closed after it.
                if (!ReceiveOneMessage()) {
                    break;
                }
                continue;
            }
            if (k == 0) {
                closed = true;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                break;
            }
        } else if (p.revents & (POLLHUP | POLLRDHUP)) {
            closed = true;
        }
        if (closed) {
            const auto until = std::chrono::steady_clock::now() + m_config.closeGrace;
            while (!m_bRecvStop && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            m_socket.ShutdownSend();
            break;
        }
    }
    if (asked) {
        // The goodbye went out before this thread was stopped. Closing with the recorder's
        // stream still unread would reset the connection, and a reset can destroy the
        // goodbye before the recorder has read it: end the sending side and read on until
        // the recorder closes (briefly).
        m_socket.ShutdownSend();
        DrainUntilClosed(m_socket, kCloseDrain);
    }
    m_socket.Close();
    if (noAnswer) {
        SessionEnd running = SessionEnd::kRunning;
        m_nEnd.compare_exchange_strong(running, SessionEnd::kConnectFailed);
        m_bRecvStop = true;
        m_nSockThreadID = 0;
        SetAudioState(false);
        m_owner.Post(Window::Main, protocol::WM_RELEASE_SESSION, 0, 0);
        m_owner.Notify(1, 0);
        WriteConnectionLog(platform::log_entry::kConnectFailed);
        return;
    }
    // The cause is settled before (2, 0) goes out, so whoever acts on it reads it final.
    SessionEnd end = SessionEnd::kLost;
    if (m_bRefused) {
        end = SessionEnd::kRefused;
    } else if (m_bGoodbye) {
        end = SessionEnd::kGoodbye;
    } else if (asked || m_bDestroyed) {
        // Once the owner's shutdown has begun, the recorder closing (after our goodbye,
        // often before the stop flag is seen) is the end the owner asked for.
        end = SessionEnd::kStopped;
    }
    SessionEnd running = SessionEnd::kRunning;
    m_nEnd.compare_exchange_strong(running, end);
    m_bRecvStop = true;
    m_nSockThreadID = 0;
    m_bAudioOnAtEnd = m_bAudioOn.load();
    SetAudioState(false);
    m_owner.Notify(2, 0);
}

void CRecorderSession::Thread_Send() {
    // Sends what the outbox holds, in order, until asked to stop and nothing is left. A
    // message the socket does not take within the send limit fails; the stream is then
    // broken off (see CWireSocket) and the rest fails at once.
    for (;;) {
        std::chrono::milliseconds gap{0};
        auto wire = m_outbox.Pop(kSenderPoll, &gap);
        if (!wire) {
            if (m_bSendStop && (m_outbox.Size() == 0 || m_outbox.Closed())) {
                break;
            }
            continue;
        }
        const std::uint16_t command = WireCommand(*wire);
        Trace("Send... %s...\n", MessageName(command, Direction::ClientToRecorder).data());
        if (!m_socket.SendAll(*wire)) {
            Trace("Send... %s... failed\n",
                  MessageName(command, Direction::ClientToRecorder).data());
        } else if (gap.count() > 0 && !m_bSendStop) {
            // The recorder takes play-control messages at its own pace.
            std::this_thread::sleep_for(gap);
        }
        m_outbox.Done();
    }
    m_nSendThreadID = 0;
}

void CRecorderSession::StopSender() {
    m_bSendStop = true;
    m_outbox.Close();
    JoinThread(m_sendThread);
    m_nSendThreadID = 0;
}

bool CRecorderSession::ReceiveOneMessage() {
    std::uint8_t raw[kHeaderSize];
    if (!RecvExact(m_socket, raw, sizeof raw)) {
        return false;
    }
    const PacketHeader header = PacketHeader::FromNetwork(raw);
    m_nHeaderLowBits = header.LowBits();
    SetAudioState(header.AudioOn());

    const std::uint16_t command = header.Command();
    Trace("Recv...%s... %u\n", MessageName(command, Direction::RecorderToClient).data(),
          static_cast<unsigned>(header.Length()));
    if (const CDispatchTable::Handler* handler = m_dispatch.Find(command)) {
        return (*handler)(header);
    }
    if (FindRefusal(command) != nullptr) {
        return RecvFn_Refusal(header);
    }
    // Codes without a handler, acknowledgements included, are read over in step. An
    // acknowledgement that should be empty but says otherwise is skipped by its length
    // too: reading nothing would take its payload for the next header.
    return DiscardPayload(m_socket, header);
}

bool CRecorderSession::RecvFn_Refusal(const PacketHeader& header) {
    return HandleRefusal(header) != kReasonReadFailed;
}

std::int32_t CRecorderSession::HandleRefusal(const PacketHeader& header) {
    const std::uint16_t command = header.Command();
    std::array<std::uint8_t, 8> extra{};
    const bool gotExtra = header.Length() == 12;
    const std::int32_t reason = ReadNackReason(m_socket, header, &extra);
    if (reason == kReasonReadFailed) {
        return reason;
    }
    Trace("RecvFn_%s... %d\n", MessageName(command, Direction::RecorderToClient).data(), reason);
    const RefusalRule* rule = FindRefusal(command);
    const ReasonRule* mapped = MapRefusal(command, reason);
    if (rule == nullptr || mapped == nullptr) {
        return reason;
    }
    if (rule->keepsExtraValues && mapped->notification == Notification{6, 5}) {
        std::lock_guard lock(m_refusalLock);
        if (gotExtra) {
            m_transferSizes = std::make_pair(LoadBE32(extra.data()), LoadBE32(extra.data() + 4));
        } else {
            m_transferSizes.reset();
        }
    }
    if (mapped->windowMessage != 0) {
        m_owner.Post(mapped->window, mapped->windowMessage, 0, 0);
    } else {
        m_owner.Notify(mapped->notification.category, mapped->notification.code, rule->parent);
    }
    return reason;
}

bool CRecorderSession::Read(void* buffer, std::size_t count) {
    return RecvExact(m_socket, buffer, count);
}

bool CRecorderSession::ReadPayload(const PacketHeader& header, std::vector<std::uint8_t>& out) {
    out.resize(header.Length());
    return RecvExact(m_socket, out.data(), out.size());
}

bool CRecorderSession::Discard(const PacketHeader& header) {
    return DiscardPayload(m_socket, header);
}

std::int32_t CRecorderSession::ReadReason(const PacketHeader& header,
                                          std::array<std::uint8_t, 8>* extra) {
    return ReadNackReason(m_socket, header, extra);
}

bool CRecorderSession::ReadReply(const PacketHeader& header, CReplyCollector& collector,
                                 const std::function<void()>& beforeDelivery) {
    std::vector<std::uint8_t> fragment;
    if (!ReadPayload(header, fragment)) {
        return false;
    }
    if (collector.Add(header.Command(), fragment, header.LastFragment(), beforeDelivery) ==
        CReplyCollector::Outcome::NotExpected) {
        Trace("Recv...%s... not asked for, dropped\n",
              MessageName(header.Command(), Direction::RecorderToClient).data());
    }
    return true;
}

void CRecorderSession::NotifyLoggedIn() {
    m_bAccepted = true;
    for (ISessionService* service : m_services) {
        service->OnLoggedIn();
    }
}

void CRecorderSession::StartKeepAlive() {
    std::lock_guard lock(m_threadLock);
    if (m_bDestroyed || m_nKeepAliveThreadID != 0) {
        return;
    }
    if (m_keepAliveThread.joinable()) {
        m_keepAliveThread.join();  // an earlier one that has already ended
    }
    {
        std::lock_guard wait(m_keepAliveLock);
        m_bKeepAliveStop = false;
    }
    m_nKeepAliveThreadID = NextThreadId();
    m_keepAliveThread = std::thread(&CRecorderSession::Thread_KeepAlive, this);
}

void CRecorderSession::Thread_KeepAlive() {
    for (;;) {
        // Behind the requests already queued, so the recorder sees them in order.
        Send(msg::KEEP_ALIVE);
        std::unique_lock lock(m_keepAliveLock);
        if (m_keepAliveWake.wait_for(lock, m_config.keepAliveInterval,
                                     [&] { return m_bKeepAliveStop.load(); })) {
            break;
        }
    }
    m_nKeepAliveThreadID = 0;
}

void CRecorderSession::StopKeepAlive() {
    {
        std::lock_guard wait(m_keepAliveLock);
        m_bKeepAliveStop = true;
    }
    m_keepAliveWake.notify_all();
    JoinThread(m_keepAliveThread);
}

void CRecorderSession::DestroyWindow() {
    {
        std::lock_guard lock(m_threadLock);
        if (std::this_thread::get_id() == m_recvThreadId) {
            Trace("DestroyWindow called on the receive thread; ignored\n");
            return;
        }
    }
    if (m_bDestroyed.exchange(true)) {
        return;
    }
    // A connect still in progress is abandoned first; its socket is not in use yet.
    m_bConnectStop = true;
    JoinThread(m_connectThread);
    // From here on no send may wait long for a recorder that has stopped reading: the
    // user is leaving, and a goodbye that cannot be delivered in a few seconds never will.
    m_socket.SetSendLimit(m_config.shutdownSendLimit);

    // 1. Connect button released.
    PostControl(protocol::kCtlConnect, ControlState::kReleased);
    // 2. Stop the one active service (the services are in the shutdown's order).
    for (ISessionService* service : m_services) {
        if (service->StopRunning()) {
            break;
        }
    }
    // 3. Dependent dialogs are asked to close (no wait).
    m_owner.Post(Window::Main, protocol::WM_CLOSE_SESSION_DIALOGS, protocol::kDependentDialogs,
                 m_bAccepted ? 1 : 0);
    // 4. What the services showed is released; the channel grid cleared.
    for (ISessionService* service : m_services) {
        service->OnClosing();
    }
    m_owner.Post(Window::Main, protocol::WM_CLEAR_CHANNEL_GRID, 0, 0);
    // 5. No new requests; keep-alive stopped and waited for.
    for (ISessionService* service : m_services) {
        service->CloseGates();
    }
    StopKeepAlive();
    // 7. Goodbye, behind every request still queued. What the recorder does not take in
    // time is given up: the connection is broken off.
    Send(msg::BYE);
    if (!SenderRunning()) {
        m_outbox.Discard();  // never connected: nothing can go out
    } else if (!m_outbox.WaitIdle(m_config.shutdownSendLimit)) {
        Trace("shutdown: %zu requests not taken by the recorder; connection broken off\n",
              m_outbox.Size());
        m_outbox.Discard();
        m_socket.Interrupt();
    }
    StopSender();
    // 8. Receive thread stopped and waited for.
    m_bRecvStop = true;
    const auto until = std::chrono::steady_clock::now() + kShutdownReadGrace;
    while (m_nSockThreadID != 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_nSockThreadID != 0) {
        // The receive thread is inside a message the recorder never finishes; waiting for
        // the read limit would hold the disconnect for minutes.
        m_socket.Interrupt();
    }
    JoinThread(m_recvThread);
    // A login answer handled just before the receive thread stopped may have started a
    // keep-alive after step 5.
    StopKeepAlive();
    // 9. Socket closed.
    m_socket.Close();
    // 10. Remaining session windows asked to close.
    m_owner.Post(Window::Main, protocol::WM_CLOSE_SESSION_DIALOGS, protocol::kRemainingDialogs, 0);
    // 11. The services' last word (the log-out entry of a session that was logged in).
    for (ISessionService* service : m_services) {
        service->OnClosed();
    }
    // A session stopped before its threads ended on their own ended because it was asked to.
    SessionEnd running = SessionEnd::kRunning;
    m_nEnd.compare_exchange_strong(running, SessionEnd::kStopped);
}

bool CRecorderSession::Send(std::uint16_t command, std::span<const std::uint8_t> payload,
                            bool lastFragment, bool audioOn) {
    return SendPaced(command, payload, std::chrono::milliseconds{0}, lastFragment, audioOn);
}

bool CRecorderSession::SendPaced(std::uint16_t command, std::span<const std::uint8_t> payload,
                                 std::chrono::milliseconds gapAfter, bool lastFragment,
                                 bool audioOn) {
    if (payload.size() > kMaxPayload) {
        return false;
    }
    if (!m_outbox.Push(WireMessage(command, payload, lastFragment, audioOn), gapAfter)) {
        Trace("Send... %s... not queued (%s)\n",
              MessageName(command, Direction::ClientToRecorder).data(),
              m_outbox.Closed() ? "closing" : "outbox full");
        return false;
    }
    return true;
}

bool CRecorderSession::SendNow(std::uint16_t command, std::span<const std::uint8_t> payload,
                               bool lastFragment, bool audioOn) {
    Trace("Send... %s...\n", MessageName(command, Direction::ClientToRecorder).data());
    return SendMessage(m_socket, command, payload, lastFragment, audioOn);
}

bool CRecorderSession::WaitSendable(std::chrono::milliseconds timeout) const {
    const int fd = m_socket.Fd();
    if (fd < 0) {
        return true;  // closed: a send fails at once instead of waiting
    }
    return platform::WaitWritable(fd, timeout) != platform::WaitResult::Timeout;
}

bool CRecorderSession::ServiceOn(Service kind) const {
    for (const ISessionService* service : m_services) {
        if (service->Kind() == kind && service->Running()) {
            return true;
        }
    }
    return false;
}

bool CRecorderSession::FlushRequests(std::chrono::milliseconds limit) {
    return m_outbox.WaitIdle(limit);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> CRecorderSession::TransferSizes() const {
    std::lock_guard lock(m_refusalLock);
    return m_transferSizes;
}

void CRecorderSession::SetTransferSizes(std::uint32_t needed, std::uint32_t available) {
    std::lock_guard lock(m_refusalLock);
    m_transferSizes = std::make_pair(needed, available);
}

void CRecorderSession::WriteConnectionLog(std::uint32_t subType) {
    if (m_localLog) {
        m_localLog->WriteLocalLog(platform::kLocalLogRecordSize, platform::log_entry::kConnection,
                                  subType, m_config.userId, AddressText());
    }
}

std::string CRecorderSession::AddressText() const {
    std::lock_guard lock(m_addressLock);
    return m_strAddress;
}

void CRecorderSession::SetAddressText(std::string address) {
    std::lock_guard lock(m_addressLock);
    m_strAddress = std::move(address);
}

void CRecorderSession::PostControl(std::uint64_t control, ControlState state) {
    m_owner.Post(Window::Main, platform::WM_CONTROL_STATE, control, state);
}

void CRecorderSession::SetAudioState(bool on) {
    if (on) {
        if (!m_bAudioOn.exchange(true)) {
            PostControl(protocol::kCtlAudio, ControlState::kPressed);
        }
        return;
    }
    if (m_bAudioOn.exchange(false)) {
        PostControl(protocol::kCtlAudio, ControlState::kReleased);
    }
}

}  // namespace taviro::protocol
