#include "app/main_window_layout.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/skin_numbers.h"

namespace taviro::app {
namespace {

constexpr LayoutRect kWindow{0, 0, kMainWindowWidth, kMainWindowHeight};

std::set<std::uint32_t> ExpectedIds() {
    std::set<std::uint32_t> ids;
    const auto range = [&](std::uint32_t a, std::uint32_t b) {
        for (std::uint32_t i = a; i <= b; ++i)
            ids.insert(i);
    };
    range(300, 315);
    range(320, 329);
    range(340, 346);
    range(355, 356);
    range(360, 366);
    range(368, 379);  // 379: the recorder panel
    range(420, 421);
    return ids;
}

TEST(MainWindowLayout, HoldsExactlyTheWindowsControlsOnce) {
    std::set<std::uint32_t> seen;
    for (const MainControl& c : MainWindowControls())
        EXPECT_TRUE(seen.insert(c.id).second) << "twice: " << c.id;
    EXPECT_EQ(seen, ExpectedIds());
    for (std::uint32_t id : ExpectedIds())
        ASSERT_NE(FindMainControl(id), nullptr) << id;
    EXPECT_EQ(FindMainControl(367), nullptr);
    EXPECT_EQ(FindMainControl(0), nullptr);
}

TEST(MainWindowLayout, ControlsLieInsideTheWindowOutsideTheGridAndApart) {
    const auto controls = MainWindowControls();
    for (const MainControl& c : controls) {
        SCOPED_TRACE(c.id);
        EXPECT_GT(c.rect.width, 0);
        EXPECT_GT(c.rect.height, 0);
        EXPECT_TRUE(kWindow.Contains(c.rect));
        EXPECT_FALSE(c.rect.Intersects(kChannelGridRect));
    }
    for (std::size_t i = 0; i < controls.size(); ++i)
        for (std::size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i].rect.Intersects(controls[j].rect))
                << controls[i].id << " overlaps " << controls[j].id;
}

TEST(MainWindowLayout, FixedPlacesKindsAndPictures) {
    const MainControl* min = FindMainControl(kMinButtonId);
    ASSERT_NE(min, nullptr);
    EXPECT_EQ(min->rect.x, 904);
    EXPECT_EQ(min->rect.y, 1);
    EXPECT_EQ(min->rect.width, 16);
    EXPECT_EQ(min->rect.height, 13);
    EXPECT_EQ(min->picture, platform::skin::kPicMinButton);
    EXPECT_EQ(min->frames, platform::skin::kMinButtonFrames);
    EXPECT_EQ(FindMainControl(kPositionSliderId)->kind, ControlKind::SliderHorizontal);
    EXPECT_EQ(FindMainControl(kVolumeSliderId)->kind, ControlKind::SliderVertical);
    // Every button has its own strip; sliders use the slider pictures.
    std::set<int> pictures;
    for (const MainControl& c : MainWindowControls()) {
        const bool slider =
            c.kind == ControlKind::SliderHorizontal || c.kind == ControlKind::SliderVertical;
        if (slider) {
            EXPECT_EQ(c.picture, 0) << c.id;
            continue;
        }
        EXPECT_NE(c.picture, 0) << c.id;
        EXPECT_TRUE(pictures.insert(c.picture).second) << "picture shared: " << c.id;
    }
    EXPECT_EQ(FindMainControl(300)->label, "1");
    EXPECT_EQ(FindMainControl(315)->label, "16");
    EXPECT_EQ(FindMainControl(329)->label, "Full");
    EXPECT_EQ(FindMainControl(360)->label, "Connect");
}

TEST(MainWindowLayout, ViewGroupIsChannelsThenLayoutsAllRadio) {
    const auto group = ViewButtonGroup();
    ASSERT_EQ(group.size(), 25u);
    EXPECT_EQ(group.front(), 300u);
    EXPECT_EQ(group[15], 315u);
    EXPECT_EQ(group[16], 320u);
    EXPECT_EQ(group.back(), 328u);
    for (std::uint32_t id : group)
        EXPECT_EQ(FindMainControl(id)->kind, ControlKind::Radio) << id;
    // Full screen is a command, not a layout that stays selected.
    EXPECT_EQ(FindMainControl(329)->kind, ControlKind::Push);
}

TEST(MainWindowLayout, ToolTipRule) {
    struct Case {
        std::uint32_t id;
        int text;
        const char* literal;
    };
    const Case cases[] = {
        {300, 5009, " 1"},       {307, 5009, " 8"},
        {315, 5009, " 16"},      {320, 5010, ""},
        {321, 5011, ""},         {322, 0, "6"},
        {323, 0, "7"},           {326, 0, "10"},
        {327, 0, "13"},          {328, 0, "16"},
        {329, 5012, ""},         {340, 5022, " (Left)"},
        {343, 5025, " (Space)"}, {345, 5027, " (Esc)"},
        {346, 5028, " (Right)"}, {355, 5005, ""},
        {356, 5006, ""},         {361, 5001, ""},
        {364, 5004, ""},         {365, 5008, ""},
        {366, 5018, ""},         {368, 5020, ""},
        {369, 5013, ""},         {373, 5017, ""},
        {374, 5007, ""},         {375, 0, "Program Version"},
        {376, 5021, ""},         {377, 5029, ""},
        {378, 5030, ""},         {421, 5019, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const auto tip = MainToolTip(c.id, false, false);
        ASSERT_TRUE(tip.has_value());
        EXPECT_EQ(tip->textNumber, c.text);
        EXPECT_EQ(tip->literal, c.literal);
    }
    // The state-dependent ones.
    EXPECT_EQ(MainToolTip(360, false, false)->textNumber, 5000);
    EXPECT_EQ(MainToolTip(360, true, false)->textNumber, 5830);
    EXPECT_EQ(MainToolTip(344, true, false)->textNumber, 5883);
    EXPECT_EQ(MainToolTip(344, true, true)->textNumber, 5882);
    // No tip: the position slider and ids that are no control.
    EXPECT_FALSE(MainToolTip(420, true, true).has_value());
    EXPECT_FALSE(MainToolTip(367, true, true).has_value());
    EXPECT_FALSE(MainToolTip(316, true, true).has_value());
}

}  // namespace
}  // namespace taviro::app
