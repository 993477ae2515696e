// The local archive in the main window: the local panel made with what it needs of this
// window, and the grid arranged when local playback begins, changes segment or ends.
#include <array>

#include "app/main_window_layout.h"
#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "client/ui/local_panel.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "platform/ui/qt_message_sink.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

constexpr std::uint32_t kArchiveButton = 363;
constexpr std::array<std::uint32_t, 6> kLocalButtons = {340, 341, 342, 343, 345, 346};

}  // namespace

void CClientDlg::CreateLocalPanel() {
    client::ui::LocalPanelContext ctx;
    ctx.window = this;
    ctx.slider = Slider(kPositionSliderId);
    ctx.sink = &m_sink;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.folders = [this] {
        const std::filesystem::path location = m_shell->Setup().LocationPath();
        return client::ui::ArchiveFolders{SubFolderPath(location, StorageSubFolder::kDownload),
                                          SubFolderPath(location, StorageSubFolder::kLog),
                                          SubFolderPath(location, StorageSubFolder::kSaved)};
    };
    ctx.dateFormat = [this] { return static_cast<int>(m_shell->Setup().dateFormat); };
    ctx.play = [this](std::uint32_t time) {
        if (!m_quitting)
            m_shell->Local().Start(time, m_views, m_shell->LocalSettings(m_grid->PictureFormat()));
    };
    ctx.archiveOpen = [this](bool open) {
        if (auto* b = Button(kArchiveButton))
            b->SetCheck(open ? 1 : 0);
    };
    ctx.shown = [this](bool shown) { OnLocalShown(shown); };
    ctx.segment = [this](int layout, protocol::ChannelMask channels) {
        m_grid->SelectLayout(layout);
        ShowLayoutButtons(m_grid->Layout().Buttons());
        m_grid->SetAvailableChannels(channels);
        RefreshGridStatus();
    };
    ctx.stateChanged = [this] {
        ShowConnectionState();
        RefreshGridStatus();
    };
    m_local = new client::ui::CLocalPanel(m_shell->Local(), std::move(ctx));
}

void CClientDlg::OnLocalShown(bool on) {
    for (const std::uint32_t id : kLocalButtons)
        SetControlState(id, on ? platform::kEnabled : platform::kDisabled);
    const bool remote = m_recordings->Playback().Shown();
    m_recordings->SetKeysEnabled(on || remote);
    // The position slider seeks in the joined pairs while they play.
    if (auto* slider = Slider(kPositionSliderId))
        slider->SetSliderEnabled(on || remote);
    if (on) {
        m_grid->StartPlayback();
        m_views.SetViewMode(video::ViewMode::LocalPlayback);
    } else {
        ShowConnectionState();
        // Live view comes back by itself when a recorder is connected (or connecting);
        // without one the panes stay empty, and say why.
        const ConnectionState state = m_shell->State();
        if (state == ConnectionState::kNone || state == ConnectionState::kClosing)
            m_grid->SetNotice(QStringLiteral("Not connected to a recorder: no live view"));
        m_grid->SelectLayout(video::kInitialLayout);
        ShowLayoutButtons(m_grid->Layout().Buttons());
    }
    RefreshGridStatus();
    m_grid->RepaintAll();
}

}  // namespace taviro::app::ui
