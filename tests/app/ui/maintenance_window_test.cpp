// The main window's maintenance and snapshot buttons against the simulated recorder: Save
// writes one picture per shown channel and Load opens it again; RSetup starts the chosen
// browser with the recorder's web setup address.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/ui/recorder_window_fixture.h"
#include "controls/ui/skin_button_widget.h"
#include "maintenance/ui/ptz_windows.h"
#include "maintenance/web_setup.h"
#include "notify/ui/notify_popup.h"
#include "snapshot/ui/preview_file_dialog.h"
#include "snapshot/ui/snapshot_viewer.h"

namespace taviro::app::ui {
namespace {

using CMaintenanceWindowTest = CRecorderWindowTest;

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(CMaintenanceWindowTest, SaveWritesEveryShownChannelAndLoadShowsThePicture) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Views().HasDecodedMask() == 0xF; }, 10000));
    auto* save = m_window->Button(372);
    ASSERT_NE(save, nullptr);
    m_window->OnCommand(372);
    const auto saved = m_dir / "store" / "Saved";
    // The button comes back once the one-second timer found every writer finished; by then
    // every file has its final name (each is written under a temporary one first).
    ASSERT_TRUE(QTest::qWaitFor([&] { return !save->ButtonEnabled(); }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return save->ButtonEnabled(); }, 10000));
    const auto files = FilesIn(saved);
    ASSERT_EQ(files.size(), 4u);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string name = files[i].filename().string();
        // "YYYYMMDDhhmmss_00CC.jpg": the format is the setting's default, JPEG.
        ASSERT_EQ(name.size(), 23u) << name;
        EXPECT_EQ(name.substr(14), "_000" + std::to_string(i + 1) + ".jpg") << name;
    }

    // Load: the preview dialog shows the picture's size, the viewer opens on it.
    const QString chosen = QString::fromStdString(files.front().string());
    bool previewed = false;
    bool handled = false;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        snapshot::ui::CPreviewFileDlg* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<snapshot::ui::CPreviewFileDlg*>(w); d && d->isVisible())
                dialog = d;
        if (dialog == nullptr || handled)
            return;
        handled = true;
        poll.stop();
        // The name typed as an operator would, and the selection the list reports for it.
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText(QString::fromStdString(files.front().filename().string()));
        emit dialog->currentChanged(chosen);
        const bool selected = dialog->selectedFiles() == QStringList{chosen};
        previewed =
            selected && dialog->WaitForPreview(5000) && dialog->SizeText()->text() == "(800 x 600)";
        Keep(dialog, "snapshot-preview.png");
        QMetaObject::invokeMethod(dialog, "done", Qt::QueuedConnection,
                                  Q_ARG(int, QDialog::Accepted));
    });
    poll.start();
    m_window->OnCommand(373);
    EXPECT_TRUE(previewed);
    // The picture is read on a pool thread; the viewer opens when it is there.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->SnapshotViewer() != nullptr; }, 5000));
    auto* viewer = m_window->SnapshotViewer();
    EXPECT_EQ(viewer->Image().size(), QSize(800, 600));
    EXPECT_EQ(viewer->size(), QSize(844, 676));
    Keep(viewer, "snapshot-viewer.png");
}

TEST_F(CMaintenanceWindowTest, RSetupStartsTheChosenBrowserWithTheAddressAsItsArgument) {
    const auto script = m_dir / "browser";
    const auto out = m_dir / "browser-args";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" << out.string() << ".tmp\"\nmv \""
          << out.string() << ".tmp\" \"" << out.string() << "\"\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    m_settings->SetString(maintenance::kBrowserSettingPath, script.string());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Connection().Session().Live().MayUse(protocol::Feature::WebSetup); }, 5000));
    m_window->OnCommand(362);
    const auto hello = Connection().Session().Login().Hello();
    const auto url = maintenance::WebSetupUrl("127.0.0.1", hello.webPort, hello.Key);
    ASSERT_TRUE(url);
    std::string text;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::ifstream in(out);
            std::stringstream all;
            all << in.rdbuf();
            text = all.str();
            return !text.empty();
        },
        5000));
    EXPECT_EQ(text, "1\n" + *url + "\n");
    EXPECT_EQ(m_window->Button(362)->Check(), 0);
}

}  // namespace
}  // namespace taviro::app::ui

namespace taviro::app::ui {
namespace {

QPushButton* ButtonIn(QWidget* window, const QString& text) {
    for (auto* b : window->findChildren<QPushButton*>())
        if (b->text() == text && b->isVisible())
            return b;
    return nullptr;
}

TEST_F(CMaintenanceWindowTest, PtzPanelPressAndReleaseThenAPresetCall) {
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Connection().Session().Live().MayUse(protocol::Feature::Ptz); }, 5000));
    m_window->OnCommand(355);
    QWidget* panel = m_window->PtzWindows()->Panel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(m_window->Button(355)->Check(), 1);
    // The steered channel is asked for in pan mode; the recorder's answer keeps the pad on.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Ptz().Availability() == maintenance::PtzAvailability::Steerable; },
        5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Received(282).empty(); }, 3000));
    EXPECT_TRUE(m_window->Ptz().PadEnabled());
    EXPECT_EQ(Received(282).back().payload, (std::vector<std::uint8_t>{0, 0, 0, 0}));

    QPushButton* up = ButtonIn(panel, "Up");
    ASSERT_NE(up, nullptr);
    QTest::mousePress(up, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Received(284).empty(); }, 3000));
    EXPECT_EQ(Received(284).back().payload, (std::vector<std::uint8_t>{2, 0, 0, 0}));
    EXPECT_TRUE(Received(285).empty());
    QTest::mouseRelease(up, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Received(285).empty(); }, 3000));
    EXPECT_EQ(Received(285).back().length, 0u);
    Keep(panel, "ptz-panel.png");

    // The preset window: 3, 0, 0 and OK call preset 300.
    QTest::mouseClick(ButtonIn(panel, "Preset"), Qt::LeftButton);
    QWidget* preset = m_window->PtzWindows()->PresetWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return preset->isVisible(); }, 2000));
    for (const char* key : {"3", "0", "0"})
        QTest::mouseClick(ButtonIn(preset, key), Qt::LeftButton);
    Keep(preset, "ptz-preset.png");
    QTest::mouseClick(ButtonIn(preset, "OK"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Received(284).size() == 2; }, 3000));
    EXPECT_EQ(Received(284).back().payload, (std::vector<std::uint8_t>{9, 44, 0, 1}));
    EXPECT_FALSE(preset->isVisible());

    // The button toggles the panel closed again.
    m_window->OnCommand(355);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(m_window->Button(355)->Check(), 0);
}

class CFirmwareWindowTest : public CRecorderWindowTest {
  protected:
    void Configure(sim::SimConfig& config) override {
        config.firmware = {{"MAIN_APP", 1'000'000'000}, {"BOOT", 1'000'000'000}};
    }
};

TEST_F(CFirmwareWindowTest, FirmUpScansStartsAndOffersTheReboot) {
    // A component image newer than the recorder's, 20,000 bytes: three pieces.
    std::vector<std::uint8_t> image(20'000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 13);
    const std::array<std::uint8_t, 4> version = {0x41, 0x8D, 0x53, 0x00};  // 1,100,829,440
    std::copy(version.begin(), version.end(), image.begin() + 8);
    std::fill(image.begin() + 32, image.begin() + 64, 0);
    const std::string name = "MAIN_APP";
    std::copy(name.begin(), name.end(), image.begin() + 32);
    const auto upgrade = m_dir / "store" / "Upgrade";
    std::filesystem::create_directories(upgrade);
    {
        std::ofstream out(upgrade / "main.img", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Connection().Session().Live().MayUse(protocol::Feature::FirmwareUpgrade); },
        5000));
    QSignalSpy done(m_window.get(), &CClientDlg::NotificationDone);
    taviro::testing::WhenModal<notify::ui::CNotifyPopup>([&](notify::ui::CNotifyPopup* shown) {
        taviro::testing::Click(shown->Button(notify::ui::kIdPopupConfirm));
    });
    m_window->OnCommand(374);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->FirmwareWindow() != nullptr; }, 5000));
    auto* dialog = m_window->FirmwareWindow();
    EXPECT_EQ(done.first().at(0).toInt(), 11);
    EXPECT_EQ(done.first().at(1).toInt(), 0);
    QTest::mouseClick(ButtonIn(dialog, "Start"), Qt::LeftButton);
    const bool succeeded = QTest::qWaitFor([&] { return dialog->Logic().Successes() == 1; }, 10000);
    ASSERT_TRUE(succeeded);
    // The recorder took the whole image in order.
    const auto received = Received(146);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].length, 8'000u);
    EXPECT_EQ(received[2].length, 4'000u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ButtonIn(dialog, "Start") != nullptr; }, 3000));
    Keep(dialog, "firmware-window.png");

    // Close offers the reboot; confirming it sends REBOOT_REQ.
    taviro::testing::WhenModal<notify::ui::CNotifyPopup>([&](notify::ui::CNotifyPopup* shown) {
        taviro::testing::Click(shown->Button(notify::ui::kIdPopupConfirm));
    });
    QTest::mouseClick(ButtonIn(dialog, "Close"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Received(342).empty(); }, 5000));
    EXPECT_EQ(m_window->FirmwareWindow(), nullptr);
}

}  // namespace
}  // namespace taviro::app::ui
