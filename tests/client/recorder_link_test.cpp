// Two recorders on one message sink, as one window holds them: every message of a
// connection is accepted by its own link only, and one recorder disconnected leaves the
// other logged in and playing.
#include "client/recorder_link.h"
#include "client/site.h"
#include "client/site_rows.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <vector>

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

// Three recorders in one site (the third with a wrong password): the same one again and a
// 17th are refused, the panel's rows say where each is, one taken out leaves while the
// other stays logged in, and a quit closes the rest side by side.
TEST(SiteTest, RecordersAreAddedRefusedTakenOutAndQuitTogether) {
    std::vector<std::unique_ptr<sim::CRecorderSim>> recorders;
    for (int r = 0; r < 3; ++r) {
        sim::SimConfig config;
        config.titles = {"Door", "Yard"};
        config.push_records = true;
        recorders.push_back(std::make_unique<sim::CRecorderSim>(config));
        ASSERT_TRUE(recorders.back()->Start()) << recorders.back()->LastError();
    }
    platform::CQueueSink sink;
    std::uint32_t generations = 1;
    std::array<video::CChannelViews, kMaxRecorders> views;
    CSite site([&](int) { return Context(sink, generations); }, 1s);
    const auto target = [](int port) {
        return RecorderTarget{"127.0.0.1", port, "admin", "1234", ""};
    };
    std::vector<int> ids;
    for (std::size_t r = 0; r < recorders.size(); ++r) {
        RecorderTarget t = target(recorders[r]->Port());
        if (r == 2) {
            t.password = "wrong";
            t.description = "Gate";
        }
        ids.push_back(site.Add(t, views[r], 0).id);
    }
    EXPECT_EQ(site.Count(), 3);
    const auto again = site.Add(target(recorders[1]->Port()), views[3], 0);
    EXPECT_EQ(again.id, -1);
    EXPECT_NE(again.error.find("already connected"), std::string::npos) << again.error;

    const auto pump = [&](const std::function<bool()>& done, std::chrono::milliseconds limit = 8s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            const auto m = sink.Take(20ms);
            int id = -1;
            if (m && site.Accept(*m, id))
                site.Act(*m, id, false);
        }
        return done();
    };
    const auto loggedIn = [&](int id) { return site.Find(id) && site.Find(id)->LoggedIn(); };
    const auto status = [&](int place) {
        return SiteRows(site, std::chrono::steady_clock::now())[static_cast<std::size_t>(place)]
            .status;
    };
    ASSERT_TRUE(pump([&] {
        return status(0) == RecorderStatus::kLive && status(1) == RecorderStatus::kLive &&
               status(2) == RecorderStatus::kRefused;
    })) << SiteRows(site, std::chrono::steady_clock::now())[2].statusText;
    const auto rows = SiteRows(site, std::chrono::steady_clock::now());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].place, 1);
    EXPECT_EQ(rows[0].name, "127.0.0.1:" + std::to_string(recorders[0]->Port()));
    EXPECT_EQ(rows[2].name, "Gate");
    ASSERT_GE(rows[0].channels.size(), 2u);
    EXPECT_EQ(rows[0].channels[1].title, "Yard");
    EXPECT_TRUE(rows[2].channels.empty());

    // Up to 16 (these never answer: a closed port), then no more.
    for (std::size_t r = 3; r < kMaxRecorders; ++r)
        EXPECT_GE(site.Add(target(static_cast<int>(r)), views[r], 0).id, 0) << r;
    EXPECT_EQ(site.Add(target(kMaxRecorders), views[0], 0).id, -1);
    ASSERT_TRUE(pump([&] { return status(kMaxRecorders - 1) == RecorderStatus::kUnreachable; }));
    for (int r = kMaxRecorders - 1; r >= 3; --r)
        site.Remove(site.IdAt(r));

    // The first taken out: it leaves once its connection has ended; the others play on.
    site.Remove(ids[0]);
    ASSERT_TRUE(pump([&] { return site.Count() == 2; }));
    EXPECT_EQ(site.Find(ids[0]), nullptr);
    EXPECT_TRUE(loggedIn(ids[1]));

    // A quit starts every close before it waits for any.
    EXPECT_TRUE(site.BeginQuit());
    EXPECT_TRUE(site.Find(ids[1])->Connection()->Closing());
    site.Quit();
    EXPECT_FALSE(site.AnyConnection());
}

}  // namespace
}  // namespace taviro::client
