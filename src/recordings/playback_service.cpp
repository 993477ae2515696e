#include "recordings/playback_service.h"

#include <algorithm>
#include <thread>

#include "platform/message_sink.h"
#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/session_messages.h"
#include "protocol/wire.h"
#include "recordings/messages.h"

namespace taviro::recordings {

namespace {

namespace msg = protocol::msg;
using protocol::PacketHeader;

std::int64_t NowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CPlaybackService::CPlaybackService(protocol::CRecorderSession& session,
                                   protocol::CLoginService& login, stream::CStreamState& state)
    : m_session(session),
      m_login(login),
      m_state(state),
      m_pStreamBuffer(std::make_unique_for_overwrite<std::uint8_t[]>(protocol::kMaxPayload)) {
    m_state.SetPlayPacing(this);
}

CPlaybackService::~CPlaybackService() {
    if (m_state.PlayPacing() == this) {
        m_state.SetPlayPacing(nullptr);
    }
}

void CPlaybackService::Register(protocol::CDispatchTable& table) {
    const auto on = [&](std::uint16_t code, bool (CPlaybackService::*fn)(const PacketHeader&)) {
        table.Register(code, [this, fn](const PacketHeader& h) { return (this->*fn)(h); });
    };
    on(msg::PLAY_CHANNEL_INFO, &CPlaybackService::RecvFn_ChannelInfo);
    on(msg::PLAY_ON_ACK, &CPlaybackService::RecvFn_OnAck);
    on(msg::PLAY_ON_NACK, &CPlaybackService::RecvFn_OnNack);
    on(msg::PLAY_OFF_ACK, &CPlaybackService::RecvFn_OffAck);
    on(msg::PLAY_OFF_NACK, &CPlaybackService::RecvFn_OffNack);
    on(msg::PLAY_DATA_FINISH, &CPlaybackService::RecvFn_DataFinish);
    on(msg::PLAY_DATA, &CPlaybackService::RecvFn_Data);
    on(msg::PLAY_ON_FAIL, &CPlaybackService::RecvFn_OnFail);
    on(msg::PLAY_ON_DONE, &CPlaybackService::RecvFn_OnDone);
}

void CPlaybackService::SetPauses(std::chrono::milliseconds message, std::chrono::milliseconds play,
                                 std::chrono::milliseconds step) {
    m_messagePause = message;
    m_playPause = play;
    m_stepPause = step;
}

PlayCommand CPlaybackService::Mode() const {
    std::lock_guard lock(m_lock);
    return m_control.Mode();
}

PauseState CPlaybackService::Pause() const {
    std::lock_guard lock(m_lock);
    return m_control.Pause();
}

// --- requests ---

bool CPlaybackService::StartPlayback(const PlayRequest& request) {
    if (m_bLocalPlayer.load() || m_bRunning.load() || m_bRequested.load() || m_bAccepted.load() ||
        m_bGatesClosed.load()) {
        return false;
    }
    const auto payload = EncodePlayRequest(request);
    m_nStartTime = request.start;
    m_bRequested = true;
    if (!m_session.Send(msg::PLAY_ON_REQ, payload)) {
        m_bRequested = false;
        return false;
    }
    return true;
}

void CPlaybackService::Begin() {
    // Only an accepted playback that nothing has stopped since begins.
    if (!m_bAccepted.exchange(false) || m_bGatesClosed.load()) {
        return;
    }
    {
        std::lock_guard lock(m_lock);
        m_pacer.Reset();
        NewPace(true, true);
        m_bLastPaced = false;
        m_nShown = 0;
        m_nPositionMs = 0;
        m_nSpeed = 0;
        m_state.SetPlaybackAudio(false);
        m_state.SetPlaybackReverse(false);
        m_state.SetPlaybackOn(true);
        m_bRunning = true;
        SendNow(m_control.Start(m_nStartTime.load()));
    }
    m_session.Owner().Post(platform::Window::Main, recordings::WM_PLAY_STARTED, m_nChannels.load(),
                           0);
    m_session.Owner().Post(platform::Window::Main, protocol::WM_PLAYER_INFO, 0, 0);
}

protocol::ChannelMask CPlaybackService::PlayedInView(protocol::ChannelMask view) const {
    const protocol::ChannelMask played = m_nChannels.load();
    return (played & view) != 0 ? (played & view) : played;
}

bool CPlaybackService::Command(PlayCommand command, protocol::ChannelMask view) {
    if (!m_bRunning.load()) {
        return false;
    }
    m_nView = view;
    {
        std::lock_guard lock(m_lock);
        bool newGeneration = false;
        bool discard = true;
        const PlayMessages messages = m_control.Command(
            command, view, PlayedInView(view), m_login.ChannelCount(), &newGeneration, &discard);
        if (command == PlayCommand::Pause || command == PlayCommand::Backward ||
            command == PlayCommand::PreviousStep) {
            if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
                consumers->FlushPlaybackAudio();
            }
        }
        if (newGeneration) {
            m_state.NewGeneration();
        }
        NewPace(true, discard);
        SendSequence(messages);
        m_nChanges.fetch_add(1);
    }
    m_wake.notify_all();
    // Buttons pressed in quick succession reach the recorder no faster than it takes them.
    const bool play = command == PlayCommand::Forward || command == PlayCommand::Backward;
    std::this_thread::sleep_for(play ? m_playPause : m_stepPause);
    return true;
}

bool CPlaybackService::Seek(protocol::RecorderTime seconds, protocol::ChannelMask view) {
    if (!m_bRunning.load() || seconds < 0) {
        return false;
    }
    m_nView = view;
    {
        std::lock_guard lock(m_lock);
        const PlayMessages messages = m_control.SeekTo(seconds, PlayedInView(view));
        if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
            consumers->FlushPlaybackAudio();
        }
        m_state.NewGeneration();
        NewPace(true, true);
        SendSequence(messages);
        m_nChanges.fetch_add(1);
    }
    m_wake.notify_all();
    std::this_thread::sleep_for(m_playPause);
    return true;
}

bool CPlaybackService::Stop() {
    const bool running = m_bRunning.exchange(false);
    const bool requested = m_bRequested.exchange(false);
    const bool accepted = m_bAccepted.exchange(false);
    if (!running && !requested && !accepted) {
        return false;
    }
    if (!m_bGatesClosed.load()) {
        m_session.SendPaced(msg::RPLAY_STOP, {}, m_messagePause);
    }
    // No more frames are queued from here on, and a pacing wait ends.
    m_state.SetPlaybackOn(false);
    m_state.SetPlaybackAudio(false);
    m_nChannels = 0;
    Wake();
    if (running) {
        if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
            consumers->DrainAndStopPlayback();
        }
    }
    return true;
}

bool CPlaybackService::StopRunning() {
    // The session's shutdown: the stop request goes out before the goodbye; the owner has
    // drained the consumers (or drains them when it tears down).
    const bool accepted = m_bAccepted.exchange(false);
    if (!m_bRunning.exchange(false) && !accepted) {
        return false;
    }
    m_bRequested = false;
    m_state.SetPlaybackOn(false);
    Wake();
    m_session.Send(msg::RPLAY_STOP);
    return true;
}

void CPlaybackService::CloseGates() {
    m_bGatesClosed = true;
    m_bRunning = false;
    m_bRequested = false;
    m_bAccepted = false;
    m_state.SetPlaybackOn(false);
    Wake();
}

bool CPlaybackService::SendViewChannels(protocol::ChannelMask visible) {
    m_nView = visible;
    if (!m_bRunning.load()) {
        return false;
    }
    bool sent = false;
    {
        // While stepping, the next step is to bring a picture for every pane shown.
        std::lock_guard lock(m_lock);
        if (m_control.Stepping() && m_control.Pause() != PauseState::Paused) {
            std::uint8_t mask[4];
            protocol::StoreBE32(mask, visible & 0xFFFFu);
            sent = m_session.SendPaced(msg::PLAY_CH_CHANGE, mask, m_messagePause);
        }
    }
    if (!m_login.PlaybackViewChannelCapable()) {
        return sent;
    }
    std::uint8_t payload[4];
    protocol::StoreBE32(payload, m_nChannels.load() & visible & protocol::kAllChannels);
    return m_session.Send(msg::PLAY_VIEW_CH, payload) || sent;
}

void CPlaybackService::SendSequence(const PlayMessages& messages) {
    for (const PlayMessage& m : messages) {
        m_session.SendPaced(m.code, m.payload, m_messagePause);
    }
}

void CPlaybackService::SendNow(const PlayMessages& messages) {
    for (const PlayMessage& m : messages) {
        m_session.Send(m.code, m.payload);
    }
}

void CPlaybackService::Wake() {
    {
        std::lock_guard lock(m_lock);
        m_nChanges.fetch_add(1);
    }
    m_wake.notify_all();
}

// --- the stream's gate (receive thread) ---

protocol::PlayAdmission CPlaybackService::Admit(const protocol::PlayElement& element) {
    if (!m_bRunning.load()) {
        return {};
    }
    std::lock_guard lock(m_lock);
    const ElementVerdict v =
        m_control.OnElement(element.audio, SpeedCodeOf(element.headerWord1), element.seconds,
                            element.microseconds, m_nView.load(), m_login.ChannelCount(),
                            !element.audio && !element.readable, m_bPacing.load(), element.channel);
    SendNow(v.send);
    if (v.speedChanged) {
        m_nSpeed = m_control.Speed();
        // Sound only at normal speed; what was queued at another speed is not heard.
        const bool normal = m_control.Speed() == 1;
        m_state.SetPlaybackAudio(normal);
        if (!normal) {
            if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
                consumers->FlushPlaybackAudio();
            }
        }
    }
    m_bLastPaced = false;
    if (element.audio) {
        // Heard with the paced picture before it in the stream; before the first one of this
        // pace (or unpaced), as it comes, unless a button discards it first.
        protocol::PlayAdmission admission{v.show, v.reverse};
        const bool paced = m_nHeardPace == m_nPace;
        admission.paceTicket = static_cast<std::uint16_t>(m_nPace | (paced ? kPacedBit : 0));
        admission.seconds = m_nHeardSeconds;
        admission.microseconds = m_nHeardMicroseconds;
        return admission;
    }
    if (v.anchor) {
        // Pacing starts again from this frame: the pictures before it are shown as they
        // come, and the first of this pace anchors the clock.
        NewPace(false, false);
    }
    m_bLastPaced = v.paced || v.creditWhenHandled;
    if (v.paced) {
        m_nHeardPace = m_nPace;
        m_nHeardSeconds = element.seconds;
        m_nHeardMicroseconds = element.microseconds;
    }
    protocol::PlayAdmission admission{v.show || v.hidden, v.reverse, v.hidden};
    // A hidden frame never waits for a moment (it is not shown); the bit earns its credit.
    admission.paceTicket =
        static_cast<std::uint16_t>(m_nPace | (v.paced || v.creditWhenHandled ? kPacedBit : 0));
    return admission;
}

void CPlaybackService::Queued(const protocol::PlayElement& element, bool queued) {
    (void)element;
    if (queued) {
        return;
    }
    // No decoder will ever report it: a paced frame earns its credit now.
    std::lock_guard lock(m_lock);
    if (m_bLastPaced) {
        m_bLastPaced = false;
        SendNow(m_control.OnPacedHandled());
    }
}

// --- the decoders' hand-over (decoder threads) ---

bool CPlaybackService::Before(std::uint16_t pace, std::uint16_t than) const {
    // Paces wrap: `pace` is earlier when `than` lies less than half the range after it.
    const auto distance = static_cast<std::uint16_t>((than - pace) & kPaceMask);
    return distance != 0 && distance < kPaceMask / 2;
}

bool CPlaybackService::Discarded(std::uint16_t pace) const {
    return !m_bRunning.load() || m_bGatesClosed.load() || Before(pace, m_nShowFrom);
}

void CPlaybackService::NewPace(bool account, bool discard) {
    m_nPace = static_cast<std::uint16_t>(m_nPace % kPaceMask + 1);  // 1..kPaceMask
    if (account) {
        m_nAccountFrom = m_nPace;
    }
    if (discard) {
        m_nShowFrom = m_nPace;
    }
    m_bAnchorPending = true;
}

bool CPlaybackService::BeforeShow(std::uint16_t ticket, const stream::FrameInfo& frame,
                                  const std::atomic<bool>& stop) {
    const std::int32_t seconds = frame.seconds;
    const std::int32_t microseconds = frame.microseconds;
    const auto pace = static_cast<std::uint16_t>(ticket & kPaceMask);
    std::unique_lock lock(m_lock);
    const auto discarded = [&] { return Discarded(pace); };
    if (discarded()) {
        return false;
    }
    if ((ticket & kPacedBit) != 0 && pace == m_nPace && m_bPacing.load()) {
        if (m_bAnchorPending) {
            m_bAnchorPending = false;
            m_pacer.Reset();
        }
        const std::int64_t wait =
            m_pacer.WaitMillis(FrameMillis(seconds, microseconds), NowMillis());
        if (wait > 0) {
            // The wait ends early when a button is pressed, playback stops, the session
            // closes or the decoder is stopped; the pacer never asks for more than three
            // seconds. The stop flag is the decoder's own, so it is looked at in short steps.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
            const std::uint64_t changes = m_nChanges.load();
            while (!stop.load() && m_nChanges.load() == changes && !discarded()) {
                if (m_wake.wait_until(lock, std::min(until, std::chrono::steady_clock::now() +
                                                                std::chrono::milliseconds(20))) ==
                        std::cv_status::timeout &&
                    std::chrono::steady_clock::now() >= until) {
                    break;
                }
            }
            if (discarded()) {
                return false;  // a button during the wait stopped the picture before it
            }
        }
    }
    // The picture the operator sees: what a resumed or stepped playback lands on, and the
    // position the window shows (the frame's own stream part time, as the recorder counts
    // it, with the encoder's fraction of a second).
    m_control.OnShown(frame.channel, seconds, microseconds,
                      static_cast<protocol::RecorderTime>(frame.position));
    m_nPositionMs = static_cast<std::int64_t>(frame.position) * 1000 + microseconds / 1000;
    m_nShown.fetch_add(1);
    return true;
}

bool CPlaybackService::BeforeHear(std::uint16_t ticket, std::int32_t seconds,
                                  std::int32_t microseconds, const std::atomic<bool>& stop) {
    const auto pace = static_cast<std::uint16_t>(ticket & kPaceMask);
    std::unique_lock lock(m_lock);
    const auto discarded = [&] { return Discarded(pace); };
    if ((ticket & kPacedBit) != 0 && m_bPacing.load()) {
        // Until the picture it goes with is due: a pace not anchored yet (its first picture
        // still on its way) is waited for too. Three seconds at most, as for a picture.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        const std::uint64_t changes = m_nChanges.load();
        while (!stop.load() && m_nChanges.load() == changes && pace == m_nPace && !discarded()) {
            std::int64_t step = 20;
            if (!m_bAnchorPending) {
                const std::int64_t due =
                    m_pacer.DueInMillis(FrameMillis(seconds, microseconds), NowMillis());
                if (due <= 0) {
                    break;
                }
                step = std::min<std::int64_t>(step, due);
            }
            if (std::chrono::steady_clock::now() >= limit) {
                break;
            }
            m_wake.wait_for(lock, std::chrono::milliseconds(step));
        }
    }
    return !discarded();
}

void CPlaybackService::Handled(std::uint16_t ticket) {
    if ((ticket & kPacedBit) == 0 || !m_bRunning.load()) {
        return;
    }
    std::lock_guard lock(m_lock);
    // Credit granted by a button's own request replaced what the frames before it earned.
    if (!Before(static_cast<std::uint16_t>(ticket & kPaceMask), m_nAccountFrom)) {
        SendNow(m_control.OnPacedHandled());
    }
}

void CPlaybackService::ConsumersRestarted() {
    if (!m_bRunning.load()) {
        return;
    }
    std::lock_guard lock(m_lock);
    NewPace(true, false);
    SendNow(m_control.FreshCredit());
}

// --- the recorder's answers (receive thread) ---

bool CPlaybackService::RecvFn_ChannelInfo(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    if (payload.size() < 4) {
        return true;  // nothing to go by
    }
    const protocol::ChannelMask mask = protocol::LoadBE32(payload.data()) & protocol::kAllChannels;
    m_nChannels = mask;
    m_state.NewGeneration();
    if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
        consumers->PlaybackChannels(mask);
    }
    return true;
}

bool CPlaybackService::RecvFn_OnAck(const PacketHeader& header) {
    // Nothing is read from the acknowledgement; a payload that comes with it is skipped.
    if (!m_session.Discard(header)) {
        return false;
    }
    if (!m_bRequested.exchange(false) || m_bGatesClosed.load()) {
        return true;  // an answer to a request given up
    }
    m_bAccepted = true;
    if (m_nChannels.load() == 0) {
        // No PLAY_CHANNEL_INFO came first: every channel of the recorder plays.
        const int count = std::clamp(m_login.ChannelCount(), 0, protocol::kMaxChannels);
        m_nChannels =
            count >= protocol::kMaxChannels ? protocol::kAllChannels : ((1u << count) - 1u);
    }
    if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
        consumers->PlaybackAccepted(m_nChannels.load());
    } else {
        Begin();
    }
    return true;
}

bool CPlaybackService::RecvFn_OnNack(const PacketHeader& header) {
    m_bRequested = false;
    if (m_session.HandleRefusal(header) == protocol::kReasonReadFailed) {
        return false;
    }
    if (m_bRunning.load() || m_bAccepted.load()) {
        if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
            consumers->PlaybackEnded(false);
        }
    }
    return true;
}

bool CPlaybackService::RecvFn_OffAck(const PacketHeader& header) {
    return m_session.Discard(header);
}

bool CPlaybackService::RecvFn_OffNack(const PacketHeader& header) {
    return m_session.HandleRefusal(header) != protocol::kReasonReadFailed;
}

bool CPlaybackService::RecvFn_DataFinish(const PacketHeader& header) {
    if (!m_session.Discard(header)) {
        return false;
    }
    if (m_bRunning.load()) {
        std::lock_guard lock(m_lock);
        SendNow(m_control.OnDataFinish());
    }
    return true;
}

bool CPlaybackService::RecvFn_Data(const PacketHeader& header) {
    const std::size_t length = header.Length();  // at most kMaxPayload, the buffer's size
    if (!m_session.Read(m_pStreamBuffer.get(), length)) {
        return false;
    }
    if (protocol::IStreamReceiver* receiver = m_pStreamReceiver.load()) {
        receiver->OnStreamPiece(header.Command(), header,
                                std::span<const std::uint8_t>(m_pStreamBuffer.get(), length));
    }
    return true;
}

bool CPlaybackService::RecvFn_OnFail(const PacketHeader& header) {
    if (m_session.HandleRefusal(header) == protocol::kReasonReadFailed) {
        return false;
    }
    if (m_bRunning.load() || m_bRequested.load() || m_bAccepted.load()) {
        // The owner's worker runs its jobs in order: a playback being readied begins first
        // and is then stopped.
        if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
            consumers->PlaybackEnded(true);
        }
    }
    return true;
}

bool CPlaybackService::RecvFn_OnDone(const PacketHeader& header) {
    if (!m_session.Discard(header)) {
        return false;
    }
    if (!m_bRunning.load()) {
        return true;
    }
    {
        std::lock_guard lock(m_lock);
        if (IPlaybackConsumers* consumers = m_pConsumers.load()) {
            consumers->FlushPlaybackAudio();
        }
        // The pictures still waiting for their moment are the recording's last: they are
        // shown at their pace.
        SendNow(m_control.OnDone());
    }
    m_session.Owner().Post(platform::Window::Main, protocol::WM_PLAYER_INFO, 1, 0);
    return true;
}

}  // namespace taviro::recordings
