// Live view without a window: the grid follows the real connection's messages (the
// recorder's channel count, live view starting with the heard channel checked, the panes
// idle once the connection has gone), and the layout and page of a lost connection come
// back, also when the recorder now has fewer channels.
#include "client/live_view.h"

#include <gtest/gtest.h>

#include <chrono>

#include "protocol/session_messages.h"
#include "sim/recorder_sim.h"

namespace taviro::client {
namespace {

using namespace std::chrono_literals;

// The grid as a user's button presses move it, without drawing.
struct GridView final : ILiveView {
    const video::CGridLayout& Layout() const override { return layout; }
    void SelectLayout(int l) override { layout.SelectLayout(l, {}); }
    void StartLive(int count) override {
        ++starts;
        layout.StartLive(count, {});
    }
    void SetChannelCount(int count) override { layout.SetChannelCount(count); }
    void SetAvailableChannels(video::PaneMask mask) override { layout.SetAvailableChannels(mask); }
    void SetSite(std::vector<video::SiteRecorder> recorders) override {
        site = std::move(recorders);
    }
    void ResetStatistics(int) override {}
    void Refresh() override { ++refreshes; }
    void SetAudioPolling(bool on) override { polling = on; }
    video::CGridLayout layout;
    std::vector<video::SiteRecorder> site;
    int starts = 0;
    int refreshes = 0;
    bool polling = false;
};

struct Fixture {
    video::CChannelViews views;
    CLiveSoundController sound{views, nullptr, 1.0};
    GridView grid;
    CLiveViewController controller{views, sound};
    Fixture() { controller.SetView(&grid); }
};

TEST(LiveViewTest, FollowsTheConnectionFromLoginToClose) {
    sim::CRecorderSim recorder{sim::SimConfig{}};
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    Fixture f;
    platform::CQueueSink sink;
    protocol::SessionConfig config;
    config.address = "127.0.0.1";
    config.port = recorder.Port();
    config.userId = "admin";
    config.password = "1234";
    config.connectTimeout = 2s;
    ConnectionSettings settings;
    settings.quitPause = 5ms;
    CConnection connection(sink, 1, nullptr, f.views, std::move(config), std::move(settings));
    connection.Start();
    f.controller.Attach(&connection);
    bool loggedIn = false;
    const auto end = std::chrono::steady_clock::now() + 8s;
    while (std::chrono::steady_clock::now() < end && !(loggedIn && f.grid.starts > 0)) {
        if (const auto m = sink.Take(20ms)) {
            loggedIn = loggedIn || m->message == protocol::WM_SESSION_LOGGED_IN;
            f.controller.OnMessage(*m);
        }
    }
    ASSERT_TRUE(loggedIn);
    ASSERT_EQ(f.grid.starts, 1) << "live view started";
    const int channels = connection.Session().Login().ChannelCount();
    EXPECT_EQ(f.controller.ChannelCount(), channels);
    EXPECT_EQ(f.grid.layout.ChannelCount(), channels);
    EXPECT_TRUE(f.grid.polling) << "the heard channel is checked while live view runs";
    EXPECT_TRUE(f.controller.Status().session);

    f.controller.Attach(nullptr);
    connection.Close(CloseKind::kDisconnect);
    f.controller.OnConnectionClosed();
    EXPECT_FALSE(f.grid.polling);
    EXPECT_EQ(f.views.Mode(), video::ViewMode::Idle);
    EXPECT_FALSE(f.controller.Status().session);
}

TEST(LiveViewTest, ALostViewComesBackOrStopsAfterOneRound) {
    Fixture f;
    f.grid.SetChannelCount(16);
    f.grid.SetAvailableChannels(0xFFFF);
    constexpr int kQuad = 1;  // four panes: pages 0..3 of 16 channels
    for (int press = 0; press < 3; ++press)
        f.grid.SelectLayout(kQuad);
    ResumeState lost;
    f.controller.Probe(lost);
    EXPECT_EQ(lost.layout, kQuad);
    EXPECT_EQ(lost.page, 2);

    Fixture back;
    back.grid.SetChannelCount(16);
    back.grid.SetAvailableChannels(0xFFFF);
    back.controller.Restore(lost);
    EXPECT_EQ(back.grid.layout.Layout(), kQuad);
    EXPECT_EQ(back.grid.layout.Page(), 2);

    // A recorder that now has four channels has no third page: the presses end, on a page
    // it has.
    Fixture smaller;
    smaller.grid.SetChannelCount(4);
    smaller.grid.SetAvailableChannels(0xF);
    smaller.controller.Restore(lost);
    EXPECT_EQ(smaller.grid.layout.Layout(), kQuad);
    EXPECT_EQ(smaller.grid.layout.Page(), 0);
}

}  // namespace
}  // namespace taviro::client
