#include "recordings/play_control.h"

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"

namespace taviro::recordings {

namespace {

namespace msg = protocol::msg;

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
    m_remaining = 0;
    return {Word(msg::PLAY_STEP_DATA, kStartCredit)};
}

PlayMessages CPlayControl::Command(PlayCommand command, protocol::ChannelMask view,
                                   protocol::ChannelMask played, int channelCount,
                                   bool* newGeneration) {
    PlayMessages out;
    bool generation = false;
    const PlayCommand old = m_mode;
    const bool paused = m_pause == PauseState::Paused;
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
                out.push_back(Plain(msg::PLAY_PAUSE));
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
                out.push_back(Positioned(msg::PLAY_BACKWARD, played, position + 1));
                m_pause = PauseState::Repositioning;
                const auto count = static_cast<std::uint32_t>(channelCount > 0 ? channelCount : 1);
                out.push_back(Word(msg::PLAY_STEP_DATA, count));
                m_remaining = count;
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
        generation = m_reversal == 1;
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
    return out;
}

ElementVerdict CPlayControl::OnElement(bool audio, std::uint32_t speedCode, std::int32_t seconds,
                                       std::int32_t microseconds, protocol::ChannelMask view,
                                       int channelCount,
                                       std::optional<protocol::RecorderTime> position,
                                       bool unreadable) {
    ElementVerdict v;
    const int speed = SpeedOfCode(speedCode);
    if (!m_speedKnown || speed != m_speed) {
        v.speedChanged = true;
        m_speed = speed;
        m_speedKnown = true;
        m_anchorPending = true;
    }
    // The recorder is granted more every 48 elements, video and audio alike, unless the
    // playback steps or is paused (a step's credit is granted by the step itself).
    if (!m_stepping && ++m_creditCount >= kCreditBatch) {
        m_creditCount = 0;
        v.send.push_back(Word(msg::PLAY_STEP_DATA, kCreditBatch));
    }
    if (audio) {
        v.show = m_pause == PauseState::Streaming && m_speed == 1;
        return v;
    }
    if (unreadable) {
        return v;  // no time to go by: neither shown nor a position
    }
    switch (m_pause) {
        case PauseState::Paused:
            return v;  // dropped
        case PauseState::Streaming:
            v.show = true;
            v.anchor = m_anchorPending;
            m_anchorPending = false;
            v.reverse = (m_mode == PlayCommand::Backward && m_speed < 0) ||
                        m_mode == PlayCommand::PreviousStep;
            m_position = position.value_or(seconds);
            m_shownSeconds = seconds;
            m_shownMicros = microseconds;
            return v;
        case PauseState::Repositioning:
            break;
    }
    --m_remaining;
    const std::int64_t t = FrameMillis(seconds, microseconds);
    const bool landForward = m_reversal == 1 || (m_reversal != 2 && ForwardMode(m_mode));
    const bool before = landForward ? t < m_target : t > m_target;
    const bool stepMode =
        landForward ? m_mode == PlayCommand::NextStep : m_mode == PlayCommand::PreviousStep;
    if (before) {
        if (stepMode && m_remaining <= 1) {
            const auto count = static_cast<std::uint32_t>(channelCount > 0 ? channelCount : 1);
            v.send.push_back(Word(msg::PLAY_STEP_DATA, count));
            m_remaining = count;
        }
        return v;
    }
    // Landed: this frame is the one already shown (or the first past it), so it is not
    // shown again; streaming goes on, or the step is taken from here.
    m_pause = PauseState::Streaming;
    m_anchorPending = true;
    if (m_reversal != 0) {
        v.newGeneration = true;
        m_reversal = 0;
    }
    if (stepMode) {
        v.send.push_back(Plain(msg::PLAY_PAUSE));
        v.send.push_back(Plain(landForward ? msg::PLAY_NEXT_STEP : msg::PLAY_PREV_STEP));
        v.send.push_back(Word(msg::PLAY_CH_CHANGE, view & 0xFFFFu));
        v.send.push_back(Word(msg::PLAY_STEP_DATA, 1));
    }
    return v;
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

}  // namespace taviro::recordings
