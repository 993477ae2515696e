#include "protocol/session.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/refusals.h"

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
constexpr std::chrono::milliseconds kKeepAliveProbeIdle{3'000};
constexpr std::chrono::milliseconds kKeepAliveProbeInterval{2'000};
constexpr std::chrono::milliseconds kShutdownSendLimit{2'000};
constexpr std::chrono::milliseconds kShutdownReadGrace{2'000};

}  // namespace

CRecorderSession::CRecorderSession(platform::IMessageSink& owner, logs::ILocalLog* localLog,
                                   SessionConfig config)
    : m_owner(owner),
      m_localLog(localLog),
      m_config(std::move(config)),
      m_pStreamBuffer(std::make_unique<std::uint8_t[]>(kMaxPayload)) {
    m_strPassword = m_config.password;
    m_socket.SetRecvLimit(m_config.recvLimit);
    PostControl(platform::kCtlConnect, ControlState::kPressed);
}

CRecorderSession::~CRecorderSession() {
    DestroyWindow();
    // DestroyWindow refuses to run on the receive thread; whatever still runs is joined
    // here so no thread outlives the object.
    m_bConnectStop = true;
    m_bRecvStop = true;
    StopKeepAlive();
    JoinThread(m_connectThread);
    JoinThread(m_recvThread);
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
    StartReceiveThread();
    const auto hello = BuildHelloPayload(m_config.userId, Password());
    Send(msg::HELLO, hello);
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
        m_owner.Notify(0, 0);
        return;
    }
    socket.SetKeepAlive(kKeepAliveProbeIdle, kKeepAliveProbeInterval);
    socket.SetNoDelay(true);
    const auto address = platform::ParseIPv4(m_config.address, m_config.port);
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
        if (result == platform::ConnectResult::TimedOut ||
            result == platform::ConnectResult::Refused) {
            m_owner.Post(Window::Main, platform::WM_RELEASE_SESSION, 0, 0);
            m_owner.Notify(1, result == platform::ConnectResult::TimedOut ? 0 : 1);
        }
        WriteConnectionLog(logs::entry::kConnectFailed);
        return;
    }
    m_socket.Attach(std::move(socket));
    if (m_bConnectStop) {
        return;  // the owner is shutting down; it closes the socket
    }
    StartReceiveThread();
    const auto hello = BuildHelloPayload(m_config.userId, Password());
    Send(msg::HELLO, hello);
}

void CRecorderSession::StartReceiveThread() {
    std::lock_guard lock(m_threadLock);
    if (m_bDestroyed || m_recvThread.joinable()) {
        return;
    }
    m_bRecvStop = false;
    m_nSockThreadID = NextThreadId();
    m_recvThread = std::thread(&CRecorderSession::Thread_Connecting, this);
    m_recvThreadId = m_recvThread.get_id();
}

void CRecorderSession::Thread_Connecting() {
    m_socket.SetNonBlocking(true);
    while (!m_bRecvStop) {
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
    m_socket.Close();
    m_bRecvStop = true;
    m_nSockThreadID = 0;
    SetAudioState(false);
    m_owner.Notify(2, 0);
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
    if (const Handler handler = Handlers()[command]) {
        return (this->*handler)(header);
    }
    if (FindRefusal(command) != nullptr) {
        return RecvFn_Refusal(header);
    }
    // Codes without a handler, acknowledgements included, are read over in step. An
    // acknowledgement that should be empty but says otherwise is skipped by its length
    // too: reading nothing would take its payload for the next header.
    return DiscardPayload(m_socket, header);
}

const std::array<CRecorderSession::Handler, 512>& CRecorderSession::Handlers() {
    static const std::array<Handler, 512> table = [] {
        std::array<Handler, 512> t{};
        t[msg::HELLO48_ACK] = &CRecorderSession::RecvFn_Hello48Ack;
        t[msg::BYE48] = &CRecorderSession::RecvFn_Bye48;
        t[msg::LIVE_CHANNEL_INFO] = &CRecorderSession::RecvFn_LiveChannelInfo;
        t[msg::LIVE_DATA] = &CRecorderSession::RecvFn_StreamData;
        t[msg::PLAY_DATA] = &CRecorderSession::RecvFn_StreamData;
        t[msg::REC_ON_ACK] = &CRecorderSession::RecvFn_RecOnAck;
        t[msg::REC_OFF_ACK] = &CRecorderSession::RecvFn_RecOffAck;
        t[msg::REC_STATUS] = &CRecorderSession::RecvFn_RecStatus;
        t[msg::DB_CHANGE] = &CRecorderSession::RecvFn_DbChange;
        t[msg::RIGHT_CHANGE] = &CRecorderSession::RecvFn_RightChange;
        t[msg::RIGHT_CHANGE2] = &CRecorderSession::RecvFn_RightChange;
        t[msg::NETLIVE_CH_CHANGE] = &CRecorderSession::RecvFn_StoredRecord;
        t[msg::CAM_INFO_CHANGE] = &CRecorderSession::RecvFn_StoredRecord;
        t[msg::SYS_ETC_INFO] = &CRecorderSession::RecvFn_StoredRecord;
        t[msg::SYS_ETC_INFO_EX] = &CRecorderSession::RecvFn_StoredRecord;
        t[msg::DST_INFO] = &CRecorderSession::RecvFn_StoredRecord;
        t[msg::DVR_TIME_ACK] = &CRecorderSession::RecvFn_DvrTimeAck;
        t[msg::SYS_NOTICE] = &CRecorderSession::RecvFn_SysNotice;
        t[msg::DB_INFO_ACK] = &CRecorderSession::RecvFn_DbInfoAck;
        t[msg::DB_UPDATE_ACK] = &CRecorderSession::RecvFn_DbUpdateAck;
        t[msg::A_LISTEN_ACK] = &CRecorderSession::RecvFn_AListenAck;
        t[msg::A_LISTEN_NACK] = &CRecorderSession::RecvFn_AListenNack;
        t[msg::A_LISTEN_STOP_ACK] = &CRecorderSession::RecvFn_AListenStopAck;
        return t;
    }();
    return table;
}

bool CRecorderSession::RecvFn_Hello48Ack(const PacketHeader& header) {
    m_bLoggedIn = true;
    const std::size_t length = header.Length();
    if (length != 0) {
        std::vector<std::uint8_t> payload(length);
        if (!RecvExact(m_socket, payload.data(), length)) {
            return false;
        }
        if (auto ack = HelloAck::Parse(payload)) {
            std::lock_guard lock(m_helloLock);
            m_hello = *ack;
            m_nProductType = ProductTypeFor(ack->product_number);
        } else {
            Trace("Recv...HELLO48_ACK... unexpected length %zu, dropped\n", length);
        }
    }
    if (!IsSupportedProductType(m_nProductType)) {
        m_owner.ShowMessageBox("Not MRKD7310 or TQ71!");
        m_owner.Notify(2, 0);
        return true;
    }
    bool playViewCh = false;
    {
        std::lock_guard lock(m_helloLock);
        m_hello.channel_num = static_cast<std::uint8_t>(EffectiveChannelCount(m_hello.channel_num));
        playViewCh = m_hello.PlaybackViewChannelCapable();
    }
    PostControl(platform::kCtlLive, ControlState::kEnabled);
    RequestLive();
    WriteConnectionLog(logs::entry::kLogIn);
    m_bHelloAccepted = true;
    StartKeepAlive();
    m_bPlayViewCh = playViewCh;
    m_bReady = true;
    m_owner.Post(Window::Main, platform::WM_SESSION_LOGGED_IN, 0, 0);
    return true;
}

bool CRecorderSession::RecvFn_Bye48(const PacketHeader& header) {
    m_bLoggedIn = false;
    const std::int32_t reason = ReadNackReason(m_socket, header);
    if (reason == kReasonReadFailed) {
        return false;
    }
    Trace("RecvFn_Bye48... %d\n", reason);
    if (const auto note = ByeNotification(reason)) {
        m_owner.Notify(note->category, note->code);
    }
    WriteConnectionLog(logs::entry::kConnectFailed);
    return true;
}

bool CRecorderSession::RecvFn_Refusal(const PacketHeader& header) {
    const std::uint16_t command = header.Command();
    std::array<std::uint8_t, 8> extra{};
    bool gotExtra = header.Length() == 12;
    const std::int32_t reason = ReadNackReason(m_socket, header, &extra);
    if (reason == kReasonReadFailed) {
        return false;
    }
    Trace("RecvFn_%s... %d\n", MessageName(command, Direction::RecorderToClient).data(), reason);
    if (command == msg::LIVE_NACK) {
        // The live request is over either way; a later one may be tried.
        m_bLoggedIn = false;
        m_bLiveOn = false;
        m_bLivePending = false;
    }
    const RefusalRule* rule = FindRefusal(command);
    const ReasonRule* mapped = MapRefusal(command, reason);
    if (rule != nullptr && mapped != nullptr) {
        PostRefusal(*rule, *mapped, gotExtra, extra);
    }
    if (command == msg::LIVE_NACK) {
        m_owner.Post(Window::Main, platform::WM_STOP_LIVE_AUDIO, 0, 0);
    }
    return true;
}

void CRecorderSession::PostRefusal(const RefusalRule& rule, const ReasonRule& mapped, bool gotExtra,
                                   const std::array<std::uint8_t, 8>& extra) {
    if (rule.keepsExtraValues && mapped.notification == Notification{6, 5}) {
        std::lock_guard lock(m_helloLock);
        if (gotExtra) {
            m_transferSizes = std::make_pair(LoadBE32(extra.data()), LoadBE32(extra.data() + 4));
        } else {
            m_transferSizes.reset();
        }
    }
    if (mapped.windowMessage != 0) {
        m_owner.Post(mapped.window, mapped.windowMessage, 0, 0);
    } else {
        m_owner.Notify(mapped.notification.category, mapped.notification.code, rule.parent);
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
    m_socket.SetSendLimit(kShutdownSendLimit);

    // 1. Connect button released.
    PostControl(platform::kCtlConnect, ControlState::kReleased);
    // 2. Stop the one active service.
    if (m_bLiveOn) {
        m_bLiveOn = false;
        m_bLivePending = false;
        Send(msg::LIVE_STOP);
    } else if (m_bPlaybackOn) {
        Send(msg::RPLAY_STOP);
    } else if (m_bBackupOn) {
        Send(msg::TRANS_OFF_REQ);
    } else if (m_bTalkOn) {
        Send(msg::A_LISTEN_STOP_REQ);
    }
    // 3. Dependent dialogs are asked to close (no wait).
    m_owner.Post(Window::Main, platform::WM_CLOSE_SESSION_DIALOGS, platform::kDependentDialogs,
                 m_bHelloAccepted ? 1 : 0);
    // 4. Talk released, channel grid cleared.
    PostControl(platform::kCtlMike, ControlState::kReleased);
    m_owner.Post(Window::Main, platform::WM_CLEAR_CHANNEL_GRID, 0, 0);
    // 5. No new requests; keep-alive stopped and waited for.
    m_bLiveOn = false;
    m_bPlaybackOn = false;
    m_bBackupOn = false;
    m_bTalkOn = false;
    m_bReady = false;
    StopKeepAlive();
    // 7. Goodbye.
    Send(msg::BYE);
    // 8. Receive thread stopped and waited for.
    m_bRecvStop = true;
    const auto until = std::chrono::steady_clock::now() + kShutdownReadGrace;
    while (m_nSockThreadID != 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_nSockThreadID != 0) {
        // The receive thread is inside a message the recorder never finishes; waiting for
        // the read limit would freeze the disconnect for minutes.
        m_socket.Interrupt();
    }
    JoinThread(m_recvThread);
    // A login answer handled just before the receive thread stopped may have started a
    // keep-alive after step 5.
    StopKeepAlive();
    // 9. Socket closed.
    m_socket.Close();
    // 10. Remaining session windows asked to close.
    m_owner.Post(Window::Main, platform::WM_CLOSE_SESSION_DIALOGS, platform::kRemainingDialogs, 0);
    // 11. Log-out entry for a session that was logged in.
    if (m_bLoggedIn.exchange(false)) {
        WriteConnectionLog(logs::entry::kLogOut);
    }
}

bool CRecorderSession::Send(std::uint16_t command, std::span<const std::uint8_t> payload,
                            bool lastFragment, bool audioOn) {
    Trace("Send... %s...\n", MessageName(command, Direction::ClientToRecorder).data());
    return SendMessage(m_socket, command, payload, lastFragment, audioOn);
}

int CRecorderSession::ChannelCount() const {
    std::lock_guard lock(m_helloLock);
    return EffectiveChannelCount(m_hello.channel_num);
}

HelloAck CRecorderSession::Hello() const {
    std::lock_guard lock(m_helloLock);
    return m_hello;
}

std::string CRecorderSession::Password() const {
    std::lock_guard lock(m_helloLock);
    return m_strPassword;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> CRecorderSession::TransferSizes() const {
    std::lock_guard lock(m_helloLock);
    return m_transferSizes;
}

bool CRecorderSession::ServiceOn(Service s) const {
    switch (s) {
        case Service::Live:
            return m_bLiveOn;
        case Service::Playback:
            return m_bPlaybackOn;
        case Service::Backup:
            return m_bBackupOn;
        case Service::Talk:
            return m_bTalkOn;
    }
    return false;
}

void CRecorderSession::SetServiceOn(Service s, bool on) {
    switch (s) {
        case Service::Live:
            m_bLiveOn = on;
            break;
        case Service::Playback:
            m_bPlaybackOn = on;
            break;
        case Service::Backup:
            m_bBackupOn = on;
            break;
        case Service::Talk:
            m_bTalkOn = on;
            break;
    }
}

void CRecorderSession::WriteConnectionLog(std::uint32_t subType) {
    if (m_localLog != nullptr) {
        m_localLog->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kConnection, subType,
                                  m_config.userId, m_config.address);
    }
}

void CRecorderSession::PostControl(std::uint64_t control, ControlState state) {
    m_owner.Post(Window::Main, platform::WM_CONTROL_STATE, control, state);
}

void CRecorderSession::SetAudioState(bool on) {
    if (on) {
        if (!m_bAudioOn.exchange(true)) {
            PostControl(platform::kCtlAudio, ControlState::kPressed);
        }
        return;
    }
    m_nAudioChannelMask = 0;
    if (m_bAudioOn.exchange(false)) {
        PostControl(platform::kCtlAudio, ControlState::kReleased);
    }
}

}  // namespace taviro::protocol
