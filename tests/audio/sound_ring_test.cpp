// The play ring against a scripted player: the device pulls block by block, the test decides
// when chunks arrive, and the ring's cursors, laps and restarts must follow the rules the
// live and remote-playback outputs are built on.
#include <gtest/gtest.h>

#include <vector>

#include "audio/sound_ring.h"

namespace taviro::audio {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kB = 16;  // four stereo frames per block keeps the arithmetic readable

std::vector<std::uint8_t> Chunk(std::uint8_t fill) {
    return std::vector<std::uint8_t>(kB, fill);
}

class RingTest : public ::testing::Test {
  protected:
    void Make(bool remote) {
        CSoundRing::Options options;
        options.remotePlayback = remote;
        options.clock = [this] { return m_now; };
        options.restartDelayBlocks = m_delay;
        m_ring = std::make_unique<CSoundRing>(nullptr, options);
        ASSERT_TRUE(m_ring->Open(platform::SoundFormat{}, kB));
    }
    // The device takes one block's worth.
    std::vector<std::uint8_t> Pull() {
        std::vector<std::uint8_t> out(kB, 0xEE);
        m_ring->Read(out);
        return out;
    }
    void Write(std::uint8_t fill) { ASSERT_TRUE(m_ring->Write(Chunk(fill))); }
    // The steady state: one chunk in, one block out, the player one block behind. Returns
    // the fill byte of each block played.
    std::vector<std::uint8_t> Lockstep(std::uint8_t& next, int chunks) {
        std::vector<std::uint8_t> played;
        for (int i = 0; i < chunks; ++i) {
            Write(next++);
            played.push_back(Pull()[0]);
        }
        return played;
    }
    // Local ring brought to steady state: the first start after block 0 plays block 15 and
    // is one lap "ahead" by its counts, which restarts it once at the end of block 0; from
    // then on chunk k is played while chunk k + 1 is written.
    void SteadyLocal(std::uint8_t& next) {
        Make(false);
        Write(next++);            // block 0, play from block 15
        EXPECT_EQ(Pull()[0], 0);  // block 15: nothing written there yet
        Write(next++);
        EXPECT_EQ(Pull()[0], 1);  // block 0, then the lap count restarts the ring
        EXPECT_TRUE(m_ring->State().restartPending);
        Write(next++);  // block 2 restarts at once
        EXPECT_EQ(m_ring->State().playCursor, 2 * kB);
    }

    std::chrono::milliseconds m_now{1000};
    double m_delay = 0;  // the rules below are about blocks, not the restart's phase
    std::unique_ptr<CSoundRing> m_ring;
};

TEST_F(RingTest, OpenAndWriteCheckTheirSizes) {
    CSoundRing ring(nullptr);
    EXPECT_FALSE(ring.Write(Chunk(1)));  // not open
    EXPECT_FALSE(ring.Open(platform::SoundFormat{}, 0));
    EXPECT_FALSE(ring.Open(platform::SoundFormat{}, 10));  // not whole frames
    ASSERT_TRUE(ring.Open(platform::SoundFormat{}, kB));
    EXPECT_FALSE(ring.Write(std::vector<std::uint8_t>(kB - 4, 1)));
    EXPECT_TRUE(ring.Write(Chunk(1)));
    ring.Stop();
    EXPECT_FALSE(ring.Write(Chunk(1)));
}

TEST_F(RingTest, SilenceUntilTheFirstChunkThenPlaysFromTheBlockBeforeIt) {
    Make(false);
    EXPECT_EQ(Pull(), std::vector<std::uint8_t>(kB, 0));
    EXPECT_EQ(m_ring->State().silentBytes, kB);
    Write(7);
    const auto s = m_ring->State();
    EXPECT_FALSE(s.restartPending);
    EXPECT_EQ(s.playCursor, 15 * kB);  // block 0 written: play from block 15
    EXPECT_EQ(s.writeOffset, kB);
    EXPECT_EQ(Pull()[0], 0);
    EXPECT_EQ(m_ring->State().playerLaps, 1);  // the end of the buffer is a player lap
    EXPECT_EQ(Pull()[0], 7);
}

TEST_F(RingTest, LockstepPlaysEveryChunkInOrderOverManyLaps) {
    std::uint8_t next = 1;
    SteadyLocal(next);
    const std::uint64_t restarts = m_ring->State().restarts;
    const auto played = Lockstep(next, 16 * 4);
    for (std::size_t i = 1; i < played.size(); ++i)
        ASSERT_EQ(static_cast<std::uint8_t>(played[i] - played[i - 1]), 1) << i;
    EXPECT_EQ(m_ring->State().restarts, restarts);
    EXPECT_EQ(m_ring->State().writerLaps - m_ring->State().playerLaps, 0);
}

TEST_F(RingTest, PlayerOvertakingTheWriterRestartsAtTheNextChunk) {
    std::uint8_t next = 1;
    SteadyLocal(next);
    Lockstep(next, 5);
    const auto before = m_ring->State();
    Pull();  // the last chunk written: the player has caught up with the data
    EXPECT_TRUE(m_ring->State().restartPending);
    EXPECT_EQ(m_ring->State().restarts, before.restarts + 1);
    const auto silent = m_ring->State().silentBytes;
    EXPECT_EQ(Pull(), std::vector<std::uint8_t>(kB, 0));
    EXPECT_EQ(m_ring->State().silentBytes, silent + kB);
    Write(99);  // playback resumes at the newest block, not where it stopped
    EXPECT_EQ(Pull()[0], 99);
}

TEST_F(RingTest, PlayerMoreThanABlockBehindJumpsToTheNewestBlock) {
    std::uint8_t next = 1;
    SteadyLocal(next);
    Lockstep(next, 3);
    Write(next++);
    Write(next++);  // two chunks ahead of the block being played
    Pull();
    EXPECT_TRUE(m_ring->State().restartPending);
    EXPECT_EQ(m_ring->State().playerLaps, 0);
    EXPECT_EQ(m_ring->State().writerLaps, 0);
    Write(50);
    EXPECT_EQ(Pull()[0], 50);
}

TEST_F(RingTest, RemoteVariantZeroesAndToleratesOneLapButNotTwo) {
    Make(true);
    std::uint8_t next = 1;
    Write(next++);  // from a zeroed buffer at block 0: play from block 15
    EXPECT_EQ(m_ring->State().playCursor, 15 * kB);
    EXPECT_EQ(Pull()[0], 0);
    // Its counts run one lap ahead of the writer's, which it allows for: no restart.
    const auto played = Lockstep(next, 40);
    EXPECT_EQ(played.front(), 1);
    EXPECT_EQ(m_ring->State().restarts, 0u);
    // The writer a lap ahead is tolerated (the remote variant has no newest-block test)...
    for (int i = 0; i < 16; ++i)
        Write(next++);
    Pull();
    EXPECT_FALSE(m_ring->State().restartPending);
    // ... two laps are not.
    for (int i = 0; i < 32; ++i)
        Write(next++);
    Pull();
    EXPECT_TRUE(m_ring->State().restartPending);
    // A restart in the remote variant starts over from a zeroed buffer at block 0.
    Write(200);
    EXPECT_EQ(m_ring->State().writeOffset, kB);
    EXPECT_EQ(m_ring->State().playCursor, 15 * kB);
    EXPECT_EQ(Pull(), std::vector<std::uint8_t>(kB, 0));
    EXPECT_EQ(Pull()[0], 200);
}

TEST_F(RingTest, RemoteVariantForcesOneRestartEveryThirtySeconds) {
    Make(true);
    std::uint8_t next = 1;
    Write(next++);
    Pull();
    Lockstep(next, 4);
    m_now += 30'000ms;  // exactly 30 s: not yet
    Lockstep(next, 1);
    EXPECT_EQ(m_ring->State().forcedRestarts, 0u);
    m_now += 1ms;
    Lockstep(next, 1);
    EXPECT_EQ(m_ring->State().forcedRestarts, 1u);
    EXPECT_TRUE(m_ring->State().restartPending);
    Write(next++);
    Pull();
    Lockstep(next, 20);
    m_now += 29'000ms;  // the next period counts from the forced restart
    Lockstep(next, 2);
    EXPECT_EQ(m_ring->State().forcedRestarts, 1u);
    m_now += 1'001ms;
    Lockstep(next, 1);
    EXPECT_EQ(m_ring->State().forcedRestarts, 2u);
}

TEST_F(RingTest, SwitchingToRemotePlaybackStartsItsPeriodThen) {
    // A live ring turned into the remote variant when playback starts: zeroed, and its
    // first forced restart a whole period later, not at the first block.
    std::uint8_t next = 1;
    SteadyLocal(next);
    m_now += 100'000ms;
    m_ring->SetRemotePlayback(true);
    EXPECT_EQ(Pull(), std::vector<std::uint8_t>(kB, 0));
    Write(next++);
    Pull();
    Lockstep(next, 4);
    EXPECT_EQ(m_ring->State().forcedRestarts, 0u);
    m_now += 30'001ms;
    Lockstep(next, 1);
    EXPECT_EQ(m_ring->State().forcedRestarts, 1u);
}

TEST_F(RingTest, StopAndClearSilencesUntilTheNextChunk) {
    std::uint8_t next = 1;
    SteadyLocal(next);
    Lockstep(next, 3);
    m_ring->StopAndClear();
    EXPECT_EQ(Pull(), std::vector<std::uint8_t>(kB, 0));
    EXPECT_EQ(m_ring->State().writeOffset, 0u);
    Write(77);  // block 0 again: block 15 (now zeros) first
    EXPECT_EQ(Pull(), std::vector<std::uint8_t>(kB, 0));
    EXPECT_EQ(Pull()[0], 77);
}

TEST_F(RingTest, ARestartWaitsHalfABlockBeforeItsFirstBlock) {
    m_delay = 0.5;
    Make(false);
    Write(9);  // block 0: play from block 15
    std::vector<std::uint8_t> half(kB / 2, 0xEE);
    m_ring->Read(half);
    EXPECT_EQ(half, std::vector<std::uint8_t>(kB / 2, 0));
    EXPECT_EQ(m_ring->State().playCursor, 15 * kB);  // the cursor waits with it
    EXPECT_EQ(m_ring->State().silentBytes, kB / 2);
    Pull();                       // block 15
    EXPECT_EQ(Pull(), Chunk(9));  // block 0, whole
}

TEST_F(RingTest, PullsOfAnySizeCrossBlocksAndTheBufferEnd) {
    std::uint8_t next = 1;
    SteadyLocal(next);
    Lockstep(next, 10);
    // Odd pull sizes must give the same bytes as whole blocks would.
    Write(next++);
    std::vector<std::uint8_t> a(7), b(kB - 7);
    m_ring->Read(a);
    m_ring->Read(b);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(a, Chunk(static_cast<std::uint8_t>(next - 2)));
}

}  // namespace
}  // namespace taviro::audio
