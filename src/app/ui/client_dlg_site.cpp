// The main window as a client for a site: the recorder panel, the recorder chosen by a
// pane, the service windows named after it, the pane's menu (recorders and saved views),
// and the site remembered at quit and brought back at the next start.
#include <QInputDialog>
#include <QTimer>
#include <QVariant>

#include "app/main_window_layout.h"
#include "app/ui/client_dlg.h"
#include "client/site_rows.h"
#include "client/site_views.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_dialog.h"
#include "maintenance/ui/ptz_windows.h"
#include "platform/trace.h"
#include "platform/ui/qt_message_sink.h"
#include "recordings/ui/backup_panel.h"

namespace taviro::app::ui {

namespace {
constexpr std::uint32_t kSaveButton = 372;
}  // namespace

void CClientDlg::PaneClicked(int gridChannel) {
    if (const auto pane = Grid()->Site().At(gridChannel))
        ChooseRecorder(pane->recorderId);
}

void CClientDlg::ChooseRecorder(int recorderId) {
    // With several recorders the window's services follow the recorder of the pane chosen;
    // not while a playback of the one chosen before holds the panes.
    const protocol::GridMode mode = m_shell->GridMode();
    if (m_shell->Site().Count() < 2 || recorderId < 0 ||
        recorderId == m_shell->SelectedRecorder() ||
        (mode != protocol::kGridLive && mode != protocol::kGridNone))
        return;
    m_shell->SelectRecorder(recorderId);
    SyncLinks();
    UpdateToolTips();
    ShowConnectionState();
    RefreshSitePanel();
}

namespace {
// The recorder panel's width at the grid's left; the grid keeps the rest.
constexpr int kSitePanelWidth = 210;
}  // namespace

void CClientDlg::CreateSitePanel() {
    m_sitePanel = new client::ui::CRecorderPanel(this);
    const video::Rect grid = video::kMainGridRect;
    m_sitePanel->setGeometry(grid.left, grid.top, kSitePanelWidth, grid.Height());
    m_sitePanel->hide();
    connect(m_sitePanel, &client::ui::CRecorderPanel::RecorderChosen, this,
            &CClientDlg::ChooseRecorder);
    connect(m_sitePanel, &client::ui::CRecorderPanel::ShowAlone, this, [this](int id, int channel) {
        ChooseRecorder(id);
        const int gridChannel = Grid()->Site().GridChannel(id, channel);
        if (gridChannel >= 0)
            Grid()->SelectChannel(gridChannel);
        ShowLayoutButtons(Grid()->Layout().Buttons());
    });
    connect(m_sitePanel, &client::ui::CRecorderPanel::AddRequested, this,
            [this] { OpenConnectDialog(std::nullopt, true); });
    connect(m_sitePanel, &client::ui::CRecorderPanel::DisconnectRequested, this, [this](int id) {
        m_shell->DisconnectRecorder(id);
        SyncLinks();
        ShowConnectionState();
        RefreshSitePanel();
    });
}

void CClientDlg::ShowSitePanel(bool on) {
    if (!m_sitePanel || m_sitePanel->isVisible() == on)
        return;
    video::Rect rect = video::kMainGridRect;
    if (on)
        rect.left += kSitePanelWidth + 2;
    if (!Grid()->IsFullScreen())
        Grid()->Place(rect, video::kMainGridBorder, video::kMainGridColour);
    m_sitePanel->setVisible(on);
    if (auto* b = Button(kSiteButton))
        b->SetCheck(on ? 1 : 0);
    RefreshSitePanel();
}

QString CClientDlg::SelectedRecorderLabel() const {
    const client::CSite& site = m_shell->Site();
    const client::CRecorderLink* link = site.Find(m_shell->SelectedRecorder());
    if (site.Count() < 2 || link == nullptr)
        return {};
    return QString::fromStdString(client::RecorderLabel(*link));
}

namespace {
// A service window's title with the recorder it is about (none: its own title alone). The
// skinned dialogs draw it in their title bar.
void NameWindow(QWidget* window, const QString& about) {
    if (window == nullptr)
        return;
    if (auto* skinned = qobject_cast<controls::ui::CSkinDialog*>(window)) {
        skinned->SetAbout(about);
        return;
    }
    QVariant own = window->property("taviroOwnTitle");
    if (!own.isValid()) {
        own = window->windowTitle();
        window->setProperty("taviroOwnTitle", own);
    }
    const QString title =
        about.isEmpty() ? own.toString() : own.toString() + QStringLiteral("  \u2014  ") + about;
    if (window->windowTitle() != title)
        window->setWindowTitle(title);
}
}  // namespace

void CClientDlg::NameServiceWindows() {
    const QString about = SelectedRecorderLabel();
    NameWindow(SearchWindow(), about);
    NameWindow(BackupPanel(), about);
    NameWindow(FirmwareWindow(), about);
    if (auto* ptz = PtzWindows()) {
        NameWindow(ptz->Panel(), about);
        NameWindow(ptz->PresetWindow(), about);
        NameWindow(ptz->DomeWindow(), about);
    }
}

void CClientDlg::RefreshSitePanel() {
    NameServiceWindows();
    if (m_sitePanel && m_sitePanel->isVisible())
        m_sitePanel->Show(
            client::SiteRows(m_shell->Site(), client::CReconnectController::Clock::now()),
            m_shell->SelectedRecorder());
}

void CClientDlg::PaneMenu(int gridChannel, QPoint at) {
    const auto pane = Grid()->Site().At(gridChannel);
    if (!pane || pane->views == nullptr)
        return;
    std::vector<snapshot::ui::PaneAction> actions;
    if (!m_shell->PlayerMode() && m_shell->Site().Count() > 0 &&
        m_shell->Site().Count() < client::kMaxRecorders)
        actions.push_back({QStringLiteral("Add recorder..."),
                           [this] { OpenConnectDialog(std::nullopt, true); }, QString()});
    if (m_shell->Site().Count() > 1 && pane->recorderId >= 0) {
        const int id = pane->recorderId;
        const client::CRecorderLink* link = m_shell->Site().Find(id);
        const std::string name = link != nullptr ? client::RecorderLabel(*link) : std::string();
        actions.push_back({QStringLiteral("Disconnect %1").arg(QString::fromStdString(name)),
                           [this, id] {
                               m_shell->DisconnectRecorder(id);
                               SyncLinks();
                               ShowConnectionState();
                           },
                           QString()});
    }
    // Views: the arrangement saved under a name, one shown, one deleted.
    actions.push_back({QStringLiteral("Save view..."), [this] { OpenSaveViewDialog(); },
                       QStringLiteral("Views")});
    for (const client::SiteView& view : client::ReadSavedViews(m_settings)) {
        const QString name = QString::fromStdString(view.name);
        actions.push_back({name, [this, view] { ShowView(view); }, QStringLiteral("Views")});
        actions.push_back({name,
                           [this, name = view.name] {
                               if (!client::DeleteView(m_settings, name))
                                   m_sink.ShowMessageBox("The view could not be deleted.");
                           },
                           QStringLiteral("Delete view")});
    }
    // The pane's menu is about its recorder (its snapshot is named after it).
    ChooseRecorder(pane->recorderId);
    const auto* save = Button(kSaveButton);
    m_snapshots->PaneMenu(
        *pane->views, pane->channel, at, !save || save->ButtonEnabled(), [this] { OpenAbout(); },
        actions);
}

void CClientDlg::SyncLinks() {
    // Live view shows every recorder of the site, each in its own panes.
    {
        const client::CSite& site = m_shell->Site();
        // Names and states only: this runs with every message.
        const auto rows = client::SiteRows(site, client::CReconnectController::Clock::now(), false);
        std::vector<client::LiveRecorder> recorders;
        for (int i = 0; i < site.Count() && i < static_cast<int>(rows.size()); ++i) {
            client::CRecorderLink* link = m_shell->Link(site.IdAt(i));
            if (link == nullptr || link->Views() == nullptr)
                continue;
            const client::RecorderRow& row = rows[static_cast<std::size_t>(i)];
            client::LiveRecorder r;
            r.id = row.id;
            r.connection = link->Connection();
            r.views = link->Views();
            r.name = row.name;
            r.state = row.statusText;
            r.connected = row.status == client::RecorderStatus::kLive ||
                          row.status == client::RecorderStatus::kConnected;
            if (const auto& target = link->Target()) {
                r.key = client::RecorderKey(*target);
                // Its channel count is remembered for the panes it keeps while away and at
                // the next start.
                if (link->LoggedIn() && link->Connection() != nullptr)
                    m_knownChannels[r.key] = link->Connection()->Session().Login().ChannelCount();
                const auto known = m_knownChannels.find(r.key);
                r.knownChannels = known != m_knownChannels.end() ? known->second : 0;
            }
            recorders.push_back(std::move(r));
        }
        if (m_live)
            m_live->Controller().SetRecorders(std::move(recorders));
        // A second recorder: the panel shows the site, once by itself.
        if (site.Count() > 1 && !m_sitePanelShownOnce && m_sitePanel) {
            m_sitePanelShownOnce = true;
            ShowSitePanel(true);
        }
    }
    client::CConnection* connection = m_shell->Connection();
    m_recordings->Attach(connection);
    // Only the selected recorder is heard, and only its panes carry sound icons.
    video::CChannelViews* heardViews = nullptr;
    const client::CSite& site = m_shell->Site();
    for (int i = 0; i < site.Count(); ++i) {
        client::CRecorderLink* link = m_shell->Link(site.IdAt(i));
        if (link == nullptr || link->Connection() == nullptr)
            continue;
        const bool heard = link->Connection() == connection;
        link->Connection()->State().SetAudioHeard(heard);
        if (heard)
            heardViews = link->Views();
    }
    const bool moved = m_sound->Heard() != connection;
    m_sound->Attach(connection, heardViews);
    if (moved && connection != nullptr && m_live) {
        // What the recorder heard before left in our stream is not played after the change.
        if (m_sound->Output() != nullptr)
            m_sound->Output()->Drop();
        m_live->Controller().RecheckAudio();
    }
    if (m_live)
        m_live->Controller().Attach(connection);
    // A closing connection is steered and upgraded no more.
    if (connection != nullptr && !connection->Closing())
        m_maintenance->Link(
            {&connection->Ptz(), &connection->Firmware(), connection->Generation()});
    else
        m_maintenance->Link({});
}

void CClientDlg::ShowView(const client::SiteView& view) {
    m_live->Controller().ShowView(view);
    ShowLayoutButtons(Grid()->Layout().Buttons());
}

void CClientDlg::OpenSaveViewDialog() {
    if (m_viewNameDialog)
        return;
    auto* dialog = new QInputDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(QStringLiteral("Save view"));
    dialog->setLabelText(QStringLiteral("Name of the view:"));
    dialog->setTextValue(
        QStringLiteral("View %1").arg(client::ReadSavedViews(m_settings).size() + 1));
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& name) {
        client::SiteView view = m_live->Controller().CaptureView();
        view.name = name.trimmed().toStdString();
        if (view.name.empty())
            return;
        if (client::SaveView(m_settings, view))
            return;
        const auto views = client::ReadSavedViews(m_settings);
        m_sink.ShowMessageBox(views.size() >= static_cast<std::size_t>(client::kMaxSavedViews)
                                  ? "No more than " + std::to_string(client::kMaxSavedViews) +
                                        " views can be saved; delete one first."
                                  : std::string("The view could not be saved."));
    });
    m_viewNameDialog = dialog;
    dialog->open();
}

bool CClientDlg::RestoreSite() {
    const client::RememberedSite remembered = client::ReadRememberedSite(m_settings);
    // One recorder at quit: the start asks for it as always (its address is remembered),
    // and its arrangement comes back when that recorder is the one connected.
    if (remembered.recorders.size() < 2) {
        m_startView = remembered.view;
        return false;
    }
    for (const client::RememberedRecorder& r : remembered.recorders) {
        const ConnectTarget target{r.address, r.port, r.user, {}, r.description};
        video::CChannelViews* views = FreeViews();
        if (views == nullptr || m_shell->HoldRecorder(target, *views).id < 0)
            continue;
        m_knownChannels[client::RecorderKey(target)] = r.channels;
        m_askAtStart.push_back(ConnectRequest{r.address, r.port, r.user, {}});
    }
    SyncLinks();
    if (remembered.view)
        ShowView(*remembered.view);
    if (auto* b = Button(360))
        b->SetCheck(1);
    ShowConnectionState();
    AskNextRecorder();
    return true;
}

void CClientDlg::AskNextRecorder() {
    if (m_askAtStart.empty() || m_quitting)
        return;
    if (m_connectDialog) {
        // The dialog before deletes itself once it has answered.
        QTimer::singleShot(50, this, [this] { AskNextRecorder(); });
        return;
    }
    const ConnectRequest request = m_askAtStart.front();
    m_askAtStart.pop_front();
    // The dialog confirms by itself with a remembered password, else waits for the
    // operator; cancelled, the recorder keeps its panes unconnected.
    OpenConnectDialog(request, true);
}

void CClientDlg::RememberSite() {
    if (m_shell->PlayerMode())
        return;
    client::RememberedSite site;
    const client::CSite& links = m_shell->Site();
    for (int i = 0; i < links.Count(); ++i) {
        const client::CRecorderLink* link = links.At(i);
        if (link == nullptr || !link->Target() || links.Leaving(links.IdAt(i)))
            continue;
        const ConnectTarget& target = *link->Target();
        const auto known = m_knownChannels.find(client::RecorderKey(target));
        site.recorders.push_back({target.address, target.port, target.user, target.description,
                                  known != m_knownChannels.end() ? known->second : 0});
    }
    if (!site.recorders.empty())
        site.view = m_live->Controller().CaptureView();
    if (!client::WriteRememberedSite(m_settings, site))
        platform::Trace("main window: the recorders in use could not be remembered\n");
}

}  // namespace taviro::app::ui
