// 16-bit PCM WAV files: the file device the command-line client plays into, and the file
// microphone it talks from.
//
// The reader treats every byte of a file as hostile: chunk sizes are checked against what is
// left, the file is bounded (kMaxWavBytes), only 16-bit PCM with 1..8 channels is accepted,
// and every refusal has a reason.
//
// Threads: CWavSoundOut is written by the audio thread, opened and closed by its owner;
// CWavSoundIn runs its own pacing thread that calls the buffer callback.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound_device.h"

namespace taviro::platform {

inline constexpr std::size_t kWavHeaderBytes = 44;
// Larger files are refused: an hour of 8,000-frame stereo audio is 115 MB.
inline constexpr std::size_t kMaxWavBytes = 256u * 1024u * 1024u;

struct WavData {
    SoundFormat format;
    std::vector<std::int16_t> samples;  // interleaved
    std::string error;                  // empty on success
    [[nodiscard]] bool Ok() const { return error.empty(); }
};

// The canonical 44-byte header of a 16-bit PCM file holding `dataBytes` bytes of samples.
std::vector<std::uint8_t> MakeWavHeader(const SoundFormat& format, std::uint32_t dataBytes);
// A whole file in memory (tests, seeds).
std::vector<std::uint8_t> MakeWavFile(const SoundFormat& format,
                                      std::span<const std::int16_t> samples);

// Parses a file's bytes. Chunks other than "fmt " and "data" are skipped; a data chunk that
// claims more than the file holds, an odd byte count or a missing chunk is an error.
WavData ParseWav(std::span<const std::uint8_t> bytes);
// Reads and parses a file (refusing files above kMaxWavBytes before reading them).
WavData ReadWavFile(const std::filesystem::path& path);

// The file device: every chunk written is appended; the header's sizes are fixed on Stop()
// (and by the destructor).
class CWavSoundOut final : public ISoundOut {
  public:
    explicit CWavSoundOut(std::filesystem::path path);
    ~CWavSoundOut() override;
    CWavSoundOut(const CWavSoundOut&) = delete;
    CWavSoundOut& operator=(const CWavSoundOut&) = delete;

    bool Open(const SoundFormat& format, std::size_t chunkBytes) override;
    bool Write(std::span<const std::uint8_t> pcm) override;
    // A file keeps the samples as they came: volume and mute are remembered only.
    void SetVolume(double linear0to1) override { m_volume.store(linear0to1); }
    void SetMuted(bool muted) override { m_bMuted.store(muted); }
    void Stop() override;

    [[nodiscard]] std::size_t BytesWritten() const { return m_nData.load(); }
    [[nodiscard]] std::size_t Writes() const { return m_nWrites.load(); }
    [[nodiscard]] const std::string& Error() const { return m_error; }

  private:
    std::filesystem::path m_path;
    std::mutex m_lock;  // the stream, against Stop() from the owner
    std::ofstream m_file;
    SoundFormat m_format;
    std::atomic<std::size_t> m_nData{0};
    std::atomic<std::size_t> m_nWrites{0};
    std::atomic<double> m_volume{1.0};
    std::atomic<bool> m_bMuted{false};
    std::string m_error;
};

// The file microphone: delivers the file's samples in buffers of the requested size, paced
// in real time from its own thread; the last partial buffer is padded with silence. The
// file's format must match the requested one.
class CWavSoundIn final : public ISoundIn {
  public:
    explicit CWavSoundIn(std::filesystem::path path) : m_path(std::move(path)) {}
    ~CWavSoundIn() override { Stop(); }
    CWavSoundIn(const CWavSoundIn&) = delete;
    CWavSoundIn& operator=(const CWavSoundIn&) = delete;

    bool Start(const SoundFormat& format, std::size_t framesPerBuffer, Buffer onBuffer) override;
    void Stop() override;
    [[nodiscard]] const std::string& Error() const { return m_error; }
    // True once every buffer of the file has been delivered.
    [[nodiscard]] bool Finished() const { return m_bFinished.load(); }

  private:
    std::filesystem::path m_path;
    std::string m_error;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bFinished{false};
    std::thread m_thread;
};

}  // namespace taviro::platform
