#include "platform/wav_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

namespace taviro::platform {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}
std::uint32_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
    return Get16(b, at) | (Get16(b, at + 2) << 16);
}
bool TagIs(std::span<const std::uint8_t> b, std::size_t at, const char* tag) {
    return std::memcmp(b.data() + at, tag, 4) == 0;
}

WavData Fail(std::string why) {
    WavData d;
    d.error = std::move(why);
    return d;
}

}  // namespace

std::vector<std::uint8_t> MakeWavHeader(const SoundFormat& format, std::uint32_t dataBytes) {
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const auto rate = static_cast<std::uint32_t>(format.framesPerSecond);
    const auto align = static_cast<std::uint32_t>(format.BytesPerFrame());
    std::vector<std::uint8_t> h;
    h.reserve(kWavHeaderBytes);
    PutTag(h, "RIFF");
    Put32(h, 36 + dataBytes);
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    Put32(h, 16);
    Put16(h, 1);  // PCM
    Put16(h, channels);
    Put32(h, rate);
    Put32(h, rate * align);
    Put16(h, align);
    Put16(h, static_cast<std::uint32_t>(format.bitsPerSample));
    PutTag(h, "data");
    Put32(h, dataBytes);
    return h;
}

std::vector<std::uint8_t> MakeWavFile(const SoundFormat& format,
                                      std::span<const std::int16_t> samples) {
    auto out = MakeWavHeader(format, static_cast<std::uint32_t>(samples.size() * 2));
    for (const std::int16_t s : samples)
        Put16(out, static_cast<std::uint16_t>(s));
    return out;
}

WavData ParseWav(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxWavBytes)
        return Fail("file too large");
    if (bytes.size() < 12 || !TagIs(bytes, 0, "RIFF") || !TagIs(bytes, 8, "WAVE"))
        return Fail("not a RIFF WAVE file");
    WavData d;
    bool haveFormat = false;
    std::size_t at = 12;
    while (bytes.size() - at >= 8) {
        const std::size_t size = Get32(bytes, at + 4);
        const std::size_t body = at + 8;
        const std::size_t left = bytes.size() - body;
        if (TagIs(bytes, at, "fmt ")) {
            if (size < 16 || size > left)
                return Fail("bad format chunk");
            const std::uint32_t tag = Get16(bytes, body);
            const std::uint32_t channels = Get16(bytes, body + 2);
            const std::uint32_t rate = Get32(bytes, body + 4);
            const std::uint32_t bits = Get16(bytes, body + 14);
            // 0xFFFE (extensible) carries PCM too when its sub-format says so; we only
            // write and read plain PCM.
            if (tag != 1)
                return Fail("not PCM");
            if (bits != 16)
                return Fail("not 16-bit");
            if (channels < 1 || channels > 8 || rate < 1000 || rate > 192000)
                return Fail("unsupported channel count or rate");
            d.format.channels = static_cast<int>(channels);
            d.format.framesPerSecond = static_cast<int>(rate);
            d.format.bitsPerSample = 16;
            haveFormat = true;
        } else if (TagIs(bytes, at, "data")) {
            if (!haveFormat)
                return Fail("data before format");
            if (size > left)
                return Fail("data chunk longer than the file");
            const std::size_t frameBytes = static_cast<std::size_t>(d.format.BytesPerFrame());
            if (size % frameBytes != 0)
                return Fail("data is not whole frames");
            d.samples.resize(size / 2);
            for (std::size_t i = 0; i < d.samples.size(); ++i)
                d.samples[i] = static_cast<std::int16_t>(Get16(bytes, body + 2 * i));
            return d;
        }
        // Chunks are padded to an even length.
        const std::size_t step = size + (size & 1);
        if (step > left)
            break;
        at = body + step;
    }
    return Fail(haveFormat ? "no data chunk" : "no format chunk");
}

WavData ReadWavFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return Fail("cannot open " + path.string());
    if (size > kMaxWavBytes)
        return Fail("file too large");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail("cannot open " + path.string());
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size())
        return Fail("short read");
    return ParseWav(bytes);
}

CWavSoundOut::CWavSoundOut(std::filesystem::path path) : m_path(std::move(path)) {}

CWavSoundOut::~CWavSoundOut() {
    Stop();
}

bool CWavSoundOut::Open(const SoundFormat& format, std::size_t) {
    std::lock_guard lock(m_lock);
    if (!format.Valid()) {
        m_error = "unsupported format";
        return false;
    }
    // Opened again in the same format after it has written (live view started again, as
    // after a reconnect): it goes on after what the file holds, so one file keeps the whole
    // run instead of only what followed the last start.
    const bool resume = m_nData.load() > 0 && format.channels == m_format.channels &&
                        format.framesPerSecond == m_format.framesPerSecond &&
                        format.bitsPerSample == m_format.bitsPerSample;
    if (resume) {
        if (!m_file.is_open()) {
            m_file = std::ofstream(m_path, std::ios::binary | std::ios::in | std::ios::out);
            m_file.seekp(0, std::ios::end);
        }
        if (!m_file) {
            m_error = "cannot reopen " + m_path.string();
            return false;
        }
        return true;
    }
    m_format = format;
    m_file = std::ofstream(m_path, std::ios::binary | std::ios::trunc);
    if (!m_file) {
        m_error = "cannot create " + m_path.string();
        return false;
    }
    const auto header = MakeWavHeader(format, 0);
    m_file.write(reinterpret_cast<const char*>(header.data()),
                 static_cast<std::streamsize>(header.size()));
    m_nData.store(0);
    return static_cast<bool>(m_file);
}

bool CWavSoundOut::Write(std::span<const std::uint8_t> pcm) {
    std::lock_guard lock(m_lock);
    if (!m_file.is_open() || m_nData.load() + pcm.size() > kMaxWavBytes - kWavHeaderBytes)
        return false;
    m_file.write(reinterpret_cast<const char*>(pcm.data()),
                 static_cast<std::streamsize>(pcm.size()));
    if (!m_file)
        return false;
    m_nData.fetch_add(pcm.size());
    m_nWrites.fetch_add(1);
    return true;
}

void CWavSoundOut::Stop() {
    std::lock_guard lock(m_lock);
    if (!m_file.is_open())
        return;
    const auto header = MakeWavHeader(m_format, static_cast<std::uint32_t>(m_nData.load()));
    m_file.seekp(0);
    m_file.write(reinterpret_cast<const char*>(header.data()),
                 static_cast<std::streamsize>(header.size()));
    m_file.close();
    if (!m_file) {
        m_error = "cannot finish " + m_path.string();
    }
}

bool CWavSoundIn::Start(const SoundFormat& format, std::size_t framesPerBuffer, Buffer onBuffer) {
    Stop();
    WavData wav = ReadWavFile(m_path);
    if (!wav.Ok()) {
        m_error = wav.error;
        return false;
    }
    if (wav.format.channels != format.channels ||
        wav.format.framesPerSecond != format.framesPerSecond || framesPerBuffer == 0) {
        m_error = "the file's format differs from the device's";
        return false;
    }
    m_bStop.store(false);
    m_bFinished.store(false);
    m_thread = std::thread([this, format, framesPerBuffer, samples = std::move(wav.samples),
                            cb = std::move(onBuffer)] {
        const std::size_t perBuffer = framesPerBuffer * static_cast<std::size_t>(format.channels);
        const auto period = std::chrono::microseconds(static_cast<std::int64_t>(framesPerBuffer) *
                                                      1'000'000 / format.framesPerSecond);
        std::vector<std::uint8_t> buffer(perBuffer * 2);
        auto next = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < samples.size() && !m_bStop.load(); at += perBuffer) {
            std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
            const std::size_t n = std::min(perBuffer, samples.size() - at);
            for (std::size_t i = 0; i < n; ++i) {
                const auto v = static_cast<std::uint16_t>(samples[at + i]);
                buffer[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
                buffer[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            }
            // A microphone delivers a buffer once it is full, i.e. one period after it began.
            next += period;
            std::this_thread::sleep_until(next);
            if (m_bStop.load())
                break;
            cb(buffer);
        }
        m_bFinished.store(true);
    });
    return true;
}

void CWavSoundIn::Stop() {
    m_bStop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

}  // namespace taviro::platform
