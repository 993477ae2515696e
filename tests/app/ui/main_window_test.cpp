// The main window against the simulated recorder, on a real display: the connect dialog at
// start fills itself and connects, 16 channels of pictures arrive with their titles, every
// layout change reaches the recorder as the visible-channel request, the version and rights
// popups come up from their buttons, and Quit stops live view before the goodbye.
#include "app/ui/client_dlg.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/key_map.h"
#include "app/ui/about_dlg.h"
#include "connect/ui/connect_dlg.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_button_widget.h"
#include "notify/ui/notify_popup.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/catalogue.h"
#include "sim/recorder_sim.h"
#include "video/pane_texts.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

using namespace std::chrono_literals;
using taviro::testing::Click;

const std::vector<std::string> kTitles = {
    "Gate",     "Yard",   "Hall", "Garage",    "Dock",     "Lobby",   "Office", "Parking",
    "Entrance", "Stairs", "Roof", "Warehouse", "Corridor", "Canteen", "Server", "Back Door"};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        taviro::testing::LoadSkinOnce();
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-main-window-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_settings = std::make_unique<platform::ui::CQSettingsStore>(
            QString::fromStdString((m_dir / "settings.ini").string()));
        m_settings->SetString("LocalSetup/Location", (m_dir / "store").string());
    }
    void TearDown() override {
        m_window.reset();
        m_recorder.reset();
        std::filesystem::remove_all(m_dir);
    }

    // A recorder with 16 titled channels of small pictures, and the window connected to it.
    // `demoStream`: the demo's 704 x 480 at 25 pictures per second instead of small ones.
    void StartConnected(sim::SimConfig config = {}, bool demoStream = false) {
        config.live_stream = true;
        config.live_width = demoStream ? 704 : 352;
        config.live_height = demoStream ? 480 : 240;
        config.live_fps = demoStream ? 25 : 10;
        config.live_gop = 10;
        config.push_records = true;
        config.titles = kTitles;
        m_recorder = std::make_unique<sim::CRecorderSim>(config);
        ASSERT_TRUE(m_recorder->Start()) << m_recorder->LastError();
        ShellOptions options;
        options.quitPause = 5ms;
        m_window = std::make_unique<CClientDlg>(m_sink, *m_settings, Branding{}, options);
        m_window->show();
        ConnectRequest request{"127.0.0.1", m_recorder->Port(), m_user, m_password};
        // The window has handled the login (and the live start posted before it) and the
        // recorder streams.
        QSignalSpy loggedIn(m_window.get(), &CClientDlg::LoggedIn);
        m_window->Initialise(request);
        ASSERT_TRUE(loggedIn.count() > 0 || loggedIn.wait(5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Shell().LiveRunning(); }, 5000));
    }

    // The payloads of every LIVE_REQ the recorder received, as 32-bit masks.
    std::vector<std::uint32_t> LiveRequests() const {
        std::vector<std::uint32_t> masks;
        for (const auto& e : m_recorder->Journal()) {
            if (e.dir == sim::JournalDir::Rx && e.code == protocol::msg::LIVE_REQ &&
                e.payload.size() == 4) {
                masks.push_back(static_cast<std::uint32_t>(e.payload[0]) << 24 |
                                static_cast<std::uint32_t>(e.payload[1]) << 16 |
                                static_cast<std::uint32_t>(e.payload[2]) << 8 | e.payload[3]);
            }
        }
        return masks;
    }

    // Waits until the recorder's last LIVE_REQ carries `mask`.
    bool LastRequestIs(std::uint32_t mask) {
        return QTest::qWaitFor(
            [&] {
                const auto masks = LiveRequests();
                return !masks.empty() && masks.back() == mask;
            },
            3000);
    }

    void Press(std::uint32_t id) {
        auto* button = m_window->Button(id);
        ASSERT_NE(button, nullptr) << id;
        ASSERT_EQ(QApplication::activeModalWidget(), nullptr)
            << QApplication::activeModalWidget()->metaObject()->className();
        ASSERT_TRUE(button->Model().Enabled()) << id;
        Click(button);
    }

    std::filesystem::path m_dir;
    std::unique_ptr<platform::ui::CQSettingsStore> m_settings;
    platform::ui::CQtMessageSink m_sink;
    std::unique_ptr<sim::CRecorderSim> m_recorder;
    std::unique_ptr<CClientDlg> m_window;
    std::string m_user = "admin";
    std::string m_password = "1234";
};

TEST_F(MainWindowTest, SixteenChannelsArriveWithTheirTitlesAndArePainted) {
    StartConnected();
    auto* grid = m_window->Grid();
    ASSERT_NE(grid, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 16; ++c)
                if (grid->PicturesDrawn(c) < 3)
                    return false;
            return true;
        },
        8000))
        << "every pane must show several decoded pictures";
    for (int c = 0; c < 16; ++c) {
        const auto& view = m_window->Views().Channel(c);
        std::lock_guard lock(view.lock);
        // The lines as the grid paints them.
        const video::PaneTexts texts =
            video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views());
        EXPECT_EQ(texts.line1.rfind(kTitles[static_cast<std::size_t>(c)], 0), 0u) << texts.line1;
        EXPECT_NE(texts.line1.find("360x240"), std::string::npos) << texts.line1;
        EXPECT_EQ(texts.line2.rfind("LIVE  ", 0), 0u) << texts.line2;
    }
    // The frame-rate timer runs every 2 s: once a whole period had pictures, the rate is
    // that of the recorder (10 pictures per second).
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Views().Channel(0).frameRate >= 8; }, 6000))
        << m_window->Views().Channel(0).frameRate;
    EXPECT_LE(m_window->Views().Channel(0).frameRate, 12);
}

TEST_F(MainWindowTest, EveryLayoutChangeSendsTheVisibleChannels) {
    StartConnected();
    Press(321);  // 4 panes, page 1
    EXPECT_TRUE(LastRequestIs(0x000F));
    Press(321);  // the same button again: page 2
    EXPECT_TRUE(LastRequestIs(0x00F0));
    Press(305);  // channel 6 alone
    EXPECT_TRUE(LastRequestIs(0x0020));
    EXPECT_EQ(m_window->Button(305)->Check(), 1);
    EXPECT_EQ(m_window->Button(321)->Check(), 0);
    Press(328);  // 16 panes
    EXPECT_TRUE(LastRequestIs(0xFFFF));
    EXPECT_EQ(m_window->Button(328)->Check(), 1);

    // Double click on a pane zooms to its channel, a second one goes back.
    auto* grid = m_window->Grid();
    const QPoint third = grid->PaneRect(2).center();
    QTest::mouseDClick(grid, Qt::LeftButton, {}, third);
    EXPECT_TRUE(LastRequestIs(0x0004));
    QTest::mouseDClick(grid, Qt::LeftButton, {}, grid->PaneRect(2).center());
    EXPECT_TRUE(LastRequestIs(0xFFFF));
    Press(371);  // Arrange: every slot shows its own channel again, the same set stays
    EXPECT_EQ(grid->Layout().ChannelOfSlot(5), 5);

    // Full screen: the toolbar's 4-pane button reaches the recorder, Escape comes back.
    Press(329);
    ASSERT_TRUE(grid->IsFullScreen());
    auto* four = grid->Toolbar()->findChild<QWidget*>(QStringLiteral("toolbar401"));
    ASSERT_NE(four, nullptr);
    QTest::mouseClick(four, Qt::LeftButton);
    EXPECT_TRUE(LastRequestIs(0x000F));
    QTest::keyClick(grid, Qt::Key_Escape);
    EXPECT_FALSE(grid->IsFullScreen());
    EXPECT_EQ(grid->geometry(), QRect(54, 67, 820, 594));

    // The OSD button cycles full, title only, off, statistics.
    for (const int mode : {1, 2, 3, 0}) {
        Press(370);
        EXPECT_EQ(m_window->Views().OsdMode(), mode);
    }
}

// The recorder sends the sound of channels 2 and 3 (of those watched). A channel button
// showing one of them alone, or a double click zooming to it, hears that channel at once
// and its pane's icon says so.
TEST_F(MainWindowTest, ShowingAChannelWithSoundAloneHearsIt) {
    sim::SimConfig config;
    config.audio_channels = 0x0006;
    config.audio_on_at_start = true;
    StartConnected(config);
    client::CConnection* connection = m_window->Shell().Connection();
    ASSERT_NE(connection, nullptr);
    const auto heard = [&] { return connection->Audio().Selection().Selected(); };
    const auto icon = [&](int c) {
        const auto& view = m_window->Views().Channel(c);
        std::lock_guard lock(view.lock);
        return view.audioIcon;
    };
    // Every channel known, then 16 panes and the sound of both channels arriving (each
    // alone press below first waits until the recorder sends that channel alone, so the
    // mask of both is that of the 16 panes, not one still in flight from before).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Grid()->Layout().AvailableChannels() == 0xFFFFu; }, 5000));
    const auto allPanes = [&] {
        Press(328);
        return QTest::qWaitFor([&] { return connection->State().LastAudioMask() == 0x0006u; },
                               5000);
    };
    for (const int channel : {2, 1, 2}) {
        ASSERT_TRUE(allPanes());
        Press(static_cast<std::uint32_t>(video::kChannelButtonFirst + channel));
        EXPECT_TRUE(QTest::qWaitFor([&] { return heard() == channel; }, 2000))
            << "channel " << channel + 1 << " alone: " << heard() << " heard";
        EXPECT_EQ(icon(channel), 0) << "the pane shows it is heard";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return connection->State().LastAudioMask() == 1u << channel; }, 5000));
    }
    ASSERT_TRUE(allPanes());
    QTest::mouseDClick(m_window->Grid(), Qt::LeftButton, {},
                       m_window->Grid()->PaneRect(1).center());
    EXPECT_EQ(heard(), 1) << "channel 2 zoomed";
}

// Yellow statistics text inside `area` of the grid's picture.
int StatisticsPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 200 && c.green() > 200 && c.blue() < 90 ? 1 : 0;
        }
    return count;
}

TEST_F(MainWindowTest, KeysSwitchLayoutsPagesFullScreenAndTheStatistics) {
    StartConnected();
    auto* grid = m_window->Grid();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    // The keys act in the active window: on a busy machine the window manager can take
    // activation away during the waits below, so each key makes sure of it first.
    const auto key = [this](Qt::Key k) {
        if (!m_window->isActiveWindow()) {
            m_window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()))
                << (QApplication::activeWindow()
                        ? QApplication::activeWindow()->metaObject()->className()
                        : "no active window");
        }
        QTest::keyClick(m_window.get(), k);
    };

    // A layout key is its button: 4 panes, sent to the recorder, the button shown down.
    key(Qt::Key_2);
    EXPECT_TRUE(LastRequestIs(0x000F));
    EXPECT_EQ(m_window->Button(321)->Check(), 1);
    // Page Down pages on like the button pressed again; Page Up goes back and wraps round.
    key(Qt::Key_PageDown);
    EXPECT_TRUE(LastRequestIs(0x00F0));
    key(Qt::Key_PageUp);
    EXPECT_TRUE(LastRequestIs(0x000F));
    key(Qt::Key_PageUp);
    EXPECT_TRUE(LastRequestIs(0xF000));
    EXPECT_EQ(grid->Layout().Page(), 3);
    key(Qt::Key_9);
    EXPECT_TRUE(LastRequestIs(0xFFFF));

    // The statistics key: the mode, figures at the recorder's rate (10 a second), and the
    // lines on the panes.
    key(Qt::Key_I);
    EXPECT_EQ(m_window->Views().OsdMode(), video::kOsdStatistics);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const video::ChannelStats& s = grid->Statistics()[0];
            return s.receivedFps >= 7 && s.shownFps > 0 && s.kbps > 0 && s.decodeMs > 0;
        },
        8000))
        << grid->Statistics()[0].receivedFps;
    EXPECT_LE(grid->Statistics()[0].receivedFps, 14.0);
    EXPECT_LE(grid->Statistics()[0].shownFps, 14.0);
    const QRect pane = grid->PaneRect(0);
    const QRect statsArea(pane.left() + 6, pane.top() + 24, pane.width() - 12, 60);
    EXPECT_GT(StatisticsPixels(grid->GrabPanes(), statsArea), 30);
    key(Qt::Key_I);  // back to the mode it replaced
    EXPECT_EQ(m_window->Views().OsdMode(), video::kOsdFull);
    EXPECT_EQ(StatisticsPixels(grid->GrabPanes(), statsArea), 0);

    // F11 enters full screen, and in full screen (the grid's own window) leaves it again.
    key(Qt::Key_F11);
    ASSERT_TRUE(grid->IsFullScreen());
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid));
    // The toolbar shows when the pointer reaches the bottom edge and hides again when it
    // goes back over the panes.
    QWidget* toolbar = grid->Toolbar();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_FALSE(toolbar->isVisible());
    QTest::mouseMove(grid, grid->mapFromGlobal(toolbar->geometry().center()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return toolbar->isVisible(); }, 2000));
    QTest::mouseMove(grid, grid->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !toolbar->isVisible(); }, 2000))
        << "the toolbar stays over the bottom row";
    QTest::keyClick(grid, Qt::Key_F11);
    EXPECT_FALSE(grid->IsFullScreen());
    EXPECT_EQ(grid->geometry(), QRect(54, 67, 820, 594));

    // F1: the About dialog lists every key of the table.
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    key(Qt::Key_F1);
    auto* about = m_window->findChild<CAboutDlg*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->KeyRows().size(), static_cast<qsizetype>(KeyBindings().size()));
    // Which renderer draws: on software OpenGL (no renderer chosen) the RGB one, and why.
    EXPECT_EQ(about->RendererLine(), grid->RendererText());
    const video::ui::OpenGlProbe& gl = video::ui::ProbeOpenGl();
    EXPECT_EQ(grid->Renderer(), gl.usable && !gl.software ? video::ui::RendererKind::Yuv
                                                          : video::ui::RendererKind::Rgb)
        << gl.renderer.toStdString();
    EXPECT_TRUE(
        about->KeyRows().contains(QStringLiteral("F11\tfull screen on / off (Esc also leaves)")))
        << about->KeyRows().join(QLatin1Char('\n')).toStdString();
    about->accept();
}

TEST_F(MainWindowTest, VersionAndRefusedRightsShowTheirPopups) {
    m_user = "guard";
    m_password = "pw";
    sim::SimConfig config;
    sim::SimUser guard;
    guard.name = "guard";
    guard.password = "pw";
    guard.rights.fill(0);
    guard.rights[6] = guard.rights[8] = 1;
    config.users = {guard};
    config.account = 1;
    StartConnected(config);
    QTest::qWait(300);  // the user lists arrive after the login

    QStringList lines;
    taviro::testing::WhenModal<notify::ui::CNotifyPopup>([&](notify::ui::CNotifyPopup* popup) {
        lines = popup->Lines();
        Click(popup->Button(notify::ui::kIdPopupConfirm));
    });
    Press(375);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lines.isEmpty(); }, 3000));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Program Version");
    const auto v = m_window->ProgramVersion();
    EXPECT_EQ(lines[1], QString(" %1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]));

    for (const std::uint32_t id : {344u, 355u, 361u, 362u, 374u, 376u}) {
        SCOPED_TRACE(id);
        lines.clear();
        taviro::testing::WhenModal<notify::ui::CNotifyPopup>([&](notify::ui::CNotifyPopup* popup) {
            lines = popup->Lines();
            Click(popup->Button(notify::ui::kIdPopupConfirm));
        });
        Press(id);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !lines.isEmpty(); }, 3000));
        EXPECT_EQ(lines, QStringList{platform::ui::Skin().Text(5093)});
        EXPECT_EQ(m_window->Button(id)->Check(), 0) << "a refused button stays unlit";
    }
    const auto journal = m_recorder->Journal();
    EXPECT_TRUE(std::none_of(journal.begin(), journal.end(), [](const sim::JournalEntry& e) {
        return e.dir == sim::JournalDir::Rx && e.code == protocol::msg::REC_ON_REQ;
    }));
}

TEST_F(MainWindowTest, AudioWithoutASoundDeviceAndCommandsWithoutARecorderSayWhy) {
    StartConnected();  // this window has no sound output device
    const auto popupLines = [this](std::uint32_t id) {
        QStringList lines;
        taviro::testing::WhenModal<notify::ui::CNotifyPopup>([&](notify::ui::CNotifyPopup* popup) {
            lines = popup->Lines();
            Click(popup->Button(notify::ui::kIdPopupConfirm));
        });
        Press(id);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !lines.isEmpty(); }, 3000)) << id;
        return lines.join('|');
    };
    EXPECT_TRUE(popupLines(378).contains("No sound output device")) << "Audio";
    // Disconnected by the user: no "connection has ended", and RSearch says there is no
    // recorder instead of a missing permission.
    Press(360);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return m_window->Shell().State() == ConnectionState::kNone; }, 8000));
    QTest::qWait(200);
    EXPECT_EQ(m_window->Presenter().Current(), nullptr) << "a note after the user's disconnect";
    EXPECT_TRUE(popupLines(361).contains("No recorder is connected")) << "RSearch";
}

TEST_F(MainWindowTest, LiveButtonStopsAndRestartsAndQuitEndsInOrder) {
    StartConnected();
    Press(369);  // live off
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->Shell().LiveRunning(); }, 3000));
    // The lamp goes out when the session reports live view stopped, not on the click.
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_window->Button(369)->Check() == 0; }, 3000));
    Press(369);  // on again
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Button(369)->Check() == 1; }, 3000));
    Press(365);  // quit: the shutdown runs on the connection's worker, the window closes after
    EXPECT_EQ(m_window->StateText(), QStringLiteral("Closing\u2026"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->isVisible(); }, 5000));
    EXPECT_FALSE(m_window->Shell().HasSession());
    ASSERT_TRUE(m_recorder->WaitForJournal(
        [](const std::vector<sim::JournalEntry>& entries) {
            return std::any_of(entries.begin(), entries.end(), [](const sim::JournalEntry& e) {
                return e.dir == sim::JournalDir::Rx && e.code == protocol::msg::BYE;
            });
        },
        3s));
    std::vector<int> codes;
    for (const auto& e : m_recorder->Journal())
        if (e.dir == sim::JournalDir::Rx)
            codes.push_back(e.code);
    const auto lastStop = std::find(codes.rbegin(), codes.rend(), protocol::msg::LIVE_STOP);
    const auto bye = std::find(codes.rbegin(), codes.rend(), protocol::msg::BYE);
    ASSERT_NE(lastStop, codes.rend());
    EXPECT_GT(lastStop - codes.rbegin(), bye - codes.rbegin());
}

TEST_F(MainWindowTest, AVideoLostChannelShowsTheVideoLossPictureAndTheOthersMove) {
    sim::SimConfig config;
    config.video_loss = 0x8000;  // channel 16
    StartConnected(config);
    auto* grid = m_window->Grid();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->PicturesDrawn(14) >= 3; }, 8000));
    const auto plans = grid->Plan();
    const auto lost = std::find_if(plans.begin(), plans.end(),
                                   [](const video::ui::PanePlan& p) { return p.channel == 15; });
    ASSERT_NE(lost, plans.end());
    EXPECT_EQ(lost->kind, video::ui::PaneKind::VideoLoss);
    EXPECT_EQ(grid->PicturesDrawn(15), 0u);
    const auto moving = std::find_if(plans.begin(), plans.end(),
                                     [](const video::ui::PanePlan& p) { return p.channel == 14; });
    ASSERT_NE(moving, plans.end());
    EXPECT_EQ(moving->kind, video::ui::PaneKind::Picture);
}

TEST_F(MainWindowTest, PlayerModeAsksForNoRecorderAndWritesNoFiles) {
    ShellOptions options;
    options.playerMode = true;
    options.quitPause = 5ms;
    m_window = std::make_unique<CClientDlg>(m_sink, *m_settings, Branding{}, options);
    m_window->show();
    m_window->Initialise();  // would block in the connect dialog outside player mode
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    Press(360);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(m_window->Shell().HasSession());
    m_window->Quit();
    EXPECT_FALSE(std::filesystem::exists(m_dir / "store" / "Upgrade"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "store" / "Log" / "m7400.log"));
}

// The program's own screenshot (the demo's picture) shows what the screen shows: with the
// OpenGL renderer too, every pane's title line lies over its picture.
TEST_F(MainWindowTest, ScreenshotShowsTheOsdOfEveryPaneWithTheOpenGlRenderer) {
    // Pictures arrive faster than the panes repaint whole: the partial updates that used to
    // leave panes without their titles in a grab of the window. The operator chose YUV
    // drawing, which then runs on software OpenGL too.
    m_settings->SetInt(setup_key::kDrawModeChosen, 1);
    StartConnected({}, true);
    auto* grid = m_window->Grid();
    ASSERT_EQ(grid->Renderer(), video::ui::RendererKind::Yuv) << "this display has no OpenGL";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 16; ++c)
                if (grid->PicturesDrawn(c) < 2)
                    return false;
            return true;
        },
        8000));
    const QImage shot = m_window->Screenshot();
    ASSERT_EQ(shot.size(), m_window->size() * shot.devicePixelRatio());
    const auto isTitleGreen = [](QColor c) {
        return c.green() > 180 && c.red() < 90 && c.blue() < 90;
    };
    const QPoint origin = grid->Surface()->mapTo(m_window.get(), QPoint(0, 0));
    for (int slot = 0; slot < 16; ++slot) {
        const QRect pane = grid->PaneRect(slot).translated(origin);
        const QRect titleBand(pane.left(), pane.top(), pane.width(), 26);
        int green = 0;
        for (int y = titleBand.top(); y <= titleBand.bottom(); ++y)
            for (int x = titleBand.left(); x <= titleBand.right(); ++x)
                green += isTitleGreen(shot.pixelColor(x, y)) ? 1 : 0;
        EXPECT_GT(green, 30) << "pane " << slot << " has no title in the screenshot";
    }
}

// Pictures of the main views. They go to $TAVIRO_SCREENSHOT_DIR when it is set (that is how
// docs/screenshots is made); the test checks every time that each view shows what it must.
class MainWindowScreens : public MainWindowTest {
  protected:
    // The screen around the main window: popups and dialogs are windows of their own.
    QImage Screen() const {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect r = m_window->frameGeometry().adjusted(-20, -20, 20, 20);
        return screen->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
    }
    void Keep(const QImage& image, const char* name) const {
        ASSERT_FALSE(image.isNull()) << name;
        const QString dir = qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            EXPECT_TRUE(image.save(dir + "/" + name)) << name;
        }
    }
};

TEST_F(MainWindowScreens, LiveLayoutsPopupAndConnectDialog) {
    StartConnected();
    auto* grid = m_window->Grid();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 16; ++c)
                if (grid->PicturesDrawn(c) < 2 || m_window->Views().Channel(c).frameRate == 0)
                    return false;
            return true;
        },
        8000));
    const QImage sixteen = m_window->Screenshot();
    // A pane shows its picture, not the idle picture's dark background.
    const QRect pane = grid->PaneRect(0).translated(grid->pos());
    EXPECT_GT(qGray(sixteen.pixel(pane.center())), 40);
    Keep(sixteen, "main-16-pane.png");

    std::array<std::uint64_t, 4> before{};
    for (int c = 0; c < 4; ++c)
        before[static_cast<std::size_t>(c)] = grid->PicturesDrawn(c);
    Press(321);
    ASSERT_TRUE(LastRequestIs(0x000F));
    // The recorder restarts the four streams; they show again from their next key frame.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 4; ++c)
                if (grid->PicturesDrawn(c) < before[static_cast<std::size_t>(c)] + 3)
                    return false;
            return true;
        },
        8000));
    Keep(m_window->Screenshot(), "main-4-pane.png");

    Press(328);
    QImage popup;
    taviro::testing::WhenModal<notify::ui::CNotifyPopup>([&](notify::ui::CNotifyPopup* shown) {
        QTest::qWait(200);
        popup = Screen();
        Click(shown->Button(notify::ui::kIdPopupConfirm));
    });
    Press(375);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !popup.isNull(); }, 3000));
    Keep(popup, "popup-version.png");

    // The connect dialog as the operator sees it after Disconnect and Connect. The user's
    // own disconnect is no news: no "connection has ended".
    QSignalSpy done(m_window.get(), &CClientDlg::NotificationDone);
    Press(360);
    EXPECT_EQ(m_window->StateText(), QStringLiteral("Disconnecting\u2026"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->Shell().HasSession(); }, 5000));
    EXPECT_EQ(done.count(), 0);
    EXPECT_EQ(m_window->Presenter().Current(), nullptr);
    EXPECT_TRUE(m_window->StateText().isEmpty());
    QImage dialog;
    taviro::testing::WhenModal<connect::ui::CConnectDlg>([&](connect::ui::CConnectDlg* shown) {
        QTest::qWait(200);
        dialog = Screen();
        shown->reject();
    });
    Press(360);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isNull(); }, 3000));
    Keep(dialog, "connect-dialog.png");
}

}  // namespace
}  // namespace taviro::app::ui
