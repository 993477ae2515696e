// The recorder's recordings in the main window: the recordings panel (remote search,
// playback and backup) made with what it needs of this window, the grid arranged when a
// remote playback begins or ends, and the controllers kept on the shell's connection.
#include <array>

#include "app/main_window_layout.h"
#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "client/ui/recordings_panel.h"
#include "controls/ui/skin_button_widget.h"
#include "maintenance/ui/maintenance_panel.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/session_messages.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

constexpr std::uint32_t kSearchButton = 361;
constexpr std::array<std::uint32_t, 5> kTransportButtons = {340, 341, 342, 345, 346};

}  // namespace

void CClientDlg::CreateRecordingsPanel() {
    // The transport buttons (but 343, live view's freeze) work only while playback runs.
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, platform::kDisabled);
    client::ui::RecordingsPanelContext ctx;
    ctx.window = this;
    ctx.slider = Slider(kPositionSliderId);
    ctx.sink = &m_sink;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.localShown = [this] { return m_shell->GridMode() == protocol::kGridLocal; };
    ctx.downloadFolder = [this] {
        return SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kDownload);
    };
    ctx.freeSpace = m_shell->Options().freeSpace;
    ctx.dateFormat = [this] { return static_cast<int>(m_shell->Setup().dateFormat); };
    ctx.playbackShown = [this](bool shown) { OnPlaybackShown(shown); };
    ctx.titleChanged = [this] {
        ShowConnectionState();
        RefreshGridStatus();  // the panes' playback icon
    };
    ctx.press = [this](std::uint32_t id) { OnCommand(id); };
    ctx.searchOpen = [this](bool open) {
        if (auto* b = Button(kSearchButton))
            b->SetCheck(open ? 1 : 0);
    };
    m_recordings = new client::ui::CRecordingsPanel(std::move(ctx));
}

void CClientDlg::OnPlaybackShown(bool shown) {
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, shown ? platform::kEnabled : platform::kDisabled);
    if (shown) {
        m_grid->StartPlayback();
        m_views.SetViewMode(video::ViewMode::RemotePlayback);
    } else {
        ShowConnectionState();
        // Back to the 16-pane layout; live view comes back by its own answer.
        m_grid->SelectLayout(video::kInitialLayout);
    }
    ShowLayoutButtons(m_grid->Layout().Buttons());
    RefreshGridStatus();
    m_grid->RepaintAll();
}

void CClientDlg::SyncLinks() {
    client::CConnection* connection = m_shell->Connection();
    m_recordings->Attach(connection);
    m_sound->Attach(connection);
    // A closing connection is steered and upgraded no more.
    if (connection != nullptr && !connection->Closing())
        m_maintenance->Link(
            {&connection->Ptz(), &connection->Firmware(), connection->Generation()});
    else
        m_maintenance->Link({});
}

}  // namespace taviro::app::ui
