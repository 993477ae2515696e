// The main window after the recorder's network broke: the title strip counts down
// "Reconnecting in N s" with a Cancel button, and live view comes back in the layout and
// page the grid showed.
#include <QPushButton>

#include "app/ui/recorder_window_fixture.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

class ReconnectWindowTest : public CRecorderWindowTest {
  protected:
    void Configure(sim::SimConfig& config) override {
        config.drop_after = std::chrono::milliseconds(1'500);  // the first connection only
    }
};

TEST_F(ReconnectWindowTest, CountsDownThenShowsLiveViewInTheSameLayoutAndPage) {
    // One pane, the second channel: the 1-pane button pressed twice turns to page 1.
    m_window->OnCommand(320);
    m_window->OnCommand(320);
    ASSERT_EQ(m_window->Grid()->Layout().Layout(), 0);
    ASSERT_EQ(m_window->Grid()->Layout().Page(), 1);
    const std::uint32_t lostGeneration = Connection().Generation();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->ReconnectText().startsWith("Reconnecting in "); }, 8'000))
        << m_window->ReconnectText().toStdString();
    EXPECT_TRUE(m_window->ReconnectCancelButton()->isVisible());
    Keep(m_window.get(), "reconnect-waiting.png");

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return m_window->Shell().Reconnect().State() == ReconnectState::kRestored &&
                   m_window->Shell().LiveRunning() && m_window->Shell().Connection() != nullptr &&
                   m_window->Shell().Connection()->Generation() != lostGeneration &&
                   m_window->ReconnectText().isEmpty();
        },
        10'000));
    // The grid is back where it was once live view has started again.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return m_window->Shell().GridMode() == platform::kGridLive &&
                   m_window->Grid()->Layout().Layout() == 0 &&
                   m_window->Grid()->Layout().Page() == 1;
        },
        5'000))
        << m_window->Grid()->Layout().Layout() << " " << m_window->Grid()->Layout().Page();
    EXPECT_EQ(m_recorder->ClientsAccepted(), 2u);
}

}  // namespace
}  // namespace taviro::app::ui
