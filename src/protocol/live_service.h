// Live view and the device: the live request and its stop, the visible-channel selection,
// freezing, the stream pieces of LIVE_DATA, recording on and off, the records the recorder
// pushes about itself and this user (titles, covert channels, permission tables, user
// lists, camera flags, settings database) with the rights rule, archive initialisation
// and reboot.
//
// Threads: requests from any thread (they go through the session's outbox); StopLive and
// InitArchive wait a moment and drain the live consumers, so they run on a worker, never
// on the window thread. The RecvFn_ handlers run on the receive thread. What windows must
// show is posted, never done.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/device_records.h"
#include "protocol/live_consumers.h"
#include "protocol/login_service.h"
#include "protocol/rights.h"
#include "protocol/session.h"
#include "protocol/session_service.h"
#include "protocol/stream_receiver.h"

namespace taviro::protocol {

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

class CLiveService final : public ISessionService {
  public:
    CLiveService(CRecorderSession& session, CLoginService& login);

    [[nodiscard]] std::string_view Name() const override { return "live"; }
    void Register(CDispatchTable& table) override;
    void OnLoggedIn() override { RequestLive(); }
    [[nodiscard]] Service Kind() const override { return Service::Live; }
    [[nodiscard]] bool Running() const override { return m_bLiveOn.load(); }
    bool StopRunning() override;
    void CloseGates() override;

    // Where LIVE_DATA pieces go; set before the connection starts. Null: read
    // and dropped.
    void SetStreamReceiver(IStreamReceiver* receiver) { m_pStreamReceiver.store(receiver); }
    // The audio output and channel decoders that StopLive drains and stops (may be null).
    void SetLiveConsumers(ILiveConsumers* consumers) { m_pLiveConsumers.store(consumers); }

    // --- live view ---
    // The first live request after login and the Live button's "on": all channels.
    void RequestLive();
    // The visible panes changed while live view runs: LIVE_REQ with them. False (nothing
    // sent) when live view does not run.
    bool SendSelection(ChannelMask visible);
    // The Live button's "off": LIVE_STOP, then the consumers drained and stopped.
    void StopLive();
    // Freezes or resumes the live display; each freeze starts a new live sequence.
    void SetFrozen(bool frozen);
    void SetLocalPlayerActive(bool active) { m_bLocalPlayer.store(active); }

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

    // The rights rule for this user and recorder.
    [[nodiscard]] bool MayUse(Feature feature) const;
    [[nodiscard]] RightsContext Rights() const;

    // --- state (any thread) ---
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

  private:
    bool RecvFn_LiveChannelInfo(const PacketHeader& header);
    bool RecvFn_StreamData(const PacketHeader& header);
    bool RecvFn_LiveNack(const PacketHeader& header);
    bool RecvFn_RecOnAck(const PacketHeader& header);
    bool RecvFn_RecOffAck(const PacketHeader& header);
    bool RecvFn_RecStatus(const PacketHeader& header);
    bool RecvFn_DbChange(const PacketHeader& header);
    bool RecvFn_RightChange(const PacketHeader& header);
    bool RecvFn_StoredRecord(const PacketHeader& header);
    bool RecvFn_DvrTimeAck(const PacketHeader& header);
    bool RecvFn_DbInfoAck(const PacketHeader& header);
    bool RecvFn_DbUpdateAck(const PacketHeader& header);

    void SetRecording(bool on);
    // Recomputes the hidden channels from the kept records and hands them to the grid.
    void RecomputeHidden();
    void ApplyRights();
    void Post(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam);

    CRecorderSession& m_session;
    CLoginService& m_login;

    std::atomic<bool> m_bLiveOn{false};
    std::atomic<bool> m_bLivePending{false};
    std::atomic<bool> m_bLiveStarting{false};
    std::atomic<bool> m_bLocalPlayer{false};
    std::atomic<bool> m_bFrozen{false};
    std::atomic<std::uint32_t> m_nLiveSequence{0};
    std::atomic<ChannelMask> m_nLiveSlots{0};
    std::atomic<bool> m_bRecording{false};
    std::atomic<bool> m_bBusy{false};
    std::atomic<IStreamReceiver*> m_pStreamReceiver{nullptr};
    std::atomic<ILiveConsumers*> m_pLiveConsumers{nullptr};
    // One stream piece at a time, allocated once for the session.
    std::unique_ptr<std::uint8_t[]> m_pStreamBuffer;

    mutable std::mutex m_deviceLock;  // guards m_device and m_dbAssembly
    DeviceState m_device;
    CDatabaseAssembly m_dbAssembly;
};

}  // namespace taviro::protocol
