// Export of backup pairs to MP4 and Matroska, read back with FFmpeg's own demuxer and
// decoders: a backup the command-line client downloaded from the simulated recorder (two
// channels over two stretches with a gap, sound on one) gives files whose frames, times,
// key frames, pictures, sound and metadata are the recording's; a picture size that changes
// starts a second file; a cancelled or failing export leaves nothing under a final name.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "archive/backup_writer.h"
#include "archive/export.h"
#include "audio/g726.h"
#include "sim/h264_stream_writer.h"
#include "sim/h264_test_pattern.h"
#include "sim/live_audio.h"
#include "sim/playback_stream.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::archive {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kDay = 1'286'841'600;  // 2010-10-12T00:00:00
constexpr std::uint32_t kStart = kDay + 8 * 3600;
// The recorded seconds of the backup (from kStart): 0..3, then a gap, then 7..9.
constexpr int kSeconds[] = {0, 1, 2, 3, 7, 8, 9};
constexpr int kFps = 25;

struct Packet {
    std::int64_t pts = 0;  // in the track's time base
    bool key = false;
    std::vector<std::uint8_t> data;
};

struct Track {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    AVRational base{0, 1};
    std::vector<std::uint8_t> extradata;
    std::vector<Packet> packets;
    [[nodiscard]] double Seconds(std::size_t i) const {
        return static_cast<double>(packets[i].pts) * av_q2d(base);
    }
};

struct ReadBack {
    bool opened = false;
    double duration = 0;
    std::map<std::string, std::string> tags;
    std::vector<Track> tracks;
    [[nodiscard]] const Track* Find(AVMediaType type) const {
        for (const auto& t : tracks)
            if (t.type == type)
                return &t;
        return nullptr;
    }
};

// The file as FFmpeg's demuxer reads it.
ReadBack Read(const fs::path& path) {
    ReadBack out;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) != 0)
        return out;
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> guard(&ctx,
                                                                         avformat_close_input);
    if (avformat_find_stream_info(ctx, nullptr) < 0)
        return out;
    out.opened = true;
    out.duration = static_cast<double>(ctx->duration) / AV_TIME_BASE;
    for (const AVDictionaryEntry* e = nullptr;
         (e = av_dict_get(ctx->metadata, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr;)
        out.tags[e->key] = e->value;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters& p = *ctx->streams[i]->codecpar;
        Track t;
        t.type = p.codec_type;
        t.codec = p.codec_id;
        t.width = p.width;
        t.height = p.height;
        t.sampleRate = p.sample_rate;
        t.channels = p.ch_layout.nb_channels;
        t.base = ctx->streams[i]->time_base;
        t.extradata.assign(p.extradata, p.extradata + p.extradata_size);
        out.tracks.push_back(std::move(t));
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(ctx, packet) == 0) {
        out.tracks[static_cast<std::size_t>(packet->stream_index)].packets.push_back(
            {packet->pts, (packet->flags & AV_PKT_FLAG_KEY) != 0,
             std::vector<std::uint8_t>(packet->data, packet->data + packet->size)});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return out;
}

// Every picture of a video track, decoded by libavcodec from the track's own configuration.
std::vector<sim::YuvPicture> Decode(const Track& track) {
    std::vector<sim::YuvPicture> pictures;
    const AVCodec* codec = avcodec_find_decoder(track.codec);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->extradata = static_cast<std::uint8_t*>(
        av_mallocz(track.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(track.extradata.begin(), track.extradata.end(), ctx->extradata);
    ctx->extradata_size = static_cast<int>(track.extradata.size());
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    ctx->err_recognition = AV_EF_EXPLODE;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            auto p = sim::YuvPicture::Filled(frame->width, frame->height, 0, 0, 0);
            for (int plane = 0; plane < 3; ++plane) {
                auto& to = plane == 0 ? p.y : plane == 1 ? p.u : p.v;
                const int w = plane == 0 ? frame->width : frame->width / 2;
                const int h = plane == 0 ? frame->height : frame->height / 2;
                for (int row = 0; row < h; ++row)
                    std::copy_n(frame->data[plane] + row * frame->linesize[plane], w,
                                to.begin() + row * w);
            }
            pictures.push_back(std::move(p));
        }
    };
    if (avcodec_open2(ctx, codec, nullptr) == 0) {
        for (const auto& p : track.packets) {
            av_new_packet(packet, static_cast<int>(p.data.size()));
            std::copy(p.data.begin(), p.data.end(), packet->data);
            if (avcodec_send_packet(ctx, packet) != 0)
                break;
            av_packet_unref(packet);
            drain();
        }
        avcodec_send_packet(ctx, nullptr);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return pictures;
}

// The camera pattern of frame `index` of the export (frames of kSeconds at kFps).
sim::YuvPicture Expected(int channel, std::size_t index, int width, int height) {
    const int second = kSeconds[index / kFps];
    const auto counter =
        static_cast<std::uint32_t>((8 * 3600 + second) * kFps + static_cast<int>(index % kFps));
    return sim::MakeH264TestPattern(channel, counter, width, height);
}

class ExportTest : public ::testing::Test {
  protected:
    // One backup for every test: channels 1 and 3 (704 x 480 with sound, 352 x 240 without)
    // and 2 (352 x 240 at 10 frames a second).
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("taviro-export-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        std::ofstream(s_dir / "archive.txt")
            << "stretch 0x7 continuous 2010-10-12T08:00:00 2010-10-12T08:00:04\n"
               "stretch 0x7 continuous 2010-10-12T08:00:07 2010-10-12T08:00:10\n"
               "channel 1 704x480 25 audio\n"
               "channel 2 352x240 10\n"
               "channel 3 352x240 25\n";
        sim::CRecorderSim recorder(Config());
        ASSERT_TRUE(recorder.Start()) << recorder.LastError();
        auto args = Login("backup", recorder.Port());
        args.insert(args.end(), {"--from", "2010-10-12T08:00:00", "--to", "2010-10-12T08:00:10",
                                 "--channels", "0x7", "--storage", (s_dir / "st").string(), "--out",
                                 Backup().string(), "--json"});
        const auto result = Cli(args);
        ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    void SetUp() override {
        m_out = s_dir / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(m_out);
    }

    // The recorder of the backup; channel 2 has a key frame every 2.5 s (every 25 frames).
    static sim::SimConfig Config() {
        sim::SimConfig config;
        config.channels = 4;
        config.titles = {"Front door", "", "Yard"};
        config.archive_file = (s_dir / "archive.txt").string();
        return config;
    }
    // The command with the simulator's address and account.
    static std::vector<std::string> Login(const std::string& command, std::uint16_t port) {
        return {command,  "--host", "127.0.0.1",  "--port", std::to_string(port),
                "--user", "admin",  "--password", "1234"};
    }
    static testing::ProgramResult Cli(const std::vector<std::string>& args) {
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args,
                                   120s * testing::kSanitizerSlowdown);
    }
    static fs::path Backup() { return s_dir / "dl"; }
    static std::vector<std::string> Names(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static fs::path s_dir;
    fs::path m_out;
};
fs::path ExportTest::s_dir;

TEST_F(ExportTest, MatroskaHoldsTheRecordedFramesTimesGapPicturesAndSound) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    const auto result =
        ExportRange(Backup(), kStart, kStart + 10, 0x5, m_out / "cam.mkv", ExportFormat::Mkv,
                    [&](std::uint64_t b, std::uint64_t t) { progress.emplace_back(b, t); });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Names(m_out), (std::vector<std::string>{"cam_ch01.mkv", "cam_ch03.mkv"}));
    ASSERT_GE(progress.size(), 2u);
    EXPECT_GT(progress.back().second, 0u);
    EXPECT_EQ(progress.back().first, progress.back().second);
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i].first, progress[i - 1].first);

    ASSERT_EQ(result.files.size(), 2u);
    const int sizes[2][2] = {{704, 480}, {352, 240}};
    for (std::size_t f = 0; f < 2; ++f) {
        const ExportedFile& file = result.files[f];
        const int channel = static_cast<int>(f) * 2;
        EXPECT_EQ(file.channel, channel);
        // Seven recorded seconds; the display-exempt copies in front of each block are gone.
        EXPECT_EQ(file.frames, 7u * kFps);
        EXPECT_DOUBLE_EQ(file.duration, 10.0);
        const ReadBack back = Read(file.path);
        ASSERT_TRUE(back.opened);
        EXPECT_EQ(back.tags.at("title"), f == 0 ? "Front door" : "Yard");
        EXPECT_EQ(back.tags.at("creation_time").substr(0, 19), "2010-10-12T08:00:00");
        const Track* video = back.Find(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->codec, AV_CODEC_ID_H264);
        EXPECT_EQ(video->width, sizes[f][0]);
        EXPECT_EQ(video->height, sizes[f][1]);
        ASSERT_EQ(video->packets.size(), 7u * kFps);
        for (std::size_t i = 0; i < video->packets.size(); ++i) {
            const double expected = kSeconds[i / kFps] + static_cast<double>(i % kFps) / kFps;
            ASSERT_NEAR(video->Seconds(i), expected, 0.0011) << "frame " << i;
            ASSERT_EQ(video->packets[i].key, i % kFps == 0) << "frame " << i;
        }
        // FFmpeg decodes every frame as the camera showed it, across the gap.
        const auto pictures = Decode(*video);
        ASSERT_EQ(pictures.size(), video->packets.size());
        for (const std::size_t i :
             {std::size_t{0}, std::size_t{37}, std::size_t{100}, std::size_t{174}}) {
            const auto expected = Expected(channel, i, sizes[f][0], sizes[f][1]);
            EXPECT_TRUE(pictures[i].y == expected.y && pictures[i].u == expected.u &&
                        pictures[i].v == expected.v)
                << "channel " << channel << " frame " << i;
        }
        EXPECT_EQ(back.Find(AVMEDIA_TYPE_AUDIO) != nullptr, f == 0);
    }

    // Sound: each block the recorder sent (25 a second here) decodes to the client's own
    // G.726 decoding, at the block's time, and nothing sounds in the gap.
    const ReadBack back = Read(result.files[0].path);
    const Track* sound = back.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->codec, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(sound->sampleRate, 16'000);
    EXPECT_EQ(sound->channels, 1);
    std::map<std::int64_t, std::int16_t> track;  // sample time -> sample
    for (const auto& p : sound->packets) {
        const std::int64_t at = av_rescale_q(p.pts, sound->base, AVRational{1, 16'000});
        EXPECT_FALSE(at > 4 * 16'000 && at < 7 * 16'000) << "sound in the gap at " << at;
        for (std::size_t i = 0; i + 1 < p.data.size(); i += 2)
            track[at + static_cast<std::int64_t>(i / 2)] =
                static_cast<std::int16_t>(p.data[i] | p.data[i + 1] << 8);
    }
    sim::CLiveAudioSource source;
    audio::CG726Decoder decoder;
    std::size_t blocks = 0;
    for (const int second : kSeconds) {
        for (int b = 0; b < 25; ++b, ++blocks) {
            std::array<std::uint8_t, 48> coded{};
            source.Blocks(0x1, static_cast<std::uint64_t>((8 * 3600 + second) * 25 + b), coded);
            std::array<std::int16_t, 128> pcm{};
            decoder.Decode(coded, pcm);
            const std::int64_t at = second * 16'000 + b * 640;
            for (std::size_t i = 0; i < pcm.size(); ++i) {
                const auto it = track.find(at + static_cast<std::int64_t>(i));
                ASSERT_TRUE(it != track.end() && it->second == pcm[i])
                    << "second " << second << " block " << b << " sample " << i;
            }
        }
    }
    EXPECT_EQ(result.files[0].audioSamples, blocks * 128);
}

TEST_F(ExportTest, Mp4FromTheCommandLineCarriesVideoAacSoundAndMetadata) {
    const auto out = m_out / "door.mp4";
    auto run = Cli({"export", "--dir", Backup().string(), "--from", "2010-10-12T08:00:02", "--to",
                    "2010-10-12T08:00:09", "--channels", "0x1", "--out", out.string(), "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find(R"({"event":"progress","bytes":)"), std::string::npos) << run.out;
    // 08:00:02 .. 08:00:08: seconds 2, 3, 7 and 8.
    EXPECT_NE(run.out.find(R"({"event":"file","path":")" + out.string() +
                           R"(","channel":1,"frames":100,"duration":7.000,"audio_samples":12800})"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Names(m_out), std::vector<std::string>{"door.mp4"});

    const ReadBack back = Read(out);
    ASSERT_TRUE(back.opened);
    EXPECT_NEAR(back.duration, 7.0, 0.1);
    EXPECT_EQ(back.tags.at("title"), "Front door");
    EXPECT_EQ(back.tags.at("creation_time").substr(0, 19), "2010-10-12T08:00:02");
    const Track* video = back.Find(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->packets.size(), 100u);
    EXPECT_NEAR(video->Seconds(49), 1.96, 1e-6);
    EXPECT_NEAR(video->Seconds(50), 5.0, 1e-6) << "the gap stays a gap";
    const auto pictures = Decode(*video);
    ASSERT_EQ(pictures.size(), 100u);
    EXPECT_EQ(pictures[50].y, Expected(0, 100, 704, 480).y) << "the first frame after the gap";

    const Track* sound = back.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(sound, nullptr) << "Debian's FFmpeg has the AAC encoder";
    EXPECT_EQ(sound->codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(sound->sampleRate, 16'000);
    ASSERT_FALSE(sound->packets.empty());
    for (std::size_t i = 0; i < sound->packets.size(); ++i) {
        const double at = sound->Seconds(i);
        EXPECT_FALSE(at > 2.1 && at < 4.9) << "sound in the gap at " << at;
        if (i > 0) {
            EXPECT_GT(sound->packets[i].pts, sound->packets[i - 1].pts);
        }
    }
    EXPECT_GT(sound->Seconds(sound->packets.size() - 1), 6.0);

    // Usage errors.
    run = Cli({"export", "--dir", Backup().string(), "--from", "2010-10-12T08:00:02", "--to",
               "2010-10-12T08:00:09", "--out", (m_out / "x.avi").string()});
    EXPECT_EQ(run.exitStatus, 2);
    run = Cli({"export", "--dir", Backup().string(), "--from", "2010-10-12T08:00:09", "--to",
               "2010-10-12T08:00:02", "--out", out.string()});
    EXPECT_EQ(run.exitStatus, 2);
}

TEST_F(ExportTest, ACancelledOrFailedExportLeavesNothingUnderAFinalName) {
    std::atomic<bool> cancel{false};
    auto result = ExportRange(
        Backup(), kStart, kStart + 10, 0x5, m_out / "cam.mkv", ExportFormat::Mkv,
        [&](std::uint64_t b, std::uint64_t) {
            if (b > 0)
                cancel = true;
        },
        &cancel);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.files.empty());
    EXPECT_TRUE(Names(m_out).empty());

    // A file too large for the process's limit: the write fails, the old file stays.
    std::ofstream(m_out / "cam.mp4") << "old";
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 300'000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    result = ExportRange(Backup(), kStart, kStart + 10, 0x1, m_out / "cam.mp4", ExportFormat::Mp4);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.cancelled);
    EXPECT_NE(result.error.find("cam.mp4"), std::string::npos) << result.error;
    EXPECT_EQ(Names(m_out), std::vector<std::string>{"cam.mp4"});
    std::ifstream in(m_out / "cam.mp4");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "old");
    EXPECT_EQ(fs::file_size(m_out / "cam.mp4"), 3u);

    // Nothing in the range, and no backup at all.
    result =
        ExportRange(Backup(), kStart + 4, kStart + 7, 0x5, m_out / "gap.mkv", ExportFormat::Mkv);
    EXPECT_FALSE(result.ok);
    result = ExportRange(m_out, kStart, kStart + 10, 0x5, m_out / "none.mkv", ExportFormat::Mkv);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(Names(m_out), std::vector<std::string>{"cam.mp4"});
}

// Two files over existing names: when the second cannot take its name (a folder holds it),
// the first existing file is still the old one; once it can, both are replaced and nothing
// is left beside them.
TEST_F(ExportTest, EveryFileTakesItsFinalNameOrNoneDoes) {
    const auto content = [](const fs::path& path) {
        std::ifstream in(path);
        std::string text;
        std::getline(in, text);
        return text;
    };
    std::ofstream(m_out / "cam_ch01.mkv") << "old";
    fs::create_directories(m_out / "cam_ch03.mkv");
    std::ofstream(m_out / "cam_ch03.mkv" / "keep") << "mine";
    auto result =
        ExportRange(Backup(), kStart, kStart + 10, 0x5, m_out / "cam.mkv", ExportFormat::Mkv);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("cam_ch03.mkv"), std::string::npos) << result.error;
    EXPECT_TRUE(result.files.empty());
    EXPECT_EQ(content(m_out / "cam_ch01.mkv"), "old");
    EXPECT_EQ(content(m_out / "cam_ch03.mkv" / "keep"), "mine");
    EXPECT_EQ(Names(m_out), (std::vector<std::string>{"cam_ch01.mkv", "cam_ch03.mkv"}));

    fs::remove_all(m_out / "cam_ch03.mkv");
    std::ofstream(m_out / "cam_ch03.mkv") << "old";
    result = ExportRange(Backup(), kStart, kStart + 10, 0x5, m_out / "cam.mkv", ExportFormat::Mkv);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Names(m_out), (std::vector<std::string>{"cam_ch01.mkv", "cam_ch03.mkv"}));
    for (const char* name : {"cam_ch01.mkv", "cam_ch03.mkv"}) {
        EXPECT_TRUE(Read(m_out / name).opened) << name;
    }
}

// A pair written here frame by frame: channel 1 changes its picture size after two seconds,
// and a stray copy of an earlier frame sits in the middle.
TEST_F(ExportTest, APictureSizeChangeStartsASecondFileAndAStrayFrameWaitsForAKeyFrame) {
    WriterOptions options;
    options.folder = m_out / "pairs";
    options.clock = [] { return std::int64_t{kStart}; };
    CBackupWriter writer(options);
    ASSERT_TRUE(writer.Open());
    auto encoder = sim::CH264StreamWriter::Create({});
    ASSERT_TRUE(encoder);
    std::vector<std::uint8_t> stray;
    for (int i = 0; i < 4 * kFps; ++i) {
        const int second = i / kFps;
        const int width = second < 2 ? 704 : 352;
        const int height = second < 2 ? 480 : 240;
        if (i == 2 * kFps) {
            ASSERT_TRUE(encoder->SetSize(width, height));
        }
        const auto unit = encoder->Write(
            sim::MakeH264TestPattern(0, static_cast<std::uint32_t>(i), width, height));
        ASSERT_TRUE(unit);
        sim::PlayVideoFrame frame;
        frame.title = "";  // no title of the recorder's: the file is named "CH1"
        frame.seconds =
            static_cast<protocol::RecorderTime>(kStart + static_cast<std::uint32_t>(second));
        frame.microseconds = (i % kFps) * 40'000;
        frame.width = width;
        frame.height = height;
        const auto record = sim::BuildPlayVideoElement(3, frame, *unit);
        if (i == 10)
            stray = record;
        ASSERT_TRUE(writer.Write(RecordKind::Video, record));
        if (i == 60) {  // the copy of frame 10 after frame 60: frames 61..74 wait for 75
            ASSERT_TRUE(writer.Write(RecordKind::Video, stray));
        }
    }
    // Seven hours later: a file of its own.
    encoder->ForceKeyFrame();
    const auto late = encoder->Write(sim::MakeH264TestPattern(0, 100, 352, 240));
    ASSERT_TRUE(late);
    sim::PlayVideoFrame frame;
    frame.title = "";
    frame.seconds = static_cast<protocol::RecorderTime>(kStart + 7 * 3600);
    frame.width = 352;
    frame.height = 240;
    ASSERT_TRUE(writer.Write(RecordKind::Video, sim::BuildPlayVideoElement(3, frame, *late)));
    ASSERT_TRUE(writer.Close());

    const auto result = ExportRange(options.folder, kStart, kStart + 8 * 3600, 0x1,
                                    m_out / "size.mkv", ExportFormat::Mkv);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 3u);
    EXPECT_EQ(result.files[2].path.filename(), "size_3.mkv");
    EXPECT_EQ(result.files[2].frames, 1u);
    EXPECT_EQ(result.files[2].start, kStart + 7 * 3600);
    EXPECT_EQ(result.files[0].path.filename(), "size.mkv");
    EXPECT_EQ(result.files[1].path.filename(), "size_2.mkv");
    EXPECT_EQ(result.files[0].frames, 50u);
    EXPECT_EQ(result.files[1].frames, 50u - 14u);
    EXPECT_EQ(result.framesLeftOut, 15u);
    EXPECT_EQ(result.files[1].start, kStart + 2);
    EXPECT_EQ(result.files[1].title, "CH1");

    const ReadBack back = Read(result.files[1].path);
    ASSERT_TRUE(back.opened);
    EXPECT_EQ(back.tags.at("creation_time").substr(0, 19), "2010-10-12T08:00:02");
    const Track* video = back.Find(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 352);
    ASSERT_EQ(video->packets.size(), 36u);
    EXPECT_NEAR(video->Seconds(0), 0.0, 1e-9);
    EXPECT_NEAR(video->Seconds(10), 0.40, 1e-9) << "frame 60, before the stray copy";
    EXPECT_NEAR(video->Seconds(11), 1.0, 1e-9) << "frame 75, the next key frame";
    const auto pictures = Decode(*video);
    ASSERT_EQ(pictures.size(), 36u);
    EXPECT_EQ(pictures[11].y, sim::MakeH264TestPattern(0, 75, 352, 240).y);
    EXPECT_EQ(pictures[35].y, sim::MakeH264TestPattern(0, 99, 352, 240).y);

    // From the size change on: the key frame before the start has the old size and leads
    // nowhere, so the file starts at the new size's key frame. The stray copy lies before
    // the start and is left out alone: what follows it builds on frame 60, not on it.
    const auto after = ExportRange(options.folder, kStart + 2, kStart + 4, 0x1, m_out / "after.mkv",
                                   ExportFormat::Mkv);
    ASSERT_TRUE(after.ok) << after.error;
    ASSERT_EQ(after.files.size(), 1u);
    EXPECT_EQ(after.files[0].path.filename(), "after.mkv");
    EXPECT_EQ(after.files[0].width, 352);
    EXPECT_EQ(after.files[0].leadFrames, 0u);
    EXPECT_EQ(after.files[0].frames, 50u);
    EXPECT_EQ(after.framesLeftOut, 1u);
    EXPECT_EQ(Read(after.files[0].path).Find(AVMEDIA_TYPE_VIDEO)->width, 352);
}

// Channel 2 has key frames at 08:00:00.0 and 08:00:02.5: an export from 08:00:01 starts its
// file at the key frame before and an edit list starts presentation at 08:00:01 exactly.
TEST_F(ExportTest, AStartBetweenKeyFramesIsShownFromTheChosenTimeAfterTheKeyFrameBefore) {
    const auto result =
        ExportRange(Backup(), kStart + 1, kStart + 4, 0x2, m_out / "yard.mp4", ExportFormat::Mp4);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    const ExportedFile& file = result.files[0];
    EXPECT_EQ(file.leadFrames, 10u);
    EXPECT_EQ(file.frames, 30u);
    EXPECT_EQ(file.firstMicros, std::int64_t{kStart + 1} * 1'000'000);
    EXPECT_EQ(file.lastMicros, std::int64_t{kStart + 3} * 1'000'000 + 900'000);
    EXPECT_EQ(file.start, kStart + 1);
    EXPECT_DOUBLE_EQ(file.duration, 3.0);

    const ReadBack back = Read(file.path);
    ASSERT_TRUE(back.opened);
    EXPECT_NEAR(back.duration, 3.0, 0.05) << "the edit list's length";
    EXPECT_EQ(back.tags.at("creation_time").substr(0, 19), "2010-10-12T08:00:01");
    const Track* video = back.Find(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->packets.size(), 40u);
    EXPECT_TRUE(video->packets[0].key);
    EXPECT_NEAR(video->Seconds(0), -1.0, 1e-6) << "the key frame before the start";
    EXPECT_NEAR(video->Seconds(10), 0.0, 1e-6) << "presentation starts at the chosen time";
    const auto pictures = Decode(*video);
    ASSERT_EQ(pictures.size(), 40u);
    const auto counter = [](int tenth) {
        return static_cast<std::uint32_t>((8 * 3600) * 10 + tenth);
    };
    EXPECT_EQ(pictures[10].y, sim::MakeH264TestPattern(1, counter(10), 352, 240).y);
    EXPECT_EQ(pictures[39].y, sim::MakeH264TestPattern(1, counter(39), 352, 240).y);
}

// A clip straight from the recorder: one file per channel with the range's frames, times
// and metadata, and no backup pair anywhere; a range without recordings is refused before
// anything is written, and a recorder lost mid-clip leaves no file and says how far it got.
TEST_F(ExportTest, AClipFromTheRecorderIsWrittenStraightToFilesOrNotAtAll) {
    const auto clip = [&](const sim::SimConfig& config, const std::string& from,
                          const std::string& to, const fs::path& dir) {
        sim::CRecorderSim recorder(config);
        EXPECT_TRUE(recorder.Start()) << recorder.LastError();
        auto args = Login("clip", recorder.Port());
        args.insert(args.end(),
                    {"--from", from, "--to", to, "--channels", "0x3", "--out-dir", dir.string(),
                     "--storage", (m_out / "storage").string(), "--json"});
        return Cli(args);
    };
    auto run = clip(Config(), "2010-10-12T08:00:02", "2010-10-12T08:00:09", m_out / "clip");
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(R"({"event":"progress","kbytes":)"), std::string::npos) << run.out;
    // Seconds 2, 3, 7 and 8 of each channel.
    const std::string door = (m_out / "clip" / "ch01.mp4").string();
    const std::string yard = (m_out / "clip" / "ch02.mp4").string();
    EXPECT_NE(
        run.out.find(
            R"({"event":"file","channel":1,"path":")" + door +
            R"(","frames":100,"first":"2010-10-12T08:00:02.000","last":"2010-10-12T08:00:08.960")"),
        std::string::npos)
        << run.out;
    EXPECT_NE(
        run.out.find(
            R"({"event":"file","channel":2,"path":")" + yard +
            R"(","frames":40,"first":"2010-10-12T08:00:02.000","last":"2010-10-12T08:00:08.900")"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(Names(m_out / "clip"), (std::vector<std::string>{"ch01.mp4", "ch02.mp4"}));
    for (const auto& entry : fs::recursive_directory_iterator(m_out)) {
        EXPECT_NE(entry.path().extension(), ".vid") << entry.path();
        EXPECT_NE(entry.path().extension(), ".idx") << entry.path();
    }
    const ReadBack back = Read(door);
    ASSERT_TRUE(back.opened);
    EXPECT_EQ(back.tags.at("title"), "Front door");
    EXPECT_EQ(back.tags.at("creation_time").substr(0, 19), "2010-10-12T08:00:02");
    const Track* video = back.Find(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->packets.size(), 100u);
    EXPECT_NEAR(video->Seconds(50), 5.0, 1e-6) << "the gap stays a gap";
    const auto pictures = Decode(*video);
    ASSERT_EQ(pictures.size(), 100u);
    EXPECT_EQ(pictures[50].y, Expected(0, 100, 704, 480).y);
    EXPECT_NE(back.Find(AVMEDIA_TYPE_AUDIO), nullptr) << "channel 1 records sound";
    EXPECT_EQ(Read(yard).Find(AVMEDIA_TYPE_AUDIO), nullptr);

    run = clip(Config(), "2010-10-12T08:00:04", "2010-10-12T08:00:07", m_out / "gap");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.out.find("nothing is recorded in that range"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(m_out / "gap"));

    auto dropping = Config();
    dropping.backup_drop_after = 120;
    run = clip(dropping, "2010-10-12T08:00:00", "2010-10-12T08:00:10", m_out / "lost");
    EXPECT_NE(run.exitStatus, 0) << run.out;
    EXPECT_NE(run.out.find("it had got to 2010-10-12T08:00:0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("no file was written"), std::string::npos) << run.out;
    EXPECT_TRUE(!fs::exists(m_out / "lost") || fs::is_empty(m_out / "lost"));
}

}  // namespace
}  // namespace taviro::archive
