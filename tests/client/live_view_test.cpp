// Live view without a window: the grid follows the real connection's messages (the
// recorder's channel count, live view starting with the heard channel checked, the panes
// idle once the connection has gone), and the layout and page of a lost connection come
// back, also when the recorder now has fewer channels.
#include "client/live_view.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <set>

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
    void Arrange(std::span<const int> arrangement) override { layout.Arrange(arrangement); }
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

// A saved view names panes by recorder address: it holds when the recorders come back in
// another order, takes a not-yet-connected recorder's panes by its remembered channel count,
// follows the row as it changes, and lets go once the operator moves a pane.
TEST(LiveViewTest, ASavedViewFollowsItsRecordersWhereverTheyStand) {
    std::array<video::CChannelViews, 3> views;
    const auto recorder = [&](int id, const char* key, int channels) {
        LiveRecorder r;
        r.id = id;
        r.views = &views[static_cast<std::size_t>(id - 1)];
        r.name = key;
        r.key = key;
        r.knownChannels = channels;
        return r;
    };
    Fixture f;
    f.controller.SetRecorders({recorder(1, "a:1", 4), recorder(2, "b:2", 4)});
    ASSERT_EQ(f.controller.Site().Count(), 8);
    SiteView view;
    view.name = "Gates";
    view.layout = 1;  // four panes
    view.page = 0;
    view.panes = {{"b:2", 3}, {"a:1", 0}, {"c:3", 1}, {}, {"b:2", 0}};
    f.controller.ShowView(view);
    const auto shows = [&](int slot, int recorderId, int channel) {
        const auto at = f.controller.Site().At(f.grid.layout.ChannelOfSlot(slot));
        return at && at->recorderId == recorderId && at->channel == channel;
    };
    EXPECT_TRUE(shows(0, 2, 3));
    EXPECT_TRUE(shows(1, 1, 0));
    EXPECT_TRUE(shows(4, 2, 0));
    EXPECT_EQ(f.grid.layout.Layout(), 1);
    EXPECT_EQ(f.controller.CaptureView().panes[0], (ViewPane{"b:2", 3}));

    // The third recorder joins first in the row, with 16 channels remembered: the panes
    // stay on their recorders' channels, and "c:3" gets its pane.
    f.controller.SetRecorders(
        {recorder(3, "c:3", 16), recorder(2, "b:2", 4), recorder(1, "a:1", 4)});
    ASSERT_EQ(f.controller.Site().Count(), 24);
    EXPECT_TRUE(shows(0, 2, 3));
    EXPECT_TRUE(shows(1, 1, 0));
    EXPECT_TRUE(shows(2, 3, 1));
    std::set<int> shown;
    for (int slot = 0; slot < 24; ++slot)
        shown.insert(f.grid.layout.ChannelOfSlot(slot));
    EXPECT_EQ(shown, (std::set<int>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                    12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}))
        << "every channel on one pane";

    // The operator drags a pane: the view lets go, and a later change of the row no longer
    // moves his panes back.
    f.grid.SetAvailableChannels(~video::PaneMask{0});
    const video::LayoutEffects dragged = f.grid.layout.PlaceChannel(
        video::Point{f.grid.layout.SlotRect(0).left + 2, f.grid.layout.SlotRect(0).top + 2}, 5, {});
    f.controller.OnLayoutApplied(dragged);
    EXPECT_FALSE(f.controller.HeldView());
}

}  // namespace
}  // namespace taviro::client
