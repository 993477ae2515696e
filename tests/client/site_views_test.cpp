// Saved views and the site remembered at quit, as the settings file keeps them: what is
// written reads back the same, names are one per view whatever their letter case, and a
// damaged or hostile file gives fewer views, never a fault or a channel shown twice.
#include "client/site_views.h"

#include <gtest/gtest.h>

#include <set>

namespace taviro::client {
namespace {

TEST(SiteViewsTest, ViewsAndTheSiteReadBackAsWritten) {
    platform::CMemorySettingsStore settings;
    SiteView gates{"Gates\tand\nyards", 1, 2, {{"10.0.0.7:9000", 3}, {}, {"cam.local:9001", 15}}};
    ASSERT_TRUE(SaveView(settings, gates));
    ASSERT_TRUE(SaveView(settings, SiteView{"Night", 14, 0, {}}));
    auto views = ReadSavedViews(settings);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].name, "Gates and yards") << "a tab or line break would split the file";
    EXPECT_EQ(views[0].panes, gates.panes);
    EXPECT_EQ(views[0].page, 2);

    // The same name in other letters replaces; a blank name is refused; deleting one
    // leaves the other.
    ASSERT_TRUE(SaveView(settings, SiteView{"NIGHT", 13, 1, {}}));
    EXPECT_FALSE(SaveView(settings, SiteView{"   ", 13, 1, {}}));
    views = ReadSavedViews(settings);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[1].layout, 13);
    EXPECT_TRUE(DeleteView(settings, "night"));
    EXPECT_FALSE(DeleteView(settings, "night"));
    EXPECT_EQ(ReadSavedViews(settings).size(), 1u);

    for (int i = 0; i < kMaxSavedViews; ++i)
        SaveView(settings, SiteView{"v" + std::to_string(i), 14, 0, {}});
    EXPECT_EQ(ReadSavedViews(settings).size(), static_cast<std::size_t>(kMaxSavedViews));

    RememberedSite site;
    site.recorders = {{"10.0.0.7", 9000, "admin", "North gate", 4},
                      {"cam.local", 9001, "op", "", 0}};
    site.view = gates;
    site.view->name.clear();
    ASSERT_TRUE(WriteRememberedSite(settings, site));
    const RememberedSite back = ReadRememberedSite(settings);
    EXPECT_EQ(back.recorders, site.recorders);
    ASSERT_TRUE(back.view);
    EXPECT_EQ(back.view->panes, gates.panes);

    settings.SetFailWrites(true);
    EXPECT_FALSE(SaveView(settings, SiteView{"Lost", 14, 0, {}})) << "a failed write is said";
    EXPECT_FALSE(WriteRememberedSite(settings, site));
}

TEST(SiteViewsTest, ADamagedFileGivesFewerViewsAndNoChannelTwice) {
    platform::CMemorySettingsStore settings;
    settings.SetString("Site/Views",
                       "Good\t1\t0\ta:1/0;;a:1/3\n"
                       "no fields\n"
                       "Bad layout\t7777\t0\t\n"
                       "Bad channel\t1\t0\ta:1/16\n"
                       "Negative\t1\t-1\ta:1/0\n"
                       "Overflow\t1\t99999999999999999999\t\n"
                       "Slashless\t1\t0\ta:1\n" +
                           std::string(100'000, 'x') + "\t1\t0\t\n" + "\t1\t0\t\n" +
                           "good\t14\t0\t\n" + "Twice\t1\t0\ta:1/2;a:1/2;a:1/2\n");
    settings.SetString("Site/Recorders",
                       "h\t0\tu\td\t4\nh\t80\tu\td\t17\n\t80\tu\td\t4\nh\t80\n"
                       "ok\t80\tu\t\t4\n");
    const auto views = ReadSavedViews(settings);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].name, "Good");
    EXPECT_EQ(views[1].name, "Twice");
    const auto site = ReadRememberedSite(settings);
    ASSERT_EQ(site.recorders.size(), 1u);
    EXPECT_EQ(site.recorders[0].address, "ok");

    // A channel named on three panes shows on the first; every channel is shown once.
    video::CSiteChannels row;
    row.Set({video::SiteRecorder{7, nullptr, 4}});
    const auto key = [](int id) { return id == 7 ? std::string("a:1") : std::string(); };
    const auto arrangement = ArrangementFor(views[1], row, key);
    ASSERT_EQ(arrangement.size(), static_cast<std::size_t>(video::kMaxPanes));
    EXPECT_EQ(arrangement[0], 2);
    EXPECT_NE(arrangement[1], 2);
    EXPECT_EQ(std::set<int>(arrangement.begin(), arrangement.end()).size(), arrangement.size());
    video::CGridLayout layout;
    EXPECT_FALSE(layout.Arrange(arrangement).ignored);
    std::vector<int> twice = arrangement;
    twice[1] = twice[0];
    EXPECT_TRUE(layout.Arrange(twice).ignored) << "an arrangement showing a channel twice";
}

}  // namespace
}  // namespace taviro::client
