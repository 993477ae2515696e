// The main window with three recorders of four channels each (taviro --connect given three
// times): their twelve channels in one grid, recorder 1's first; each recorder asked for
// exactly its part of the panes shown; one recorder lost and coming back while the other
// two keep playing.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "app/ui/client_dlg.h"
#include "audio/audio_selection.h"
#include "client/site_views.h"
#include "client/ui/recorder_panel.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_button_widget.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/catalogue.h"
#include "recordings/ui/search_window.h"
#include "sim/recorder_sim.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/timeline_page.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

using namespace std::chrono_literals;

constexpr int kRecorders = 3;
constexpr int kChannels = 4;

// Passwords the desktop keeps, by recorder port.
struct CPortSecrets final : platform::ISecretStore {
    explicit CPortSecrets(std::map<int, std::string> kept) : passwords(std::move(kept)) {}
    bool Available() override { return true; }
    bool Store(const platform::SecretKey& key, const std::string& password, std::string&) override {
        passwords[key.port] = password;
        return true;
    }
    std::optional<std::string> Lookup(const platform::SecretKey& key) override {
        const auto found = passwords.find(key.port);
        return found != passwords.end() ? std::optional(found->second) : std::nullopt;
    }
    bool Clear(const platform::SecretKey& key) override {
        passwords.erase(key.port);
        return true;
    }
    std::map<int, std::string> passwords;
};

// Chooses the pane menu's entries that `path` names, as the operator clicks them (a
// submenu first).
void ChooseInMenu(QStringList path, int tries = 300) {
    QTimer::singleShot(10, qApp, [path, tries]() mutable {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QAction* action = nullptr;
        for (QAction* a : menu != nullptr ? menu->actions() : QList<QAction*>())
            if (a->text() == path.front())
                action = a;
        if (action == nullptr) {
            if (tries > 0)
                ChooseInMenu(path, tries - 1);
            return;
        }
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        path.pop_front();
        if (!path.isEmpty())
            ChooseInMenu(path);
    });
}

class SiteWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        taviro::testing::LoadSkinOnce();
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-site-window-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_settings = std::make_unique<platform::ui::CQSettingsStore>(
            QString::fromStdString((m_dir / "settings.ini").string()));
        m_settings->SetString("LocalSetup/Location", (m_dir / "store").string());
    }
    void TearDown() override {
        m_window.reset();
        for (auto& recorder : m_recorders)
            recorder.reset();
        std::filesystem::remove_all(m_dir);
    }

    // A small live recorder: four channels of 352 x 240 at ten pictures a second.
    static sim::SimConfig RecorderConfig() {
        sim::SimConfig config;
        config.channels = kChannels;
        config.live_stream = true;
        config.live_width = 352;
        config.live_height = 240;
        config.live_fps = 10;
        config.live_gop = 10;
        return config;
    }

    // Three recorders, `configure` changing each one's settings (by 0-based place), and
    // the window connected to all three (and, with `waitForAll`, every one live).
    void StartSite(const std::function<void(int, sim::SimConfig&)>& configure = {},
                   bool waitForAll = true) {
        for (int r = 0; r < kRecorders; ++r) {
            sim::SimConfig config = RecorderConfig();
            config.push_records = true;
            config.titles = {"Gate " + std::to_string(r + 1), "Yard", "Hall", "Dock"};
            if (configure)
                configure(r, config);
            m_recorders[static_cast<std::size_t>(r)] = std::make_unique<sim::CRecorderSim>(config);
            ASSERT_TRUE(m_recorders[static_cast<std::size_t>(r)]->Start());
        }
        MakeWindow();
        std::vector<ConnectRequest> more;
        for (int r = 1; r < kRecorders; ++r)
            more.push_back(ConnectRequest{"127.0.0.1", Recorder(r).Port(), "admin", "1234"});
        m_window->Initialise(ConnectRequest{"127.0.0.1", Recorder(0).Port(), "admin", "1234"},
                             more);
        if (waitForAll) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return AllLive(); }, 10'000));
        }
    }

    // The window, its passwords kept in `secrets` (none: no secret service answers).
    void MakeWindow(std::map<int, std::string> secrets = {}) {
        ShellOptions options;
        options.quitPause = 5ms;
        options.reconnectUnit = 100ms;
        options.secretStore = [secrets] { return std::make_unique<CPortSecrets>(secrets); };
        m_window = std::make_unique<CClientDlg>(m_sink, *m_settings, Branding{}, options);
        m_window->show();
    }
    void PaneMenu(int slot, const QStringList& path) {
        ChooseInMenu(path);
        video::ui::CChannelGrid* grid = m_window->Grid();
        const QPoint at = grid->PaneRect(slot).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, grid->mapToGlobal(at));
        QApplication::sendEvent(grid, &click);
    }

    // A channel of the recorder panel dragged onto the grid's first pane; false when the
    // grid refused the drag.
    bool DropOnFirstPane(int recorderId, int channel) {
        client::ui::CRecorderPanel* panel = m_window->SitePanel();
        std::unique_ptr<QMimeData> mime(panel->Tree()->model()->mimeData(
            {panel->Tree()->indexFromItem(panel->ChannelItem(recorderId, channel))}));
        if (mime == nullptr)
            return false;
        video::ui::CChannelGrid* grid = m_window->Grid();
        const QPoint first = grid->PaneRect(0).center();
        QDragEnterEvent enter(first, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
        QApplication::sendEvent(grid, &enter);
        QDropEvent drop(first, Qt::MoveAction, mime.get(), Qt::LeftButton, {});
        QApplication::sendEvent(grid, &drop);
        return enter.isAccepted();
    }

    sim::CRecorderSim& Recorder(int place) { return *m_recorders[static_cast<std::size_t>(place)]; }
    bool AllLive() {
        const client::CSite& site = m_window->Shell().Site();
        if (site.Count() != kRecorders)
            return false;
        for (int i = 0; i < site.Count(); ++i)
            if (!site.At(i)->LoggedIn() || !site.At(i)->Connection()->LiveRunning())
                return false;
        return m_window->Grid()->Site().Count() == kRecorders * kChannels;
    }
    // Every pane of these grid channels has drawn at least `pictures` more pictures.
    bool Drawn(int first, int last, std::uint64_t pictures) {
        std::vector<std::uint64_t> base;
        for (int c = first; c <= last; ++c)
            base.push_back(m_window->Grid()->PicturesDrawn(c));
        return QTest::qWaitFor(
            [&] {
                for (int c = first; c <= last; ++c)
                    if (m_window->Grid()->PicturesDrawn(c) <
                        base[static_cast<std::size_t>(c - first)] + pictures)
                        return false;
                return true;
            },
            8'000);
    }
    // The last LIVE_REQ mask a recorder received.
    std::optional<std::uint32_t> LastRequest(int place) {
        std::optional<std::uint32_t> mask;
        for (const auto& e : Recorder(place).Journal())
            if (e.dir == sim::JournalDir::Rx && e.code == protocol::msg::LIVE_REQ &&
                e.payload.size() == 4)
                mask = static_cast<std::uint32_t>(e.payload[2]) << 8 | e.payload[3];
        return mask;
    }
    bool RequestsAre(std::array<std::uint32_t, kRecorders> masks) {
        return QTest::qWaitFor(
            [&] {
                for (int r = 0; r < kRecorders; ++r)
                    if (LastRequest(r) != masks[static_cast<std::size_t>(r)])
                        return false;
                return true;
            },
            5'000);
    }

    std::filesystem::path m_dir;
    std::unique_ptr<platform::ui::CQSettingsStore> m_settings;
    platform::ui::CQtMessageSink m_sink;
    std::array<std::unique_ptr<sim::CRecorderSim>, kRecorders> m_recorders;
    std::unique_ptr<CClientDlg> m_window;
};

TEST_F(SiteWindowTest, ThreeRecordersShareOneGridAndEachIsAskedForItsPanes) {
    StartSite();
    video::ui::CChannelGrid* grid = m_window->Grid();
    // Recorder 1's channels, then recorder 2's, then recorder 3's, each drawing pictures.
    for (int r = 0; r < kRecorders; ++r)
        EXPECT_EQ(grid->Site().Offset(m_window->Shell().Site().IdAt(r)), r * kChannels);
    ASSERT_TRUE(Drawn(0, kRecorders * kChannels - 1, 2));
    ASSERT_TRUE(RequestsAre({0xF, 0xF, 0xF}))
        << LastRequest(0).value_or(99) << " " << LastRequest(1).value_or(99) << " "
        << LastRequest(2).value_or(99);
    // The panes name their recorders, and none says it is away.
    const video::GridStatus status = grid->Status();
    ASSERT_EQ(status.recorders.size(), 3u);
    for (const auto& recorder : status.recorders)
        EXPECT_TRUE(recorder.connected && recorder.state.empty()) << recorder.name;
    if (!qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR").isEmpty())
        m_window->Screenshot().save(qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR") +
                                    "/site-three-recorders.png");

    // A click on a pane of recorder 2 makes it the recorder the window's services act on:
    // the title strip names it and the channel buttons are its channels.
    const int channel = kChannels + 2;
    const QPoint centre = grid->PaneRect(grid->Layout().SlotOfChannel(channel)).center();
    QTest::mouseClick(grid, Qt::LeftButton, {}, centre);
    EXPECT_EQ(m_window->Shell().SelectedRecorder(), m_window->Shell().Site().IdAt(1));
    const QString line = m_window->StateText();
    EXPECT_TRUE(line.startsWith(QStringLiteral("[2/3]")) &&
                line.contains(QStringLiteral("127.0.0.1:%1").arg(Recorder(1).Port())))
        << line.toStdString();
    taviro::testing::Click(m_window->Button(301));
    ASSERT_TRUE(RequestsAre({0x0, 0x2, 0x0}));
    taviro::testing::Click(m_window->Button(328));  // back to 16 panes
    ASSERT_TRUE(RequestsAre({0xF, 0xF, 0xF}));

    // A double click on recorder 2's third channel shows it alone: only recorder 2 is asked
    // for a picture, for that channel; the others are asked for none.
    QTest::mouseDClick(grid, Qt::LeftButton, {}, centre);
    ASSERT_TRUE(RequestsAre({0x0, 0x4, 0x0}));
    ASSERT_TRUE(Drawn(channel, channel, 3));
    // Back to every pane: every recorder streams its channels again.
    QTest::mouseDClick(grid, Qt::LeftButton, {},
                       grid->PaneRect(grid->Layout().SlotOfChannel(channel)).center());
    ASSERT_TRUE(RequestsAre({0xF, 0xF, 0xF}));
    EXPECT_TRUE(Drawn(0, kRecorders * kChannels - 1, 2));

    // The recorder panel came up by itself with the second recorder, a row per recorder
    // with its channels under it.
    client::ui::CRecorderPanel* panel = m_window->SitePanel();
    ASSERT_TRUE(panel->isVisible());
    const int third = m_window->Shell().Site().IdAt(2);
    ASSERT_NE(panel->RecorderItem(third), nullptr);
    EXPECT_TRUE(panel->RecorderItem(third)->text(0).contains(QStringLiteral("Live")))
        << panel->RecorderItem(third)->text(0).toStdString();
    QTreeWidgetItem* yard = panel->ChannelItem(third, 1);
    ASSERT_NE(yard, nullptr);
    EXPECT_TRUE(yard->text(0).startsWith(QStringLiteral("CH2  Yard")))
        << yard->text(0).toStdString();
    // A double click on recorder 3's second channel shows it alone and chooses recorder 3.
    QWidget* rows = panel->Tree()->viewport();
    QTest::mouseClick(rows, Qt::LeftButton, {}, panel->Tree()->visualItemRect(yard).center());
    QTest::mouseDClick(rows, Qt::LeftButton, {}, panel->Tree()->visualItemRect(yard).center());
    ASSERT_TRUE(RequestsAre({0x0, 0x0, 0x2}));
    EXPECT_EQ(m_window->Shell().SelectedRecorder(), third);
    taviro::testing::Click(m_window->Button(328));
    ASSERT_TRUE(RequestsAre({0xF, 0xF, 0xF}));
    // Recorder 3's fourth channel dragged onto the first pane: that pane shows it.
    ASSERT_TRUE(DropOnFirstPane(third, 3));
    EXPECT_EQ(grid->Layout().ChannelOfSlot(0), 2 * kChannels + 3);
    EXPECT_TRUE(Drawn(2 * kChannels + 3, 2 * kChannels + 3, 2));
}

TEST_F(SiteWindowTest, OneRecorderLostAndComingBackWhileTheOthersPlayOn) {
    // Recorder 2 drops its first connection once live view runs.
    StartSite([](int place, sim::SimConfig& config) {
        if (place == 1)
            config.drop_after = std::chrono::milliseconds(2'500);
    });
    video::ui::CChannelGrid* grid = m_window->Grid();
    const auto lostPanes = [&] {
        int lost = 0;
        for (const auto& plan : grid->Plan())
            if (plan.kind == video::ui::PaneKind::Lost)
                lost |= 1 << plan.channel;
        return lost;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return lostPanes() != 0; }, 8'000));
    EXPECT_EQ(lostPanes(), 0xF0) << "recorder 2's four panes";
    const auto& away = grid->Status().recorders.at(1);
    EXPECT_FALSE(away.connected);
    EXPECT_FALSE(away.state.empty());
    // The other recorders keep painting while recorder 2 is away.
    EXPECT_TRUE(Drawn(0, kChannels - 1, 3));
    EXPECT_TRUE(Drawn(2 * kChannels, 3 * kChannels - 1, 3));
    // It comes back by itself, into the same panes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return AllLive() && lostPanes() == 0; }, 15'000));
    EXPECT_TRUE(Drawn(kChannels, 2 * kChannels - 1, 2));
    EXPECT_EQ(LastRequest(1), 0xFu);
}

TEST_F(SiteWindowTest, RemotePlaybackOnOneRecorderWhileTheOthersStayLive) {
    StartSite();
    video::ui::CChannelGrid* grid = m_window->Grid();
    const auto modeOf = [&](int channel) {
        for (const auto& plan : grid->Plan())
            if (plan.channel == channel)
                return plan.mode;
        return video::ViewMode::Idle;
    };
    // Recorder 2 chosen by a click on its pane; its search plays the morning of the 12th.
    QTest::mouseClick(grid, Qt::LeftButton, {},
                      grid->PaneRect(grid->Layout().SlotOfChannel(kChannels)).center());
    ASSERT_EQ(m_window->Shell().SelectedRecorder(), m_window->Shell().Site().IdAt(1));
    taviro::testing::Click(m_window->Button(361));
    auto* search = m_window->SearchWindow();
    ASSERT_NE(search, nullptr);
    // The search window says which recorder it is about.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return search->windowTitle().endsWith(
                QStringLiteral("127.0.0.1:%1").arg(Recorder(1).Port()));
        },
        2000))
        << search->windowTitle().toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return search->PlayCalendar() && search->CurrentPage() == search->PlayCalendar(); },
        5000));
    search->PlayCalendar()->ShowMonth(2010, 9);
    QTest::mouseClick(search->PlayCalendar()->DayButton(11), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return search->PlayDay() && search->CurrentPage() == search->PlayDay(); }, 5000));
    QTest::mouseClick(search->PlayDay(), Qt::LeftButton, {},
                      QPoint(timeline::kTimelineLeft + 96, 100));
    QTest::mouseClick(search->PlayDay()->PlayButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == protocol::kGridPlayback; }, 8000));

    // Recorder 2's panes play back; recorders 1 and 3 stay live and keep painting.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return modeOf(kChannels) == video::ViewMode::RemotePlayback; }, 8000));
    EXPECT_EQ(modeOf(0), video::ViewMode::Live);
    EXPECT_EQ(modeOf(2 * kChannels), video::ViewMode::Live);
    EXPECT_TRUE(Drawn(kChannels, kChannels + 3, 3));
    EXPECT_TRUE(Drawn(0, kChannels - 1, 3));
    EXPECT_TRUE(Drawn(2 * kChannels, 3 * kChannels - 1, 3));
    EXPECT_TRUE(Recorder(0).Journal().size() > 0);
    for (int r : {0, 2})
        for (const auto& e : Recorder(r).Journal())
            EXPECT_FALSE(e.dir == sim::JournalDir::Rx && e.code == protocol::msg::LIVE_STOP)
                << "recorder " << r + 1 << " was not asked to stop live view";

    // Stop: recorder 2 is live again, in its own panes.
    taviro::testing::Click(m_window->Button(345));
    ASSERT_TRUE(QTest::qWaitFor([&] { return modeOf(kChannels) == video::ViewMode::Live; }, 8000));
    ASSERT_TRUE(RequestsAre({0xF, 0xF, 0xF}));
    EXPECT_TRUE(Drawn(0, 3 * kChannels - 1, 2));
}

TEST_F(SiteWindowTest, ARefusingAndAStallingRecorderLeaveTheOthersPlaying) {
    // Recorder 2 does not know the user's password; recorder 3 stops in the middle of a
    // message a second after the log-in and sends nothing more.
    StartSite(
        [](int place, sim::SimConfig& config) {
            if (place == 1)
                config.users = {sim::SimUser{"admin", "other", {1, 1, 1, 1, 1, 1, 1, 1, 1}}};
            if (place == 2) {
                config.stall_mid_payload = true;
                config.fault_delay = std::chrono::milliseconds(1'000);
            }
        },
        false);
    const client::CSite& site = m_window->Shell().Site();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return site.Count() == kRecorders && site.At(0)->LoggedIn() && site.At(2)->LoggedIn();
        },
        10'000));
    // The refusal is recorder 2's alone: the panel says so, and the grid holds the channels
    // of the two that logged in, recorder 1's first.
    client::ui::CRecorderPanel* panel = m_window->SitePanel();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto* row = panel->RecorderItem(site.IdAt(1));
            return row != nullptr && row->text(0).contains(QStringLiteral("Refused"));
        },
        10'000));
    video::ui::CChannelGrid* grid = m_window->Grid();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->Site().Count() == 2 * kChannels; }, 5'000));
    EXPECT_EQ(grid->Site().Offset(site.IdAt(2)), kChannels);
    // Recorder 3 has stalled: recorder 1's panes keep painting, and the window answers.
    QTest::qWait(1'500);
    EXPECT_TRUE(Drawn(0, kChannels - 1, 10));
    const auto before = std::chrono::steady_clock::now();
    taviro::testing::Click(m_window->Button(321));
    EXPECT_EQ(grid->Layout().Layout(), 1) << "the 4-pane button works";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    EXPECT_TRUE(Drawn(0, kChannels - 1, 5));
}

// The operator puts recorder 3's fourth channel on the first pane of four, saves that as
// a view and quits. The next start brings the three recorders back into it: two with the
// passwords the desktop keeps, the third asked for while its panes hold its name. The
// view is then picked again from the menu after the panes were rearranged, and deleted.
TEST_F(SiteWindowTest, TheViewInUseAtQuitComesBackAtTheNextStart) {
    StartSite();
    video::ui::CChannelGrid* grid = m_window->Grid();
    client::ui::CRecorderPanel* panel = m_window->SitePanel();
    const int third = m_window->Shell().Site().IdAt(2);
    const int yard = 2 * kChannels + 3;
    ASSERT_TRUE(Drawn(yard, yard, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->ChannelItem(third, 3) != nullptr; }, 3'000));
    ASSERT_TRUE(DropOnFirstPane(third, 3));
    taviro::testing::Click(m_window->Button(321));  // four panes
    ASSERT_EQ(grid->Layout().ChannelOfSlot(0), yard);
    ASSERT_TRUE(RequestsAre({0xE, 0x0, 0x8}));

    // Saved under a name typed into the pane menu's dialog.
    PaneMenu(1, {QStringLiteral("Views"), QStringLiteral("Save view...")});
    QInputDialog* ask = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QInputDialog*>(w); d != nullptr && d->isVisible())
                    ask = d;
            return ask != nullptr;
        },
        3'000));
    QLineEdit* name = ask->findChild<QLineEdit*>();
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Yard watch"));
    QTest::keyClick(name, Qt::Key_Return);
    const auto saved = client::ReadSavedViews(*m_settings);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].name, "Yard watch");

    // Quit by its button; the recorders and the view are remembered, no password with them.
    QSignalSpy closed(m_window.get(), &CClientDlg::Closed);
    taviro::testing::Click(m_window->Button(365));
    ASSERT_TRUE(closed.wait(10'000));
    m_window.reset();
    const QString file = QString::fromStdString((m_dir / "settings.ini").string());
    m_settings.reset();
    QFile ini(file);
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_FALSE(ini.readAll().contains("1234")) << "a password in the settings file";
    ini.close();
    m_settings = std::make_unique<platform::ui::CQSettingsStore>(file);

    // The next start: recorders 1 and 2 have their passwords kept, recorder 3 has none.
    MakeWindow({{Recorder(0).Port(), "1234"}, {Recorder(1).Port(), "1234"}});
    m_window->Initialise();
    grid = m_window->Grid();
    connect::ui::CConnectDlg* asking = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            asking = m_window->ConnectDialog();
            return asking != nullptr && asking->Edit(connect::ui::kIdPort)->text() ==
                                            QString::number(Recorder(2).Port());
        },
        10'000));
    // Meanwhile recorder 3 holds its panes, named, in the view.
    EXPECT_EQ(grid->Layout().Layout(), 1);
    EXPECT_EQ(grid->Layout().ChannelOfSlot(0), yard);
    const auto status = grid->Status();
    ASSERT_EQ(status.recorders.size(), 3u);
    EXPECT_FALSE(status.recorders[2].connected);
    EXPECT_EQ(status.recorders[2].state, "Not connected");
    QLineEdit* password = asking->Edit(connect::ui::kIdPassword);
    QTest::keyClicks(password, QStringLiteral("1234"));
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return AllLive(); }, 10'000));
    EXPECT_EQ(grid->Layout().ChannelOfSlot(0), yard);
    ASSERT_TRUE(RequestsAre({0xE, 0x0, 0x8}));
    EXPECT_TRUE(Drawn(yard, yard, 2));

    // Rearranged, then the saved view picked from the menu; then deleted.
    taviro::testing::Click(m_window->Button(video::kArrangeButton));
    ASSERT_EQ(grid->Layout().ChannelOfSlot(0), 0);
    PaneMenu(0, {QStringLiteral("Views"), QStringLiteral("Yard watch")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->Layout().ChannelOfSlot(0) == yard; }, 3'000));
    ASSERT_TRUE(RequestsAre({0xE, 0x0, 0x8}));
    PaneMenu(0, {QStringLiteral("Delete view"), QStringLiteral("Yard watch")});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return client::ReadSavedViews(*m_settings).empty(); }, 3'000));
}

// Every recorder sends the sound of its second channel. Only the selected recorder is
// heard, and only its pane carries the sound icon; a click on another recorder's pane moves
// both, so two recorders are never heard at once.
TEST_F(SiteWindowTest, OnlyTheSelectedRecorderIsHeard) {
    StartSite([](int, sim::SimConfig& config) {
        config.audio_channels = 0x0002;
        config.audio_on_at_start = true;
    });
    const client::CSite& site = m_window->Shell().Site();
    const auto icon = [&](int place) {
        const auto& view = site.At(place)->Views()->Channel(1);
        std::lock_guard lock(view.lock);
        return view.audioIcon;
    };
    const auto heard = [&](int place) {
        return m_window->Shell().Link(site.IdAt(place))->Connection()->State().AudioHeard();
    };
    const auto only = [&](int place) {
        return QTest::qWaitFor(
            [&] {
                for (int r = 0; r < kRecorders; ++r)
                    if ((icon(r) == static_cast<int>(audio::AudioIcon::kSelected)) !=
                            (r == place) ||
                        heard(r) != (r == place))
                        return false;
                return true;
            },
            5'000);
    };
    ASSERT_TRUE(only(0)) << icon(0) << icon(1) << icon(2);
    video::ui::CChannelGrid* grid = m_window->Grid();
    for (const int place : {2, 1}) {
        const int channel = place * kChannels + 3;
        QTest::mouseClick(grid, Qt::LeftButton, {},
                          grid->PaneRect(grid->Layout().SlotOfChannel(channel)).center());
        EXPECT_TRUE(only(place)) << "recorder " << place + 1 << ": " << icon(0) << icon(1)
                                 << icon(2);
    }
}

// One recorder: the arrangement in use at quit (its fourth channel alone) comes back when
// the next start connects to the same recorder.
TEST_F(SiteWindowTest, OneRecordersArrangementComesBackWhenItIsConnectedAgain) {
    m_recorders[0] = std::make_unique<sim::CRecorderSim>(RecorderConfig());
    ASSERT_TRUE(m_recorders[0]->Start());
    // Live, and channel 4 known to be sent (its button does nothing before).
    const auto live = [&] {
        const client::CSite& site = m_window->Shell().Site();
        return site.Count() == 1 && site.At(0)->LoggedIn() &&
               site.At(0)->Connection()->LiveRunning() &&
               (m_window->Grid()->Layout().AvailableChannels() & 0x8u) != 0;
    };
    const auto lastRequest = [&] { return LastRequest(0); };
    MakeWindow();
    m_window->Initialise(ConnectRequest{"127.0.0.1", Recorder(0).Port(), "admin", "1234"});
    ASSERT_TRUE(QTest::qWaitFor(live, 10'000));
    taviro::testing::Click(m_window->Button(303));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastRequest() == 0x8u; }, 5'000));
    QSignalSpy closed(m_window.get(), &CClientDlg::Closed);
    taviro::testing::Click(m_window->Button(365));
    ASSERT_TRUE(closed.wait(10'000));
    m_window.reset();

    // The next start asks for the recorder as always; the password is typed.
    MakeWindow();
    m_window->Initialise();
    connect::ui::CConnectDlg* asking = nullptr;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (asking = m_window->ConnectDialog()) != nullptr; }, 5'000));
    ASSERT_EQ(asking->Edit(connect::ui::kIdPort)->text(), QString::number(Recorder(0).Port()));
    QLineEdit* user = asking->Edit(connect::ui::kIdUser);
    user->selectAll();
    QTest::keyClicks(user, QStringLiteral("admin"));
    QLineEdit* password = asking->Edit(connect::ui::kIdPassword);
    QTest::keyClicks(password, QStringLiteral("1234"));
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(live, 10'000));
    video::ui::CChannelGrid* grid = m_window->Grid();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastRequest() == 0x8u; }, 5'000))
        << lastRequest().value_or(99);
    EXPECT_TRUE(grid->Layout().SlotVisible(grid->Layout().SlotOfChannel(3)));
    EXPECT_FALSE(grid->Layout().SlotVisible(grid->Layout().SlotOfChannel(0)));
}

}  // namespace
}  // namespace taviro::app::ui
