// Pane rectangles of every layout for the main window's placement (820 x 594, border 1) and
// for a 1024 x 768 grid with border 2. Every expected rectangle is worked out by hand from
// the column and row boundaries, not from the code's own tables.
#include <gtest/gtest.h>

#include <vector>

#include "video/layouts.h"

namespace taviro::video {
namespace {

void ExpectPositions(int layout, int width, int height, int border,
                     const std::vector<Rect>& expected) {
    ASSERT_EQ(PanesPerPage(layout), static_cast<int>(expected.size())) << "layout " << layout;
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(PositionRect(layout, static_cast<int>(k), width, height, border), expected[k])
            << "layout " << layout << " position " << k;
    EXPECT_EQ(PositionRect(layout, static_cast<int>(expected.size()), width, height, border),
              Rect{});
    EXPECT_EQ(PositionRect(layout, -1, width, height, border), Rect{});
}

// Boundaries of the main window's grid.
constexpr int kC4[4][2] = {{2, 204}, {206, 409}, {411, 614}, {616, 818}};
constexpr int kR4[4][2] = {{2, 147}, {149, 295}, {297, 443}, {445, 592}};
constexpr int kC3[3][2] = {{2, 272}, {274, 545}, {547, 818}};
constexpr int kR3[3][2] = {{2, 197}, {199, 395}, {397, 592}};

Rect G4(int c, int r) {
    return Rect{kC4[c][0], kR4[r][0], kC4[c][1], kR4[r][1]};
}
Rect G3(int c, int r) {
    return Rect{kC3[c][0], kR3[r][0], kC3[c][1], kR3[r][1]};
}

TEST(LayoutGeometry, MainWindowPlacementEveryLayout) {
    constexpr int W = 820, H = 594, B = 1;
    ExpectPositions(0, W, H, B, {{2, 2, 818, 592}});
    // The 2 x 2 grid splits at 409/411 and 296/298, unlike the 4 x 4 grid's 295/297.
    ExpectPositions(
        1, W, H, B,
        {{2, 2, 409, 296}, {411, 2, 818, 296}, {2, 298, 409, 592}, {411, 298, 818, 592}});
    ExpectPositions(2, W, H, B,
                    {{2, 2, 545, 395}, G3(2, 0), G3(2, 1), G3(0, 2), G3(1, 2), G3(2, 2)});
    ExpectPositions(3, W, H, B,
                    {{2, 2, 409, 295},
                     {411, 2, 818, 295},
                     {2, 297, 409, 592},
                     G4(2, 2),
                     G4(3, 2),
                     G4(2, 3),
                     G4(3, 3)});
    ExpectPositions(
        5, W, H, B,
        {{2, 2, 614, 443}, G4(3, 0), G4(3, 1), G4(3, 2), G4(0, 3), G4(1, 3), G4(2, 3), G4(3, 3)});
    ExpectPositions(
        6, W, H, B,
        {G3(0, 0), G3(1, 0), G3(2, 0), G3(0, 1), G3(1, 1), G3(2, 1), G3(0, 2), G3(1, 2), G3(2, 2)});
    ExpectPositions(7, W, H, B,
                    {{2, 2, 409, 295},
                     {411, 2, 818, 295},
                     G4(0, 2),
                     G4(1, 2),
                     G4(2, 2),
                     G4(3, 2),
                     G4(0, 3),
                     G4(1, 3),
                     G4(2, 3),
                     G4(3, 3)});
    ExpectPositions(
        13, W, H, B,
        {G4(0, 0), G4(1, 0), G4(2, 0), G4(3, 0), G4(0, 1), G4(0, 2), Rect{206, 149, 614, 443},
         G4(3, 1), G4(3, 2), G4(0, 3), G4(1, 3), G4(2, 3), G4(3, 3)});
    std::vector<Rect> sixteen;
    for (int k = 0; k < 16; ++k)
        sixteen.push_back(G4(k % 4, k / 4));
    ExpectPositions(14, W, H, B, sixteen);
    EXPECT_EQ(sixteen[0], (Rect{2, 2, 204, 147}));
    EXPECT_EQ(sixteen[15], (Rect{616, 445, 818, 592}));
}

TEST(LayoutGeometry, BorderTwoAt1024x768) {
    constexpr int W = 1024, H = 768, B = 2;
    ExpectPositions(0, W, H, B, {{4, 4, 1020, 764}});
    ExpectPositions(
        1, W, H, B,
        {{4, 4, 510, 382}, {514, 4, 1020, 382}, {4, 386, 510, 764}, {514, 386, 1020, 764}});
    // 3 x 3: columns 4-339, 343-680, 684-1020; rows 4-254, 258-510, 514-764.
    ExpectPositions(2, W, H, B,
                    {{4, 4, 680, 510},
                     {684, 4, 1020, 254},
                     {684, 258, 1020, 510},
                     {4, 514, 339, 764},
                     {343, 514, 680, 764},
                     {684, 514, 1020, 764}});
    ExpectPositions(6, W, H, B,
                    {{4, 4, 339, 254},
                     {343, 4, 680, 254},
                     {684, 4, 1020, 254},
                     {4, 258, 339, 510},
                     {343, 258, 680, 510},
                     {684, 258, 1020, 510},
                     {4, 514, 339, 764},
                     {343, 514, 680, 764},
                     {684, 514, 1020, 764}});
    // 4 x 4: columns 4-254, 258-510, 514-766, 770-1020; rows 4-190, 194-382, 386-574, 578-764.
    ExpectPositions(3, W, H, B,
                    {{4, 4, 510, 382},
                     {514, 4, 1020, 382},
                     {4, 386, 510, 764},
                     {514, 386, 766, 574},
                     {770, 386, 1020, 574},
                     {514, 578, 766, 764},
                     {770, 578, 1020, 764}});
    ExpectPositions(5, W, H, B,
                    {{4, 4, 766, 574},
                     {770, 4, 1020, 190},
                     {770, 194, 1020, 382},
                     {770, 386, 1020, 574},
                     {4, 578, 254, 764},
                     {258, 578, 510, 764},
                     {514, 578, 766, 764},
                     {770, 578, 1020, 764}});
    ExpectPositions(7, W, H, B,
                    {{4, 4, 510, 382},
                     {514, 4, 1020, 382},
                     {4, 386, 254, 574},
                     {258, 386, 510, 574},
                     {514, 386, 766, 574},
                     {770, 386, 1020, 574},
                     {4, 578, 254, 764},
                     {258, 578, 510, 764},
                     {514, 578, 766, 764},
                     {770, 578, 1020, 764}});
    ExpectPositions(13, W, H, B,
                    {{4, 4, 254, 190},
                     {258, 4, 510, 190},
                     {514, 4, 766, 190},
                     {770, 4, 1020, 190},
                     {4, 194, 254, 382},
                     {4, 386, 254, 574},
                     {258, 194, 766, 574},
                     {770, 194, 1020, 382},
                     {770, 386, 1020, 574},
                     {4, 578, 254, 764},
                     {258, 578, 510, 764},
                     {514, 578, 766, 764},
                     {770, 578, 1020, 764}});
    const auto rects = PaneRects(14, 0, W, H, B);
    EXPECT_EQ(rects[5], (Rect{258, 194, 510, 382}));
    EXPECT_EQ(rects[10], (Rect{514, 386, 766, 574}));
    EXPECT_EQ(rects[15], (Rect{770, 578, 1020, 764}));
}

TEST(LayoutGeometry, SlotsToPositions) {
    constexpr int W = 820, H = 594, B = 1;
    // Slot s of an n-pane layout sits at position s mod n on page s div n.
    const auto two = PaneRects(2, 2, W, H, B);
    EXPECT_EQ(two[12], (Rect{2, 2, 545, 395}));
    EXPECT_EQ(two[13], G3(2, 0));
    EXPECT_EQ(two[15], G3(0, 2));
    const auto thirteen = PaneRects(13, 1, W, H, B);
    EXPECT_EQ(thirteen[13], G4(0, 0));
    EXPECT_EQ(thirteen[15], G4(2, 0));
    // Every slot of the one-pane layout fills the grid (one recorder: 16 slots; a grid of
    // 40 channels: 40).
    for (const int count : {16, 40}) {
        const auto ones = PaneRects(0, 7, W, H, B, count);
        for (int s = 0; s < kMaxPanes; ++s)
            EXPECT_EQ(ones[static_cast<std::size_t>(s)],
                      s < count ? (Rect{2, 2, 818, 592}) : Rect{})
                << count << " channels, slot " << s;
    }
    // The 9-pane layout's second page moves slots 7 and 8 to the top-left and top-middle.
    const auto page0 = PaneRects(6, 0, W, H, B);
    const auto page1 = PaneRects(6, 1, W, H, B);
    EXPECT_EQ(page0[7], G3(1, 2));
    EXPECT_EQ(page0[8], G3(2, 2));
    EXPECT_EQ(page1[7], G3(0, 0));
    EXPECT_EQ(page1[8], G3(1, 0));
    EXPECT_EQ(page1[9], G3(2, 0));
    EXPECT_EQ(page1[15], G3(2, 2));
    // With more than one recorder's channels the 9-pane pages follow each other in order.
    const auto site = PaneRects(6, 1, W, H, B, 40);
    EXPECT_EQ(site[9], G3(0, 0));
    EXPECT_EQ(site[17], G3(2, 2));
    EXPECT_EQ(site[39], G3(0, 1));
    EXPECT_EQ(PaneRects(4, 0, W, H, B)[0], Rect{});
}

TEST(LayoutGeometry, VisibleSlotsPerPage) {
    EXPECT_EQ(VisibleSlots(0, 5, 16), 0x0020u);
    EXPECT_EQ(VisibleSlots(0, 16, 16), 0u);
    EXPECT_EQ(VisibleSlots(1, 1, 16), 0x00F0u);
    EXPECT_EQ(VisibleSlots(1, 1, 4), 0x00F0u);  // the 4-pane pages ignore the channel count
    EXPECT_EQ(VisibleSlots(5, 1, 16), 0xFF00u);
    EXPECT_EQ(VisibleSlots(2, 2, 16), 0xF000u);  // a partial last page: 4 slots
    EXPECT_EQ(VisibleSlots(3, 2, 16), 0xC000u);
    EXPECT_EQ(VisibleSlots(7, 1, 16), 0xFC00u);
    EXPECT_EQ(VisibleSlots(13, 1, 16), 0xE000u);
    EXPECT_EQ(VisibleSlots(2, 0, 4), 0x000Fu);
    EXPECT_EQ(VisibleSlots(7, 0, 8), 0x00FFu);
    EXPECT_EQ(VisibleSlots(6, 0, 16), 0x01FFu);
    EXPECT_EQ(VisibleSlots(6, 1, 16), 0xFF80u);
    EXPECT_EQ(VisibleSlots(14, 0, 2), 0xFFFFu);
    EXPECT_EQ(VisibleSlots(4, 0, 16), 0u);
}

TEST(LayoutTables, PagesButtonsAndCommands) {
    EXPECT_EQ(CreationPageTable(4), (PageTable{4, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(CreationPageTable(5), (PageTable{8, 2, 2, 2, 1, 1, 0, 0, 0}));
    EXPECT_EQ(CreationPageTable(9), (PageTable{16, 4, 3, 3, 2, 2, 2, 2, 1}));
    EXPECT_EQ(LivePageTable(1), (PageTable{4, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(LivePageTable(8), (PageTable{8, 2, 2, 2, 1, 1, 1, 1, 1}));
    EXPECT_EQ(LivePageTable(16), CreationPageTable(16));
    EXPECT_EQ(StartLayout(4), 1);
    EXPECT_EQ(StartLayout(5), 6);
    EXPECT_EQ(StartLayout(9), 14);
    EXPECT_EQ(LayoutButton(0), 320);
    EXPECT_EQ(LayoutButton(5), 324);
    EXPECT_EQ(LayoutButton(14), 328);
    EXPECT_EQ(LayoutButton(4), -1);
    EXPECT_EQ(LayoutOfButton(327), 13);
    EXPECT_EQ(LayoutOfButton(329), -1);
    EXPECT_EQ(LayoutOfToolbarCommand(400), 0);
    EXPECT_EQ(LayoutOfToolbarCommand(406), 7);
    EXPECT_EQ(LayoutOfToolbarCommand(408), 14);
    EXPECT_EQ(LayoutOfToolbarCommand(409), -1);
    EXPECT_EQ(LayoutOfToolbarCommand(399), -1);
}

}  // namespace
}  // namespace taviro::video
