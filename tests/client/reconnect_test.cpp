// The reconnect controller on made-up times: the wait sequence, the countdown, what a
// refusal and a cancel end, and what a successful log-in hands back.
#include "client/reconnect.h"

#include <gtest/gtest.h>

#include <vector>

namespace taviro::client {
namespace {

using namespace std::chrono_literals;
using Clock = CReconnectController::Clock;

ResumeState SomeView() {
    ResumeState s;
    s.live = true;
    s.playback = true;
    s.layout = 1;
    s.page = 2;
    s.heardChannel = 5;
    return s;
}

TEST(Reconnect, WaitsDoubleFromOneSecondAndHoldAtThirty) {
    CReconnectController c;
    const Clock::time_point t0{};
    c.OnLost(SomeView(), t0);
    std::vector<int> waits;
    Clock::time_point now = t0;
    Clock::time_point waitStart = t0;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(c.State(), ReconnectState::kWaiting);
        // Not a moment early: one millisecond before the wait is over nothing starts.
        const auto wait = c.WaitBefore(i);
        EXPECT_FALSE(c.Poll(waitStart + wait - 1ms));
        now = waitStart + wait;
        ASSERT_TRUE(c.Poll(now));
        EXPECT_FALSE(c.Poll(now));  // once
        EXPECT_EQ(c.State(), ReconnectState::kConnecting);
        EXPECT_EQ(c.Attempts(), i + 1);
        waits.push_back(static_cast<int>((now - waitStart) / 1s));
        waitStart = now + 300ms;  // the attempt took a while to fail
        c.OnAttemptFailed(waitStart);
    }
    EXPECT_EQ(waits, (std::vector<int>{1, 2, 4, 8, 16, 30, 30, 30}));
}

TEST(Reconnect, CountdownRoundsUpAndLoginHandsBackWhatRan) {
    CReconnectController c(10ms);  // the short unit tests use
    const Clock::time_point t0{};
    c.OnLost(SomeView(), t0);
    ASSERT_TRUE(c.Poll(t0 + 10ms));
    c.OnAttemptFailed(t0 + 10ms);  // the next wait is 2 units: 20 ms
    EXPECT_EQ(c.SecondsLeft(t0 + 10ms), 2);
    EXPECT_EQ(c.SecondsLeft(t0 + 21ms), 1);
    EXPECT_EQ(c.SecondsLeft(t0 + 29ms), 1);
    EXPECT_EQ(c.SecondsLeft(t0 + 30ms), 0);
    ASSERT_TRUE(c.Poll(t0 + 30ms));
    const auto back = c.OnLoggedIn(t0 + 30ms);
    ASSERT_TRUE(back);
    EXPECT_EQ(c.State(), ReconnectState::kRestored);
    EXPECT_FALSE(c.Active());
    EXPECT_TRUE(back->live);
    EXPECT_TRUE(back->playback);  // reported as interrupted by the owner, not restarted
    EXPECT_EQ(back->layout, 1);
    EXPECT_EQ(back->page, 2);
    EXPECT_EQ(back->heardChannel, 5);

    // A second loss of the restored connection, once it has stood for 30 units, starts
    // over at one unit.
    c.OnLost(ResumeState{}, t0 + 1s);
    EXPECT_EQ(c.Attempts(), 0);
    EXPECT_FALSE(c.Poll(t0 + 1s + 9ms));
    EXPECT_TRUE(c.Poll(t0 + 1s + 10ms));
}

TEST(Reconnect, BannerCountsDownThenSaysWhatWasNotBroughtBackForTenSeconds) {
    CReconnectController c;
    CReconnectBanner banner;
    const Clock::time_point t0{};
    EXPECT_TRUE(banner.Update(c, t0).text.empty()) << "nothing lost";
    c.OnLost(SomeView(), t0);
    auto line = banner.Update(c, t0);
    EXPECT_EQ(line.text, "Reconnecting in 1 s \u00b7 remote playback interrupted");
    EXPECT_TRUE(line.cancellable);
    ASSERT_TRUE(c.Poll(t0 + 1s));
    EXPECT_TRUE(banner.Update(c, t0 + 1s).text.starts_with("Reconnecting\u2026"));
    ASSERT_TRUE(c.OnLoggedIn(t0 + 2s));
    line = banner.Update(c, t0 + 2s);
    EXPECT_EQ(line.text, "Connection restored \u00b7 remote playback interrupted");
    EXPECT_FALSE(line.cancellable);
    EXPECT_FALSE(banner.Update(c, t0 + 11s).text.empty());
    EXPECT_TRUE(banner.Update(c, t0 + 12s).text.empty()) << "the note goes after ten seconds";

    // A loss where nothing but live view ran comes back without a note.
    c.OnLost(ResumeState{}, t0 + 60s);
    ASSERT_TRUE(c.Poll(t0 + 61s));
    ASSERT_TRUE(c.OnLoggedIn(t0 + 61s));
    EXPECT_TRUE(banner.Update(c, t0 + 61s).text.empty());
}

TEST(Reconnect, ARecorderThatDropsRightAfterEveryLoginIsAskedEverLessOften) {
    CReconnectController c(10ms);
    Clock::time_point now{};
    c.OnLost(SomeView(), now);
    std::vector<int> waits;
    for (int i = 0; i < 4; ++i) {
        const Clock::time_point lostAt = now;
        while (!c.Poll(now))
            now += 1ms;
        waits.push_back(static_cast<int>((now - lostAt) / 1ms));
        ASSERT_TRUE(c.OnLoggedIn(now));
        now += 50ms;  // lost again well within the 300 ms it takes to count as stable
        c.OnLost(SomeView(), now);
    }
    EXPECT_EQ(waits, (std::vector<int>{10, 20, 40, 80}));
}

TEST(Reconnect, RefusalAndCancelEndTheAttemptsForGood) {
    const Clock::time_point t0{};
    CReconnectController refused;
    refused.OnLost(SomeView(), t0);
    ASSERT_TRUE(refused.Poll(t0 + 1s));
    refused.OnRefused("wrong password");
    EXPECT_EQ(refused.State(), ReconnectState::kRefused);
    EXPECT_EQ(refused.RefusedWhy(), "wrong password");
    // A late failure report of the same attempt does not start another wait.
    refused.OnAttemptFailed(t0 + 2s);
    EXPECT_FALSE(refused.Poll(t0 + 1h));
    EXPECT_EQ(refused.SecondsLeft(t0 + 2s), 0);

    CReconnectController cancelled;
    cancelled.OnLost(SomeView(), t0);
    cancelled.Cancel();
    EXPECT_EQ(cancelled.State(), ReconnectState::kCancelled);
    EXPECT_FALSE(cancelled.Poll(t0 + 1h));
    // Cancelled while an attempt runs: its late login restores nothing.
    CReconnectController midway;
    midway.OnLost(SomeView(), t0);
    ASSERT_TRUE(midway.Poll(t0 + 1s));
    midway.Cancel();
    EXPECT_FALSE(midway.OnLoggedIn(t0 + 2s));
    midway.OnAttemptFailed(t0 + 2s);
    EXPECT_EQ(midway.State(), ReconnectState::kCancelled);
    EXPECT_FALSE(midway.Poll(t0 + 1h));
}

}  // namespace
}  // namespace taviro::client
