// The message queue that stands in for the main window's message loop: order, waiting,
// history, notification decoding, and many posters at once.
#include "platform/message_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace taviro::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(NotifyParamTest, CategoryTimes65536PlusCode) {
    EXPECT_EQ(NotifyParam(3, 7), 3 * 65536 + 7);
    EXPECT_EQ(NotifyParam(15, 0), 983040);
    EXPECT_EQ(NotifyCategory(NotifyParam(12, 1)), 12);
    EXPECT_EQ(NotifyCode(NotifyParam(12, 1)), 1);
    EXPECT_EQ(NotifyCategory(NotifyParam(7, 65535)), 7);
    EXPECT_EQ(NotifyCode(NotifyParam(7, 65535)), 65535);
    EXPECT_EQ(WM_RECORDER_NOTIFY, 0x5226u);
    EXPECT_EQ(WM_RECORDER_NOTIFY, 21030u);
}

TEST(QueueSinkTest, TakeReturnsMessagesInPostingOrder) {
    CQueueSink sink;
    sink.Post(Window::Main, 100, 1, 2);
    sink.Post(Window::Search, 101, 3, 4);
    sink.Notify(2, 0);
    auto a = sink.Take(0ms);
    auto b = sink.Take(0ms);
    auto c = sink.Take(0ms);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->message, 100u);
    EXPECT_EQ(a->wParam, 1u);
    EXPECT_EQ(a->lParam, 2);
    EXPECT_EQ(b->window, Window::Search);
    EXPECT_EQ(b->message, 101u);
    EXPECT_EQ(c->message, WM_RECORDER_NOTIFY);
    EXPECT_EQ(c->window, Window::Main);
    EXPECT_EQ(c->lParam, NotifyParam(2, 0));
    EXPECT_FALSE(sink.Take(0ms).has_value());
}

TEST(QueueSinkTest, TakeWaitsForALatePost) {
    CQueueSink sink;
    const auto start = Clock::now();
    EXPECT_FALSE(sink.Take(80ms).has_value());
    EXPECT_GE(Clock::now() - start, 75ms);

    std::thread poster([&] {
        std::this_thread::sleep_for(50ms);
        sink.Post(Window::Main, 42, 0, 0);
    });
    const auto got = sink.Take(5s);
    poster.join();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->message, 42u);
}

TEST(QueueSinkTest, HistoryKeepsEverythingEvenAfterTake) {
    CQueueSink sink;
    sink.Post(Window::Main, 1, 0, 0);
    sink.ShowMessageBox("Not MRKD7310 or TQ71!");
    sink.Post(Window::Backup, 2, 0, 0);
    ASSERT_TRUE(sink.Take(0ms).has_value());
    ASSERT_TRUE(sink.Take(0ms).has_value());
    const auto h = sink.History();
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h[0].message, 1u);
    ASSERT_TRUE(h[1].messageBox.has_value());
    EXPECT_EQ(*h[1].messageBox, "Not MRKD7310 or TQ71!");
    EXPECT_EQ(h[2].window, Window::Backup);
    const auto rest = sink.Take(0ms);
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(rest->message, 2u);
}

TEST(QueueSinkTest, NotificationsListsOnlyNotifyPairs) {
    CQueueSink sink;
    sink.Notify(1, 1);
    sink.Post(Window::Main, WM_CONTROL_STATE, 0, 0);
    sink.ShowMessageBox("box");
    sink.Notify(6, 4, Window::Search);
    sink.Notify(15, 0);
    const std::vector<std::pair<int, int>> expected = {{1, 1}, {6, 4}, {15, 0}};
    EXPECT_EQ(sink.Notifications(), expected);
    // The popup's parent travels in wParam; the message goes to the main window.
    const auto h = sink.History();
    EXPECT_EQ(h[3].window, Window::Main);
    EXPECT_EQ(h[3].wParam, static_cast<std::uint64_t>(Window::Search));
}

TEST(QueueSinkTest, WaitForSeesMessagesPostedBeforeAndAfter) {
    CQueueSink sink;
    sink.Post(Window::Main, 7, 0, 0);
    EXPECT_TRUE(sink.WaitFor([](const PostedMessage& m) { return m.message == 7; }, 0ms));
    const auto start = Clock::now();
    EXPECT_FALSE(sink.WaitFor([](const PostedMessage& m) { return m.message == 8; }, 80ms));
    EXPECT_GE(Clock::now() - start, 75ms);

    std::thread poster([&] {
        std::this_thread::sleep_for(30ms);
        sink.Post(Window::Main, 9, 0, 0);
        std::this_thread::sleep_for(30ms);
        sink.Notify(3, 7);
    });
    EXPECT_TRUE(sink.WaitFor(
        [](const PostedMessage& m) {
            return m.message == WM_RECORDER_NOTIFY && m.lParam == NotifyParam(3, 7);
        },
        5s));
    poster.join();
    // Taking messages does not hide them from WaitFor.
    while (sink.Take(0ms)) {
    }
    EXPECT_TRUE(sink.WaitFor([](const PostedMessage& m) { return m.message == 9; }, 0ms));
}

TEST(QueueSinkTest, ManyPostersOneConsumer) {
    CQueueSink sink;
    constexpr int kPosters = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                sink.Post(Window::Main, 1000, static_cast<std::uint64_t>(p), i);
            }
        });
    }
    std::set<std::pair<std::uint64_t, std::int64_t>> seen;
    std::vector<std::int64_t> lastPerPoster(kPosters, -1);
    bool ordered = true;
    while (seen.size() < static_cast<std::size_t>(kPosters * kEach)) {
        const auto m = sink.Take(5s);
        ASSERT_TRUE(m.has_value()) << "only " << seen.size() << " messages arrived";
        EXPECT_TRUE(seen.emplace(m->wParam, m->lParam).second);
        auto& last = lastPerPoster[m->wParam];
        ordered = ordered && m->lParam > last;
        last = m->lParam;
    }
    for (auto& t : posters)
        t.join();
    EXPECT_TRUE(ordered);  // each poster's messages keep their order
    EXPECT_EQ(sink.History().size(), static_cast<std::size_t>(kPosters * kEach));
    EXPECT_FALSE(sink.Take(0ms).has_value());
}

TEST(NullSinkTest, AcceptsEverything) {
    CNullSink sink;
    sink.Post(Window::Main, 1, 2, 3);
    sink.Notify(1, 0);
    sink.ShowMessageBox("x");
    SUCCEED();
}

}  // namespace
}  // namespace taviro::platform
