#include "recordings/play_control.h"

#include <utility>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"

namespace taviro::recordings {

namespace {

namespace msg = protocol::msg;

// A channel whose last picture is older than this behind the newest shown is not taken to
// stand where it was shown (it was out of view); a decoder that merely lags under load
// stays well within it.
constexpr std::int64_t kStaleShownMillis = 5'000;

PlayMessage Plain(std::uint16_t code) {
    return PlayMessage{code, {}};
}

PlayMessage Word(std::uint16_t code, std::uint32_t value) {
    PlayMessage m{code, std::vector<std::uint8_t>(4)};
    protocol::StoreBE32(m.payload.data(), value);
    return m;
}

PlayMessage Positioned(std::uint16_t code, protocol::ChannelMask channels, std::int64_t seconds) {
    PlayRequest r;
    r.channels = channels;
    r.start = static_cast<protocol::RecorderTime>(seconds);
    const auto bytes = EncodePlayRequest(r);
    return PlayMessage{code, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

bool ForwardMode(PlayCommand mode) {
    return mode == PlayCommand::Forward || mode == PlayCommand::NextStep;
}

bool BackwardMode(PlayCommand mode) {
    return mode == PlayCommand::Backward || mode == PlayCommand::PreviousStep;
}

}  // namespace

std::array<std::uint8_t, kPlayRequestSize> EncodePlayRequest(const PlayRequest& request) {
    std::array<std::uint8_t, kPlayRequestSize> b{};
    protocol::StoreBE32(b.data(), request.channels);
    // The kinds travel in the recorder's own (little-endian) order.
    b[4] = static_cast<std::uint8_t>(request.kinds);
    b[5] = static_cast<std::uint8_t>(request.kinds >> 8);
    b[6] = static_cast<std::uint8_t>(request.kinds >> 16);
    b[7] = static_cast<std::uint8_t>(request.kinds >> 24);
    protocol::StoreBE32(b.data() + 16, static_cast<std::uint32_t>(request.start));
    protocol::StoreBE32(b.data() + 20, static_cast<std::uint32_t>(request.end));
    return b;
}

int SpeedOfCode(std::uint32_t code) {
    if (code >= 4 && code <= 9) {
        return static_cast<int>(code) - 10;  // 4 -> -6 ... 9 -> -1
    }
    if (code >= 11 && code <= 16) {
        return static_cast<int>(code) - 10;  // 11 -> +1 ... 16 -> +6
    }
    return 0;
}

PlayMessages CPlayControl::Start(protocol::RecorderTime start) {
    // Nothing of an earlier playback is a position to resume from.
    m_position = start;
    m_shownSeconds = start;
    m_shownMicros = 0;
    m_target = FrameMillis(start, 0);
    m_mode = PlayCommand::Forward;
    m_pause = PauseState::Streaming;
    m_reversal = 0;
    m_stepping = false;
    m_creditCount = 0;
    m_speed = 0;
    m_speedKnown = false;
    m_anchorPending = true;
    m_ahead = false;
    m_restarted = false;
    m_remaining = 0;
    m_channelShown.fill(-1);
    m_waiting = 0;
    m_showLanding = false;
    if (start != 0) {
        m_pause = PauseState::Repositioning;
        m_remaining = kStartCredit;
        m_restarted = true;  // nothing is under way from before
        m_landForward = true;
        m_showLanding = true;
    }
    return {Word(msg::PLAY_STEP_DATA, kStartCredit)};
}

PlayMessages CPlayControl::Command(PlayCommand command, protocol::ChannelMask view,
                                   protocol::ChannelMask played, int channelCount,
                                   bool* newGeneration, bool* discard) {
    m_showLanding = false;
    (void)channelCount;  // the way to a step's picture is paid one frame at a time
    PlayMessages out;
    bool generation = false;
    const PlayCommand old = m_mode;
    const bool wasStreaming = m_pause == PauseState::Streaming && !m_stepping;
    // Ahead: the recorder stands up to a credit's worth of frames past the picture. A step
    // or a reversal starts from the picture, as from pause; the recorder stops first.
    const bool ahead = m_ahead && m_pause == PauseState::Streaming;
    const bool paused = m_pause == PauseState::Paused ||
                        (ahead && command != PlayCommand::Forward && command != PlayCommand::Pause);
    if (paused && ahead) {
        out.push_back(Plain(msg::PLAY_PAUSE));
    }
    m_ahead = false;
    m_restarted = false;
    m_underway = 0;
    const auto position = static_cast<std::int64_t>(m_position);
    // The frame shown last is where a resumed or stepped playback lands.
    m_target = FrameMillis(m_shownSeconds, m_shownMicros);
    switch (command) {
        case PlayCommand::Pause:
            out.push_back(Plain(msg::PLAY_PAUSE));
            m_pause = PauseState::Paused;
            m_stepping = true;
            break;
        case PlayCommand::Forward:
            if (paused) {
                out.push_back(Plain(msg::PLAY_PAUSE));  // (sent even when the recorder is paused)
                out.push_back(Positioned(msg::PLAY_FORWARD, played, position));
                m_pause = PauseState::Repositioning;
                m_remaining = kStartCredit;
            } else {
                out.push_back(Plain(msg::PLAY_FORWARD));
                m_pause = PauseState::Streaming;
            }
            out.push_back(Word(msg::PLAY_STEP_DATA, kStartCredit));
            m_stepping = false;
            break;
        case PlayCommand::Backward:
            if (paused) {
                out.push_back(Positioned(msg::PLAY_BACKWARD, played, position + 1));
                m_pause = PauseState::Repositioning;
                m_remaining = kStartCredit;
            } else {
                out.push_back(Plain(msg::PLAY_BACKWARD));
                m_pause = PauseState::Streaming;
            }
            out.push_back(Word(msg::PLAY_STEP_DATA, kStartCredit));
            m_stepping = false;
            break;
        case PlayCommand::NextStep:
            if (paused) {
                out.push_back(Positioned(msg::PLAY_FORWARD, played, position));
                m_pause = PauseState::Repositioning;
                m_remaining = 1;
            } else {
                out.push_back(Plain(msg::PLAY_PAUSE));
                out.push_back(Plain(msg::PLAY_NEXT_STEP));
                out.push_back(Word(msg::PLAY_CH_CHANGE, view & 0xFFFFu));
            }
            out.push_back(Word(msg::PLAY_STEP_DATA, 1));
            m_stepping = true;
            break;
        case PlayCommand::PreviousStep:
            if (paused) {
                // Forward to the picture shown, then the step back from it. (Going back to
                // it would land on the key frame before it, a group of pictures early, and
                // at the pace the recorder plays backward.)
                out.push_back(Positioned(msg::PLAY_FORWARD, played, position));
                m_pause = PauseState::Repositioning;
                // One frame at a time, as every step's way is paid (see OnElement).
                out.push_back(Word(msg::PLAY_STEP_DATA, 1));
                m_remaining = 1;
            } else {
                out.push_back(Plain(msg::PLAY_PAUSE));
                out.push_back(Plain(msg::PLAY_PREV_STEP));
                out.push_back(Word(msg::PLAY_CH_CHANGE, view & 0xFFFFu));
                out.push_back(Word(msg::PLAY_STEP_DATA, 1));
            }
            m_stepping = true;
            break;
    }
    if (command == PlayCommand::Backward || command == PlayCommand::PreviousStep) {
        m_reversal = ForwardMode(old) ? 2 : 0;
        generation = true;
    } else if (command == PlayCommand::Forward || command == PlayCommand::NextStep) {
        m_reversal = BackwardMode(old) ? 1 : 0;
        // Only a positioned request starts the stream again (at a key frame). A plain one
        // goes on from the frame the decoders hold (the recorder sends a step's lead-in
        // when they lack it), so a new generation, which makes them wait for a key frame,
        // would show nothing for a group of pictures.
        generation = m_reversal == 1 && m_pause == PauseState::Repositioning;
    }
    if (m_pause == PauseState::Repositioning) {
        // Only backward play goes back to its position; everything else comes forward to it.
        m_landForward = command != PlayCommand::Backward;
        // The channels of the request that show a picture land on it, each.
        m_waiting = 0;
        for (int c = 0; c < protocol::kMaxChannels; ++c) {
            std::int64_t& shown = m_channelShown[static_cast<std::size_t>(c)];
            if (shown >= 0 && shown < m_target - kStaleShownMillis) {
                // Not shown for a while (it was out of view, or its recording paused): it
                // lands on the position like a channel not shown yet. Its own old picture
                // would make the key frame it starts again at look like a frame still under
                // way, and the step's one credit would be spent on it for nothing.
                shown = -1;
            }
            if (protocol::HasChannel(played, c) && shown >= 0) {
                m_waiting |= protocol::ChannelMask{1} << static_cast<unsigned>(c);
            }
        }
    }
    if (discard != nullptr) {
        // A faster forward plays on: what is on its way is shown, only sooner.
        *discard = !(command == PlayCommand::Forward && wasStreaming);
    }
    if (command != PlayCommand::Pause) {
        m_mode = command;
        m_creditCount = 0;
        m_anchorPending = true;
    }
    if (newGeneration != nullptr) {
        *newGeneration = generation;
    }
    return out;
}

PlayMessages CPlayControl::SeekTo(protocol::RecorderTime seconds, protocol::ChannelMask played) {
    PlayMessages out;
    out.push_back(Plain(msg::PLAY_PAUSE));
    out.push_back(Positioned(msg::PLAY_FORWARD, played, seconds));
    out.push_back(Word(msg::PLAY_STEP_DATA, kStartCredit));
    m_mode = PlayCommand::Forward;
    m_pause = PauseState::Repositioning;
    m_reversal = 0;
    m_stepping = false;
    m_creditCount = 0;
    m_remaining = kStartCredit;
    m_target = FrameMillis(seconds, 0);
    m_anchorPending = true;
    m_ahead = false;
    // A seek may land in a gap, where the recorder starts after the target: every frame
    // counts from the first, and the first at or past the target lands.
    m_restarted = true;
    m_waiting = 0;
    m_channelShown.fill(-1);
    m_landForward = true;
    m_showLanding = true;
    return out;
}

ElementVerdict CPlayControl::OnElement(bool audio, std::uint32_t speedCode, std::int32_t seconds,
                                       std::int32_t microseconds, protocol::ChannelMask view,
                                       int channelCount, bool unreadable, bool realTime,
                                       int channel) {
    (void)channelCount;
    ElementVerdict v;
    const int speed = SpeedOfCode(speedCode);
    if (!m_speedKnown || speed != m_speed) {
        v.speedChanged = true;
        m_speed = speed;
        m_speedKnown = true;
        m_anchorPending = true;
    }
    // The recorder is granted more every 48 elements, video and audio alike, unless the
    // playback steps or is paused (a step's credit is granted by the step itself). A paced
    // frame counts once it has been shown: the recorder stays a credit ahead of the screen.
    const auto credit = [&] {
        if (!m_stepping && ++m_creditCount >= kCreditBatch) {
            m_creditCount = 0;
            v.send.push_back(Word(msg::PLAY_STEP_DATA, kCreditBatch));
        }
    };
    if (audio) {
        credit();
        v.show = m_pause == PauseState::Streaming && m_speed == 1;
        return v;
    }
    if (unreadable) {
        credit();
        return v;  // no time to go by: neither shown nor a position
    }
    switch (m_pause) {
        case PauseState::Paused:
            credit();
            return v;  // dropped
        case PauseState::Streaming:
            v.show = true;
            v.anchor = m_anchorPending;
            m_anchorPending = false;
            // Backward, and every step: the decoders show no display-exempt lead-in.
            v.reverse = (m_mode == PlayCommand::Backward && m_speed < 0) || m_stepping;
            v.paced = realTime && m_speed == 1 && !m_stepping;
            if (v.paced) {
                m_ahead = true;
            } else {
                credit();
            }
            return v;
        case PauseState::Repositioning:
            break;
    }
    v = Reposition(v, seconds, microseconds, view, channel);
    if (v.hidden && !m_stepping) {
        // Decoded at full speed on the way there: counted as a decoder gets through it.
        // Counted on arrival, the recorder's burst from the key frame before the position
        // would fill a channel's queue past its back-pressure point, which drops the
        // frames up to the next key frame, the position's picture among them.
        v.creditWhenHandled = true;
    } else {
        credit();
    }
    return v;
}

ElementVerdict CPlayControl::Reposition(ElementVerdict v, std::int32_t seconds,
                                        std::int32_t microseconds, protocol::ChannelMask view,
                                        int channel) {
    const std::int64_t t = FrameMillis(seconds, microseconds);
    const bool landForward = m_landForward;
    const bool stepMode = m_mode == PlayCommand::NextStep || m_mode == PlayCommand::PreviousStep;
    // Each channel lands on the picture it shows; one not shown yet on the last shown.
    const bool own = channel >= 0 && channel < protocol::kMaxChannels &&
                     m_channelShown[static_cast<std::size_t>(channel)] >= 0;
    const std::int64_t target = own ? m_channelShown[static_cast<std::size_t>(channel)] : m_target;
    if (m_speed != 0 && (m_speed > 0) != landForward) {
        return v;  // the other direction's stream, still under way: paid for before
    }
    if (landForward && !m_restarted) {
        // Frames past the target before any at or before it are still under way from
        // before the request (the recorder starts again at a key frame at or before the
        // target), paid for by the credit before it. More than a credit's worth cannot
        // be: then it started past the target.
        if (t > target && ++m_underway <= kStartCredit + kCreditBatch) {
            return v;
        }
        m_restarted = true;
    }
    --m_remaining;
    // A step's way to its picture is paid frame by frame, so the recorder stands exactly
    // there when the step is taken: what it sent beyond would be stepped over.
    if (stepMode && m_remaining <= 0) {
        v.send.push_back(Word(msg::PLAY_STEP_DATA, 1));
        m_remaining = 1;
    }
    // Decoded, never shown: the frames after it, the step's among them, build on it.
    v.hidden = true;
    if (landForward ? t < target : t > target) {
        return v;
    }
    if (channel >= 0 && channel < protocol::kMaxChannels) {
        m_waiting &= ~(protocol::ChannelMask{1} << static_cast<unsigned>(channel));
    }
    // Every channel of the request must reach its picture, unless the recording of one ends
    // before: a second past the last picture shown lands all the same.
    const bool beyond = landForward ? t > m_target + 1000 : t < m_target - 1000;
    if (m_waiting != 0 && !beyond) {
        return v;
    }
    // Landed: this frame is the one already shown (or the first past it), so it is not
    // shown again; streaming goes on, or the step is taken from here. (The decoders started
    // a new generation when the request went out, at the key frame the recorder starts at.)
    if (!v.send.empty() && stepMode) {
        v.send.clear();  // the frame-by-frame credit: the step below has its own
    }
    m_pause = PauseState::Streaming;
    m_anchorPending = true;
    m_reversal = 0;
    if (std::exchange(m_showLanding, false) && !stepMode) {
        // The first picture at the time asked for: shown, and the clock starts from it, so
        // nothing decoded on the way to it comes in a burst.
        v.hidden = false;
        v.show = true;
        v.anchor = true;
        return v;
    }
    if (stepMode) {
        v.send.push_back(Plain(msg::PLAY_PAUSE));
        v.send.push_back(
            Plain(m_mode == PlayCommand::NextStep ? msg::PLAY_NEXT_STEP : msg::PLAY_PREV_STEP));
        v.send.push_back(Word(msg::PLAY_CH_CHANGE, view & 0xFFFFu));
        v.send.push_back(Word(msg::PLAY_STEP_DATA, 1));
    }
    return v;
}

void CPlayControl::OnShown(int channel, std::int32_t seconds, std::int32_t microseconds,
                           protocol::RecorderTime position) {
    if (channel >= 0 && channel < protocol::kMaxChannels) {
        m_channelShown[static_cast<std::size_t>(channel)] = FrameMillis(seconds, microseconds);
    }
    m_position = position;
    m_shownSeconds = seconds;
    m_shownMicros = microseconds;
}

PlayMessages CPlayControl::OnPacedHandled() {
    PlayMessages out;
    if (!m_stepping && m_pause != PauseState::Paused && ++m_creditCount >= kCreditBatch) {
        m_creditCount = 0;
        out.push_back(Word(msg::PLAY_STEP_DATA, kCreditBatch));
    }
    return out;
}

PlayMessages CPlayControl::FreshCredit() {
    if (m_stepping || m_pause == PauseState::Paused) {
        return {};
    }
    m_creditCount = 0;
    return {Word(msg::PLAY_STEP_DATA, kStartCredit)};
}

PlayMessages CPlayControl::OnDataFinish() {
    if (m_pause == PauseState::Repositioning) {
        return {Word(msg::PLAY_STEP_DATA, 1)};
    }
    return {};
}

PlayMessages CPlayControl::OnDone() {
    bool ignored = false;
    PlayMessages out = Command(PlayCommand::Pause, 0, 0, 0, &ignored);
    m_pause = PauseState::Streaming;
    return out;
}

std::int64_t CPlayPacer::WaitMillis(std::int64_t mediaMs, std::int64_t nowMs) {
    if (!m_anchored) {
        Anchor(mediaMs, nowMs);
    }
    const std::int64_t due = m_tick + (mediaMs - m_media);
    const std::int64_t wait = due - nowMs;
    if (wait < -1000 || wait > 3000) {
        // Fallen behind by more than a second, or a jump in the recorder's clock: start
        // again from this frame rather than racing or stalling.
        m_media = mediaMs;
        m_tick = nowMs;
        return 0;
    }
    return wait > 0 ? wait : 0;
}

std::int64_t CPlayPacer::DueInMillis(std::int64_t mediaMs, std::int64_t nowMs) const {
    if (!m_anchored) {
        return 0;
    }
    const std::int64_t wait = m_tick + (mediaMs - m_media) - nowMs;
    return wait > 0 && wait <= 3000 ? wait : 0;
}

}  // namespace taviro::recordings
