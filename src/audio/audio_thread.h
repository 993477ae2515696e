// The audio output thread: takes the heard channel's 48-byte G.726 blocks from the audio
// queue (consumer slot 16), collects N of them (N = 4 x AudioBuf + 32), decodes the chunk
// into 128 x N samples and hands the 256 x N bytes to the sound device. Every two consecutive
// decoded samples form one stereo frame at 8,000 frames per second, as the recorders expect.
//
// Threads: the owner (live pipeline, playback) creates, mutes and destroys it; the thread it
// runs is the only caller of the device's Write and of the decoder. The queue is shared with
// the slot table; the device must outlive this object.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "audio/g726.h"
#include "platform/sound_device.h"
#include "stream/consumer_slots.h"

namespace taviro::audio {

inline constexpr std::size_t kSamplesPerBlock = 128;
inline constexpr int kMaxAudioBuf = 8;

// N for an AudioBuf setting (clamped to 0..kMaxAudioBuf).
std::size_t ChunkBlocks(int audioBuf);
// The 16-bit, 2-channel, 8,000-frame format the recorders' audio is played in.
platform::SoundFormat RecorderSoundFormat();

class CAudioThread {
  public:
    // Remote playback's blocks carry a pace ticket: before such a block begins a chunk, the
    // thread asks this whether (false: the block is dropped) and when (it waits) the block is
    // heard. Called on the audio thread with its stop flag.
    using HearGate = std::function<bool(const stream::HeardBlock&, const std::atomic<bool>& stop)>;

    // Opens `device` for chunks of 256 x N bytes and starts the thread. `device` may fail to
    // open: chunks are then decoded and dropped, as writes fail. Without a gate every block
    // is heard as it comes.
    CAudioThread(std::shared_ptr<stream::CAudioQueue> queue, platform::ISoundOut& device,
                 int audioBuf, HearGate gate = {});
    ~CAudioThread();  // stops (as Stop())
    CAudioThread(const CAudioThread&) = delete;
    CAudioThread& operator=(const CAudioThread&) = delete;

    // Sets the stop flag and waits for the thread; the device is stopped afterwards.
    void Stop();

    // While muted, entries are dropped and the partly collected chunk is discarded (remote
    // playback at other than normal speed).
    void SetMuted(bool muted) { m_bMuted.store(muted); }
    [[nodiscard]] bool Muted() const { return m_bMuted.load(); }

    [[nodiscard]] std::size_t ChunkBlockCount() const { return m_nBlocks; }
    [[nodiscard]] bool Running() const { return m_bRunning.load(); }
    // Chunks handed to the device (the counter wraps from above 1,000 back to 100), and the
    // totals.
    [[nodiscard]] int ChunkCounter() const { return m_nChunkCounter.load(); }
    [[nodiscard]] std::uint64_t ChunksWritten() const { return m_nChunks.load(); }
    [[nodiscard]] std::uint64_t ChunksDropped() const { return m_nDropped.load(); }
    [[nodiscard]] std::uint64_t EntriesDropped() const { return m_nEntriesDropped.load(); }

  private:
    void Run();

    std::shared_ptr<stream::CAudioQueue> m_queue;
    platform::ISoundOut& m_device;
    HearGate m_gate;
    const std::size_t m_nBlocks;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bMuted{false};
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nChunkCounter{0};
    std::atomic<std::uint64_t> m_nChunks{0};
    std::atomic<std::uint64_t> m_nDropped{0};
    std::atomic<std::uint64_t> m_nEntriesDropped{0};
    std::thread m_thread;
};

}  // namespace taviro::audio
