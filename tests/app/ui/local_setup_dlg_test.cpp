// The local setup dialog on screen: edits of every page reach the returned block, Cancel
// returns nothing, and the "All Check" / "Beturn All" buttons of the slider pages.
#include "app/ui/local_setup_dlg.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "connect/ui/dialog_test_support.h"
#include "platform/ui/qsettings_store.h"

namespace taviro::app::ui {
namespace {

using taviro::testing::Click;

class LocalSetupDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        taviro::testing::LoadSkinOnce();
        m_setup.location = "/home/op/TAVIRO";
        m_setup.opacity[opacity::kLocalSetup] = 200;
        m_setup.audioBuffer[1] = 6;
    }
    LocalSetup m_setup;
};

TEST_F(LocalSetupDlgTest, OpensOnACopyWithItsOwnOpacity) {
    CLocalSetupDlg dlg(nullptr, m_setup);
    dlg.show();
    EXPECT_NEAR(dlg.windowOpacity(), 200.0 / 255.0, 0.01);
    EXPECT_EQ(dlg.Page(), SetupPage::kGlobal);
    EXPECT_EQ(dlg.LocationEdit()->text(), "/home/op/TAVIRO");
    EXPECT_EQ(dlg.HourSystemBox()->currentIndex(), 1);
    // Rows whose value is not the neutral one start checked, with their slider enabled.
    EXPECT_NE(dlg.OpacityCheck(opacity::kLocalSetup)->Check(), 0);
    EXPECT_TRUE(dlg.OpacitySlider(opacity::kLocalSetup)->Model().Enabled());
    EXPECT_EQ(dlg.OpacitySlider(opacity::kLocalSetup)->Position(), 200);
    EXPECT_EQ(dlg.OpacityCheck(0)->Check(), 0);
    EXPECT_FALSE(dlg.OpacitySlider(0)->Model().Enabled());
    EXPECT_NE(dlg.AudioCheck(1)->Check(), 0);
    EXPECT_EQ(dlg.AudioCheck(0)->Check(), 0);
    // Nothing edited: the same block comes back.
    EXPECT_EQ(dlg.Edited(), m_setup);
}

TEST_F(LocalSetupDlgTest, EditsOfEveryPageReachTheReturnedBlock) {
    CLocalSetupDlg dlg(nullptr, m_setup);
    dlg.show();
    dlg.DrawModeBox()->setCurrentIndex(1);
    dlg.DateFormatBox()->setCurrentIndex(2);
    dlg.SaveFormatBox()->setCurrentIndex(2);
    dlg.HourSystemBox()->setCurrentIndex(0);
    dlg.LocationEdit()->setText("/srv/video");
    Click(dlg.WatermarkBox());

    Click(dlg.Button(static_cast<LocalSetupControl>(kIdFirstPage + 1)));
    EXPECT_EQ(dlg.Page(), SetupPage::kOpacity);
    Click(dlg.OpacityCheck(0));
    EXPECT_TRUE(dlg.OpacitySlider(0)->Model().Enabled());
    dlg.OpacitySlider(0)->SetPosition(128);
    Click(dlg.OpacityCheck(opacity::kLocalSetup));  // back to opaque

    Click(dlg.Button(static_cast<LocalSetupControl>(kIdFirstPage + 2)));
    EXPECT_EQ(dlg.Page(), SetupPage::kAudioBuffer);
    Click(dlg.AudioCheck(2));
    dlg.AudioSlider(2)->SetPosition(7);

    Click(dlg.Button(static_cast<LocalSetupControl>(kIdFirstPage + 3)));
    EXPECT_EQ(dlg.Page(), SetupPage::kDeinterlace);
    Click(dlg.DeinterlaceSwitch(3));
    Click(dlg.DeinterlaceSwitch(15));

    Click(dlg.Button(kIdSetupOk));
    ASSERT_TRUE(dlg.Result().has_value());
    LocalSetup expected = m_setup;
    expected.drawMode = 1;
    expected.dateFormat = 2;
    expected.saveFormat = 2;
    expected.hourSystem = 0;
    expected.location = "/srv/video";
    expected.watermark = 1;
    expected.opacity[0] = 128;
    expected.opacity[opacity::kLocalSetup] = kDefaultOpacity;
    expected.audioBuffer[2] = 7;
    expected.deinterlace[3] = 1;
    expected.deinterlace[15] = 1;
    EXPECT_EQ(*dlg.Result(), expected);
}

TEST_F(LocalSetupDlgTest, CancelReturnsNothingAndOkReturnsTheBlock) {
    CLocalSetupDlg cancelled(nullptr, m_setup);
    taviro::testing::WhenModal<CLocalSetupDlg>([](CLocalSetupDlg* d) {
        d->DrawModeBox()->setCurrentIndex(1);
        Click(d->Button(kIdSetupCancel));
    });
    EXPECT_FALSE(cancelled.Run().has_value());

    CLocalSetupDlg confirmed(nullptr, m_setup);
    taviro::testing::WhenModal<CLocalSetupDlg>([](CLocalSetupDlg* d) {
        d->DrawModeBox()->setCurrentIndex(1);
        Click(d->Button(kIdSetupOk));
    });
    const auto result = confirmed.Run();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->drawMode, 1);
}

TEST_F(LocalSetupDlgTest, AllCheckAndBeturnAll) {
    CLocalSetupDlg dlg(nullptr, m_setup);
    dlg.show();
    dlg.ShowPage(SetupPage::kOpacity);
    EXPECT_EQ(dlg.PageButton(SetupPage::kOpacity, kIdAllCheck)->Text(), "All Check");
    EXPECT_EQ(dlg.PageButton(SetupPage::kOpacity, kIdReturnAll)->Text(), "Beturn All");

    Click(dlg.PageButton(SetupPage::kOpacity, kIdAllCheck));
    for (std::size_t i = 0; i < kOpacityCount; ++i) {
        EXPECT_NE(dlg.OpacityCheck(i)->Check(), 0) << i;
        EXPECT_TRUE(dlg.OpacitySlider(i)->Model().Enabled()) << i;
    }
    dlg.OpacitySlider(2)->SetPosition(64);
    EXPECT_EQ(dlg.Edited().opacity[2], 64);
    EXPECT_EQ(dlg.Edited().opacity[opacity::kLocalSetup], 200);

    Click(dlg.PageButton(SetupPage::kOpacity, kIdReturnAll));
    for (std::size_t i = 0; i < kOpacityCount; ++i) {
        EXPECT_EQ(dlg.OpacityCheck(i)->Check(), 0) << i;
        EXPECT_FALSE(dlg.OpacitySlider(i)->Model().Enabled()) << i;
        EXPECT_EQ(dlg.Edited().opacity[i], kDefaultOpacity) << i;
    }

    // The audio page has its own pair, which leaves the opacities alone.
    dlg.ShowPage(SetupPage::kAudioBuffer);
    Click(dlg.PageButton(SetupPage::kAudioBuffer, kIdAllCheck));
    dlg.AudioSlider(0)->SetPosition(8);
    EXPECT_EQ(dlg.Edited().audioBuffer[0], 8);
    EXPECT_EQ(dlg.Edited().opacity[opacity::kLocalSetup], kDefaultOpacity);
    Click(dlg.PageButton(SetupPage::kAudioBuffer, kIdReturnAll));
    for (std::size_t i = 0; i < kAudioBufferCount; ++i) {
        EXPECT_EQ(dlg.Edited().audioBuffer[i], kDefaultAudioBuffer) << i;
    }
}

// The local settings go through the desktop's settings store intact.
TEST(LocalSetupStore, TheLocalSettingsRoundTripThroughQSettings) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("taviro-setup-store-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const QString ini = QString::fromStdString((folder / "TAVIRO.ini").string());
    Branding branding;
    LocalSetup setup = DefaultLocalSetup(branding);
    setup.drawMode = 1;
    setup.dateFormat = 2;
    setup.saveFormat = 1;
    setup.location = "/srv/taviro";
    setup.opacity[3] = 128;
    setup.audioBuffer[2] = 5;
    setup.deinterlace[15] = 1;
    setup.hourSystem = 0;
    setup.watermark = 1;
    {
        platform::ui::CQSettingsStore store(ini);
        EXPECT_TRUE(SaveLocalSetup(store, setup));
    }
    platform::ui::CQSettingsStore store(ini);
    EXPECT_EQ(LoadLocalSetup(store, branding), setup);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace taviro::app::ui
