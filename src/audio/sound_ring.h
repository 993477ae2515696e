// The play buffer between the audio thread and a real output device: 16 blocks of B bytes
// (B = one chunk of the audio thread) played lap by lap. The audio thread writes a chunk at
// the write offset; the device pulls bytes at the play cursor. At the end of each block, and
// at the end of the buffer, the ring checks where the player stands against the data and
// restarts playback at the newest block when the player has fallen more than a block behind
// or has overtaken the writer. While a restart is pending the device gets silence.
//
// The remote-playback variant tolerates the player one lap ahead in its counts (it always
// restarts from a zeroed buffer), skips the "newest block ahead of the player" test and
// forces one restart every 30 seconds.
//
// Threads: Write from the audio thread; Read from the device's own thread; Open, Stop and the
// volume calls from the owner; the observers from anyone. One lock serialises them all, as
// the buffer and its cursors are shared.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "platform/sound_device.h"

namespace taviro::audio {

inline constexpr std::size_t kRingBlocks = 16;
inline constexpr std::chrono::milliseconds kForcedRestartPeriod{30'000};

class CSoundRing final : public platform::ISoundOut, public platform::IPcmSource {
  public:
    using Clock = std::function<std::chrono::milliseconds()>;  // monotonic
    struct Options {
        bool remotePlayback = false;
        // How far the device's write cursor runs ahead of its play cursor (bytes).
        std::size_t writeLead = 4;
        // The remote variant's clock; steady_clock when empty.
        Clock clock;
        // A restart plays this fraction of a block of silence before the block just written.
        // Chunks arrive in real time, one per block played, so a player started exactly at a
        // chunk's arrival would meet the next chunk exactly at the block's end and lose the
        // race half the time; starting half a block late puts each arrival mid-block.
        double restartDelayBlocks = 0.5;
    };

    // `player` (may be null: the ring is then pulled by whoever calls Read, as tests do)
    // is started on Open and stopped on Stop; it must outlive the ring.
    CSoundRing(platform::ISoundPlayer* player, Options options);
    explicit CSoundRing(platform::ISoundPlayer* player) : CSoundRing(player, Options{}) {}
    ~CSoundRing() override;
    CSoundRing(const CSoundRing&) = delete;
    CSoundRing& operator=(const CSoundRing&) = delete;

    // ISoundOut. `chunkBytes` is B: it must be a non-zero multiple of the frame size.
    bool Open(const platform::SoundFormat& format, std::size_t chunkBytes) override;
    bool Write(std::span<const std::uint8_t> pcm) override;  // false: not B bytes, or closed
    void SetVolume(double linear0to1) override;
    void SetMuted(bool muted) override;
    void Stop() override;

    // IPcmSource: the device takes the next bytes; silence while stopped.
    void Read(std::span<std::uint8_t> out) override;

    // Playback speed changes of remote playback: stop, rewind to 0, zero the buffer; the
    // next write restarts.
    void StopAndClear();
    // ISoundOut: the remote-playback variant while `on`, starting from a zeroed buffer.
    void SetRemotePlayback(bool on) override;
    void Drop() override { StopAndClear(); }

    struct Snapshot {
        std::size_t blockBytes = 0;
        std::size_t writeOffset = 0;
        std::size_t playCursor = 0;
        std::int64_t writerLaps = 0;
        std::int64_t playerLaps = 0;
        bool restartPending = true;
        bool playing = false;
        std::uint64_t restarts = 0;        // restarts marked by the checks
        std::uint64_t forcedRestarts = 0;  // of them, the remote variant's periodic ones
        std::uint64_t silentBytes = 0;     // bytes the device got as silence
    };
    [[nodiscard]] Snapshot State() const;

  private:
    void OnBlockEnd(bool bufferEnd);  // lock held
    void MarkRestart();               // lock held
    void StartForcedPeriod();         // lock held (or in the constructor)
    [[nodiscard]] std::chrono::milliseconds Now() const;

    platform::ISoundPlayer* m_player;
    Options m_options;
    mutable std::mutex m_lock;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_nBlock = 0;
    std::size_t m_nWrite = 0;
    std::size_t m_nPlay = 0;
    std::int64_t m_nWriterLaps = 0;
    std::int64_t m_nPlayerLaps = 0;
    bool m_bRestartPending = true;
    bool m_bPlaying = false;
    bool m_bOpen = false;
    std::uint64_t m_nRestarts = 0;
    std::uint64_t m_nForced = 0;
    std::uint64_t m_nSilent = 0;
    std::size_t m_nDelay = 0;  // silence still to play before the restarted block
    std::chrono::milliseconds m_lastForced{0};
};

}  // namespace taviro::audio
