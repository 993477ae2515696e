#include "client/local_playback.h"

#include "platform/h264_decoder.h"
#include "platform/trace.h"
#include "protocol/session_messages.h"

namespace taviro::client {

namespace {

std::uint32_t FormatOf(std::uint32_t format) {
    return format != 0 ? format : platform::kH264FormatYuv420;
}

}  // namespace

CLocalPlayback::CLocalPlayback(video::CChannelViews& views, platform::IMessageSink& sink,
                               LocalPlaybackSettings settings)
    : m_views(views),
      m_sink(sink),
      m_settings(std::move(settings)),
      m_pipeline(views, m_state, m_slots, FormatOf(m_settings.pictureFormat), &sink, nullptr),
      m_audio(m_state, m_slots) {
    for (int c = 0; c < 16; ++c) {
        m_pipeline.SetDeinterlace(c, m_settings.deinterlace[static_cast<std::size_t>(c)]);
    }
}

CLocalPlayback::~CLocalPlayback() {
    Stop();
}

LocalStart CLocalPlayback::Start(std::uint32_t time) {
    Stop();
    const auto files = archive::ChainFiles(archive::ScanFolder(m_settings.folder));
    auto segments = archive::BuildSegments(files, time);
    const auto current = archive::FirstSegmentAfter(segments, time);
    if (!current) {
        m_sink.Notify(4, 0);
        return LocalStart::kNoRecording;
    }
    m_views.ClearHasDecoded();
    m_views.SetViewMode(video::ViewMode::LocalPlayback);
    m_pipeline.StartDecoders(protocol::kAllChannels);
    if (m_settings.soundOut != nullptr) {
        m_audio.Start(m_settings.audioBuffer, m_settings.soundOut);
        m_bAudioOn = true;
    }
    archive::PlayerOptions options;
    options.watermark = m_settings.watermark;
    options.audio = m_settings.soundOut != nullptr;
    archive::IPlayerOutput& output = *this;
    auto player =
        std::make_unique<archive::CLocalPlayer>(std::move(segments), *current, output, options);
    m_bStopAsked = false;
    player->Start();
    std::lock_guard lock(m_playerLock);
    m_player = std::move(player);
    return LocalStart::kStarted;
}

void CLocalPlayback::Stop() {
    std::unique_ptr<archive::CLocalPlayer> player;
    {
        std::lock_guard lock(m_playerLock);
        player = std::move(m_player);
    }
    if (!player) {
        return;
    }
    // From here the buttons find no player; its thread ends outside the lock.
    m_bStopAsked = true;
    player->Stop();
    m_audio.Stop();
    m_bAudioOn = false;
    m_pipeline.StopDecoders(std::chrono::milliseconds(500));
    player.reset();
    m_views.SetViewMode(video::ViewMode::Idle);
    m_sink.Post(platform::Window::Main, client::WM_LOCAL_STOPPED, 0, 0);
}

void CLocalPlayback::SetMode(archive::PlayerMode mode) {
    std::lock_guard lock(m_playerLock);
    if (m_player) {
        m_player->SetMode(mode);
    }
}

void CLocalPlayback::SeekTo(std::uint32_t seconds) {
    std::lock_guard lock(m_playerLock);
    if (m_player) {
        m_player->SeekTo(seconds);
    }
}

bool CLocalPlayback::Running() const {
    std::lock_guard lock(m_playerLock);
    return m_player && m_player->Running();
}

archive::PlayerState CLocalPlayback::State() const {
    std::lock_guard lock(m_playerLock);
    return m_player ? m_player->State() : archive::PlayerState{};
}

std::uint32_t CLocalPlayback::FrameTime() const {
    std::lock_guard lock(m_playerLock);
    return m_player ? m_player->FrameTime() : 0;
}

std::filesystem::path CLocalPlayback::CurrentVid() const {
    std::lock_guard lock(m_playerLock);
    return m_player ? m_player->CurrentVid() : std::filesystem::path{};
}

std::uint64_t CLocalPlayback::FramesQueued() const {
    std::lock_guard lock(m_playerLock);
    return m_player ? m_player->FramesQueued() : 0;
}

// --- the player thread ---

void CLocalPlayback::Cleared() {
    for (int c = 0; c < 16; ++c) {
        video::ChannelView& view = m_views.Channel(c);
        std::lock_guard lock(view.lock);
        view.integrity = -1;
    }
    m_sink.Post(platform::Window::Main, protocol::WM_REDRAW_CHANNEL_GRID, 0, 0);
}

void CLocalPlayback::Started() {
    if (m_settings.log)
        m_settings.log->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kLocalPlayback, 1);
    m_sink.Post(platform::Window::Main, protocol::WM_PLAYER_INFO, 1, 0);
}

void CLocalPlayback::SegmentChanged(const archive::SliderSpan& span, int layoutCode,
                                    std::uint32_t channels) {
    m_views.SetAvailableMask(channels & protocol::kAllChannels);
    m_sink.Post(platform::Window::Main, client::WM_LOCAL_SEGMENT,
                (static_cast<std::uint64_t>(span.start) << 32) | span.end,
                (static_cast<std::int64_t>(layoutCode) << 32) | (channels & 0xFFFFu));
}

bool CLocalPlayback::Accepts(int channel) {
    return static_cast<bool>(m_slots.Video(channel));
}

bool CLocalPlayback::Shown(int channel) {
    return Accepts(channel) && protocol::HasChannel(m_nShown.load(), channel);
}

std::size_t CLocalPlayback::Queued(int channel) {
    const auto queue = m_slots.Video(channel);
    return queue ? queue->Count() : 0;
}

void CLocalPlayback::WatchRoom(const std::shared_ptr<stream::CWakeSignal>& signal) {
    for (int c = 0; c < 16; ++c) {
        if (const auto queue = m_slots.Video(c)) {
            queue->SetTakeSignal(signal);
        }
    }
}

void CLocalPlayback::QueueFrame(int channel, stream::QueuedFrame frame) {
    if (const auto queue = m_slots.Video(channel)) {
        queue->Put(std::move(frame));
    }
}

void CLocalPlayback::QueueAudio(const stream::AudioBlock& block) {
    if (const auto queue = m_slots.Audio()) {
        queue->Put(stream::HeardBlock{block});
    }
}

void CLocalPlayback::StopAudio() {
    // The queued sound is let go; the output stays ready for normal speed again.
    if (const auto queue = m_slots.Audio()) {
        queue->Clear();
    }
}

void CLocalPlayback::Position(std::uint32_t seconds) {
    if (m_nLastPosition.exchange(seconds) != seconds) {
        m_sink.Post(platform::Window::Main, client::WM_LOCAL_POSITION, seconds, 0);
    }
}

void CLocalPlayback::Integrity(int channel, int state) {
    video::ChannelView& view = m_views.Channel(channel);
    std::lock_guard lock(view.lock);
    view.integrity = state;
}

void CLocalPlayback::StateChanged(const archive::PlayerState& state) {
    m_sink.Post(platform::Window::Main, client::WM_LOCAL_STATE,
                static_cast<std::uint64_t>(state.mode), state.speed);
}

void CLocalPlayback::Stopped() {
    if (m_settings.log)
        m_settings.log->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kLocalPlayback, 2);
    platform::Trace("local player ended\n");
    if (!m_bStopAsked.load()) {
        // Nothing asked it to end: its recording could not be read. The owner stops the
        // playback as the Stop button does, so live view comes back, and says why.
        m_sink.Post(platform::Window::Main, client::WM_LOCAL_STOPPED, kLocalEndedUnreadable, 0);
    }
}

}  // namespace taviro::client
