// WAV files: what the file device writes reads back sample for sample, and the reader
// refuses hostile files with a reason instead of reading past their end.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/wav_file.h"

namespace taviro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}
void Put(Bytes& b, std::size_t at, const Bytes& v) {
    std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(WavFile, TheFileDeviceWritesExactlyWhatItIsHanded) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("taviro-wav-" + std::to_string(::getpid()) + ".wav");
    {
        CWavSoundOut out(path);
        ASSERT_TRUE(out.Open(SoundFormat{}, 8));
        EXPECT_TRUE(out.Write(Bytes{1, 0, 2, 0, 3, 0, 0xFF, 0xFF}));
        EXPECT_TRUE(out.Write(Bytes{0, 0x80, 0xFF, 0x7F, 5, 0, 6, 0}));
        EXPECT_EQ(out.BytesWritten(), 16u);
        out.Stop();
        EXPECT_FALSE(out.Write(Bytes{1, 0, 2, 0}));
        // Opened again (live view again after a reconnect): the file goes on.
        ASSERT_TRUE(out.Open(SoundFormat{}, 8));
        EXPECT_TRUE(out.Write(Bytes{7, 0, 8, 0}));
        out.Stop();
        EXPECT_TRUE(out.Error().empty()) << out.Error();
    }
    const WavData wav = ReadWavFile(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(wav.Ok()) << wav.error;
    EXPECT_EQ(wav.format.channels, 2);
    EXPECT_EQ(wav.format.framesPerSecond, 8000);
    EXPECT_EQ(wav.samples, (std::vector<std::int16_t>{1, 2, 3, -1, -32768, 32767, 5, 6, 7, 8}));
}

TEST(WavFile, SkipsForeignChunksIncludingOddSizedOnes) {
    const std::vector<std::int16_t> samples{10, -10, 20, -20};
    Bytes file = MakeWavFile(SoundFormat{}, samples);
    // A 3-byte "LIST" chunk (padded to 4) between "fmt " and "data".
    Bytes extra{'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    file.insert(file.begin() + 36, extra.begin(), extra.end());
    const WavData wav = ParseWav(file);
    ASSERT_TRUE(wav.Ok()) << wav.error;
    EXPECT_EQ(wav.samples, samples);
}

TEST(WavFile, RefusesHostileFilesWithAReason) {
    const std::vector<std::int16_t> samples{1, 2, 3, 4};
    const Bytes good = MakeWavFile(SoundFormat{}, samples);
    ASSERT_TRUE(ParseWav(good).Ok());
    struct Case {
        const char* name;
        Bytes bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"truncated header", Bytes(good.begin(), good.begin() + 20)});
    Bytes notRiff = good;
    notRiff[0] = 'X';
    cases.push_back({"not RIFF", notRiff});
    Bytes longData = good;
    Put(longData, 40, Le32(0xFFFFFFF0u));  // data claims more than the file holds
    cases.push_back({"data too long", longData});
    Bytes oddData = good;
    Put(oddData, 40, Le32(6));  // one and a half frames
    cases.push_back({"data not whole frames", oddData});
    Bytes eightBit = good;
    eightBit[34] = 8;
    cases.push_back({"8-bit", eightBit});
    Bytes alaw = good;
    alaw[20] = 6;
    cases.push_back({"not PCM", alaw});
    Bytes noChannels = good;
    noChannels[22] = 0;
    cases.push_back({"no channels", noChannels});
    Bytes hugeFmt = good;
    Put(hugeFmt, 16, Le32(0x7FFFFFFFu));
    cases.push_back({"format chunk past the end", hugeFmt});
    Bytes dataFirst = good;
    std::copy_n("JUNK", 4, dataFirst.begin() + 12);  // the format chunk becomes foreign
    cases.push_back({"no format chunk", dataFirst});
    Bytes hugeSkip = good;
    std::copy_n("JUNK", 4, hugeSkip.begin() + 12);
    Put(hugeSkip, 16, Le32(0xFFFFFFFFu));  // a skip that would wrap the offset
    cases.push_back({"skip past the end", hugeSkip});
    for (const auto& c : cases) {
        const WavData wav = ParseWav(c.bytes);
        EXPECT_FALSE(wav.Ok()) << c.name;
        EXPECT_FALSE(wav.error.empty()) << c.name;
        EXPECT_TRUE(wav.samples.empty()) << c.name;
    }
}

TEST(WavFile, ReaderRefusesMissingFiles) {
    const WavData wav = ReadWavFile("/nonexistent/taviro.wav");
    EXPECT_FALSE(wav.Ok());
}

TEST(WavSoundIn, DeliversWholeBuffersPacedAndPadsTheLast) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("taviro-wavin-" + std::to_string(::getpid()) + ".wav");
    std::vector<std::int16_t> samples(2 * 1000);  // 1,000 stereo frames: 125 ms
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(i);
    {
        const Bytes file = MakeWavFile(SoundFormat{}, samples);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    CWavSoundIn in(path);
    std::vector<Bytes> buffers;
    std::mutex lock;
    ASSERT_TRUE(in.Start(SoundFormat{}, 400, [&](std::span<const std::uint8_t> pcm) {
        std::lock_guard guard(lock);
        buffers.emplace_back(pcm.begin(), pcm.end());
    }));
    for (int i = 0; i < 300 && !in.Finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    in.Stop();
    ASSERT_EQ(buffers.size(), 3u);  // 400 + 400 + 200 padded
    for (const auto& b : buffers)
        EXPECT_EQ(b.size(), 1600u);
    EXPECT_EQ(buffers[2][799], 0x07);  // sample 1,999 = 0x07CF, high byte
    EXPECT_EQ(buffers[2][800], 0);     // padding
    CWavSoundIn mono(path);
    EXPECT_FALSE(mono.Start(SoundFormat{1, 8000, 16}, 400, [](std::span<const std::uint8_t>) {}));
    EXPECT_FALSE(mono.Error().empty());
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace taviro::platform
