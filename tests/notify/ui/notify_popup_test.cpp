// The notification popup on screen, driven through the presenter: one popup per category
// with its lines and buttons, follow-ups only on confirm (after the popup closed, without a
// nested event loop), the cancel action of a pending search, and the gate while a popup is
// open.
#include "notify/ui/notify_popup.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "connect/ui/dialog_test_support.h"

namespace taviro::notify::ui {
namespace {

using taviro::testing::Click;

std::string FakeText(int number) {
    return "T" + std::to_string(number);
}

// Present shows the popup and returns at once; the test then acts on the popup on screen.
void WithPopup(CNotifyPresenter& presenter, const std::function<void(CNotifyPopup*)>& act) {
    CNotifyPopup* popup = presenter.Current();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    act(popup);
    EXPECT_NE(presenter.Current(), popup);
}

struct PopupRow {
    int category;
    int code;
    QStringList lines;
    bool confirmCancel;
    FollowUpAction followUp;  // on confirm, logged in, not recording
};

void PrintTo(const PopupRow& row, std::ostream* os) {
    *os << "(" << row.category << ", " << row.code << ")";
}

class PopupPerCategory : public ::testing::TestWithParam<PopupRow> {
  protected:
    void SetUp() override { taviro::testing::LoadSkinOnce(); }

    CNotifyPresenter MakePresenter() {
        NotifyCallbacks cb;
        cb.disconnect = [this] { ++m_disconnects; };
        cb.context = [] {
            NotificationContext ctx;
            ctx.version = {2, 0, 1, 7};
            return ctx;
        };
        cb.facts = [] { return SessionFacts{true, false, false}; };
        cb.followUp = [this](FollowUpAction a) { m_actions.push_back(a); };
        cb.cancelAction = [this](NotifyCancelAction a) { m_cancels.push_back(a); };
        return CNotifyPresenter(nullptr, cb, FakeText);
    }

    int m_disconnects = 0;
    std::vector<FollowUpAction> m_actions;
    std::vector<NotifyCancelAction> m_cancels;
};

TEST_P(PopupPerCategory, ShowsItsLinesAndRunsTheFollowUpOnlyOnConfirm) {
    const PopupRow& row = GetParam();
    CNotifyPresenter presenter = MakePresenter();

    QStringList shown;
    QStringList labels;
    bool hasCancel = false;
    double opacity = 0;
    presenter.Present(row.category, row.code);
    WithPopup(presenter, [&](CNotifyPopup* popup) {
        shown = popup->Lines();
        for (QLabel* label : popup->findChildren<QLabel*>()) {
            labels << label->text();
        }
        hasCancel = popup->Button(kIdPopupCancel) != nullptr;
        opacity = popup->windowOpacity();
        EXPECT_TRUE(presenter.PopupOpen());
        Click(popup->Button(kIdPopupConfirm));
    });
    EXPECT_FALSE(presenter.PopupOpen());
    EXPECT_EQ(shown, row.lines);
    labels.sort();
    QStringList expectedLabels = row.lines;
    expectedLabels.sort();
    EXPECT_EQ(labels, expectedLabels);
    EXPECT_EQ(hasCancel, row.confirmCancel);
    EXPECT_DOUBLE_EQ(opacity, 1.0);
    if (row.followUp == FollowUpAction::kNothing) {
        EXPECT_TRUE(m_actions.empty());
    } else {
        EXPECT_EQ(m_actions, std::vector<FollowUpAction>{row.followUp});
    }
    EXPECT_EQ(m_disconnects, row.category == 2 ? 1 : 0);

    if (row.confirmCancel) {
        m_actions.clear();
        bool cancelled = false;
        presenter.Present(row.category, row.code);
        WithPopup(presenter, [&](CNotifyPopup* popup) {
            cancelled = true;
            Click(popup->Button(kIdPopupCancel));
        });
        EXPECT_TRUE(cancelled);
        EXPECT_TRUE(m_actions.empty());
    }
    EXPECT_TRUE(m_cancels.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, PopupPerCategory,
    ::testing::Values(
        PopupRow{0, 0, {"T5080"}, false, FollowUpAction::kNothing},
        PopupRow{1, 1, {"T5053"}, false, FollowUpAction::kNothing},
        PopupRow{2, 0, {"T5079"}, false, FollowUpAction::kNothing},
        PopupRow{3, 4, {"T5079", "T5057"}, false, FollowUpAction::kNothing},
        PopupRow{4, 0, {"T5069"}, false, FollowUpAction::kNothing},
        PopupRow{5, 2, {"T5065"}, false, FollowUpAction::kNothing},
        PopupRow{6, 6, {"T5092"}, false, FollowUpAction::kNothing},
        PopupRow{7, 1, {"T5075", "T5051", "T5078"}, true, FollowUpAction::kSendDatabase},
        PopupRow{8, 5, {"T5064", "T5077"}, true, FollowUpAction::kSendReboot},
        PopupRow{9, 0, {"T5050"}, false, FollowUpAction::kNothing},
        PopupRow{10, 0, {"T5076"}, false, FollowUpAction::kNothing},
        PopupRow{11, 0, {"T5067"}, true, FollowUpAction::kStartFirmware},
        PopupRow{12, 1, {"T5086"}, false, FollowUpAction::kNothing},
        PopupRow{13, 0, {"T5061"}, false, FollowUpAction::kNothing},
        PopupRow{14, 0, {"T5090", "T5091"}, true, FollowUpAction::kSendArchiveInit},
        PopupRow{15, 0, {"T5093"}, false, FollowUpAction::kNothing},
        PopupRow{16, 0, {"T5821", "T5822", "T5823"}, true, FollowUpAction::kSendArchiveInit},
        PopupRow{17, 0, {"T5069"}, false, FollowUpAction::kNothing},
        PopupRow{18, 0, {"Bookmark is full"}, false, FollowUpAction::kNothing},
        PopupRow{19, 0, {"Program Version", " 2.0.1.7"}, false, FollowUpAction::kNothing}));

class PresenterTest : public PopupPerCategory {};

TEST_F(PresenterTest, AnUnlistedCodeShowsNothing) {
    CNotifyPresenter presenter = MakePresenter();
    presenter.Present(6, 99);
    presenter.Present(42, 0);
    EXPECT_FALSE(presenter.PopupOpen());
    EXPECT_EQ(presenter.Current(), nullptr);
}

TEST_F(PresenterTest, APendingSearchIsOfferedAndDiscardedOnCancel) {
    NotifyCallbacks cb;
    cb.context = [] {
        NotificationContext ctx;
        ctx.pendingSearchSelection = true;
        return ctx;
    };
    cb.followUp = [this](FollowUpAction a) { m_actions.push_back(a); };
    cb.cancelAction = [this](NotifyCancelAction a) { m_cancels.push_back(a); };
    CNotifyPresenter presenter(nullptr, cb, FakeText);

    QStringList shown;
    presenter.Present(4, 0);
    WithPopup(presenter, [&](CNotifyPopup* popup) {
        shown = popup->Lines();
        Click(popup->Button(kIdPopupCancel));
    });
    EXPECT_EQ(shown, (QStringList{"T5069", "T5078"}));
    EXPECT_TRUE(m_actions.empty());
    EXPECT_EQ(m_cancels,
              std::vector<NotifyCancelAction>{NotifyCancelAction::kDiscardPendingSearch});

    m_cancels.clear();
    presenter.Present(4, 0);
    WithPopup(presenter, [](CNotifyPopup* popup) { Click(popup->Button(kIdPopupConfirm)); });
    EXPECT_EQ(m_actions, std::vector<FollowUpAction>{FollowUpAction::kOpenSearch});
    EXPECT_TRUE(m_cancels.empty());
}

TEST_F(PresenterTest, ArchiveInitWhileRecordingAsksAgainOrRefuses) {
    for (bool may : {true, false}) {
        m_actions.clear();
        NotifyCallbacks cb;
        cb.facts = [may] { return SessionFacts{true, true, may}; };
        cb.followUp = [this](FollowUpAction a) { m_actions.push_back(a); };
        CNotifyPresenter presenter(nullptr, cb, FakeText);
        presenter.Present(16, 0);
        WithPopup(presenter, [](CNotifyPopup* popup) { Click(popup->Button(kIdPopupConfirm)); });
        EXPECT_EQ(m_actions, std::vector<FollowUpAction>{may ? FollowUpAction::kNotifyInitArchive
                                                             : FollowUpAction::kNotifyRefused});
    }
}

TEST_F(PresenterTest, WhileAPopupIsOpenOthersAreDroppedButADisconnectStillHappens) {
    CNotifyPresenter presenter = MakePresenter();
    presenter.Present(11, 0);
    CNotifyPopup* first = presenter.Current();
    ASSERT_NE(first, nullptr);
    // Both arrive while the popup is up, as posted messages would: the window's event loop
    // keeps running, no nested one.
    presenter.Present(15, 0);
    presenter.Present(2, 0);
    EXPECT_EQ(m_disconnects, 1);
    EXPECT_EQ(presenter.Current(), first);
    EXPECT_TRUE(m_actions.empty()) << "the follow-up waits for the popup";
    QTest::qWait(20);
    EXPECT_EQ(QApplication::activeModalWidget(), static_cast<QWidget*>(first));
    Click(first->Button(kIdPopupConfirm));
    EXPECT_FALSE(presenter.PopupOpen());
    EXPECT_EQ(m_actions, std::vector<FollowUpAction>{FollowUpAction::kStartFirmware});

    // Once closed, the next notification gets its popup again.
    bool shownAgain = false;
    presenter.Present(15, 0);
    WithPopup(presenter, [&](CNotifyPopup* popup) {
        shownAgain = true;
        Click(popup->Button(kIdPopupConfirm));
    });
    EXPECT_TRUE(shownAgain);
}

TEST_F(PresenterTest, SizeLinesUseTheSkinTexts) {
    NotifyCallbacks cb;
    cb.context = [] {
        NotificationContext ctx;
        ctx.transferSizes = std::make_pair(2048u, 512u);
        return ctx;
    };
    CNotifyPresenter presenter(nullptr, cb, FakeText);
    QStringList shown;
    presenter.Present(13, 0);
    WithPopup(presenter, [&](CNotifyPopup* popup) {
        shown = popup->Lines();
        Click(popup->Button(kIdPopupConfirm));
    });
    EXPECT_EQ(shown, (QStringList{"T5061", "T5840 :    2.0 GByte", "T5841 : 512 MByte"}));
}

}  // namespace
}  // namespace taviro::notify::ui
