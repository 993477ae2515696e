// The main window after the recorder's network broke: the title strip counts down
// "Reconnecting in N s" with a Cancel button while the note of the loss blocks nothing, and
// live view comes back in the layout and page the grid showed, with its titles, the note
// gone.
#include <QPushButton>

#include "app/ui/recorder_window_fixture.h"
#include "notify/ui/notify_popup.h"
#include "protocol/session_messages.h"
#include "video/pane_texts.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

using taviro::testing::Click;

class ReconnectWindowTest : public CRecorderWindowTest {
  protected:
    void Configure(sim::SimConfig& config) override {
        // The first connection only; long enough that the layout is chosen before the loss
        // even in a sanitizer build, where reaching live view takes over a second.
        config.drop_after = std::chrono::milliseconds(4'000);
        config.titles = {"Gate", "Yard", "Hall", "Dock"};
    }
    std::string Line1(int channel) {
        const auto& view = m_window->Views().Channel(channel);
        std::lock_guard lock(view.lock);
        return video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views()).line1;
    }
    std::uint64_t Shown(int channel) {
        const auto& view = m_window->Views().Channel(channel);
        std::lock_guard lock(view.lock);
        return view.shown;
    }
};

TEST_F(ReconnectWindowTest, CountsDownThenShowsLiveViewInTheSameLayoutAndPage) {
    // One pane, the second channel: the 1-pane button pressed twice turns to page 1, once
    // the grid knows the channel is there (the live channel info reaches it after live view
    // has started; a page without an available channel is skipped).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return video::HasPane(m_window->Grid()->Layout().AvailableChannels(), 1); }, 5'000));
    Click(m_window->Button(320));
    Click(m_window->Button(320));
    ASSERT_EQ(m_window->Grid()->Layout().Layout(), 0);
    ASSERT_EQ(m_window->Grid()->Layout().Page(), 1);
    const std::uint32_t lostGeneration = Connection().Generation();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->ReconnectText().startsWith("Reconnecting in "); }, 8'000))
        << m_window->ReconnectText().toStdString();
    EXPECT_TRUE(m_window->ReconnectCancelButton()->isVisible());
    // The note of the loss names the recorder and blocks nothing: no modal window, the
    // countdown's Cancel is enabled and the layout buttons work under it.
    auto* note = m_window->Presenter().Current();
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(
        note->Lines().contains(QStringLiteral("Recorder 127.0.0.1:%1").arg(m_recorder->Port())))
        << note->Lines().join('|').toStdString();
    EXPECT_EQ(note->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(m_window->ReconnectCancelButton()->isEnabled());
    Click(m_window->Button(321));
    EXPECT_EQ(m_window->Grid()->Layout().Layout(), 1) << "the 4-pane button under the note";
    Keep(m_window.get(), "reconnect-waiting.png");

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return m_window->Shell().Reconnect().State() == client::ReconnectState::kRestored &&
                   m_window->Shell().LiveRunning() && m_window->Shell().Connection() != nullptr &&
                   m_window->Shell().Connection()->Generation() != lostGeneration &&
                   m_window->ReconnectText().isEmpty();
        },
        10'000));
    // The grid is back where it was once live view has started again.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return m_window->Shell().GridMode() == protocol::kGridLive &&
                   m_window->Grid()->Layout().Layout() == 0 &&
                   m_window->Grid()->Layout().Page() == 1;
        },
        5'000))
        << m_window->Grid()->Layout().Layout() << " " << m_window->Grid()->Layout().Page();
    EXPECT_EQ(m_recorder->ClientsAccepted(), 2u);
    // The return closed the note; the pane of the second channel has its title again on
    // pictures of the new connection.
    EXPECT_EQ(m_window->Presenter().Current(), nullptr);
    EXPECT_FALSE(m_window->Presenter().PopupOpen());
    const std::uint64_t shown = Shown(1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Shown(1) >= shown + 3 && Line1(1).rfind("Yard", 0) == 0; }, 5'000))
        << "'" << Line1(1) << "'";
}

}  // namespace
}  // namespace taviro::app::ui
