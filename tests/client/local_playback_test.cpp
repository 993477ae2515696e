// Local playback's owner while the window's calls and the worker's starts and stops cross:
// the buttons, the slider, the state the title reads, the bookmark's time and file all go
// through the playback while another thread starts playback after playback on it and stops
// it. Labelled for ThreadSanitizer, which reports any access to the player that is not
// ordered with its replacement.
#include "client/local_playback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/message_sink.h"
#include "support/sim_backup_pair.h"
#include "support/temp_folder_test.h"
#include "video/channel_views.h"

namespace taviro::client {
namespace {

using namespace std::chrono_literals;

class LocalPlaybackTest : public testing::CTempFolderTest {
  protected:
    LocalPlaybackTest() : CTempFolderTest("taviro-local-playback-") {}
};

TEST_F(LocalPlaybackTest, CallsWhilePlaybackRestartsAndStopsAlwaysFindOneWholePlayer) {
    const auto folder = m_root / "Download";
    std::string error;
    ASSERT_TRUE(testing::WriteSimBackup(folder, testing::kSimRecordingStart, 6, 2, &error))
        << error;
    video::CChannelViews views;
    platform::CQueueSink sink;
    LocalPlaybackSettings settings;
    settings.folder = folder;
    CLocalPlayback playback(views, sink, settings);

    std::atomic<bool> done{false};
    std::atomic<int> sawPlayer{0};
    std::thread window([&] {
        using archive::PlayerMode;
        const PlayerMode modes[] = {PlayerMode::Forward, PlayerMode::Pause, PlayerMode::NextStep,
                                    PlayerMode::Backward, PlayerMode::PreviousStep};
        std::size_t i = 0;
        while (!done.load()) {
            playback.SetMode(modes[i++ % std::size(modes)]);
            playback.SeekTo(testing::kSimRecordingStart + static_cast<std::uint32_t>(i % 6));
            const archive::PlayerState state = playback.State();
            const bool running = playback.Running();
            (void)playback.FrameTime();
            (void)playback.FramesQueued();
            if (running && !playback.CurrentVid().empty() && state.speed != 0)
                sawPlayer.fetch_add(1);
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 6; ++round) {
        // A second playback while one runs (a bookmark played), then and now a stop.
        ASSERT_EQ(playback.Start(testing::kSimRecordingStart + 1), LocalStart::kStarted);
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (!playback.Running() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(playback.Running()) << round;
        std::this_thread::sleep_for(40ms);
        if (round % 2 == 1)
            playback.Stop();
    }
    playback.Stop();
    done = true;
    window.join();
    EXPECT_GT(sawPlayer.load(), 0) << "the calls never reached a running player";
    EXPECT_FALSE(playback.Running());
    EXPECT_EQ(playback.State().speed, 0);
    EXPECT_TRUE(playback.CurrentVid().empty());
}

}  // namespace
}  // namespace taviro::client
