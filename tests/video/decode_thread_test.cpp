// The decoder thread's loop against a scripted decoder library: which frames reach the
// library and with what prefix, the result rules, post-processing, and the hand-over to
// the channel view.
#include "video/decode_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace taviro::video {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// The scripted library: records every call and answers from a script. One test at a time
// uses it (the function pointers of the library contract cannot carry state).
struct FakeLibrary {
    std::mutex lock;
    std::vector<Bytes> calls;  // bitstreams handed to GetOneFrame
    std::deque<int> results;   // next results; empty: 0 (a picture)
    int inits = 0, uninits = 0;
    int initResult = 0;
    std::uint8_t fill = 0x40;  // the picture written: row r of luma holds fill + r

    static FakeLibrary* current;

    static int Init(platform::DecoderContext* c) {
        std::lock_guard l(current->lock);
        ++current->inits;
        c->instance = 7;
        return current->initResult;
    }
    static void Uninit(platform::DecoderContext* c) {
        std::lock_guard l(current->lock);
        ++current->uninits;
        c->instance = 0;
    }
    static int GetOneFrame(platform::DecoderContext* c, const std::uint8_t* bits, std::int32_t n,
                           std::uint8_t* picture) {
        std::lock_guard l(current->lock);
        current->calls.emplace_back(bits, bits + n);
        int result = 0;
        if (!current->results.empty()) {
            result = current->results.front();
            current->results.pop_front();
        }
        if (result == 0 || result == 5) {
            // Width and height come from the SPS the adapter wrote; tests use one size per
            // stream, kept in `width`/`height` below.
            const int w = current->width, h = current->height;
            const int rowBytes = c->format == platform::kH264FormatRgb24 ? w * 3 : w;
            for (int r = 0; r < h; ++r) {
                std::memset(picture + static_cast<std::size_t>(r * rowBytes),
                            static_cast<std::uint8_t>(current->fill + r),
                            static_cast<std::size_t>(rowBytes));
            }
        }
        return result;
    }
    int width = 704, height = 480;

    platform::H264EntryPoints Entries() { return {&Init, &GetOneFrame, &Uninit}; }
    std::size_t CallCount() {
        std::lock_guard l(lock);
        return calls.size();
    }
};
FakeLibrary* FakeLibrary::current = nullptr;

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
        FakeLibrary::current = &m_lib;
        m_views.SetViewMode(ViewMode::Live);
        m_queue = std::make_shared<stream::CVideoQueue>();
    }
    void TearDown() override {
        m_thread.reset();
        FakeLibrary::current = nullptr;
    }
    void StartThread(std::uint32_t format = platform::kH264FormatYuv420) {
        m_thread = std::make_unique<CDecodeThread>(2, m_queue, m_views, m_env, m_lib.Entries(),
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

    FakeLibrary m_lib;
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
    EXPECT_EQ(view.line1, "Front door 720x480");
    EXPECT_EQ(view.line2, "LIVE  00");
    EXPECT_EQ(view.colour1, kColourGreen);
    EXPECT_EQ(view.audioIconX, 10 * 8 + 45);
    EXPECT_EQ(view.decodedCount, 2u);
    EXPECT_TRUE(protocol::HasChannel(m_views.HasDecodedMask(), 2));
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
                     3};        // no picture: the frame is given up
    m_queue->Put(Frame(0, 704, 480, 1, 0x20));
    m_queue->Put(Frame(1, 704, 480, 1, 0x21));
    m_queue->Put(Frame(1, 704, 480, 1, 0x22));
    StartThread();
    WaitTaken(3);
    ASSERT_EQ(m_lib.CallCount(), 6u);
    EXPECT_EQ(m_lib.calls[0], m_lib.calls[1]);
    EXPECT_EQ(m_lib.calls[1], m_lib.calls[2]);
    EXPECT_EQ(m_lib.calls[3], m_lib.calls[4]);
    EXPECT_EQ(m_thread->Stats().decoded.load(), 2u);
    EXPECT_EQ(m_thread->Stats().dropped.load(), 1u);
    m_thread->Stop();
    EXPECT_EQ(m_lib.inits, 2);    // start, and the reset
    EXPECT_EQ(m_lib.uninits, 3);  // before the first start, the reset, the end
}

TEST_F(DecodeThreadTest, LibraryThatAlwaysAsksAgainDoesNotHoldTheChannel) {
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

// RGB stays top-down as the library wrote it; packed for files it is bottom-up, and an
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
    EXPECT_EQ(view.frame->planes[0][0], m_lib.fill);  // the library's top row, where it was
    std::vector<std::uint8_t> packed(kPictureBufferSize);
    ASSERT_EQ(PackPicture(*view.frame, view.doubleLines, packed.data(), packed.size()),
              352u * 480u * 3u);
    const auto row = [&](int r) { return packed[static_cast<std::size_t>(352 * 3 * r)]; };
    EXPECT_EQ(row(0), static_cast<std::uint8_t>(m_lib.fill + 479));
    EXPECT_EQ(row(1), static_cast<std::uint8_t>(m_lib.fill + 479));
    EXPECT_EQ(row(2), static_cast<std::uint8_t>(m_lib.fill + 477));
    EXPECT_EQ(row(479), static_cast<std::uint8_t>(m_lib.fill + 1));
}

TEST_F(DecodeThreadTest, InitFailureIsReportedAndTheThreadGoesOn) {
    m_lib.initResult = -4;
    m_queue->Put(Frame(0, 704, 480, 1, 0x80));
    StartThread();
    WaitTaken(1);
    EXPECT_TRUE(m_sink.WaitFor(
        [](const platform::PostedMessage& m) {
            return m.messageBox && *m.messageBox == "H.264 Decoder Init Error !";
        },
        1s));
}

TEST_F(DecodeThreadTest, TitlesAreFittedToThePane) {
    EXPECT_EQ(m_views.FitTitle("Front door", 205), "Front door");
    // 205 - 95 = 110 pixels at 10 a character: 11 characters fit.
    EXPECT_EQ(m_views.FitTitle("Parking garage north", 205), "Parking gar...");
    EXPECT_EQ(CChannelViews::LabelCharWidth(-17), 10);
}

}  // namespace
}  // namespace taviro::video
