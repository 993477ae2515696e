// The sound devices: where decoded audio goes and where the microphone comes from.
//
// Two ways out, because the client needs both:
// - ISoundOut is the push side the audio thread writes its chunks to (one Write per decoded
//   chunk). The file and null backends implement it directly: a WAV file then holds exactly
//   what the audio thread handed over.
// - ISoundPlayer is a real output device that pulls what it plays from an IPcmSource on its
//   own thread, the way a sound card drains its buffer. The audio subsystem's sound ring
//   (audio::CSoundRing) is both: an ISoundOut for the audio thread and the IPcmSource of a
//   player, so the ring's cursors advance exactly as the device consumes.
//
// Threads: the owner (main window, command, test) creates, opens and destroys a device. Write
// is called by the audio thread only; SetVolume/SetMuted by the owner at any time (they are
// safe against Write); IPcmSource::Read by the player's own thread; ISoundIn's callback runs
// on the capture device's own thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace taviro::platform {

// Interleaved little-endian PCM. The recorders' audio is 16-bit, 2 channels, 8,000 frames per
// second: every two consecutive decoded samples form one frame.
struct SoundFormat {
    int channels = 2;
    int framesPerSecond = 8000;
    int bitsPerSample = 16;

    [[nodiscard]] int BytesPerFrame() const { return channels * bitsPerSample / 8; }
    [[nodiscard]] int BytesPerSecond() const { return BytesPerFrame() * framesPerSecond; }
    [[nodiscard]] bool Valid() const {
        return channels >= 1 && channels <= 8 && framesPerSecond >= 1000 &&
               framesPerSecond <= 192000 && bitsPerSample == 16;
    }
};

// The push side (audio thread writes, owner creates and destroys).
class ISoundOut {
  public:
    virtual ~ISoundOut() = default;
    // Owner, before the first Write. `chunkBytes` is the size of every Write that follows
    // (a ring sizes its blocks from it); 0 when unknown.
    virtual bool Open(const SoundFormat& format, std::size_t chunkBytes) = 0;
    // Audio thread: one chunk. Never blocks for long; false when the chunk was dropped.
    virtual bool Write(std::span<const std::uint8_t> pcm) = 0;
    // Our own stream only, never the system master volume.
    virtual void SetVolume(double linear0to1) = 0;
    virtual void SetMuted(bool muted) = 0;
    // Owner: ends output; Write fails afterwards until the next Open.
    virtual void Stop() = 0;
    // Remote playback's sound (any thread): `on` while the chunks come from a playback
    // stream rather than live view, and Drop() when the stream jumps (a speed change, a
    // pause, a reversal) so nothing buffered before it is heard. No-ops for devices that
    // buffer nothing of their own.
    virtual void SetRemotePlayback(bool on) { (void)on; }
    virtual void Drop() {}
};

// What a player plays from (called on the player's own thread).
class IPcmSource {
  public:
    virtual ~IPcmSource() = default;
    // Fills all of `out` with the next bytes to play (silence where there is nothing).
    virtual void Read(std::span<std::uint8_t> out) = 0;
};

// A real output device that pulls from a source (owner's thread for every call).
class ISoundPlayer {
  public:
    virtual ~ISoundPlayer() = default;
    // Starts pulling from `source` (which must outlive Stop()). False when no device opens.
    virtual bool Start(const SoundFormat& format, IPcmSource& source) = 0;
    virtual void SetVolume(double linear0to1) = 0;
    virtual void SetMuted(bool muted) = 0;
    // Stops pulling; no Read runs after it returns.
    virtual void Stop() = 0;
};

// The capture device the talk object reads (callbacks on the device's own thread).
class ISoundIn {
  public:
    virtual ~ISoundIn() = default;
    using Buffer = std::function<void(std::span<const std::uint8_t> pcm)>;
    // Delivers buffers of exactly `framesPerBuffer` frames until Stop().
    virtual bool Start(const SoundFormat& format, std::size_t framesPerBuffer, Buffer onBuffer) = 0;
    // No callback runs after it returns.
    virtual void Stop() = 0;
};

// The null output: discards and counts (tests, machines without sound).
class CNullSoundOut final : public ISoundOut {
  public:
    bool Open(const SoundFormat& format, std::size_t chunkBytes) override;
    bool Write(std::span<const std::uint8_t> pcm) override;
    void SetVolume(double linear0to1) override { m_volume.store(linear0to1); }
    void SetMuted(bool muted) override { m_bMuted.store(muted); }
    void Stop() override { m_bOpen.store(false); }

    [[nodiscard]] std::size_t Writes() const { return m_nWrites.load(); }
    [[nodiscard]] std::size_t Bytes() const { return m_nBytes.load(); }
    [[nodiscard]] double Volume() const { return m_volume.load(); }
    [[nodiscard]] bool Muted() const { return m_bMuted.load(); }

  private:
    std::atomic<bool> m_bOpen{false};
    std::atomic<std::size_t> m_nWrites{0};
    std::atomic<std::size_t> m_nBytes{0};
    std::atomic<double> m_volume{1.0};
    std::atomic<bool> m_bMuted{false};
};

}  // namespace taviro::platform
