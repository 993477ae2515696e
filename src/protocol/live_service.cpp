// Live view: starting, steering and stopping it, freezing, and the stream pieces.
#include "protocol/live_service.h"

#include <thread>

#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {

using platform::ControlState;
using platform::Trace;
using platform::Window;

namespace {

constexpr std::chrono::milliseconds kAfterLiveStop{50};

}  // namespace

CLiveService::CLiveService(CRecorderSession& session, CLoginService& login)
    : m_session(session),
      m_login(login),
      m_pStreamBuffer(std::make_unique<std::uint8_t[]>(kMaxPayload)) {}

void CLiveService::Register(CDispatchTable& table) {
    const auto on = [&](std::uint16_t code, bool (CLiveService::*handler)(const PacketHeader&)) {
        table.Register(code,
                       [this, handler](const PacketHeader& h) { return (this->*handler)(h); });
    };
    on(msg::LIVE_CHANNEL_INFO, &CLiveService::RecvFn_LiveChannelInfo);
    on(msg::LIVE_DATA, &CLiveService::RecvFn_StreamData);
    on(msg::LIVE_NACK, &CLiveService::RecvFn_LiveNack);
    on(msg::REC_ON_ACK, &CLiveService::RecvFn_RecOnAck);
    on(msg::REC_OFF_ACK, &CLiveService::RecvFn_RecOffAck);
    on(msg::REC_STATUS, &CLiveService::RecvFn_RecStatus);
    on(msg::DB_CHANGE, &CLiveService::RecvFn_DbChange);
    on(msg::RIGHT_CHANGE, &CLiveService::RecvFn_RightChange);
    on(msg::RIGHT_CHANGE2, &CLiveService::RecvFn_RightChange);
    on(msg::NETLIVE_CH_CHANGE, &CLiveService::RecvFn_StoredRecord);
    on(msg::CAM_INFO_CHANGE, &CLiveService::RecvFn_StoredRecord);
    on(msg::SYS_ETC_INFO, &CLiveService::RecvFn_StoredRecord);
    on(msg::SYS_ETC_INFO_EX, &CLiveService::RecvFn_StoredRecord);
    on(msg::DST_INFO, &CLiveService::RecvFn_StoredRecord);
    on(msg::DVR_TIME_ACK, &CLiveService::RecvFn_DvrTimeAck);
    on(msg::DB_INFO_ACK, &CLiveService::RecvFn_DbInfoAck);
    on(msg::DB_UPDATE_ACK, &CLiveService::RecvFn_DbUpdateAck);
}

void CLiveService::Post(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    m_session.Owner().Post(Window::Main, message, wParam, lParam);
}

bool CLiveService::StopRunning() {
    if (!m_bLiveOn.exchange(false)) {
        return false;
    }
    m_bLivePending = false;
    m_session.Send(msg::LIVE_STOP);
    return true;
}

void CLiveService::CloseGates() {
    m_bLiveOn = false;
}

void CLiveService::RequestLive() {
    if (m_bLivePending.load() || m_bLocalPlayer.load()) {
        return;
    }
    if (m_bLiveStarting.exchange(true)) {
        return;  // another thread is in here right now
    }
    m_bLivePending = true;
    const int channels = m_login.ChannelCount();
    const std::int64_t layout = channels <= 4 ? kLayout4 : (channels > 8 ? kLayout16 : kLayout9);
    // One message: reset the grid, live mode, the split buttons up but the chosen one.
    Post(protocol::WM_CHANNEL_GRID_MODE, protocol::kGridLive, layout);
    m_nLiveSlots.fetch_or(MaskOfFirst(channels));
    if (ILiveConsumers* consumers = m_pLiveConsumers.load()) {
        consumers->LiveStarting();
    }
    std::uint8_t payload[4];
    StoreBE32(payload, kAllChannels);
    m_session.Send(msg::LIVE_REQ, payload);
    m_session.PostControl(protocol::kCtlLive, ControlState::kPressed);
    Post(protocol::WM_CLEAR_CHANNEL_GRID, 0, 0);
    m_session.PostControl(protocol::kCtlLiveButtons, ControlState::kEnabled);
    m_bFrozen = false;
    m_bLiveStarting = false;
}

bool CLiveService::SendSelection(ChannelMask visible) {
    if (!m_bLiveOn.load()) {
        return false;
    }
    std::uint8_t payload[4];
    StoreBE32(payload, visible & kAllChannels);
    return m_session.Send(msg::LIVE_REQ, payload);
}

void CLiveService::StopLive() {
    m_bLiveOn = false;
    m_nLiveSequence = 0;
    m_bLivePending = false;
    m_bLiveStarting = false;
    m_session.Send(msg::LIVE_STOP);
    std::this_thread::sleep_for(kAfterLiveStop);
    m_session.PostControl(protocol::kCtlLiveButtons, ControlState::kReleased);
    m_bFrozen = false;
    ILiveConsumers* consumers = m_pLiveConsumers.load();
    if (consumers != nullptr) {
        consumers->SetFrozen(false);
        consumers->DrainAndStopAudio();
    }
    // What else the main window keeps for live view (the audio lamp, the PTZ panels).
    Post(protocol::WM_STOP_LIVE_AUDIO, 0, 0);
    Post(protocol::WM_CLOSE_PTZ, 0, 0);
    if (consumers != nullptr) {
        consumers->DrainAndStopDecoders();
    }
    m_nLiveSlots = 0;
    m_session.PostControl(protocol::kCtlLive, ControlState::kReleased);
    Post(protocol::WM_CLEAR_CHANNEL_GRID, 0, 0);
    Post(protocol::WM_CHANNEL_GRID_MODE, protocol::kGridNone, kLayout16);
    m_session.PostControl(protocol::kCtlChannelButtons, ControlState::kReleased);
}

void CLiveService::SetFrozen(bool frozen) {
    if (ILiveConsumers* consumers = m_pLiveConsumers.load()) {
        consumers->SetFrozen(frozen);
    }
    if (frozen) {
        if (!m_bFrozen.exchange(true)) {
            m_nLiveSequence.fetch_add(1);  // decoders wait for a key frame afterwards
        }
        return;
    }
    m_bFrozen = false;
}

bool CLiveService::RecvFn_LiveChannelInfo(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    const auto word = ParseLeadingWord(payload);
    if (!word) {
        Trace("Recv...LIVE_CHANNEL_INFO... %zu bytes, dropped\n", payload.size());
        return true;
    }
    if (!m_bLiveOn.load() && !m_bLivePending.load()) {
        // The answer to a live request sent before live view was stopped: it must not turn
        // live view on again behind the operator's back (the decoders are gone).
        Trace("Recv...LIVE_CHANNEL_INFO... live view is off, dropped\n");
        return true;
    }
    m_bLivePending = false;
    m_nLiveSequence.fetch_add(1);
    LiveChannelState state;
    {
        std::lock_guard lock(m_deviceLock);
        state = ApplyLiveChannelInfo(*word, m_device.hidden, m_nLiveSlots.load());
        m_device.available = state.available;
        m_device.videoLoss = state.videoLoss;
    }
    m_bLiveOn = true;
    // The video side starts a new stream generation and drops any half-built element.
    if (IStreamReceiver* receiver = m_pStreamReceiver.load()) {
        receiver->OnChannelInfo(payload);
    }
    Post(protocol::WM_CHANNEL_AVAILABLE, state.available, state.videoLoss);
    return true;
}

bool CLiveService::RecvFn_StreamData(const PacketHeader& header) {
    const std::size_t length = header.Length();  // at most kMaxPayload, the buffer's size
    if (!m_session.Read(m_pStreamBuffer.get(), length)) {
        return false;
    }
    if (IStreamReceiver* receiver = m_pStreamReceiver.load()) {
        receiver->OnStreamPiece(header.Command(), header,
                                std::span<const std::uint8_t>(m_pStreamBuffer.get(), length));
    }
    return true;
}

bool CLiveService::RecvFn_LiveNack(const PacketHeader& header) {
    // The live request is over either way; a later one may be tried.
    m_login.ClearLoggedIn();
    m_bLiveOn = false;
    m_bLivePending = false;
    if (m_session.HandleRefusal(header) == kReasonReadFailed) {
        return false;
    }
    Post(protocol::WM_STOP_LIVE_AUDIO, 0, 0);
    return true;
}

}  // namespace taviro::protocol
