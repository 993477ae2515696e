// The player thread over written pairs: frame skipping at speed, backward play over the
// boundary of two chained pairs, seeks followed by a step, backward play after a seek, a
// step or forward play, a seek into a gap of the recording, a tampered frame, the end of
// the recording, a full decoder queue and a prompt stop.
//
// The recording: channels 0 and 1 at ten frames a second for twenty seconds from kStart,
// without seconds 13 and 14; a key frame every fifth frame, carrying a watermark; the block
// key changes every four seconds; the pair is split after channel 0's frame at 9.5 s, so
// channel 1's frame of that instant opens a second pair. Channel 1's key frame at 5.5 s is
// tampered.
#include "archive/local_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

#include "archive/backup_reader.h"
#include "archive/backup_records.h"
#include "archive/backup_writer.h"
#include "support/temp_folder_test.h"

namespace taviro::archive {
namespace {

using namespace std::chrono_literals;
using testing::TestFrame;
using testing::VideoRecord;

constexpr std::uint32_t kStart = 1286841600;  // 2010-10-12 00:00:00
constexpr std::uint32_t kSeconds = 20;
constexpr std::uint32_t kPerSecond = 10;
constexpr std::uint32_t kGapFrom = 13;  // seconds 13 and 14 have no frames
constexpr std::uint32_t kGapTo = 15;
constexpr std::uint32_t kTamperedSecond = 5;
constexpr std::uint32_t kTamperedSlot = 5;
constexpr int kTamperedChannel = 1;
// 292-byte records from offset 64: the first above this offset is channel 0 at 9.5 s.
constexpr std::uint64_t kSplitBytes = 55'500;

// A frame the player handed over, with what the output knew when it arrived.
struct ShownFrame {
    int channel = 0;
    std::int32_t seconds = 0;
    std::int32_t micros = 0;
    std::uint8_t kind = 0;
    bool reverse = false;
    PlayerState state;    // the last state reported before it
    int integrity = -3;   // the channel's last integrity report (-3: none)
    bool hidden = false;  // decoded for the pictures after it, not shown

    [[nodiscard]] auto Time() const { return std::tuple(seconds, micros); }
};

class CRecordingOutput : public IPlayerOutput {
  public:
    void SegmentChanged(const SliderSpan&, int, std::uint32_t) override {}
    bool Accepts(int channel) override { return channel == 0 || channel == 1; }
    // Every queue holds `Full()` frames; a count over the player's bound makes it wait.
    std::size_t Queued(int) override {
        const std::size_t queued = m_queued.load();
        if (queued > kMaxQueuedPlayerFrames) {
            m_fullAnswers.fetch_add(1);
        }
        return queued;
    }
    void WatchRoom(const std::shared_ptr<stream::CWakeSignal>& signal) override {
        std::lock_guard lock(m_lock);
        m_signal = signal;
    }
    // The decoders took frames (or queued more): the queues hold `queued` now.
    void SetQueued(std::size_t queued) {
        m_queued = queued;
        std::shared_ptr<stream::CWakeSignal> signal;
        {
            std::lock_guard lock(m_lock);
            signal = m_signal;
        }
        if (signal) {
            signal->Notify();
        }
    }
    // How often the player was told that a queue is full.
    std::uint64_t FullAnswers() const { return m_fullAnswers.load(); }
    void QueueFrame(int channel, stream::QueuedFrame frame) override {
        const stream::FrameInfo info = frame.Info();
        std::lock_guard lock(m_lock);
        m_frames.push_back(ShownFrame{channel, info.seconds, info.microseconds, info.kind,
                                      frame.Reverse(), m_state,
                                      m_integrity[static_cast<std::size_t>(channel & 15)],
                                      frame.DisplayExempt() && frame.Reverse()});
        m_changed.notify_all();
    }
    void QueueAudio(const stream::AudioBlock&) override {}
    void Position(std::uint32_t seconds) override {
        std::lock_guard lock(m_lock);
        m_positions.push_back(seconds);
        m_changed.notify_all();
    }
    void Integrity(int channel, int state) override {
        std::lock_guard lock(m_lock);
        m_integrity[static_cast<std::size_t>(channel & 15)] = state;
    }
    void StateChanged(const PlayerState& state) override {
        std::lock_guard lock(m_lock);
        m_state = state;
        m_states.push_back(state);
        m_changed.notify_all();
    }

    // Waits until `done(frames, states)` holds; false when it still does not after `timeout`.
    template <typename Done>
    bool WaitUntil(Done done, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] { return done(m_frames, m_states); });
    }
    bool WaitForMode(PlayerMode mode, std::size_t after = 0) {
        return WaitUntil([&](const auto&, const std::vector<PlayerState>& states) {
            return states.size() > after && states.back().mode == mode;
        });
    }
    bool WaitForFrames(std::size_t count) {
        return WaitUntil([&](const std::vector<ShownFrame>& frames, const auto&) {
            return frames.size() >= count;
        });
    }
    bool WaitForPosition(std::uint32_t seconds) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(
            lock, 5s, [&] { return !m_positions.empty() && m_positions.back() == seconds; });
    }
    std::vector<ShownFrame> Frames() {
        std::lock_guard lock(m_lock);
        return m_frames;
    }
    std::vector<PlayerState> States() {
        std::lock_guard lock(m_lock);
        return m_states;
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<ShownFrame> m_frames;
    std::vector<PlayerState> m_states;
    std::vector<std::uint32_t> m_positions;
    PlayerState m_state;
    std::atomic<std::size_t> m_queued{0};
    std::atomic<std::uint64_t> m_fullAnswers{0};
    std::shared_ptr<stream::CWakeSignal> m_signal;
    std::array<int, 16> m_integrity = [] {
        std::array<int, 16> none{};
        none.fill(-3);
        return none;
    }();
};

std::vector<ShownFrame> InMode(const std::vector<ShownFrame>& frames, PlayerMode mode, int speed) {
    std::vector<ShownFrame> out;
    for (const ShownFrame& f : frames) {
        if (f.state.mode == mode && f.state.speed == speed) {
            out.push_back(f);
        }
    }
    return out;
}

class LocalPlayerTest : public testing::CTempFolderTest {
  protected:
    LocalPlayerTest() : CTempFolderTest("taviro-local-player-") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        WriterOptions options;
        options.folder = m_root / "Download";
        options.splitBytes = kSplitBytes;
        options.clock = [] { return std::int64_t{0x5000'0000}; };
        CBackupWriter writer(options);
        ASSERT_TRUE(writer.Open());
        for (std::uint32_t s = 0; s < kSeconds; ++s) {
            if (s >= kGapFrom && s < kGapTo) {
                continue;
            }
            for (std::uint32_t slot = 0; slot < kPerSecond; ++slot) {
                for (int channel = 0; channel < 2; ++channel) {
                    const bool key = slot % 5 == 0;
                    TestFrame f;
                    f.channel = channel;
                    f.time = kStart + s;
                    f.micros = slot * 100'000;
                    f.key = 1 + s / 4;
                    f.frameKind = key ? stream::kKeyFrame : stream::kDependentFrame;
                    f.fill = static_cast<std::uint8_t>(m_written.size());
                    f.watermark = key;
                    f.tamper = channel == kTamperedChannel && s == kTamperedSecond &&
                               slot == kTamperedSlot;
                    const auto record = VideoRecord(f);
                    ASSERT_TRUE(writer.Write(RecordKind::Video, record));
                    m_written.push_back(f);
                }
            }
        }
        ASSERT_TRUE(writer.Close());
        ASSERT_EQ(writer.Pairs().size(), 2u);
        m_chained = ChainFiles(ScanFolder(options.folder));
        ASSERT_EQ(m_chained.size(), 2u);
        ASSERT_EQ(m_chained[0].trailerSplit, m_chained[1].header.splitTime);
    }

    // The segments for a playback from `second` (relative to kStart) and the player on them.
    std::unique_ptr<CLocalPlayer> Player(std::uint32_t second) { return Player(second, m_output); }
    std::unique_ptr<CLocalPlayer> Player(std::uint32_t second, IPlayerOutput& output) {
        m_segments = BuildSegments(m_chained, kStart + second);
        std::size_t current = 0;
        for (std::size_t i = 0; i < m_segments.size(); ++i) {
            if (m_segments[i].startTime <= kStart + second &&
                kStart + second <= m_segments[i].endTime) {
                current = i;
                break;
            }
        }
        PlayerOptions options;
        options.startPause = 0ms;
        return std::make_unique<CLocalPlayer>(m_segments, current, output, options);
    }

    // The frame's place in the file (among the frames of both channels).
    std::size_t Place(const ShownFrame& f) const {
        for (std::size_t i = 0; i < m_written.size(); ++i) {
            const TestFrame& w = m_written[i];
            if (w.channel == f.channel && w.time == static_cast<std::uint32_t>(f.seconds) &&
                w.micros == static_cast<std::uint32_t>(f.micros)) {
                return i;
            }
        }
        ADD_FAILURE() << "no such frame written: " << f.seconds << "." << f.micros;
        return 0;
    }

    // The frame's place among the written frames of its channel.
    std::size_t Ordinal(const ShownFrame& f) const {
        std::size_t n = 0;
        for (const TestFrame& w : m_written) {
            if (w.channel != f.channel) {
                continue;
            }
            if (w.time == static_cast<std::uint32_t>(f.seconds) &&
                w.micros == static_cast<std::uint32_t>(f.micros)) {
                return n;
            }
            ++n;
        }
        ADD_FAILURE() << "no such frame written: " << f.seconds << "." << f.micros;
        return n;
    }

    // A seek and one step of the paused player: every frame stepped so far, this step's last.
    std::vector<ShownFrame> SeekAndStep(CLocalPlayer& player, std::uint32_t target) {
        const std::size_t before = m_output.States().size();
        player.SeekTo(target);
        player.SetMode(PlayerMode::NextStep);
        EXPECT_TRUE(m_output.WaitForMode(PlayerMode::Pause, before + 1)) << target;
        return InMode(m_output.Frames(), PlayerMode::NextStep, 7);
    }

    std::vector<TestFrame> m_written;
    std::vector<IndexFile> m_chained;
    std::vector<PlaySegment> m_segments;
    CRecordingOutput m_output;
};

TEST_F(LocalPlayerTest, SpeedFourShowsEveryThirdFrameOfEachChannelAcrossSegments) {
    auto player = Player(1);
    player->Start();
    for (int i = 0; i < 3; ++i) {
        player->SetMode(PlayerMode::Forward);
    }
    // Twelve frames a channel at speed 4 take 3.6 s of the recording and a block change.
    ASSERT_TRUE(m_output.WaitUntil([](const std::vector<ShownFrame>& frames, const auto&) {
        return InMode(frames, PlayerMode::Forward, 4).size() >= 24;
    }));
    player->Stop();
    const auto fast = InMode(m_output.Frames(), PlayerMode::Forward, 4);
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<std::size_t> ordinals;
        for (const ShownFrame& f : fast) {
            if (f.channel == channel) {
                ordinals.push_back(Ordinal(f));
                EXPECT_EQ(f.integrity, -1);  // no watermark check but at speed 1
                EXPECT_FALSE(f.reverse);
            }
        }
        ASSERT_GE(ordinals.size(), 10u) << channel;
        for (std::size_t i = 1; i < ordinals.size(); ++i) {
            EXPECT_EQ(ordinals[i] - ordinals[i - 1], 3u) << "channel " << channel << " at " << i;
        }
    }
    EXPECT_GE(fast.back().seconds, static_cast<std::int32_t>(kStart + 4));
}

TEST_F(LocalPlayerTest, BackwardPlayShowsKeyFramesReversedAcrossChainedPairs) {
    auto player = Player(11);  // the second pair's first block
    player->Start();
    player->SetMode(PlayerMode::Backward);
    constexpr std::size_t kWanted = 10;
    ASSERT_TRUE(m_output.WaitUntil([](const std::vector<ShownFrame>& frames, const auto&) {
        return InMode(frames, PlayerMode::Backward, -2).size() >= kWanted;
    }));
    player->Stop();
    const auto frames = m_output.Frames();
    const auto back = InMode(frames, PlayerMode::Backward, -2);
    // Every key frame before the one shown forwards first, latest first: channel 1 before
    // channel 0 of each instant, over the split at 9.5 s (channel 1 opens the second pair).
    const auto forward = InMode(frames, PlayerMode::Forward, 1);
    ASSERT_FALSE(forward.empty());
    const auto from = forward.back().Time();
    std::vector<std::tuple<int, std::int32_t, std::int32_t>> expected;
    for (auto w = m_written.rbegin(); w != m_written.rend() && expected.size() < kWanted; ++w) {
        const auto time =
            std::tuple(static_cast<std::int32_t>(w->time), static_cast<std::int32_t>(w->micros));
        if (w->frameKind == stream::kKeyFrame && time < from) {
            expected.emplace_back(w->channel, std::get<0>(time), std::get<1>(time));
        }
    }
    std::vector<std::tuple<int, std::int32_t, std::int32_t>> got;
    for (std::size_t i = 0; i < kWanted; ++i) {
        got.emplace_back(back[i].channel, back[i].seconds, back[i].micros);
        EXPECT_TRUE(back[i].reverse) << i;
        EXPECT_EQ(back[i].kind, stream::kKeyFrame) << i;
    }
    EXPECT_EQ(got, expected);
    EXPECT_LT(std::tuple(std::get<1>(expected.back()), std::get<2>(expected.back())),
              std::tuple(static_cast<std::int32_t>(kStart + 9), 500'000));
}

// A start and a seek show the picture of the second asked for whatever the key-frame
// interval: each channel goes on from its key frame before that second, the frames up to it
// hidden (decoded, not shown, not paced), and its first picture shown is that second's.
TEST_F(LocalPlayerTest, AStartAndASeekShowThePictureOfTheSecondAskedBetweenKeyFrames) {
    constexpr std::uint32_t kAsked = 7;
    for (const std::uint32_t interval : {1u, 5u}) {
        WriterOptions options;
        options.folder = m_root / ("key-every-" + std::to_string(interval));
        options.clock = [] { return std::int64_t{0x5000'0000}; };
        CBackupWriter writer(options);
        ASSERT_TRUE(writer.Open());
        for (std::uint32_t s = 0; s < 12; ++s) {
            for (std::uint32_t slot = 0; slot < kPerSecond; ++slot) {
                for (int channel = 0; channel < 2; ++channel) {
                    TestFrame f;
                    f.channel = channel;
                    f.time = kStart + s;
                    f.micros = slot * 100'000;
                    const bool key = slot == 0 && s % interval == 0;
                    f.frameKind = key ? stream::kKeyFrame : stream::kDependentFrame;
                    f.watermark = key;
                    ASSERT_TRUE(writer.Write(RecordKind::Video, VideoRecord(f)));
                }
            }
        }
        ASSERT_TRUE(writer.Close());
        const auto chained = ChainFiles(ScanFolder(options.folder));
        PlayerOptions playerOptions;
        playerOptions.startPause = 0ms;

        // Waits for both channels' pictures of that second, then checks what came from
        // `before` on.
        const auto expectFromKeyFrame = [&](CRecordingOutput& output, std::size_t before,
                                            const char* what) {
            const auto shownAt = [&](const std::vector<ShownFrame>& frames, int channel) {
                return std::any_of(frames.begin() + static_cast<std::ptrdiff_t>(before),
                                   frames.end(), [&](const ShownFrame& f) {
                                       return f.channel == channel && !f.hidden &&
                                              f.seconds ==
                                                  static_cast<std::int32_t>(kStart + kAsked);
                                   });
            };
            ASSERT_TRUE(output.WaitUntil([&](const std::vector<ShownFrame>& frames, const auto&) {
                return shownAt(frames, 0) && shownAt(frames, 1);
            })) << what
                << " " << interval;
            EXPECT_TRUE(output.WaitForPosition(kStart + kAsked)) << what;
            const std::uint32_t keySecond = kAsked / interval * interval;
            const std::size_t hidden = (kAsked - keySecond) * kPerSecond;
            const auto frames = output.Frames();
            for (int channel = 0; channel < 2; ++channel) {
                std::vector<ShownFrame> mine;
                for (std::size_t i = before; i < frames.size(); ++i)
                    if (frames[i].channel == channel)
                        mine.push_back(frames[i]);
                ASSERT_GT(mine.size(), hidden) << what;
                EXPECT_EQ(mine.front().kind, stream::kKeyFrame) << what << " " << interval;
                // Every frame from the key frame on, in order; hidden just before the second.
                for (std::size_t i = 0; i < mine.size(); ++i) {
                    EXPECT_EQ(mine[i].Time(),
                              std::tuple(static_cast<std::int32_t>(kStart + keySecond + i / 10),
                                         static_cast<std::int32_t>(i % 10 * 100'000)))
                        << what << " " << interval << " " << i;
                    EXPECT_EQ(mine[i].hidden, i < hidden) << what << " " << interval << " " << i;
                }
            }
        };

        CRecordingOutput started;
        CLocalPlayer fromThere(BuildSegments(chained, kStart + kAsked), 0, started, playerOptions);
        fromThere.Start();
        expectFromKeyFrame(started, 0, "start");
        fromThere.Stop();

        CRecordingOutput sought;
        CLocalPlayer player(BuildSegments(chained, kStart), 0, sought, playerOptions);
        player.Start();
        ASSERT_TRUE(sought.WaitForFrames(1));
        player.SetMode(PlayerMode::Pause);
        ASSERT_TRUE(sought.WaitForMode(PlayerMode::Pause));
        const std::size_t before = sought.Frames().size();
        player.SeekTo(kStart + kAsked);
        player.SetMode(PlayerMode::Forward);
        expectFromKeyFrame(sought, before, "seek");
    }
}

TEST_F(LocalPlayerTest, ASeekAndAStepShowOneFrameOfEachChannelFromTheSecondSought) {
    auto player = Player(0);
    player->Start();
    ASSERT_TRUE(m_output.WaitForFrames(1));
    player->SetMode(PlayerMode::Pause);
    ASSERT_TRUE(m_output.WaitForMode(PlayerMode::Pause));
    // Into the second pair, back into the first, within one block, into the block cut by the
    // split, and into the last block.
    for (const std::uint32_t second : {10u, 2u, 3u, 9u, 19u}) {
        const std::size_t before = InMode(m_output.Frames(), PlayerMode::NextStep, 7).size();
        const auto stepped = SeekAndStep(*player, kStart + second);
        ASSERT_EQ(stepped.size(), before + 2) << second;
        EXPECT_EQ(stepped[before].channel, 0) << second;
        EXPECT_EQ(stepped[before + 1].channel, 1) << second;
        for (std::size_t i = before; i < stepped.size(); ++i) {
            EXPECT_EQ(stepped[i].seconds, static_cast<std::int32_t>(kStart + second)) << second;
            EXPECT_EQ(stepped[i].micros, 0) << second;
        }
    }
    EXPECT_EQ(player->State().mode, PlayerMode::Pause);
    EXPECT_TRUE(player->Running());
}

// Backward play and the previous step go on from the picture shown last, or from the frame
// sought when a seek came after it: their first pictures are the key frames at and before
// it, whatever came first (a seek while paused, a step, forward play, or a previous step
// and forward play).
TEST_F(LocalPlayerTest, BackwardAndPreviousStepGoOnFromThePictureShownOrSought) {
    enum class Before { Seek, Step, Forward, PreviousStepThenForward };
    struct Case {
        Before before;
        PlayerMode then;
        const char* name;
    };
    const Case cases[] = {
        {Before::Seek, PlayerMode::Backward, "seek, backward"},
        {Before::Seek, PlayerMode::PreviousStep, "seek, previous step"},
        {Before::Step, PlayerMode::Backward, "step, backward"},
        {Before::Step, PlayerMode::PreviousStep, "step, previous step"},
        {Before::Forward, PlayerMode::Backward, "forward, backward"},
        {Before::Forward, PlayerMode::PreviousStep, "forward, previous step"},
        {Before::PreviousStepThenForward, PlayerMode::Backward, "previous step, forward, backward"},
        {Before::PreviousStepThenForward, PlayerMode::PreviousStep,
         "previous step, forward, previous step"},
    };
    // Inside the block of seconds 4..7, and late enough that forward play after a previous
    // step does not meet the tampered frame.
    constexpr std::uint32_t kSought = kStart + 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRecordingOutput output;
        auto player = Player(0, output);
        player->Start();
        player->SetMode(PlayerMode::Pause);
        ASSERT_TRUE(output.WaitForMode(PlayerMode::Pause));
        player->SeekTo(kSought);
        ASSERT_TRUE(output.WaitForPosition(kSought));
        if (c.before == Before::Step) {
            const std::size_t states = output.States().size();
            player->SetMode(PlayerMode::NextStep);
            ASSERT_TRUE(output.WaitForMode(PlayerMode::Pause, states + 1));
        }
        if (c.before == Before::PreviousStepThenForward) {
            const std::size_t states = output.States().size();
            player->SetMode(PlayerMode::PreviousStep);
            ASSERT_TRUE(output.WaitForMode(PlayerMode::Pause, states + 1));
        }
        if (c.before == Before::Forward || c.before == Before::PreviousStepThenForward) {
            const std::size_t shown = output.Frames().size();
            player->SetMode(PlayerMode::Forward);
            // Past the next key frame of both channels (five frames a channel apart).
            ASSERT_TRUE(output.WaitForFrames(shown + 14));
        }
        const auto prepared = static_cast<std::ptrdiff_t>(output.Frames().size());
        player->SetMode(c.then);
        ASSERT_TRUE(output.WaitUntil([&](const std::vector<ShownFrame>& frames, const auto&) {
            return std::count_if(frames.begin() + prepared, frames.end(),
                                 [&](const ShownFrame& f) { return f.state.mode == c.then; }) >= 2;
        }));
        player->Stop();
        const auto frames = output.Frames();
        const auto first =
            std::find_if(frames.begin() + prepared, frames.end(),
                         [&](const ShownFrame& f) { return f.state.mode == c.then; });
        ASSERT_NE(first, frames.begin());
        ASSERT_LT(first + 1, frames.end());
        // Where the walk back starts: the frame sought (ch0's first of that second), else
        // the picture shown last.
        ShownFrame sought;
        sought.seconds = static_cast<std::int32_t>(kSought);
        const std::size_t from = c.before == Before::Seek ? Place(sought) : Place(*(first - 1));
        std::vector<std::tuple<int, std::int32_t, std::int32_t>> expected;
        for (std::size_t i = from + 1; i-- > 0 && expected.size() < 2;) {
            const TestFrame& w = m_written[i];
            if (w.frameKind == stream::kKeyFrame) {
                expected.emplace_back(w.channel, static_cast<std::int32_t>(w.time),
                                      static_cast<std::int32_t>(w.micros));
            }
        }
        const std::vector<std::tuple<int, std::int32_t, std::int32_t>> got = {
            {first->channel, first->seconds, first->micros},
            {(first + 1)->channel, (first + 1)->seconds, (first + 1)->micros}};
        EXPECT_EQ(got, expected);
        EXPECT_TRUE(first->reverse);
    }
}

// A full decoder queue holds the player without polling it, and a button pressed meanwhile
// is taken at once; the frame that waited is the next one shown afterwards.
TEST_F(LocalPlayerTest, AFullQueueBlocksThePlayerButNotItsButtons) {
    // Nothing rings the output when the player asks: these waits look every millisecond.
    const auto asksAfter = [&](std::uint64_t count) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (m_output.FullAnswers() <= count && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        return m_output.FullAnswers() > count;
    };
    m_output.SetQueued(kMaxQueuedPlayerFrames + 1);
    auto player = Player(0);
    player->Start();
    ASSERT_TRUE(asksAfter(0));
    const std::uint64_t asked = m_output.FullAnswers();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(m_output.FullAnswers() - asked, 3u) << "the player polls the full queue";
    EXPECT_TRUE(m_output.Frames().empty());

    // The decoder takes a frame: the one that waited goes.
    m_output.SetQueued(0);
    ASSERT_TRUE(m_output.WaitForFrames(1));
    m_output.SetQueued(kMaxQueuedPlayerFrames + 1);
    ASSERT_TRUE(asksAfter(m_output.FullAnswers()));

    // Pause while the next frame waits for room: taken without any room made.
    const std::size_t states = m_output.States().size();
    player->SetMode(PlayerMode::Pause);
    ASSERT_TRUE(m_output.WaitForMode(PlayerMode::Pause, states));
    const auto held = m_output.Frames();
    ASSERT_FALSE(held.empty());

    // Room again and play on: the frame that was held back comes next, nothing skipped.
    m_output.SetQueued(0);
    player->SetMode(PlayerMode::Forward);
    ASSERT_TRUE(m_output.WaitForFrames(held.size() + 1));
    player->Stop();
    const auto frames = m_output.Frames();
    EXPECT_EQ(Place(frames[held.size()]), Place(held.back()) + 1);
}

TEST_F(LocalPlayerTest, ASeekIntoAGapLandsOnTheFirstFrameAfterIt) {
    auto player = Player(0);
    player->Start();
    player->SetMode(PlayerMode::Pause);
    ASSERT_TRUE(m_output.WaitForMode(PlayerMode::Pause));
    for (const std::uint32_t second : {kGapFrom, kGapTo - 1}) {
        const std::size_t before = InMode(m_output.Frames(), PlayerMode::NextStep, 7).size();
        const auto stepped = SeekAndStep(*player, kStart + second);
        ASSERT_EQ(stepped.size(), before + 2) << second;
        EXPECT_EQ(stepped[before].Time(), std::tuple(static_cast<std::int32_t>(kStart + kGapTo), 0))
            << second;
        EXPECT_EQ(stepped[before + 1].channel, 1);
    }
    // Far beyond the recording: the walk starts at the pair's last entry, not at the
    // target's, and lands on the last second there is.
    const auto stepped = SeekAndStep(*player, 0xFFFF'FFF0u);
    ASSERT_FALSE(stepped.empty());
    EXPECT_EQ(stepped.back().seconds, static_cast<std::int32_t>(kStart + kSeconds - 1));
}

TEST_F(LocalPlayerTest, ATamperedFramePausesNormalPlayAndReportsItsChannel) {
    auto player = Player(kTamperedSecond);
    player->Start();
    ASSERT_TRUE(m_output.WaitForMode(PlayerMode::Pause));
    std::this_thread::sleep_for(100ms);  // nothing follows the pause
    player->Stop();
    const auto frames = m_output.Frames();
    ASSERT_FALSE(frames.empty());
    const ShownFrame& last = frames.back();
    EXPECT_EQ(last.channel, kTamperedChannel);
    EXPECT_EQ(last.Time(), std::tuple(static_cast<std::int32_t>(kStart + kTamperedSecond),
                                      static_cast<std::int32_t>(kTamperedSlot * 100'000)));
    EXPECT_EQ(last.integrity, 2);
    // Every frame before it at normal speed: key frames intact, the others unmarked.
    EXPECT_EQ(frames.size(), 2 * (kTamperedSlot + 1));
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
        EXPECT_EQ(frames[i].state.speed, 1);
        EXPECT_EQ(frames[i].integrity, frames[i].kind == stream::kKeyFrame ? 1 : 0) << i;
    }
    const auto states = m_output.States();
    EXPECT_EQ(states.back().mode, PlayerMode::Pause);
    EXPECT_EQ(states.back().speed, 7);
}

TEST_F(LocalPlayerTest, TheEndOfTheLastSegmentPausesThePlayer) {
    auto player = Player(kSeconds - 1);
    player->Start();
    for (int i = 0; i < 5; ++i) {
        player->SetMode(PlayerMode::Forward);  // speed 6
    }
    ASSERT_TRUE(m_output.WaitUntil([](const auto&, const std::vector<PlayerState>& states) {
        return !states.empty() && states.back().mode == PlayerMode::Pause;
    }));
    const std::size_t shown = m_output.Frames().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_output.Frames().size(), shown);
    EXPECT_TRUE(player->Running());
    const auto states = m_output.States();
    ASSERT_GE(states.size(), 2u);
    EXPECT_EQ(states[states.size() - 2].speed, 6);
    EXPECT_EQ(player->FrameTime(), kStart + kSeconds - 1);
    player->Stop();
    EXPECT_FALSE(player->Running());
}

TEST_F(LocalPlayerTest, StopReturnsPromptlyWhilePacingWaits) {
    // At normal speed the first frame after the gap waits two seconds for its time.
    auto player = Player(kGapFrom - 1);
    player->Start();
    ASSERT_TRUE(m_output.WaitUntil([](const std::vector<ShownFrame>& frames, const auto&) {
        return !frames.empty() &&
               frames.back().seconds == static_cast<std::int32_t>(kStart + kGapTo);
    }));
    std::this_thread::sleep_for(100ms);
    const auto before = std::chrono::steady_clock::now();
    player->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(player->Running());
    EXPECT_EQ(m_output.Frames().size(), 2 * kPerSecond + 1);
}

}  // namespace
}  // namespace taviro::archive
