// The decoder thread's loop against scripted decoders: which frames reach the decoder and
// with what prefix, the result rules, post-processing, and the hand-over to
// the channel view.
#include "video/decode_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "video/pane_texts.h"

namespace taviro::video {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// The scripted decoders: every decoder the factory opens records its calls here and answers
// from the script.
struct Script {
    std::mutex lock;
    std::vector<Bytes> calls;  // access units handed to the decoders
    std::deque<int> results;   // next results; empty: 0 (a picture)
    int opens = 0, closes = 0;
    bool openFails = false;
    std::uint8_t fill = 0x40;  // the picture made: row r holds fill + r
    int width = 704, height = 480;

    std::size_t CallCount() {
        std::lock_guard l(lock);
        return calls.size();
    }
    platform::H264DecoderFactory Factory();
};

class CScriptedDecoder final : public platform::IH264Decoder {
  public:
    CScriptedDecoder(Script& script, std::uint32_t format) : m_script(script), m_format(format) {}
    ~CScriptedDecoder() override {
        std::lock_guard l(m_script.lock);
        ++m_script.closes;
    }
    CScriptedDecoder(const CScriptedDecoder&) = delete;
    CScriptedDecoder& operator=(const CScriptedDecoder&) = delete;

    int Decode(std::span<const std::uint8_t> input, platform::PictureRef& picture) override {
        picture.reset();
        std::lock_guard l(m_script.lock);
        m_script.calls.emplace_back(input.begin(), input.end());
        int result = 0;
        if (!m_script.results.empty()) {
            result = m_script.results.front();
            m_script.results.pop_front();
        }
        if (result == platform::kH264Picture || result == platform::kH264PictureDamaged) {
            // One size per stream in a test, kept in the script rather than read from the
            // parameter sets in front.
            const int w = m_script.width, h = m_script.height;
            auto made = std::make_shared<platform::CPackedPicture>(w, h, m_format);
            const int rowBytes = m_format == platform::kH264FormatRgb24 ? w * 3 : w;
            for (int r = 0; r < h; ++r) {
                std::memset(made->Data() + static_cast<std::size_t>(r * rowBytes),
                            static_cast<std::uint8_t>(m_script.fill + r),
                            static_cast<std::size_t>(rowBytes));
            }
            picture = std::move(made);
        }
        return result;
    }
    [[nodiscard]] std::uint32_t Format() const override { return m_format; }

  private:
    Script& m_script;
    const std::uint32_t m_format;
};

platform::H264DecoderFactory Script::Factory() {
    return [this](std::uint32_t format) -> std::unique_ptr<platform::IH264Decoder> {
        std::lock_guard l(lock);
        if (openFails) {
            return nullptr;
        }
        ++opens;
        return std::make_unique<CScriptedDecoder>(*this, format);
    };
}

class FakeEnvironment final : public IDecodeEnvironment {
  public:
    bool LiveDropsChannel(int) override { return drop.load(); }
    std::string LiveTitle(int) override { return "Front door"; }
    std::int64_t PlaybackTime(ViewMode) override { return 1234; }
    bool Deinterlace(int) override { return deinterlace.load(); }
    std::atomic<bool> drop{false};
    std::atomic<bool> deinterlace{false};
};

stream::QueuedFrame Frame(std::uint8_t kind, int width, int height, std::uint32_t generation,
                          std::uint8_t marker, std::uint32_t clock = 1286798400) {
    stream::FrameInfo info;
    info.channel = 2;
    info.kind = kind;
    info.width = static_cast<std::uint16_t>(width);
    info.height = static_cast<std::uint16_t>(height);
    info.generation = generation;
    Bytes payload = {0x00, 0x00, 0x00, 0x01, 0x65, marker, marker, marker};
    info.payloadLength = static_cast<std::uint32_t>(payload.size());
    info.size = info.payloadLength;
    auto header = protocol::PacketHeader::Make(18, 8, true);
    header.word[3] = clock;
    auto frame = stream::QueuedFrame::Make(info, header, payload);
    EXPECT_TRUE(frame);
    return std::move(*frame);
}

class DecodeThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_views.SetViewMode(ViewMode::Live);
        m_queue = std::make_shared<stream::CVideoQueue>();
    }
    void TearDown() override { m_thread.reset(); }
    void StartThread(std::uint32_t format = platform::kH264FormatYuv420) {
        m_thread = std::make_unique<CDecodeThread>(2, m_queue, m_views, m_env, m_lib.Factory(),
                                                   format, &m_sink);
        m_thread->Start();
    }
    // Waits until the thread has taken `count` entries in all and the queue is empty.
    void WaitTaken(std::uint64_t count) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (m_thread->Stats().taken < count && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(m_thread->Stats().taken.load(), count);
    }
    static Bytes Prefix(int width, int height) {
        std::array<std::uint8_t, kParamSetBufferSize> buf{};
        const std::size_t n = WriteParameterSets(static_cast<std::uint32_t>(width),
                                                 static_cast<std::uint32_t>(height), buf);
        return Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    }
    static Bytes Payload(std::uint8_t marker) {
        return {0x00, 0x00, 0x00, 0x01, 0x65, marker, marker, marker};
    }

    Script m_lib;
    FakeEnvironment m_env;
    CChannelViews m_views;
    platform::CQueueSink m_sink;
    std::shared_ptr<stream::CVideoQueue> m_queue;
    std::unique_ptr<CDecodeThread> m_thread;
};

TEST_F(DecodeThreadTest, DecodingStartsAtTheFirstKeyFrameWhichAloneCarriesTheParameterSets) {
    m_queue->Put(Frame(1, 704, 480, 1, 0xA1));
    m_queue->Put(Frame(2, 704, 480, 1, 0xA2));
    m_queue->Put(Frame(0, 704, 480, 1, 0xB0));
    m_queue->Put(Frame(1, 704, 480, 1, 0xB1));
    StartThread();
    WaitTaken(4);
    ASSERT_EQ(m_lib.CallCount(), 2u);
    Bytes keyExpected = Prefix(704, 480);
    const Bytes key = Payload(0xB0);
    keyExpected.insert(keyExpected.end(), key.begin(), key.end());
    EXPECT_EQ(m_lib.calls[0], keyExpected);
    EXPECT_EQ(m_lib.calls[1], Payload(0xB1));
    EXPECT_EQ(m_thread->Stats().dropped.load(), 2u);
    // The adapter's prefix for this size, byte for byte.
    EXPECT_EQ(Prefix(704, 480),
              (Bytes{0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x05,
                     0x81, 0xEC, 0x80, 0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28}));

    const ChannelView& view = m_views.Channel(2);
    std::lock_guard lock(view.lock);
    EXPECT_EQ(view.width, 704);
    EXPECT_EQ(view.height, 480);
    EXPECT_EQ(view.clock, 1286798400);
    EXPECT_EQ(view.labelMode, ViewMode::Live);
    EXPECT_EQ(view.title, "Front door");
    // The labels the painter makes of it.
    const PaneTexts texts = MakePaneTexts(view, kOsdFull, m_views);
    EXPECT_EQ(texts.line1, "Front door 720x480");
    EXPECT_EQ(texts.line2, "LIVE  00");
    EXPECT_EQ(texts.colour1, kColourGreen);
    EXPECT_EQ(texts.audioIconX, 10 * 8 + 45);
    EXPECT_EQ(view.decodedCount, 2u);
    EXPECT_TRUE(protocol::HasChannel(m_views.HasDecodedMask(), 2));
}

// A live channel that gets no frames (no pane shows it) gives its decoder back after a
// quiet spell; its next stream starts again at a key frame with the parameter sets. A
// paused playback keeps its decoder however long it waits.
TEST_F(DecodeThreadTest, AQuietLiveChannelClosesItsDecoderAndPlaybackKeepsIt) {
    const auto waitFor = [](const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        return done();
    };
    const auto closes = [&] {
        std::lock_guard l(m_lib.lock);
        return m_lib.closes;
    };
    const auto opens = [&] {
        std::lock_guard l(m_lib.lock);
        return m_lib.opens;
    };
    m_thread = std::make_unique<CDecodeThread>(2, m_queue, m_views, m_env, m_lib.Factory(),
                                               platform::kH264FormatYuv420, &m_sink);
    m_thread->SetLiveIdleClose(30ms);
    m_thread->Start();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(opens(), 0) << "no decoder before the first frame";
    m_queue->Put(Frame(0, 704, 480, 1, 0xB0));
    WaitTaken(1);
    // The library's close comes first, the thread's count of it just after.
    ASSERT_TRUE(waitFor([&] { return closes() == 1 && m_thread->Stats().idleCloses.load() == 1; }));
    {
        const ChannelView& view = m_views.Channel(2);
        std::lock_guard lock(view.lock);
        EXPECT_EQ(view.frame, nullptr) << "a still of the past kept for the pane";
    }
    // Shown again: a frame that depends on the old stream is dropped, the key frame opens a
    // decoder with the parameter sets in front.
    m_queue->Put(Frame(1, 704, 480, 1, 0xB1));
    m_queue->Put(Frame(0, 704, 480, 1, 0xC0));
    WaitTaken(3);
    EXPECT_EQ(opens(), 2);
    ASSERT_EQ(m_lib.CallCount(), 2u);
    Bytes keyExpected = Prefix(704, 480);
    const Bytes key = Payload(0xC0);
    keyExpected.insert(keyExpected.end(), key.begin(), key.end());
    EXPECT_EQ(m_lib.calls[1], keyExpected);

    m_views.SetViewMode(ViewMode::RemotePlayback);
    m_queue->Put(Frame(1, 704, 480, 1, 0xC1));
    WaitTaken(4);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(closes(), 1) << "a paused playback lost its decoder";
}

TEST_F(DecodeThreadTest, SizeChangeWithinAGenerationWaitsForTheNextKeyFrame) {
    m_lib.width = 352;
    m_lib.height = 240;
    m_queue->Put(Frame(0, 352, 240, 3, 0x10));
    m_queue->Put(Frame(1, 704, 480, 3, 0x11));  // new size, not a key frame: dropped
    m_queue->Put(Frame(0, 704, 480, 3, 0x12));
    m_queue->Put(Frame(1, 704, 480, 3, 0x13));  // same stream: decoded, no prefix
    StartThread();
    WaitTaken(4);
    ASSERT_EQ(m_lib.CallCount(), 3u);
    Bytes expected = Prefix(704, 480);
    const Bytes key = Payload(0x12);
    expected.insert(expected.end(), key.begin(), key.end());
    EXPECT_EQ(m_lib.calls[1], expected);
    EXPECT_EQ(m_lib.calls[2], Payload(0x13));
}

TEST_F(DecodeThreadTest, ResultRulesRepeatResetAndGiveUp) {
    m_lib.results = {1,  1, 0,  // twice "call again", then a picture: three identical calls
                     -5, 0,     // reset, then the same input again
                     5,         // a damaged picture is still shown
                     3};        // no picture: the frame is given up
    m_queue->Put(Frame(0, 704, 480, 1, 0x20));
    m_queue->Put(Frame(1, 704, 480, 1, 0x21));
    m_queue->Put(Frame(1, 704, 480, 1, 0x22));
    m_queue->Put(Frame(1, 704, 480, 1, 0x23));
    StartThread();
    WaitTaken(4);
    ASSERT_EQ(m_lib.CallCount(), 7u);
    EXPECT_EQ(m_lib.calls[0], m_lib.calls[1]);
    EXPECT_EQ(m_lib.calls[1], m_lib.calls[2]);
    EXPECT_EQ(m_lib.calls[3], m_lib.calls[4]);
    EXPECT_EQ(m_thread->Stats().decoded.load(), 3u);
    EXPECT_EQ(m_thread->Stats().shown.load(), 3u);
    EXPECT_EQ(m_thread->Stats().dropped.load(), 1u);
    m_thread->Stop();
    EXPECT_EQ(m_lib.opens, 2);   // start, and the reset
    EXPECT_EQ(m_lib.closes, 2);  // the broken one at the reset, the last at the end
}

TEST_F(DecodeThreadTest, DecoderThatAlwaysAsksAgainDoesNotHoldTheChannel) {
    m_lib.results = std::deque<int>(1000, 1);
    m_queue->Put(Frame(0, 704, 480, 1, 0x30));
    StartThread();
    WaitTaken(1);
    EXPECT_LT(m_lib.CallCount(), 1000u);
    EXPECT_EQ(m_thread->Stats().dropped.load(), 1u);
}

TEST_F(DecodeThreadTest, BackPressureDropsDependentFramesUntilTheNextKeyFrame) {
    m_queue->Put(Frame(0, 704, 480, 1, 0x40));
    for (int i = 0; i < 118; ++i)
        m_queue->Put(Frame(1, 704, 480, 1, 0x41));
    m_queue->Put(Frame(0, 704, 480, 1, 0x42));
    m_queue->Put(Frame(1, 704, 480, 1, 0x43));
    StartThread();  // 121 entries wait when the thread starts taking
    WaitTaken(121);
    // The first key frame decodes (it clears the skip flag), the dependent frames taken
    // while 99 or more entries waited are dropped, the rest decode.
    const auto decoded = m_thread->Stats().decoded.load();
    EXPECT_EQ(m_thread->Stats().dropped.load() + decoded, 121u);
    // Entries 2..22 were taken with backlogs 120..100 >= 99, all dropped; once dropping
    // started, every dependent frame up to the next key frame is dropped too.
    EXPECT_EQ(decoded, 3u);
    EXPECT_EQ(m_lib.calls.back(), Payload(0x43));
}

TEST_F(DecodeThreadTest, VideoLossDropsFramesAndForgetsTheParameterSets) {
    m_queue->Put(Frame(0, 704, 480, 1, 0x50));
    StartThread();
    WaitTaken(1);
    m_env.drop = true;
    m_queue->Put(Frame(1, 704, 480, 1, 0x51));
    WaitTaken(2);
    m_env.drop = false;
    m_queue->Put(Frame(1, 704, 480, 1, 0x52));  // no parameter sets any more: dropped
    m_queue->Put(Frame(0, 704, 480, 1, 0x53));  // prefixed again
    WaitTaken(4);
    ASSERT_EQ(m_lib.CallCount(), 2u);
    EXPECT_EQ(m_lib.calls[1].size(), Prefix(704, 480).size() + 8);
}

TEST_F(DecodeThreadTest, LinesAreDoubledAt576UnlessDeinterlacedAndNeverAt288) {
    struct Case {
        int height;
        bool deinterlace;
        bool doubled;
    };
    for (const Case c : {Case{576, false, true}, Case{576, true, false}, Case{288, false, false}}) {
        SCOPED_TRACE(c.height);
        m_thread.reset();
        m_queue = std::make_shared<stream::CVideoQueue>();
        m_lib.height = c.height;
        m_env.deinterlace = c.deinterlace;
        m_queue->Put(Frame(0, 704, c.height, 9, 0x60));
        StartThread();
        WaitTaken(1);
        m_thread->Stop();
        const ChannelView& view = m_views.Channel(2);
        std::lock_guard lock(view.lock);
        ASSERT_NE(view.frame, nullptr);
        EXPECT_EQ(view.doubleLines, c.doubled);
        // As the screen shows it: the picture itself is never written.
        std::vector<std::uint8_t> shown(kPictureBufferSize);
        ASSERT_GT(PackPicture(*view.frame, view.doubleLines, shown.data(), shown.size()), 0u);
        EXPECT_EQ(view.frame->planes[0][704], m_lib.fill + 1);
        const std::uint8_t* y = shown.data();
        EXPECT_EQ(y[0], m_lib.fill);
        EXPECT_EQ(y[704], c.doubled ? m_lib.fill : m_lib.fill + 1);  // row 1
        EXPECT_EQ(y[704 * 3], c.doubled ? m_lib.fill + 2 : m_lib.fill + 3);
    }
}

// RGB stays top-down as the decoder made it; packed for files it is bottom-up, and an
// interlaced picture repeats the lower row of each pair.
TEST_F(DecodeThreadTest, RgbPicturesStayTopDownAndArePackedBottomUpForFiles) {
    m_lib.width = 352;
    m_lib.height = 480;
    m_env.deinterlace = false;
    m_queue->Put(Frame(0, 352, 480, 1, 0x70));
    StartThread(platform::kH264FormatRgb24);
    WaitTaken(1);
    m_thread->Stop();
    const ChannelView& view = m_views.Channel(2);
    std::lock_guard lock(view.lock);
    ASSERT_NE(view.frame, nullptr);
    EXPECT_TRUE(view.doubleLines);
    EXPECT_EQ(view.frame->planes[0][0], m_lib.fill);  // the decoder's top row, where it was
    std::vector<std::uint8_t> packed(kPictureBufferSize);
    ASSERT_EQ(PackPicture(*view.frame, view.doubleLines, packed.data(), packed.size()),
              352u * 480u * 3u);
    const auto row = [&](int r) { return packed[static_cast<std::size_t>(352 * 3 * r)]; };
    EXPECT_EQ(row(0), static_cast<std::uint8_t>(m_lib.fill + 479));
    EXPECT_EQ(row(1), static_cast<std::uint8_t>(m_lib.fill + 479));
    EXPECT_EQ(row(2), static_cast<std::uint8_t>(m_lib.fill + 477));
    EXPECT_EQ(row(479), static_cast<std::uint8_t>(m_lib.fill + 1));
}

// A decoder that broke and cannot be opened again: that frame and the ones after it are
// dropped, and the thread still takes every entry.
TEST_F(DecodeThreadTest, ResetWhoseDecoderCannotBeOpenedAgainDropsTheRest) {
    m_lib.results = {0, -5};
    m_queue->Put(Frame(0, 704, 480, 1, 0x90));
    StartThread();
    WaitTaken(1);
    {
        std::lock_guard l(m_lib.lock);
        m_lib.openFails = true;
    }
    m_queue->Put(Frame(1, 704, 480, 1, 0x91));
    m_queue->Put(Frame(1, 704, 480, 1, 0x92));
    WaitTaken(3);
    EXPECT_EQ(m_lib.CallCount(), 2u);
    EXPECT_EQ(m_thread->Stats().decoded.load(), 1u);
    EXPECT_EQ(m_thread->Stats().dropped.load(), 2u);
    m_thread->Stop();
    EXPECT_EQ(m_lib.opens, 1);
    EXPECT_EQ(m_lib.closes, 1);
}

TEST_F(DecodeThreadTest, InitFailureIsReportedAndTheThreadGoesOn) {
    m_lib.openFails = true;
    m_queue->Put(Frame(0, 704, 480, 1, 0x80));
    StartThread();
    WaitTaken(1);
    EXPECT_TRUE(m_sink.WaitFor(
        [](const platform::PostedMessage& m) {
            return m.messageBox && *m.messageBox == "H.264 Decoder Init Error !";
        },
        1s));
    EXPECT_EQ(m_thread->Stats().dropped.load(), 1u);
    EXPECT_EQ(m_lib.CallCount(), 0u);
}

TEST_F(DecodeThreadTest, TitlesAreFittedToThePane) {
    EXPECT_EQ(m_views.FitTitle("Front door", 205), "Front door");
    // 205 - 95 = 110 pixels at 10 a character: 11 characters fit.
    EXPECT_EQ(m_views.FitTitle("Parking garage north", 205), "Parking gar...");
    EXPECT_EQ(CChannelViews::LabelCharWidth(-17), 10);
}

// The painter's texts from what the decoder recorded: the OSD mode decides whether the size
// follows the title, the mode names line 2, the pane's width cuts the title, and nothing
// shows before the first picture.
TEST(PaneTexts, LinesFollowTheModeTheOsdAndThePane) {
    CChannelViews views;
    ChannelView& view = views.Channel(5);
    std::lock_guard lock(view.lock);
    PaneTexts texts = MakePaneTexts(view, kOsdFull, views);
    EXPECT_TRUE(texts.line1.empty());
    EXPECT_TRUE(texts.line2.empty());

    view.labelMode = ViewMode::RemotePlayback;
    view.title = "Parking garage north";
    view.width = 352;
    view.height = 240;
    view.frameRate = 7;
    texts = MakePaneTexts(view, kOsdFull, views);
    EXPECT_EQ(texts.line1, "Parking gar... 360x240");
    EXPECT_EQ(texts.line2, "R-PLAY  07");
    EXPECT_EQ(texts.colour1, kColourGreen);
    EXPECT_EQ(texts.colour2, kColourCyan);
    EXPECT_EQ(texts.audioIconX, 10 * 10 + 45);
    EXPECT_EQ(texts.integrityIconX, 10 * 10 + 80);
    for (const int osd : {kOsdTitle, kOsdStatistics}) {
        EXPECT_EQ(MakePaneTexts(view, osd, views).line1, "Parking gar...") << osd;
    }

    // A wider pane fits more of the title; the fit is redone when the width changes.
    view.paneWidth = 400;
    view.labelMode = ViewMode::LocalPlayback;
    view.width = 704;
    view.frameRate = 125;
    texts = MakePaneTexts(view, kOsdFull, views);
    EXPECT_EQ(texts.line1, "Parking garage north 720x240");
    EXPECT_EQ(texts.line2, "L-PLAY  125");
    EXPECT_EQ(texts.audioIconX, 11 * 10 + 45);
    EXPECT_EQ(ModeLabel(ViewMode::Live), "LIVE");
    EXPECT_EQ(ModeLabel(ViewMode::Idle), "");
}

}  // namespace
}  // namespace taviro::video
