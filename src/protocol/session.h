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
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/channel_mask.h"
#include "protocol/device_records.h"
#include "protocol/hello.h"
#include "protocol/live_consumers.h"
#include "protocol/packet_header.h"
#include "protocol/refusals.h"
#include "protocol/rights.h"
#include "protocol/stream_receiver.h"
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

// What the recorder has told about itself and this user (the records it pushes).
struct DeviceState {
    std::array<ChannelTitle, kMaxChannels> titles{};
    std::array<std::uint8_t, kMaxChannels> covert{};
    ChannelMask hidden = 0;  // channels this user must not see
    std::optional<DbChange> dbChange;
    PermissionTables tables{};
    std::array<UserText, kUserSlots> userNames{};
    std::array<UserText, kUserSlots> userPasswords{};
    std::optional<std::size_t> userSlot;
    std::optional<RightsRecord> rightChange;
    std::optional<RightsRecord> rightChange2;
    LivePermission livePermission = [] {
        LivePermission p;
        p.fill(1);
        return p;
    }();
    CamInfo camInfo = [] {
        CamInfo c;
        c.fill(1);
        return c;
    }();
    std::optional<SysEtcInfo> etcInfo;
    std::optional<SysEtcInfoEx> etcInfoEx;
    std::optional<DstInfo> dstInfo;
    std::vector<std::uint8_t> database;  // the last settings database whose CRC matched
    ChannelMask available = 0;           // from the last LIVE_CHANNEL_INFO, hidden ones removed
    std::uint16_t videoLoss = 0;
};

// The layouts the live request chooses from (layout numbers of the channel grid).
inline constexpr std::int64_t kLayout4 = 1;
inline constexpr std::int64_t kLayout9 = 6;
inline constexpr std::int64_t kLayout16 = 14;

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
    // Where LIVE_DATA and PLAY_DATA pieces go; set before Connect. Null: read and dropped.
    void SetStreamReceiver(IStreamReceiver* receiver) { m_pStreamReceiver.store(receiver); }
    // The audio output and channel decoders that StopLive drains and stops (may be null).
    void SetLiveConsumers(ILiveConsumers* consumers) { m_pLiveConsumers.store(consumers); }

    // --- live view ---
    // The first live request after login and the Live button's "on": all channels.
    void RequestLive();
    // The visible panes changed: LIVE_REQ while live is on, PLAY_VIEW_CH (playback mask AND
    // visible) while remote playback is on and the recorder accepts it; else nothing.
    bool SendLiveSelection(ChannelMask visible);
    // The Live button's "off".
    void StopLive();
    // Freezes or resumes the live display; each freeze starts a new live sequence.
    void SetFrozen(bool frozen);
    void SetLocalPlayerActive(bool active) { m_bLocalPlayer.store(active); }
    void SetPlaybackChannelMask(ChannelMask mask) { m_nPlaybackMask.store(mask); }

    // --- device requests ---
    // The record button: rights first ((15, 0) when refused), then REC_OFF_REQ while
    // recording, else REC_ON_REQ. False when nothing was sent.
    bool ToggleRecording();
    bool RecordOn();
    bool RecordOff();
    bool Reboot();
    bool InitArchive();
    // DB_UPDATE_REQ with the database as last received.
    bool SendDatabase();

    // --- two-way audio (the talk object itself lives with the main window) ---
    // A_LISTEN_REQ: asks the recorder to take microphone audio; A_LISTEN_ACK answers with
    // WM_TALK_STARTED, A_LISTEN_NACK with a refusal.
    bool RequestTalk();
    // A_LISTEN_STOP_REQ: ends the talk session on the recorder's side.
    bool StopTalkRequest();
    // Waits up to `timeout` until a send would not have to wait (the socket takes more
    // bytes, or it is closed and a send fails at once). The microphone's sender asks first,
    // so a recorder that stops reading never holds it inside a send.
    [[nodiscard]] bool WaitSendable(std::chrono::milliseconds timeout) const;

    // The rights rule for this user and recorder.
    [[nodiscard]] bool MayUse(Feature feature) const;
    [[nodiscard]] RightsContext Rights() const;

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
    [[nodiscard]] bool LivePending() const { return m_bLivePending.load(); }
    [[nodiscard]] bool Frozen() const { return m_bFrozen.load(); }
    [[nodiscard]] std::uint32_t LiveSequence() const { return m_nLiveSequence.load(); }
    // Channels whose stream slot exists (0..channel_num-1 while live runs).
    [[nodiscard]] ChannelMask LiveSlots() const { return m_nLiveSlots.load(); }
    [[nodiscard]] bool Recording() const { return m_bRecording.load(); }
    // Blocks local search, snapshots and firmware upgrade while set.
    [[nodiscard]] bool Busy() const { return m_bBusy.load(); }
    void SetBusy(bool busy) { m_bBusy.store(busy); }
    // A copy of what the recorder pushed.
    [[nodiscard]] DeviceState Device() const;
    [[nodiscard]] std::string Title(int channel) const;

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
    void PostRefusal(const RefusalRule& rule, const ReasonRule& mapped, bool gotExtra,
                     const std::array<std::uint8_t, 8>& extra);
    bool RecvFn_LiveChannelInfo(const PacketHeader& header);
    bool RecvFn_StreamData(const PacketHeader& header);
    bool RecvFn_RecOnAck(const PacketHeader& header);
    bool RecvFn_RecOffAck(const PacketHeader& header);
    bool RecvFn_RecStatus(const PacketHeader& header);
    bool RecvFn_DbChange(const PacketHeader& header);
    bool RecvFn_RightChange(const PacketHeader& header);
    bool RecvFn_StoredRecord(const PacketHeader& header);
    bool RecvFn_DvrTimeAck(const PacketHeader& header);
    bool RecvFn_SysNotice(const PacketHeader& header);
    bool RecvFn_DbInfoAck(const PacketHeader& header);
    bool RecvFn_DbUpdateAck(const PacketHeader& header);
    bool RecvFn_AListenAck(const PacketHeader& header);
    bool RecvFn_AListenNack(const PacketHeader& header);
    bool RecvFn_AListenStopAck(const PacketHeader& header);

    // Reads the whole payload; false only when the read fails.
    bool ReadPayload(const PacketHeader& header, std::vector<std::uint8_t>& out);
    void SetRecording(bool on);
    // Recomputes the hidden channels from the kept records and hands them to the grid.
    void RecomputeHidden();
    void ApplyRights(const RightsRecord& record);

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

    // Live view and recording.
    std::atomic<bool> m_bLivePending{false};
    std::atomic<bool> m_bLiveStarting{false};
    std::atomic<bool> m_bLocalPlayer{false};
    std::atomic<bool> m_bFrozen{false};
    std::atomic<std::uint32_t> m_nLiveSequence{0};
    std::atomic<ChannelMask> m_nLiveSlots{0};
    std::atomic<ChannelMask> m_nPlaybackMask{0};
    std::atomic<bool> m_bRecording{false};
    std::atomic<bool> m_bBusy{false};
    std::atomic<IStreamReceiver*> m_pStreamReceiver{nullptr};
    std::atomic<ILiveConsumers*> m_pLiveConsumers{nullptr};
    // One stream piece at a time, allocated once for the session.
    std::unique_ptr<std::uint8_t[]> m_pStreamBuffer;

    mutable std::mutex m_deviceLock;  // guards m_device and m_dbAssembly
    DeviceState m_device;
    CDatabaseAssembly m_dbAssembly;

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
