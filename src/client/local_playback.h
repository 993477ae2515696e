// CLocalPlayback: a playback of backup pairs without a recorder. It owns what the player
// feeds (its own stream state, consumer slots, channel decoders and audio output on the
// owner's channel views) and the player thread (archive::CLocalPlayer), and tells the
// window where playback stands by message: WM_PLAYER_INFO 1 when it runs, WM_LOCAL_SEGMENT,
// WM_LOCAL_POSITION, WM_LOCAL_STATE, WM_LOCAL_STOPPED (wParam kLocalEndedUnreadable when
// the player ended by itself, its recording unreadable: the owner then runs its stop).
//
// Threads: Start and Stop wait for threads (decoders, the player) and belong on a worker
// or the command line's thread, never the window's; SetMode, SeekTo and the getters from
// any thread, also while Start or Stop replaces the player: the player is reached only
// under m_playerLock, which is never held while a thread is joined. The views and the sink
// are the owner's and outlive this object.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "archive/backup_reader.h"
#include "archive/local_player.h"
#include "audio/live_audio.h"
#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "platform/sound_device.h"
#include "stream/consumer_slots.h"
#include "stream/stream_state.h"
#include "video/channel_views.h"
#include "video/live_pipeline.h"

namespace taviro::client {

// What the local player reports to its window.
// wParam = slider start << 32 | end; lParam = layout << 32 | channels.
inline constexpr std::uint32_t WM_LOCAL_SEGMENT = 0x5410;
inline constexpr std::uint32_t WM_LOCAL_POSITION = 0x5411;  // wParam = the second shown
inline constexpr std::uint32_t WM_LOCAL_STATE = 0x5412;     // wParam = mode, lParam = speed
inline constexpr std::uint32_t WM_LOCAL_STOPPED = 0x5413;   // the player has ended

struct LocalPlaybackSettings {
    std::filesystem::path folder;     // the download folder
    std::uint32_t pictureFormat = 0;  // the renderer's (platform::kH264FormatYuv420 when 0)
    bool watermark = true;
    platform::ISoundOut* soundOut = nullptr;  // null: no sound
    int audioBuffer = 2;
    std::array<bool, 16> deinterlace{};
    // The player's start and end are written here (null: not written).
    std::shared_ptr<logs::ILocalLog> log;
};

// Why a playback could not start.
enum class LocalStart { kStarted, kNoRecording };

// WM_LOCAL_STOPPED's wParam when the player ended by itself (its first pair unreadable).
inline constexpr std::uint64_t kLocalEndedUnreadable = 1;

class CLocalPlayback final : private archive::IPlayerOutput {
  public:
    CLocalPlayback(video::CChannelViews& views, platform::IMessageSink& sink,
                   LocalPlaybackSettings settings);
    ~CLocalPlayback() override;
    CLocalPlayback(const CLocalPlayback&) = delete;
    CLocalPlayback& operator=(const CLocalPlayback&) = delete;

    // Lists the folder, chains its pairs, builds the segments and starts at `time` (the
    // first segment that ends after it). kNoRecording: no pair covers it ((4, 0) is posted).
    LocalStart Start(std::uint32_t time);
    // Ends the player, drains and stops the decoders and the sound.
    void Stop();
    void SetMode(archive::PlayerMode mode);
    void SeekTo(std::uint32_t seconds);

    [[nodiscard]] bool Running() const;
    [[nodiscard]] archive::PlayerState State() const;
    [[nodiscard]] std::uint32_t FrameTime() const;
    [[nodiscard]] std::filesystem::path CurrentVid() const;
    // The channels the views show in this layout (the step modes step only these).
    void SetShownChannels(protocol::ChannelMask shown) { m_nShown = shown; }
    [[nodiscard]] std::uint64_t FramesQueued() const;

  private:
    // archive::IPlayerOutput (the player thread)
    void Cleared() override;
    void Started() override;
    void SegmentChanged(const archive::SliderSpan& span, int layoutCode,
                        std::uint32_t channels) override;
    bool Accepts(int channel) override;
    bool Shown(int channel) override;
    std::size_t Queued(int channel) override;
    void WatchRoom(const std::shared_ptr<stream::CWakeSignal>& signal) override;
    void QueueFrame(int channel, stream::QueuedFrame frame) override;
    void QueueAudio(const stream::AudioBlock& block) override;
    void StopAudio() override;
    void Position(std::uint32_t seconds) override;
    void Integrity(int channel, int state) override;
    void StateChanged(const archive::PlayerState& state) override;
    void Stopped() override;

    video::CChannelViews& m_views;
    platform::IMessageSink& m_sink;
    LocalPlaybackSettings m_settings;
    stream::CStreamState m_state;
    stream::CConsumerSlots m_slots;
    video::CLivePipeline m_pipeline;
    audio::CLiveAudio m_audio;
    // The one player; replaced only by Start and Stop, under the lock, and stopped (joined)
    // outside it, so a button never waits for the player's thread to end.
    mutable std::mutex m_playerLock;
    std::unique_ptr<archive::CLocalPlayer> m_player;
    std::atomic<protocol::ChannelMask> m_nShown{protocol::kAllChannels};
    std::atomic<std::uint32_t> m_nLastPosition{0};
    std::atomic<bool> m_bAudioOn{false};
    std::atomic<bool> m_bStopAsked{false};  // Stop() ended the player, not the player itself
};

}  // namespace taviro::client
