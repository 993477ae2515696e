// The search window's rules: tabs by the rights model, the busy flag, the pending selection
// that survives a reopened window during playback, and changed rights.
#include <gtest/gtest.h>

#include "platform/message_sink.h"
#include "protocol/session_messages.h"
#include "recordings/search_model.h"

namespace taviro::recordings {
namespace {

SearchRights Tables(bool search, bool backup, bool backupRunning = false) {
    return SearchRights{true, search, backup, backupRunning};
}

TEST(SearchModel, TabsFollowTheRightsModel) {
    PendingSelection pending;
    {
        // An old recorder (account model): nothing disabled unless a backup runs, even for a
        // user whose table rows say no.
        CSearchModel m(SearchRights{false, false, false, false}, &pending);
        EXPECT_EQ(m.Open().menu, SearchTab::Search);
        for (int t = 0; t < 4; ++t)
            EXPECT_TRUE(m.TabEnabled(static_cast<SearchTab>(t)));
        CSearchModel running(SearchRights{false, true, true, true}, &pending);
        running.Open();
        EXPECT_FALSE(running.TabEnabled(SearchTab::Backup));
    }
    {
        // Row 2 off, row 3 on: only the backup tab, its menu opened.
        CSearchModel m(Tables(false, true), &pending);
        const auto open = m.Open();
        EXPECT_EQ(open.menu, SearchTab::Backup);
        EXPECT_TRUE(m.TabEnabled(SearchTab::Backup));
        EXPECT_FALSE(m.TabEnabled(SearchTab::Search));
        EXPECT_FALSE(m.TabEnabled(SearchTab::Log));
        EXPECT_TRUE(m.PressTab(SearchTab::Search, false).ignored);
    }
    EXPECT_TRUE(CSearchModel(Tables(false, false), &pending).Open().close) << "nothing to show";
    EXPECT_TRUE(CSearchModel(Tables(false, true, true), &pending).Open().close);
    {
        CSearchModel m(Tables(true, false), &pending);
        m.Open();
        EXPECT_FALSE(m.TabEnabled(SearchTab::Backup));
    }
    // Without a session the window opens empty.
    EXPECT_FALSE(CSearchModel(SearchRights{}, nullptr).Open().menu);
}

TEST(SearchModel, CalendarAsksOnceAndComesBackFromThePendingSelection) {
    PendingSelection pending;
    CSearchModel m(SearchRights{}, &pending);
    m.Open();
    EXPECT_EQ(m.PressEntry(SearchEntry::Calendar, false).request, SearchRequest::PlayMonths);
    // The second press finds the request outstanding.
    EXPECT_TRUE(m.PressEntry(SearchEntry::Calendar, true).ignored);
    EXPECT_TRUE(m.PressTab(SearchTab::Backup, true).ignored);
    EXPECT_EQ(m.OnReady(protocol::WM_PLAY_MONTH_READY).page, SearchPage::PlayCalendar);
    m.PageCreated(SearchPage::PlayCalendar);
    const auto again = m.PressEntry(SearchEntry::Calendar, false);
    EXPECT_EQ(again.request, SearchRequest::None);
    EXPECT_EQ(again.page, SearchPage::PlayCalendar);

    // Playback from the calendar, the window closed while it plays, opened again: the
    // calendar of that day, without a request.
    auto months = std::make_shared<const std::vector<std::uint8_t>>(376, 0);
    m.PlaybackStarted(2, months, nullptr, 2010, 9, 11);
    // The window closes as playback starts, before the grid shows it: the selection stays.
    EXPECT_TRUE(m.CloseForPlayback().close);
    ASSERT_TRUE(pending.pending);
    CSearchModel reopened(SearchRights{}, &pending);
    reopened.Open();
    const auto shown = reopened.PressEntry(SearchEntry::Calendar, false);
    EXPECT_EQ(shown.request, SearchRequest::None);
    EXPECT_TRUE(shown.fromPending);
    EXPECT_EQ(pending.months, months);

    // Closed while the grid shows something else: the selection is gone; Cancel always
    // sends the capacity cancel.
    const auto cancel = reopened.Close(true, true);
    EXPECT_EQ(cancel.request, SearchRequest::CapaCancel);
    EXPECT_FALSE(pending.pending);
    m.PlaybackStarted(0, nullptr, nullptr, 2010, 9, 11);
    m.Close(false, false);
    EXPECT_FALSE(pending.pending);
    // A selection from the time entry is dropped when the calendar is asked for.
    m.PlaybackStarted(0, nullptr, nullptr, 2010, 9, 11);
    EXPECT_EQ(m.PressEntry(SearchEntry::Calendar, false).page, SearchPage::PlayCalendar);
    EXPECT_FALSE(pending.pending);
}

TEST(SearchModel, ChangedRightsReopenWhatRemains) {
    PendingSelection pending;
    CSearchModel m(Tables(true, true), &pending);
    m.Open();
    EXPECT_EQ(m.PressTab(SearchTab::Backup, false).menu, SearchTab::Backup);
    const auto onlyPlayback = m.OnRightsChanged(2, false);
    EXPECT_EQ(onlyPlayback.menu, SearchTab::Search);
    EXPECT_FALSE(m.TabEnabled(SearchTab::Backup));
    const auto onlyBackup = m.OnRightsChanged(1, false);
    EXPECT_EQ(onlyBackup.menu, SearchTab::Backup);
    EXPECT_FALSE(m.TabEnabled(SearchTab::Info));
    EXPECT_TRUE(m.OnRightsChanged(1, true).close) << "a running backup leaves nothing";
    m.OnRightsChanged(0, false);
    EXPECT_TRUE(m.TabEnabled(SearchTab::Log));
    // The account model ignores the message.
    CSearchModel old(SearchRights{}, &pending);
    old.Open();
    EXPECT_TRUE(old.OnRightsChanged(1, false).ignored);
    EXPECT_TRUE(old.TabEnabled(SearchTab::Search));
}

}  // namespace
}  // namespace taviro::recordings
