// What each main-window control and key does, the connect and local setup dialogs, the
// About dialog, and the quit.
#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <array>
#include <utility>

#include "app/main_window_layout.h"
#include "app/storage_folders.h"
#include "app/ui/about_dlg.h"
#include "app/ui/client_dlg.h"
#include "app/ui/local_setup_dlg.h"
#include "client/connection.h"
#include "controls/control_events.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "maintenance/web_setup.h"
#include "platform/trace.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/qt_owned.h"
#include "protocol/session_messages.h"

namespace taviro::app::ui {

namespace {

constexpr std::array<std::uint32_t, 8> kLampButtons = {344, 355, 356, 361, 362, 369, 376, 378};

}  // namespace

void CClientDlg::OnCommand(std::uint32_t id) {
    using protocol::Feature;
    if (m_quitting || !m_live)
        return;
    // These buttons are lamps of a state the session or a service owns (recording, live,
    // talk, the recorder's audio, the open panels): the click itself must not light them;
    // the state reports do, once the state has changed.
    if (std::find(kLampButtons.begin(), kLampButtons.end(), id) != kLampButtons.end()) {
        if (auto* lamp = Button(id))
            lamp->SetCheck(lamp->Check() != 0 ? 0 : 1);
    }
    if (m_shell->Command(id) || m_live->OnCommand(id))
        return;
    const protocol::ChannelMask shown = m_live->Controller().Shown();
    switch (id) {
        case 340:
        case 341:
        case 342:
        case 343:
        case 345:
        case 346:
            m_recordings->Playback().Button(id, shown);
            break;
        case 363:
            m_local->OpenArchive();
            break;
        case kSiteButton:
            ShowSitePanel(!m_sitePanel->isVisible());
            break;
        case 355:
        case 356:
            SyncLinks();
            m_maintenance->PtzButton(
                id == 355 ? maintenance::PtzMode::Pan : maintenance::PtzMode::Zoom,
                Grid()->Layout().ShownChannels());
            break;
        case 360:
            // Not while the last connection is still going (the button shows it).
            if (m_shell->PlayerMode() || m_shell->State() == ConnectionState::kClosing)
                break;
            if (m_shell->HasSession())
                Disconnect();
            else
                OpenConnectDialog(std::nullopt);
            break;
        case 361:
            if (m_shell->CheckRights(Feature::SearchPlayback) == client::CommandResult::kDone)
                m_recordings->OpenSearch();
            else if (auto* b = Button(361))
                b->SetCheck(SearchWindow() ? 1 : 0);
            break;
        case 362:
            if (m_shell->CheckRights(Feature::WebSetup) == client::CommandResult::kDone)
                m_maintenance->OpenWebSetup(
                    m_settings.GetString(maintenance::kBrowserSettingPath).value_or(""));
            // The button only starts the browser; it never stays down.
            if (auto* b = Button(362))
                b->SetCheck(0);
            break;
        case 364:
            OpenLocalSetup();
            break;
        case 365:
            Quit();
            break;
        case 366:
            // Mute or unmute our own output; the volume slider follows.
            if (auto* volume = Slider(kVolumeSliderId))
                volume->SetSliderEnabled(!m_sound->ToggleMute());
            if (auto* sound = Button(366))
                sound->SetCheck(m_sound->Muted() ? 1 : 0);
            break;
        case 374:
            SyncLinks();
            if (m_shell->CheckRights(Feature::FirmwareUpgrade) == client::CommandResult::kDone)
                m_maintenance->ScanUpgrades(
                    SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kUpgrade));
            break;
        case 372:
            m_snapshots->Take(SelectedViews(), shown);
            break;
        case 373:
            m_snapshots->OpenSaved();
            break;
        case kMinButtonId:
            showMinimized();
            break;
        default:
            platform::Trace("main window: control %u has no action\n", id);
            break;
    }
}

void CClientDlg::OpenConnectDialog(const std::optional<ConnectRequest>& request, bool add) {
    if (m_shell->PlayerMode() || m_connectDialog || m_quitting)
        return;
    // Without `add` the dialog connects the window afresh: only when nothing is connected.
    add = add && m_shell->Site().Count() > 0;
    if (!add && m_shell->HasSession())
        return;
    if (!add) {
        // The user picks the recorder now: no attempt of the last loss runs behind the dialog.
        m_shell->CancelReconnect();
        if (auto* b = Button(360))
            b->SetCheck(1);
    }
    m_connectDialog = connect::ui::CConnectDlg::Open(
        this, m_shell->Setup().opacity[opacity::kConnect], m_settings,
        std::filesystem::path(m_shell->Setup().location), request,
        [this, add](const std::optional<connect::SessionTarget>& t) {
            std::optional<ConnectTarget> target;
            if (t)
                target = ConnectTarget{t->address.empty() ? t->host : t->address, t->port, t->user,
                                       t->password, t->description};
            if (!add)
                ConnectConfirmed(target);
            else if (target && !m_quitting)
                AddRecorder(*target);
            // The next remembered recorder of the start, if any, once this dialog has gone.
            if (!m_askAtStart.empty())
                QTimer::singleShot(0, this, [this] { AskNextRecorder(); });
        },
        m_vault.get());
}

video::CChannelViews* CClientDlg::FreeViews() {
    const client::CSite& site = m_shell->Site();
    const auto used = [&site](const video::CChannelViews* views) {
        for (int i = 0; i < site.Count(); ++i)
            if (site.At(i)->Views() == views)
                return true;
        return false;
    };
    if (!used(&m_views))
        return &m_views;
    for (auto& views : m_moreViews) {
        if (!views)
            views = std::make_unique<video::CChannelViews>();
        if (!used(views.get()))
            return views.get();
    }
    return nullptr;
}

video::CChannelViews& CClientDlg::SelectedViews() {
    const client::CRecorderLink* link = m_shell->Link(-1);
    return link != nullptr && link->Views() != nullptr ? *link->Views() : m_views;
}

bool CClientDlg::AddRecorder(const ConnectTarget& target) {
    // A recorder the site holds unconnected (remembered, or disconnected) connects in its
    // own place with its own views.
    video::CChannelViews* views = nullptr;
    const client::CSite& site = m_shell->Site();
    for (int i = 0; i < site.Count(); ++i) {
        const client::CRecorderLink* link = site.At(i);
        if (link->Target() && link->Connection() == nullptr &&
            client::RecorderKey(*link->Target()) == client::RecorderKey(target))
            views = link->Views();
    }
    if (views == nullptr)
        views = FreeViews();
    client::CSite::AddResult added;
    if (views == nullptr) {
        added.error = "No more than 16 recorders can be connected at once.";
    } else {
        views->ClearHasDecoded();
        added = m_shell->AddRecorder(target, *views, Grid()->PictureFormat());
    }
    if (added.id < 0) {
        m_sink.ShowMessageBox(added.error);
        return false;
    }
    if (auto* b = Button(360))
        b->SetCheck(1);
    SyncLinks();
    m_live->Refresh();
    UpdateToolTips();
    ShowConnectionState();
    return true;
}

void CClientDlg::ConnectConfirmed(const std::optional<ConnectTarget>& target) {
    if (!target || m_quitting) {
        if (auto* b = Button(360))
            b->SetCheck(0);
        return;
    }
    m_views.ClearHasDecoded();
    m_shell->Connect(*target, m_views, Grid()->PictureFormat());
    SyncLinks();
    // The arrangement in use at the last quit, when it was this recorder's.
    if (const auto view = std::exchange(m_startView, std::nullopt)) {
        const std::string key = client::RecorderKey(*target);
        if (std::any_of(view->panes.begin(), view->panes.end(),
                        [&key](const client::ViewPane& p) { return p.recorder == key; }))
            ShowView(*view);
    }
    m_live->Refresh();
    UpdateToolTips();
    ShowConnectionState();
    // The further recorders of the command line, with the same user and password.
    for (const ConnectRequest& more : std::exchange(m_moreAtStart, {}))
        AddRecorder(ConnectTarget{more.address, more.port, target->user, target->password, {}});
}

void CClientDlg::Disconnect() {
    // A held PTZ move is stopped and the maintenance windows go before the connection does.
    m_maintenance->Ptz().OnSessionClosing();
    m_maintenance->CloseUpgradeWindow();
    m_shell->Disconnect();
    for (const std::uint32_t id : {361u, 362u})
        if (auto* b = Button(id))
            b->SetCheck(0);
    ShowConnectionState();
    UpdateToolTips();
}

void CClientDlg::OpenLocalSetup() {
    if ((m_shell->Session() && m_shell->Session()->Live().Busy()) || m_setupDialog || m_quitting)
        return;
    if (auto* b = Button(364))
        b->SetCheck(1);
    auto* dialog = new CLocalSetupDlg(this, m_shell->Setup());
    m_setupDialog = dialog;
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        dialog->deleteLater();
        if (auto* b = Button(364))
            b->SetCheck(0);
        if (dialog->Result())
            ApplyLocalSetup(*dialog->Result());
    });
    dialog->open();
}

void CClientDlg::ApplyLocalSetup(const LocalSetup& edited) {
    const std::uint8_t drawMode = m_shell->Setup().drawMode;
    const SetupApplyPlan plan = m_shell->ApplySetup(edited);
    if (!plan.actions.empty() && plan.actions.front().step == SetupStep::kRecreateGrid &&
        plan.result.drawMode != drawMode) {
        m_live->CreateGrid(GridDrawMode(plan.result));
        // The decoders now write the format the new renderer draws.
        m_shell->ChangeFormat(Grid()->PictureFormat());
    }
}

void CClientDlg::OnSliderMessage(std::uint32_t message, std::uint32_t id, int position) {
    if (id == kVolumeSliderId && message != controls::WM_SLIDER_BEGIN) {
        m_sound->SetVolume(static_cast<double>(position) / 65535.0);
        return;
    }
    if (id == kPositionSliderId && m_shell->GridMode() == protocol::kGridLocal)
        m_shell->Local().Slider(message, position);
    else if (id == kPositionSliderId)
        m_recordings->OnSlider(message, position, m_live->Controller().Shown());
}

void CClientDlg::Quit() {
    if (m_quitting)
        return;
    m_quitting = true;
    // What is shown now comes back at the next start.
    RememberSite();
    m_live->Stop();
    if (m_connectDialog)
        m_connectDialog->reject();
    m_maintenance->Ptz().OnSessionClosing();
    m_maintenance->CloseUpgradeWindow();
    // A Verify or Export of the archive window ends now, not when the window goes.
    if (auto* archive = m_local->ArchiveWindow())
        archive->CancelJobs();
    // The services stop and the session shuts down on the connection's worker; the window
    // stays responsive meanwhile and closes when client::WM_CONNECTION_CLOSED reports the end.
    m_shell->BeginQuit();
    ShowConnectionState();
    if (m_shell->QuitDone())
        FinishQuit();
}

void CClientDlg::FinishQuit() {
    if (m_closing)
        return;
    m_closing = true;
    m_snapshots->Stop();
    m_views.SetListener(nullptr);
    for (auto& views : m_moreViews)
        if (views)
            views->SetListener(nullptr);
    emit Closed();
    close();
}

void CClientDlg::BindKeys(video::ui::CChannelGrid* grid) {
    // The shortcuts belong to the grid with the window context: while the grid sits in this
    // window they act when this window is active, and in full screen, where the grid is a
    // window of its own, they act there. Made again with every grid.
    for (const KeyBinding& binding : KeyBindings()) {
        const QKeySequence sequence(
            QString::fromLatin1(binding.key.data(), static_cast<qsizetype>(binding.key.size())));
        auto* shortcut = platform::ui::Child<QShortcut>(grid, sequence);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, binding] { RunKey(binding); });
    }
}

void CClientDlg::RunKey(const KeyBinding& key) {
    video::ui::CChannelGrid* grid = Grid();
    if (m_quitting || grid == nullptr)
        return;
    // A key is its button: the same command, and nothing while the button is disabled.
    const auto enabled = [this](int id) {
        const auto* button = Button(static_cast<std::uint32_t>(id));
        return button == nullptr || button->ButtonEnabled();
    };
    const int layoutButton = video::LayoutButton(grid->Layout().Layout());
    if (key.command == KeyCommand::kFullScreen && grid->IsFullScreen()) {
        grid->SetFullScreen(false);
    } else if (const int id = KeyButton(key, layoutButton); id >= 0) {
        if (enabled(id))
            OnCommand(static_cast<std::uint32_t>(id));
    } else if (key.command == KeyCommand::kPreviousPage) {
        // No button of its own: it follows the current layout's button, like Page Down.
        if (enabled(layoutButton)) {
            grid->StepPage(-1);
            ShowLayoutButtons(grid->Layout().Buttons());
        }
    } else if (key.command == KeyCommand::kStatisticsOsd) {
        grid->ToggleStatisticsOsd();
    } else if (key.command == KeyCommand::kAbout) {
        OpenAbout();
    }
}

void CClientDlg::OpenAbout() {
    if (m_aboutDialog) {
        m_aboutDialog->raise();
        m_aboutDialog->activateWindow();
        return;
    }
    const QString version = QStringLiteral("%1.%2.%3.%4")
                                .arg(m_version[0])
                                .arg(m_version[1])
                                .arg(m_version[2])
                                .arg(m_version[3]);
    // Over the full-screen grid when it is up, else over this window; window-modal without a
    // loop of its own.
    video::ui::CChannelGrid* grid = Grid();
    QWidget* parent = grid && grid->IsFullScreen() ? static_cast<QWidget*>(grid) : this;
    auto* dialog = new CAboutDlg(parent, QString::fromStdString(m_shell->BrandingTexts().title),
                                 version, grid ? grid->RendererText() : QString());
    m_aboutDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

}  // namespace taviro::app::ui
