// The main window never waits on the network. A recorder streams live view and then stops
// reading; the client's socket send buffer is small, a settings database fills it and the
// window's own requests pile up in the session's outbox. Meanwhile a 10 ms timer measures
// how late the window's event loop runs while the operator changes layouts (each change a
// visible-channel request), opens and closes a popup, and finally quits. The loop is never
// more than 100 ms late, and the quit ends within a few seconds.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/ui/client_dlg.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_button_widget.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/catalogue.h"
#include "sim/recorder_sim.h"
#include "support/sanitizer_time.h"

namespace taviro::app::ui {
namespace {

using namespace std::chrono_literals;
using taviro::testing::Click;

// The longest time the event loop was late for a 10 ms timer while it ran.
class CLoopLatencyProbe {
  public:
    CLoopLatencyProbe() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 gap = m_clock.restart();
            m_worst = std::max(m_worst, gap - 10);
        });
    }
    void Start() {
        m_worst = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 WorstLatenessMs() const { return m_worst; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

// A window that waited on the network would be late by the send limit (seconds); work of
// its own under a sanitizer, beside another window test on the second core, is slower.
constexpr qint64 kLatenessLimitMs = 100 * taviro::testing::kSanitizerSlowdown;

TEST(MainWindowResponsive, EventLoopKeepsUpWhileTheRecorderStopsReading) {
    taviro::testing::LoadSkinOnce();
    const auto dir = std::filesystem::temp_directory_path() /
                     ("taviro-responsive-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    platform::ui::CQSettingsStore settings(QString::fromStdString((dir / "settings.ini").string()));
    settings.SetString("LocalSetup/Location", (dir / "store").string());

    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    config.live_fps = 2;  // the window has time to spare: lateness is waiting, not work
    config.stop_reading_after = 1500ms;
    config.receive_buffer = 4096;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    platform::ui::CQtMessageSink sink;
    ShellOptions options;
    options.quitPause = 5ms;
    options.sendBufferBytes = 4096;
    auto window = std::make_unique<CClientDlg>(sink, settings, Branding{}, options);
    window->show();
    QSignalSpy loggedIn(window.get(), &CClientDlg::LoggedIn);
    window->Initialise(ConnectRequest{"127.0.0.1", recorder.Port(), "admin", "1234"});
    ASSERT_TRUE(loggedIn.count() > 0 || loggedIn.wait(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Shell().LiveRunning(); }, 5000));
    QTest::qWait(1600);  // the recorder has stopped reading

    protocol::CRecorderSession& transport = window->Shell().Session()->Transport();
    const std::vector<std::uint8_t> database(60'000, 0x5A);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(transport.Send(protocol::msg::DB_UPDATE_REQ, database));

    CLoopLatencyProbe probe;
    probe.Start();
    const std::uint32_t layouts[] = {321, 328, 322, 328, 325, 328};
    for (int round = 0; round < 4; ++round) {
        for (const std::uint32_t id : layouts) {
            Click(window->Button(id));
            QTest::qWait(40);
        }
    }
    EXPECT_GT(transport.QueuedRequests(), 10u) << "the requests wait in the outbox";
    // A popup comes and goes without a loop of its own.
    Click(window->Button(375));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Presenter().Current() != nullptr; }, 2000));
    Click(window->Presenter().Current()->Button(notify::ui::kIdPopupConfirm));
    QTest::qWait(100);
    EXPECT_LT(probe.WorstLatenessMs(), kLatenessLimitMs) << "while requests piled up";
    std::printf("event loop at most %lld ms late with %zu requests waiting\n",
                static_cast<long long>(probe.WorstLatenessMs()), transport.QueuedRequests());

    // Quit: the services stop and the session shuts down on the connection's worker while
    // the window goes on; the shutdown gives the recorder at most its send limit.
    probe.Start();
    QElapsedTimer quitting;
    quitting.start();
    Click(window->Button(365));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 8000));
    EXPECT_LT(quitting.elapsed(), 6000);
    EXPECT_LT(probe.WorstLatenessMs(), kLatenessLimitMs) << "while quitting";
    std::printf("quit took %lld ms, event loop at most %lld ms late\n",
                static_cast<long long>(quitting.elapsed()),
                static_cast<long long>(probe.WorstLatenessMs()));
    EXPECT_FALSE(window->Shell().HasSession());
    window.reset();
    recorder.Stop();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace taviro::app::ui
