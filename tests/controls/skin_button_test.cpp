#include "controls/skin_button.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "controls/control_events.h"
#include "platform/message_sink.h"

namespace taviro::controls {
namespace {

using controls::WM_UNCHECK_REQUEST;

constexpr Point kIn{10, 10};
constexpr Point kOut{60, 10};

CSkinButton Make(std::uint32_t id, ButtonKind kind) {
    CSkinButton b(id, kind);
    b.SetSize(40, 20);
    b.SetPictures(ButtonPictures{10, 11, 12, 13, 14});
    return b;
}

ControlPost Click(std::uint32_t id) {
    return ControlPost{Recipient::Parent, 0, kWmCommand, id, 0};
}
ControlPost Uncheck(std::uint32_t to) {
    return ControlPost{Recipient::Control, to, controls::WM_UNCHECK_REQUEST, 0, 0};
}

TEST(SkinButtonLook, PictureFollowsTheState) {
    CSkinButton b = Make(300, ButtonKind::Push);
    b.SetEdge(true);
    b.SetStretch(true);
    b.SetMask(7);
    ButtonLook look = b.Look();
    EXPECT_EQ(look.frame, ButtonFrame::Normal);
    EXPECT_EQ(look.picture, 10);
    EXPECT_EQ(look.mask, 7);
    EXPECT_TRUE(look.stretch);
    EXPECT_EQ(look.edge, EdgeStyle::Raised);
    EXPECT_EQ(look.text, TextStyle::Plain);

    b.OnFocusIn();
    EXPECT_EQ(b.Look().picture, 12);
    b.OnMouseMove(kIn);  // hover wins over focus
    EXPECT_EQ(b.Look().frame, ButtonFrame::Hover);
    EXPECT_EQ(b.Look().picture, 11);

    b.OnButtonDown(kIn);
    look = b.Look();
    EXPECT_EQ(look.frame, ButtonFrame::Pressed);
    EXPECT_EQ(look.picture, 13);
    EXPECT_EQ(look.edge, EdgeStyle::Sunken);
    EXPECT_EQ(look.text, TextStyle::Shifted);

    b.OnButtonUp(kIn);
    b.SetEnabled(false);
    look = b.Look();
    EXPECT_EQ(look.frame, ButtonFrame::Disabled);
    EXPECT_EQ(look.picture, 14);
    EXPECT_EQ(look.edge, EdgeStyle::Raised);
    EXPECT_EQ(look.text, TextStyle::Embossed);
}

TEST(SkinButtonLook, MissingPicturesFallBack) {
    CSkinButton b(301, ButtonKind::Push);
    b.SetSize(40, 20);
    b.SetPictures(ButtonPictures{10, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    b.SetFocusInset(3);
    b.OnFocusIn();
    b.OnMouseMove(kIn);
    ButtonLook look = b.Look();  // no hover and no focus picture: the normal one
    EXPECT_EQ(look.frame, ButtonFrame::Normal);
    EXPECT_EQ(look.picture, 10);
    EXPECT_EQ(look.focusInset, 3);
    EXPECT_EQ(look.edge, EdgeStyle::None);
    b.OnButtonDown(kIn);
    EXPECT_EQ(b.Look().picture, std::nullopt);  // plain fill
    b.OnButtonUp(kIn);
    b.SetEnabled(false);
    EXPECT_EQ(b.Look().picture, std::nullopt);
    EXPECT_EQ(b.Look().focusInset, std::nullopt);
}

TEST(SkinButtonMouse, HoverStartsOnceAndEndsOnLeave) {
    CSkinButton b = Make(300, ButtonKind::Push);
    EXPECT_TRUE(b.OnMouseMove(kIn).repaint);
    EXPECT_TRUE(b.Hover());
    EXPECT_FALSE(b.OnMouseMove(Point{11, 11}).repaint);
    EXPECT_TRUE(b.OnMouseLeave().repaint);
    EXPECT_FALSE(b.Hover());
    EXPECT_FALSE(b.OnMouseLeave().repaint);
}

TEST(SkinButtonMouse, PressOutAndBackThenReleaseInsideClicks) {
    CSkinButton b = Make(340, ButtonKind::Push);
    b.OnMouseMove(kIn);
    Reaction down = b.OnButtonDown(kIn);
    EXPECT_EQ(down.capture, CaptureChange::Take);
    EXPECT_TRUE(down.repaint);
    EXPECT_FALSE(b.Hover());
    EXPECT_TRUE(b.Tracking());
    EXPECT_TRUE(b.ShownPressed());

    Reaction out = b.OnMouseMove(kOut);
    EXPECT_TRUE(out.repaint);
    EXPECT_FALSE(b.ShownPressed());
    EXPECT_FALSE(b.Hover());  // no hover while the press is tracked
    EXPECT_FALSE(b.OnMouseMove(Point{70, 10}).repaint);
    EXPECT_TRUE(b.OnMouseMove(kIn).repaint);
    EXPECT_TRUE(b.ShownPressed());

    Reaction up = b.OnButtonUp(kIn);
    EXPECT_EQ(up.capture, CaptureChange::Release);
    EXPECT_EQ(up.posts, (std::vector{Click(340)}));
    EXPECT_FALSE(b.Tracking());
    EXPECT_FALSE(b.ShownPressed());
    EXPECT_EQ(b.Checked(), 0);
}

TEST(SkinButtonMouse, CheckBoxReleasedOutsideKeepsItsCheck) {
    CSkinButton b = Make(500, ButtonKind::CheckBox);
    b.OnButtonDown(kIn);
    b.OnMouseMove(kOut);
    Reaction up = b.OnButtonUp(kOut);
    EXPECT_TRUE(up.posts.empty());
    EXPECT_EQ(up.capture, CaptureChange::Release);
    EXPECT_EQ(b.Checked(), 0);

    b.OnButtonDown(kIn);
    EXPECT_EQ(b.OnButtonUp(kIn).posts, (std::vector{Click(500)}));
    EXPECT_EQ(b.Checked(), 1);
    EXPECT_EQ(b.Look().frame, ButtonFrame::Pressed);  // checked shows pressed
    b.OnButtonDown(kIn);
    b.OnButtonUp(kIn);
    EXPECT_EQ(b.Checked(), 0);
}

TEST(SkinButtonMouse, ReleaseWithoutOwnPressIsNoClick) {
    CSkinButton b = Make(500, ButtonKind::CheckBox);
    EXPECT_TRUE(b.OnButtonUp(kIn).posts.empty());
    EXPECT_EQ(b.Checked(), 0);
    // Losing the focus in the middle of a press drops the capture and the press.
    b.OnFocusIn();
    b.OnButtonDown(kIn);
    Reaction lost = b.OnFocusOut();
    EXPECT_EQ(lost.capture, CaptureChange::Release);
    EXPECT_FALSE(b.Tracking());
    EXPECT_TRUE(b.OnButtonUp(kIn).posts.empty());
    EXPECT_EQ(b.Checked(), 0);
}

TEST(SkinButtonKeys, SpaceKeyActsPerKind) {
    CSkinButton push = Make(300, ButtonKind::Push);
    EXPECT_EQ(push.OnSpaceKey().posts, (std::vector{Click(300)}));
    EXPECT_EQ(push.Checked(), 0);

    CSkinButton box = Make(501, ButtonKind::CheckBox);
    EXPECT_TRUE(box.OnSpaceKey().repaint);
    EXPECT_EQ(box.Checked(), 1);
    box.OnSpaceKey();
    EXPECT_EQ(box.Checked(), 0);

    CSkinButton radio = Make(502, ButtonKind::Radio);
    radio.OnSpaceKey();
    EXPECT_EQ(radio.Checked(), 1);
    radio.OnSpaceKey();  // a radio button only ever sets
    EXPECT_EQ(radio.Checked(), 1);
}

TEST(SkinButtonCheck, PushButtonStaysUnchecked) {
    CSkinButton b = Make(300, ButtonKind::Push);
    Reaction r = b.SetCheck(1);
    EXPECT_FALSE(r.repaint);
    EXPECT_EQ(b.Checked(), 0);
    CSkinButton box = Make(501, ButtonKind::CheckBox);
    EXPECT_TRUE(box.SetCheck(5).repaint);
    EXPECT_EQ(box.Checked(), 1);
    EXPECT_FALSE(box.SetCheck(1).repaint);
    box.SetKind(ButtonKind::Push);
    EXPECT_EQ(box.Checked(), 0);
}

TEST(SkinButtonRadio, CheckingOneUnchecksTheOthersInGroupOrder) {
    CButtonGroup group({604, 601, 603, 602});
    std::map<std::uint32_t, CSkinButton> buttons;
    for (std::uint32_t id : group.Members()) {
        buttons.emplace(id, Make(id, ButtonKind::Radio));
        buttons.at(id).SetGroup(&group);
    }
    buttons.at(601).SetCheck(1);

    CSkinButton& chosen = buttons.at(603);
    chosen.OnButtonDown(kIn);
    Reaction up = chosen.OnButtonUp(kIn);
    EXPECT_EQ(up.posts, (std::vector{Uncheck(604), Uncheck(601), Uncheck(602), Click(603)}));
    EXPECT_TRUE(up.repaint);

    int repainted = 0;
    for (const ControlPost& p : up.posts) {
        if (p.message != controls::WM_UNCHECK_REQUEST)
            continue;
        if (buttons.at(p.control).OnUncheckRequest().repaint)
            ++repainted;
    }
    EXPECT_EQ(repainted, 1);  // only 601 was checked
    for (const auto& [id, b] : buttons)
        EXPECT_EQ(b.Checked(), id == 603 ? 1 : 0) << id;

    // Setting the check from the program goes the same way.
    EXPECT_EQ(buttons.at(602).SetCheck(1).posts,
              (std::vector{Uncheck(604), Uncheck(601), Uncheck(603)}));
    EXPECT_TRUE(buttons.at(602).SetCheck(0).posts.empty());
}

TEST(SkinButtonInput, DisabledAndInertIgnoreMouseAndKeys) {
    for (bool inert : {false, true}) {
        CSkinButton b = Make(501, ButtonKind::CheckBox);
        if (inert) {
            b.SetInert(true);
        } else {
            b.SetEnabled(false);
        }
        EXPECT_FALSE(b.OnMouseMove(kIn).repaint);
        EXPECT_FALSE(b.Hover());
        Reaction down = b.OnButtonDown(kIn);
        EXPECT_EQ(down.capture, CaptureChange::None);
        EXPECT_FALSE(b.Tracking());
        EXPECT_TRUE(b.OnButtonUp(kIn).posts.empty());
        EXPECT_TRUE(b.OnSpaceKey().posts.empty());
        EXPECT_EQ(b.Checked(), 0);
        // The program may still set the check of a lamp.
        b.SetCheck(1);
        EXPECT_EQ(b.Checked(), 1);
    }
}

TEST(SkinButtonInput, DisablingDuringAPressReleasesTheCapture) {
    CSkinButton b = Make(300, ButtonKind::Push);
    b.OnButtonDown(kIn);
    Reaction off = b.SetEnabled(false);
    EXPECT_EQ(off.capture, CaptureChange::Release);
    EXPECT_FALSE(b.ShownPressed());
    b.SetEnabled(true);
    EXPECT_TRUE(b.OnButtonUp(kIn).posts.empty());
}

}  // namespace
}  // namespace taviro::controls
