// The search window's event list, the recorder's log and the information pages in the real
// window against the simulated recorder: Search > Event > Motion > Play shows the
// recording; Log > Operation > Details decodes a setup change; Info > Status shows the
// recorder's disks and channels; a log view printed into a PDF holds its rows and footers;
// the local archive window lists the client's own log. The pictures of the pages go to
// $TAVIRO_SCREENSHOT_DIR when it is set (docs/screenshots).
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/ui/client_dlg.h"
#include "app/ui/recorder_window_fixture.h"
#include "archive/ui/archive_window.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_style.h"
#include "lists/ui/list_page.h"
#include "logs/ui/log_view_page.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/session_messages.h"
#include "recordings/ui/event_page.h"
#include "recordings/ui/search_window.h"
#include "sim/recorder_sim.h"
#include "video/pane_texts.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

using namespace std::chrono_literals;
using taviro::testing::Click;
namespace msg = protocol::msg;

// The output of a command line, or empty when it could not run.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

class SearchInfoWindowTest : public CRecorderWindowTest {
  protected:
    recordings::ui::CSearchWindow* OpenSearch() {
        Click(m_window->Button(361));
        auto* search = m_window->SearchWindow();
        EXPECT_NE(search, nullptr);
        if (search) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return search->isVisible(); }, 2000));
        }
        return search;
    }
};

TEST_F(SearchInfoWindowTest, MotionEventPlaysTheRecording) {
    auto* search = OpenSearch();
    ASSERT_NE(search, nullptr);
    search->PressEntry(recordings::SearchEntry::Event);
    auto* events = search->PlayEvents();
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(search->CurrentPage(), events);
    events->KindButton(recordings::EventKind::Motion)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events->List()->RowCount() > 0; }, 5000));
    EXPECT_TRUE(events->PageLabel()->isVisible()) << "more than one page of motion events";
    EXPECT_EQ(events->PageField()->text(), "1");
    // The selected kind's button asks nothing again; Next asks for page 2.
    events->KindButton(recordings::EventKind::Motion)->click();
    QTest::qWait(200);
    EXPECT_EQ(Received(msg::EVENT_INFO_REQ).size(), 1u);
    events->NextButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events->PageField()->text() == "2"; }, 5000));
    const auto asked = Received(msg::EVENT_INFO_REQ);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(protocol::LoadBE32(asked[1].payload.data()), 2u);
    EXPECT_EQ(protocol::LoadBE32(asked[1].payload.data() + 4), 1u);
    Keep(search, "search-events.png");

    events->List()->SelectRow(0);
    const auto chosen = events->Selected();
    ASSERT_TRUE(chosen.has_value());
    ASSERT_TRUE(events->PlayButton()->isEnabled());
    events->PlayButton()->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == protocol::kGridPlayback; }, 8000));
    const auto play = Received(msg::PLAY_ON_REQ);
    ASSERT_EQ(play.size(), 1u);
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data()), 0xFu) << "the window's channels";
    EXPECT_EQ(play[0].payload[4], 1u << 2) << "the motion kind, little-endian";
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data() + 16),
              static_cast<std::uint32_t>(chosen->start));
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data() + 20), 2145916799u);
    int channel = 0;
    while (channel < 4 && ((chosen->channels >> channel) & 1u) == 0)
        ++channel;
    ASSERT_LT(channel, 4);
    // The event's channel shows recorded pictures (its pane's second line says so).
    const auto playing = [&] {
        const auto& view = m_window->Views().Channel(channel);
        std::lock_guard lock(view.lock);
        return video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views())
                   .line2.rfind("R-PLAY", 0) == 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(playing, 8000));
    const std::uint64_t drawn = m_window->Grid()->PicturesDrawn(channel);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Grid()->PicturesDrawn(channel) >= drawn + 3; }, 8000))
        << "recorded pictures keep coming";
}

TEST_F(SearchInfoWindowTest, LogDetailsStatusPrintAndTheLocalLog) {
    auto* search = OpenSearch();
    ASSERT_NE(search, nullptr);
    search->PressTab(recordings::SearchTab::Log);
    search->PressLogEntry(3);  // Operation
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->LogView(3) != nullptr; }, 5000));
    auto* operation = search->LogView(3);
    EXPECT_EQ(search->CurrentPage(), operation);
    EXPECT_EQ(Received(msg::LOG_INFO_REQ).size(), 1u);
    const auto& rows = operation->List()->ShownRows();
    ASSERT_FALSE(rows.empty());
    int cameraName = -1;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].cells.size(), 5u);
        if (rows[r].cells[2] == " Cam03 Name")
            cameraName = static_cast<int>(r);
    }
    ASSERT_GE(cameraName, 0) << "the renamed camera's setup change";
    operation->List()->SelectRow(cameraName);
    ASSERT_TRUE(operation->DetailsButton()->isEnabled());
    QDialog* details = operation->OpenDetails();
    ASSERT_NE(details, nullptr);
    auto* detailList = static_cast<logs::ui::CLogDetailDialog*>(details)->List();
    ASSERT_GT(detailList->RowCount(), 1);
    bool changed = false;
    for (const auto& row : detailList->ShownRows())
        changed = changed || row.cells[2].find(" --> ") != std::string::npos;
    EXPECT_TRUE(changed) << "an item's old and new values";
    details->show();
    Keep(details, "log-details.png");
    details->close();

    // The other views come from the log already held: no second request. The filter
    // narrows the list as the operator types.
    search->PressLogEntry(0);
    ASSERT_NE(search->LogView(0), nullptr);
    EXPECT_EQ(Received(msg::LOG_INFO_REQ).size(), 1u);
    auto* all = search->LogView(0)->List();
    const int everything = all->RowCount();
    Keep(search, "search-log.png");
    QTest::keyClicks(all->FilterText(), "cam03");
    EXPECT_GT(all->RowCount(), 0);
    EXPECT_LT(all->RowCount(), everything);
    all->FilterText()->clear();
    EXPECT_EQ(all->RowCount(), everything);

    // Print to PDF: the rows and footers on their pages.
    const QString pdf = QString::fromStdString((m_dir / "log.pdf").string());
    QSignalSpy saved(all, &lists::ui::CListPage::Saved);
    all->SavePdf(pdf);
    ASSERT_TRUE(saved.count() > 0 || saved.wait(10000));
    ASSERT_TRUE(saved.first().at(0).toBool()) << saved.first().at(2).toString().toStdString();
    const int pages = (everything + 32) / 33;
    const std::string text = Output("pdftotext -layout '" + pdf.toStdString() + "' - 2>/dev/null");
    if (!text.empty()) {
        EXPECT_NE(text.find("Remote Log"), std::string::npos);
        EXPECT_NE(text.find(all->ShownRows().front().cells[0]), std::string::npos);
        const std::string last = "/" + std::to_string(pages) + "-";
        std::string compact;
        for (char c : text)
            if (c != ' ')
                compact += c;
        EXPECT_NE(compact.find("-" + std::to_string(pages) + last), std::string::npos)
            << "the last page's footer";
        const QString shots = qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR");
        if (!shots.isEmpty())
            Output("pdftoppm -png -r 60 -f 1 -l 1 -singlefile '" + pdf.toStdString() + "' '" +
                   shots.toStdString() + "/printed-log'");
    }

    // Info: the status page from the recorder's answer, the system page from the login.
    search->PressTab(recordings::SearchTab::Info);
    search->PressInfoEntry(recordings::InfoEntry::Status);
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->StatusPage() != nullptr; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->StatusPage()->RowCount() > 4; }, 5000));
    const auto& status = search->StatusPage()->ShownRows();
    EXPECT_EQ(status[0].cells[0], "Disk");
    EXPECT_EQ(status[4].cells[0], "Channel 01");
    EXPECT_EQ(search->StatusPage()->RowCount(), 4 + 4 + 1 + 2 * 4)
        << "4 channel rows, three devices of group A and one of B";
    Keep(search, "search-status.png");
    search->PressInfoEntry(recordings::InfoEntry::System);
    ASSERT_NE(search->SystemPage(), nullptr);
    EXPECT_EQ(search->SystemPage()->ShownRows()[3].cells[1], "00:1C:54:10:20:30");
    search->close();

    // The local archive window's "All" page: this computer's own log, the log-in first.
    Click(m_window->Button(363));
    auto* archive = m_window->ArchiveWindow();
    ASSERT_NE(archive, nullptr);
    archive->ShowPage(archive::ui::ArchivePage::LocalLog);
    ASSERT_TRUE(QTest::qWaitFor([&] { return archive->LocalLog()->RowCount() > 0; }, 5000));
    const auto& local = archive->LocalLog()->ShownRows();
    bool login = false;
    for (const auto& row : local)
        login = login || (row.cells[2] == "Logged in" && row.cells[3] == "admin" &&
                          row.cells[4] == "127.0.0.1");
    EXPECT_TRUE(login);
    Keep(archive, "local-log.png");
}

TEST_F(SearchInfoWindowTest, PlayFromALogRowAndTheLogKeptForIt) {
    auto* search = OpenSearch();
    ASSERT_NE(search, nullptr);
    search->PressTab(recordings::SearchTab::Log);
    search->PressLogEntry(5);  // Event
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->LogView(5) != nullptr; }, 5000));
    auto* events = search->LogView(5);
    // The motion on channels 1 and 16 at 08:47:30 (inside a recording of channel 1).
    int row = -1;
    const auto& rows = events->List()->ShownRows();
    for (std::size_t r = 0; r < rows.size(); ++r)
        if (rows[r].cells[4] == "01 16 ")
            row = static_cast<int>(r);
    ASSERT_GE(row, 0);
    const int eventRows = static_cast<int>(rows.size());  // the window goes when playing
    events->List()->SelectRow(row);
    const logs::RemoteLogRecord* record = events->Selected();
    ASSERT_NE(record, nullptr);
    const auto recordTime = static_cast<std::uint32_t>(record->time);
    ASSERT_TRUE(events->PlayButton()->isEnabled());
    events->PlayButton()->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == protocol::kGridPlayback; }, 8000));
    const auto play = Received(msg::PLAY_ON_REQ);
    ASSERT_EQ(play.size(), 1u);
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data()), 0x8001u) << "the row's channels";
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data() + 4), 0u);
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data() + 16), recordTime);
    EXPECT_EQ(protocol::LoadBE32(play[0].payload.data() + 20), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->SearchWindow() == nullptr; }, 3000));

    // Reopened during that playback: the Log menu, the log from the copy kept for it (no
    // new request), and Play off.
    auto* again = OpenSearch();
    ASSERT_NE(again, nullptr);
    // The playback bar's day request is the window's one request at a time; its answer
    // comes behind the recorded pictures already on their way, at their pace.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !m_window->Shell().Connection()->Search().Busy(); }, 20000));
    again->PressLogEntry(5);
    ASSERT_NE(again->LogView(5), nullptr);
    EXPECT_EQ(Received(msg::LOG_INFO_REQ).size(), 1u);
    EXPECT_EQ(again->LogView(5)->List()->RowCount(), eventRows);
    again->LogView(5)->List()->SelectRow(row);
    EXPECT_FALSE(again->LogView(5)->PlayButton()->isEnabled());
}

}  // namespace
}  // namespace taviro::app::ui
