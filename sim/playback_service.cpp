#include "sim/playback_service.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/hello.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

constexpr std::size_t kPlayRequestSize = 24;
constexpr std::int64_t kMicrosPerSecond = 1'000'000;
// The general refusal of a request the recorder cannot read, and "nothing recorded".
constexpr std::int32_t kBadRequest = 1;
constexpr std::int32_t kNothingRecorded = 83;
// One Poll sends for at most this long, so the client's commands are read in between.
constexpr std::chrono::milliseconds kBurst{20};
// A client cannot owe the recorder more than this; larger grants are capped, not wrapped.
constexpr std::int64_t kMaxCredit = std::int64_t{1} << 40;

}  // namespace

CPlaybackService::CPlaybackService(const SimConfig& config,
                                   std::shared_ptr<const SimArchive> archive)
    : m_archive(std::move(archive)),
      m_channels(RecorderChannels(config)),
      m_productType(protocol::ProductTypeFor(config.product_number) == 5 ? 5 : 3),
      m_fragmentSize(std::clamp<std::size_t>(config.live_fragment_size, 1, protocol::kMaxPayload)),
      m_gop(std::max(config.live_gop, 1)),
      m_playReason(config.play_reason),
      m_failAfter(config.play_fail_after),
      m_failCode(config.play_fail_code),
      m_encoder(config.live_poc_step),
      m_audio(config.audio_amplitude) {}

bool CPlaybackService::Handles(std::uint16_t code) const {
    switch (code) {
        case msg::PLAY_ON_REQ:
        case msg::PLAY_FORWARD:
        case msg::PLAY_BACKWARD:
        case msg::PLAY_PAUSE:
        case msg::PLAY_NEXT_STEP:
        case msg::PLAY_PREV_STEP:
        case msg::PLAY_STEP_DATA:
        case msg::PLAY_CH_CHANGE:
        case msg::RPLAY_STOP:
            return true;
        default:
            return false;
    }
}

std::optional<CPlaybackService::PlayRequest> CPlaybackService::ParseRequest(
    std::span<const std::uint8_t> payload) {
    if (payload.size() != kPlayRequestSize) {
        return std::nullopt;
    }
    PlayRequest r;
    r.mask = protocol::LoadBE32(payload.data()) & protocol::kAllChannels;
    r.kinds = protocol::LoadLE32(payload.data() + 4);  // the one little-endian field
    r.start = static_cast<protocol::RecorderTime>(protocol::LoadBE32(payload.data() + 16));
    r.end = static_cast<protocol::RecorderTime>(protocol::LoadBE32(payload.data() + 20));
    return r;
}

void CPlaybackService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                                 std::span<const std::uint8_t> payload) {
    switch (header.Command()) {
        case msg::PLAY_ON_REQ:
            Open(connection, payload);
            return;
        case msg::RPLAY_STOP:
            m_state = State::Idle;
            m_timeline.reset();
            m_busy = false;
            connection.Send(msg::PLAY_OFF_ACK, {});
            return;
        case msg::PLAY_STEP_DATA:
            if (payload.size() == 4) {
                m_credit = std::min(kMaxCredit, m_credit + protocol::LoadBE32(payload.data()));
            }
            return;
        case msg::PLAY_CH_CHANGE:
            if (payload.size() == 4) {
                m_stepMask = protocol::LoadBE32(payload.data()) & protocol::kAllChannels;
            }
            return;
        default:
            Command(connection, header.Command(), payload);
            return;
    }
}

void CPlaybackService::Open(CSimConnection& connection, std::span<const std::uint8_t> payload) {
    m_state = State::Idle;
    m_timeline.reset();
    m_busy = false;
    const auto request = ParseRequest(payload);
    if (!request) {
        End(connection, msg::PLAY_ON_NACK, kBadRequest);
        return;
    }
    if (m_playReason) {
        End(connection, msg::PLAY_ON_NACK, *m_playReason);
        return;
    }
    const protocol::ChannelMask mask = request->mask & m_channels;
    m_eventsOnly = PlayKindsSelectEventsOnly(request->kinds);
    m_end = request->end;
    CPlayTimeline timeline(*m_archive, mask, m_eventsOnly, m_end, m_gop);
    const std::int64_t start = std::int64_t{request->start} * kMicrosPerSecond;
    bool recorded = false;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        recorded = recorded || (protocol::HasChannel(mask, c) && timeline.FirstAtOrAfter(c, start));
    }
    if (!recorded) {
        End(connection, msg::PLAY_ON_NACK, kNothingRecorded);
        return;
    }
    std::uint8_t word[4];
    protocol::StoreBE32(word, mask);
    connection.Send(msg::PLAY_CHANNEL_INFO, word);
    connection.Send(msg::PLAY_ON_ACK, {});

    m_timeline.emplace(std::move(timeline));
    int slowest = 60;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (protocol::HasChannel(mask, c)) {
            slowest = std::min(slowest, m_timeline->Rate(c));
        }
    }
    m_groupMicros = std::int64_t{m_gop} * kMicrosPerSecond / std::max(slowest, 1);
    m_mask = m_active = m_stepMask = mask;
    m_elements = 0;
    m_credit = 0;  // the acknowledgement grants nothing
    m_encoder.Reset();
    m_coded.fill(std::nullopt);
    m_shown.fill(std::nullopt);
    m_audio.Reset();
    m_speed = 1;
    m_state = State::Streaming;
    m_position = start;
    StartForward(start, true);
}

void CPlaybackService::Command(CSimConnection& /*connection*/, std::uint16_t code,
                               std::span<const std::uint8_t> payload) {
    if (m_state == State::Idle || !m_timeline) {
        return;  // no playback to steer
    }
    const bool positioned = payload.size() == kPlayRequestSize;
    if ((code == msg::PLAY_FORWARD || code == msg::PLAY_BACKWARD) && !positioned &&
        !payload.empty()) {
        return;  // neither form: the recorder cannot tell what was meant
    }
    m_credit = 0;
    m_busy = false;
    switch (code) {
        case msg::PLAY_PAUSE:
            if (m_state == State::Streaming || m_state == State::Stepping) {
                m_state = State::Paused;
            }
            return;
        case msg::PLAY_NEXT_STEP:
        case msg::PLAY_PREV_STEP:
            m_state = State::Stepping;
            m_stepForward = code == msg::PLAY_NEXT_STEP;
            m_speed = m_stepForward ? 1 : -1;
            return;
        default:
            break;
    }
    const bool forward = code == msg::PLAY_FORWARD;
    if (positioned) {
        const auto request = ParseRequest(payload);
        // The client narrows a positioned request to the channels it shows.
        const protocol::ChannelMask kept = request->mask & m_mask;
        m_active = kept != 0 ? kept : m_mask;
        m_position = std::int64_t{request->start} * kMicrosPerSecond;
        m_speed = forward ? 1 : -1;
        m_state = State::Streaming;
        if (forward) {
            StartForward(m_position, true);
        } else {
            StartBackward(m_position);
        }
        return;
    }
    if (m_state == State::Streaming && (m_speed > 0) == forward) {
        // Faster in the same direction.
        m_speed =
            forward ? std::min(m_speed + 1, kMaxPlaySpeed) : std::max(m_speed - 1, -kMaxPlaySpeed);
        m_anchor.reset();
        return;
    }
    m_speed = forward ? 1 : -1;
    m_state = State::Streaming;
    if (forward) {
        StartForward(m_position + 1, false);
    } else {
        StartBackward(m_position - 1);
    }
}

void CPlaybackService::StartForward(std::int64_t micros, bool positioned) {
    const CPlayTimeline& t = *m_timeline;
    m_cursor.fill(std::nullopt);
    std::optional<std::int64_t> first;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (!protocol::HasChannel(m_active, c)) {
            continue;
        }
        auto& cursor = m_cursor[static_cast<std::size_t>(c)];
        const auto& coded = m_coded[static_cast<std::size_t>(c)];
        if (positioned) {
            cursor = t.KeyForStart(c, micros);
        } else if (const auto at = t.FirstAtOrAfter(c, micros)) {
            // Go on from the frame the client's decoder has, or start from a key frame.
            cursor = coded && t.Next(c, *coded) == *at ? *at : t.KeyAtOrBefore(c, *at);
        }
        if (cursor) {
            const std::int64_t when = t.Micros(c, *cursor);
            first = first ? std::min(*first, when) : when;
        }
    }
    m_audioCursor.reset();
    if (first && (t.AudioChannels() & m_active) != 0) {
        m_audioCursor = t.FirstAtOrAfter(kAudioTrack, *first);
    }
    m_anchor.reset();
}

void CPlaybackService::StartBackward(std::int64_t micros) {
    const CPlayTimeline& t = *m_timeline;
    m_cursor.fill(std::nullopt);
    m_audioCursor.reset();
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (!protocol::HasChannel(m_active, c)) {
            continue;
        }
        if (const auto at = t.LastAtOrBefore(c, micros)) {
            m_cursor[static_cast<std::size_t>(c)] = t.KeyAtOrBefore(c, *at);
        }
    }
    m_anchor.reset();
}

void CPlaybackService::Poll(CSimConnection& connection) {
    m_busy = false;
    if (!m_timeline || connection.SendingStopped()) {
        return;
    }
    if ((m_state == State::Streaming || m_state == State::Stepping) && FailIfDue(connection)) {
        return;
    }
    if (m_state == State::Streaming) {
        Stream(connection);
    } else if (m_state == State::Stepping) {
        Step(connection);
    }
}

std::optional<CPlaybackService::Pick> CPlaybackService::NextPick() const {
    const CPlayTimeline& t = *m_timeline;
    const bool forward = m_speed > 0;
    std::optional<Pick> best;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const auto& cursor = m_cursor[static_cast<std::size_t>(c)];
        if (!cursor) {
            continue;
        }
        const std::int64_t when = t.Micros(c, *cursor);
        if (!best || (forward ? when < best->micros : when > best->micros)) {
            best = Pick{c, *cursor, when};
        }
    }
    // Sound only at normal speed, between the frames of its time.
    if (m_speed == 1 && m_audioCursor) {
        const std::int64_t when = t.Micros(kAudioTrack, *m_audioCursor);
        if (!best || when < best->micros) {
            best = Pick{kAudioTrack, *m_audioCursor, when};
        }
    }
    return best;
}

bool CPlaybackService::Due(std::int64_t micros) {
    if (m_speed == 1) {
        return true;  // the client paces normal speed itself
    }
    const auto now = Clock::now();
    if (!m_anchor) {
        m_anchor.emplace(now, micros);
        return true;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(now - m_anchor->first).count();
    const std::int64_t due = m_anchor->second + m_speed * elapsed;
    // More than a second of real time off (and more than a group of pictures): a gap in the
    // recordings ahead, or a sender that fell behind. Either way go on from here rather
    // than wait or burst.
    // Backward, key frames lie a group apart; a group is no gap.
    const std::int64_t slack = std::abs(m_speed) * kMicrosPerSecond + m_groupMicros;
    if (micros > due + slack || micros < due - slack) {
        m_anchor.emplace(now, micros);
        return true;
    }
    return m_speed > 0 ? micros <= due : micros >= due;
}

void CPlaybackService::Stream(CSimConnection& connection) {
    const auto deadline = Clock::now() + kBurst;
    while (m_state == State::Streaming) {
        const auto pick = NextPick();
        if (!pick) {
            End(connection, msg::PLAY_ON_DONE, std::nullopt);
            return;
        }
        if (m_credit <= 0 || !Due(pick->micros)) {
            return;
        }
        if (!SendPick(connection, *pick)) {
            return;
        }
        if (Clock::now() >= deadline) {
            m_busy = m_state == State::Streaming;
            return;
        }
    }
}

bool CPlaybackService::SendPick(CSimConnection& connection, const Pick& pick) {
    const CPlayTimeline& t = *m_timeline;
    if (pick.track == kAudioTrack) {
        m_audioCursor = t.Next(kAudioTrack, pick.frame);
        const protocol::ChannelMask mask = t.AudioAt(m_active, pick.frame.second);
        if (mask == 0) {
            return true;  // no played channel with sound records then
        }
        std::vector<std::uint8_t> blocks(kPlayAudioBlockSize *
                                         static_cast<std::size_t>(protocol::ChannelCount(mask)));
        m_audio.Blocks(mask, t.Counter(kAudioTrack, pick.frame), blocks);
        const auto seconds = static_cast<protocol::RecorderTime>(pick.frame.second);
        const auto micros =
            static_cast<std::int32_t>(pick.micros - pick.frame.second * kMicrosPerSecond);
        const auto element = BuildPlayAudioElement(m_productType, mask, seconds, micros, blocks);
        return SendElement(connection, element, seconds) && !FailIfDue(connection);
    }
    auto& cursor = m_cursor[static_cast<std::size_t>(pick.track)];
    if (m_speed > 0) {
        cursor = t.Next(pick.track, pick.frame);
    } else {
        // Backward: the key frame before this one.
        const auto prev = t.Prev(pick.track, pick.frame);
        cursor = prev ? std::optional(t.KeyAtOrBefore(pick.track, *prev)) : std::nullopt;
    }
    if (!SendFrame(connection, pick.track, pick.frame, false)) {
        return false;
    }
    m_shown[static_cast<std::size_t>(pick.track)] = pick.frame;
    m_position = pick.micros;
    return !FailIfDue(connection);
}

void CPlaybackService::Step(CSimConnection& connection) {
    const CPlayTimeline& t = *m_timeline;
    const auto deadline = Clock::now() + kBurst;
    const protocol::ChannelMask channels = m_stepMask & m_mask;
    while (m_state == State::Stepping && m_credit > 0) {
        --m_credit;
        bool any = channels == 0;  // a step of no channel is still a step
        for (int c = 0; c < protocol::kMaxChannels; ++c) {
            if (!protocol::HasChannel(channels, c)) {
                continue;
            }
            const auto& shown = m_shown[static_cast<std::size_t>(c)];
            std::optional<PlayFrame> target;
            if (m_stepForward) {
                target = shown ? t.Next(c, *shown) : t.FirstAtOrAfter(c, m_position);
            } else {
                target = shown ? t.Prev(c, *shown) : t.LastAtOrBefore(c, m_position);
            }
            if (!target) {
                continue;
            }
            any = true;
            if (!Show(connection, c, *target)) {
                return;
            }
        }
        if (!any) {
            End(connection, msg::PLAY_ON_DONE, std::nullopt);
            return;
        }
        if (!connection.Send(msg::PLAY_DATA_FINISH, {})) {
            return;
        }
        if (Clock::now() >= deadline) {
            m_busy = m_credit > 0;
            return;
        }
    }
}

bool CPlaybackService::Show(CSimConnection& connection, int channel, PlayFrame target) {
    const CPlayTimeline& t = *m_timeline;
    const auto& coded = m_coded[static_cast<std::size_t>(channel)];
    if (!t.IsKey(channel, target) && !(coded && t.Next(channel, *coded) == target)) {
        // The client's decoder lacks the frames this one depends on: send them first, to
        // be decoded but not shown.
        for (PlayFrame f = t.KeyAtOrBefore(channel, target); !(f == target);) {
            if (!SendFrame(connection, channel, f, true) || FailIfDue(connection)) {
                return false;
            }
            const auto next = t.Next(channel, f);
            if (!next) {
                break;
            }
            f = *next;
        }
    }
    if (!SendFrame(connection, channel, target, false)) {
        return false;
    }
    m_shown[static_cast<std::size_t>(channel)] = target;
    m_position = t.Micros(channel, target);
    return !FailIfDue(connection);
}

bool CPlaybackService::SendFrame(CSimConnection& connection, int channel, PlayFrame frame,
                                 bool exempt) {
    const CPlayTimeline& t = *m_timeline;
    auto& coded = m_coded[static_cast<std::size_t>(channel)];
    // A key frame where the recording has one, or wherever the client's decoder could not
    // follow (never the case for the frames the playback picks, kept for safety).
    const bool key = t.IsKey(channel, frame) || !(coded && t.Next(channel, *coded) == frame);
    const ArchiveChannel& setup = m_archive->channels[static_cast<std::size_t>(channel)];
    const auto unit =
        m_encoder.Encode(channel, setup.width, setup.height, t.Counter(channel, frame), key);
    if (!unit) {
        return false;
    }
    coded = frame;
    PlayVideoFrame v;
    v.channel = channel;
    v.seconds = static_cast<protocol::RecorderTime>(frame.second);
    v.microseconds =
        static_cast<std::int32_t>(t.Micros(channel, frame) - frame.second * kMicrosPerSecond);
    v.displayExempt = exempt;
    v.title = setup.title;
    v.width = setup.width;
    v.height = setup.height;
    return SendElement(connection, BuildPlayVideoElement(m_productType, v, *unit), v.seconds);
}

bool CPlaybackService::SendElement(CSimConnection& connection,
                                   std::span<const std::uint8_t> element,
                                   protocol::RecorderTime seconds) {
    for (const auto& fragment :
         SplitPlayElement(element, seconds, m_fragmentSize, m_speed, connection.AudioOn())) {
        if (!connection.SendPrebuilt(fragment.header, fragment.wire)) {
            return false;
        }
    }
    ++m_elements;
    if (m_state == State::Streaming) {
        --m_credit;  // a step was paid for as a whole
    }
    return true;
}

bool CPlaybackService::FailIfDue(CSimConnection& connection) {
    if (!m_failAfter || m_elements < *m_failAfter) {
        return false;
    }
    End(connection, msg::PLAY_ON_FAIL, m_failCode);
    return true;
}

void CPlaybackService::End(CSimConnection& connection, std::uint16_t code,
                           std::optional<std::int32_t> reason) {
    m_busy = false;
    if (code == msg::PLAY_ON_DONE) {
        m_state = State::Done;
    } else {
        m_state = State::Idle;
        m_timeline.reset();
    }
    if (!reason) {
        connection.Send(code, {});
        return;
    }
    std::uint8_t word[4];
    protocol::StoreBE32(word, static_cast<std::uint32_t>(*reason));
    connection.Send(code, word);
}

}  // namespace taviro::sim
