// Two recorders on one message sink, as one window holds them: every message of a
// connection is accepted by its own link only, and one recorder disconnected leaves the
// other logged in and playing.
#include "client/recorder_link.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>

#include "protocol/session_messages.h"
#include "sim/recorder_sim.h"

namespace taviro::client {
namespace {

using namespace std::chrono_literals;

RecorderLinkContext Context(platform::IMessageSink& sink, std::uint32_t& generations) {
    RecorderLinkContext ctx;
    ctx.sink = &sink;
    ctx.log = [] { return std::shared_ptr<logs::ILocalLog>(); };
    ctx.nextGeneration = &generations;
    ctx.sessionConfig = [] {
        protocol::SessionConfig config;
        config.connectTimeout = 2s;
        return config;
    };
    ctx.settings = [] {
        ConnectionSettings settings;
        settings.quitPause = 5ms;
        return settings;
    };
    ctx.reconnectEnabled = [] { return true; };
    ctx.connecting = [] {};
    ctx.attached = [](CConnection*) {};
    ctx.gridMode = [] { return protocol::kGridNone; };
    return ctx;
}

TEST(RecorderLinkTest, EachConnectionsMessagesReachItsOwnLinkAndOneGoesAlone) {
    std::array<sim::CRecorderSim, 2> recorders{sim::CRecorderSim{sim::SimConfig{}},
                                               sim::CRecorderSim{sim::SimConfig{}}};
    for (auto& recorder : recorders)
        ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    platform::CQueueSink sink;
    std::uint32_t generations = 1;
    std::array<video::CChannelViews, 2> views;
    CRecorderLink first(Context(sink, generations), 1s);
    CRecorderLink second(Context(sink, generations), 1s);
    std::array<CRecorderLink*, 2> links{&first, &second};
    for (std::size_t r = 0; r < 2; ++r) {
        const RecorderTarget target{"127.0.0.1", recorders[r].Port(), "admin", "1234", ""};
        ASSERT_EQ(links[r]->Connect(target, views[r], 0), CommandResult::kDone);
    }
    ASSERT_NE(first.Connection()->Generation(), second.Connection()->Generation());

    // Every connection message is one link's; both log in.
    std::array<int, 2> logins{};
    const auto pump = [&](const std::function<bool()>& done, std::chrono::milliseconds limit = 8s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            const auto m = sink.Take(20ms);
            if (!m || m->generation == 0)
                continue;
            const auto current = [&](CRecorderLink& link) {
                return link.Connection() && link.Connection()->Generation() == m->generation;
            };
            const bool ours = current(first) || current(second);
            const bool a = first.Accept(*m);
            const bool b = second.Accept(*m);
            // A message of a connection that has gone is nobody's; any other is one link's.
            EXPECT_FALSE(a && b) << "message " << m->message << " of generation " << m->generation;
            if (!a && !b) {
                EXPECT_FALSE(ours && m->message == protocol::WM_SESSION_LOGGED_IN);
                continue;
            }
            CRecorderLink& owner = a ? first : second;
            if (m->message == protocol::WM_SESSION_LOGGED_IN)
                ++logins[a ? 0 : 1];
            owner.Act(*m, false);
        }
        return done();
    };
    ASSERT_TRUE(pump([&] { return logins[0] == 1 && logins[1] == 1; }));
    EXPECT_EQ(first.Name(), "127.0.0.1:" + std::to_string(recorders[0].Port()));

    // The first recorder disconnected: its connection goes, the second stays logged in.
    first.Disconnect();
    ASSERT_TRUE(pump([&] { return first.Connection() == nullptr; }));
    EXPECT_EQ(first.State(), ConnectionState::kNone);
    EXPECT_EQ(second.State(), ConnectionState::kConnected);
    EXPECT_FALSE(first.Reconnect().Active()) << "the user's own disconnect brings nothing back";
    pump([] { return false; }, 1s);  // a while longer: nothing of the second ends
    EXPECT_TRUE(second.LoggedIn());
}

}  // namespace
}  // namespace taviro::client
