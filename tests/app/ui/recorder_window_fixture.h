// The main window logged in to a simulated 4-channel recorder that streams live view and
// pushes its records, for the window tests of the search window and playback. Pictures
// go to $TAVIRO_SCREENSHOT_DIR when it is set (Keep).
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/ui/client_dlg.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_style.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "sim/recorder_sim.h"

namespace taviro::app::ui {

class CRecorderWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        taviro::testing::LoadSkinOnce();
        // The program's look, so the pictures show what an operator sees.
        controls::ui::InstallSkinStyle(*qApp);
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-window-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_settings = std::make_unique<platform::ui::CQSettingsStore>(
            QString::fromStdString((m_dir / "settings.ini").string()));
        m_settings->SetString("LocalSetup/Location", (m_dir / "store").string());
        sim::SimConfig config;
        config.channels = 4;
        config.live_stream = true;
        config.live_width = 352;
        config.live_height = 240;
        config.live_fps = 10;
        config.live_gop = 10;
        config.push_records = true;  // the user's rights, which RSearch asks for
        Configure(config);
        m_recorder = std::make_unique<sim::CRecorderSim>(config);
        ASSERT_TRUE(m_recorder->Start()) << m_recorder->LastError();
        ShellOptions options;
        options.quitPause = std::chrono::milliseconds(5);
        // The disk has room for whatever the recorder names (a 2 GB backup on a small disk).
        options.freeSpace = [](const std::filesystem::path&) -> std::int64_t { return 1 << 30; };
        m_window = std::make_unique<CClientDlg>(m_sink, *m_settings, Branding{}, options);
        m_window->show();
        QSignalSpy loggedIn(m_window.get(), &CClientDlg::LoggedIn);
        m_window->Initialise(ConnectRequest{"127.0.0.1", m_recorder->Port(), "admin", "1234"});
        ASSERT_TRUE(loggedIn.count() > 0 || loggedIn.wait(5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Shell().LiveRunning(); }, 5000));
    }
    // A test's own additions to the recorder's configuration, before it starts.
    virtual void Configure(sim::SimConfig& /*config*/) {}
    void TearDown() override {
        m_window.reset();
        m_recorder.reset();
        std::filesystem::remove_all(m_dir);
    }
    void Keep(QWidget* widget, const char* name) const {
        const QString dir = qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR");
        if (!dir.isEmpty() && widget != nullptr) {
            EXPECT_TRUE(widget->grab().save(dir + "/" + name)) << name;
        }
    }
    std::vector<sim::JournalEntry> Received(int code) const {
        std::vector<sim::JournalEntry> out;
        for (const auto& e : m_recorder->Journal())
            if (e.IsRx(code))
                out.push_back(e);
        return out;
    }
    client::CConnection& Connection() { return *m_window->Shell().Connection(); }

    std::filesystem::path m_dir;
    std::unique_ptr<platform::ui::CQSettingsStore> m_settings;
    platform::ui::CQtMessageSink m_sink;
    std::unique_ptr<sim::CRecorderSim> m_recorder;
    std::unique_ptr<CClientDlg> m_window;
};

}  // namespace taviro::app::ui
