// The messages other threads post to the main window, and the notification popups.
#include "app/player_mode.h"
#include "app/ui/client_dlg.h"
#include "client/connection.h"
#include "client/ui/recordings_panel.h"
#include "connect/ui/connect_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "maintenance/ptz_controller.h"
#include "notify/ui/notify_popup.h"
#include "platform/trace.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/session_messages.h"

namespace taviro::app::ui {

void CClientDlg::OnPosted(const platform::PostedMessage& m) {
    using namespace platform;
    if (!m_live)
        return;  // nothing is connected or playing before Initialise made the panels
    // The shell destroys an ended connection in OnMessage: what refers to its services goes
    // first (the upgrade window and the PTZ link).
    if (m.message == client::WM_CONNECTION_CLOSED) {
        client::CConnection* connection = m_shell->Connection();
        if (connection != nullptr && connection->Generation() == m.generation) {
            m_maintenance->Link({});
            m_recordings->Attach(nullptr);
            m_sound->Attach(nullptr);
            m_live->Controller().Attach(nullptr);
        }
        // Live view holds every recorder's connection: none that is going.
        m_live->Controller().ConnectionGoing(m.generation);
    }
    // The shell drops the messages of a connection that has ended, and acts on its own.
    if (!m_shell->OnMessage(m))
        return;
    const int recorder = m_shell->MessageRecorder();
    if (m.message == client::WM_CONNECTION_CLOSED) {
        OnConnectionClosed(recorder);
        return;
    }
    if (m_quitting)
        return;
    // A connection the reconnect made by itself is the controllers' from its first message.
    SyncLinks();
    if (recorder >= 0 && recorder != m_shell->SelectedRecorder()) {
        // Another recorder than the one the window's services act on: its panes follow, its
        // notes are shown (naming it); the window's buttons and services are not its.
        m_live->OnPosted(m, recorder);
        if (m.message == WM_RECORDER_NOTIFY) {
            m_presenter->Present(NotifyCategory(m.lParam), NotifyCode(m.lParam));
            emit NotificationDone(NotifyCategory(m.lParam), NotifyCode(m.lParam));
        } else if (m.message == protocol::WM_SESSION_LOGGED_IN) {
            ShowConnectionState();
            emit LoggedIn();
        }
        return;
    }
    if (m_recordings->OnPosted(m) || m_snapshots->OnPosted(m) || m_maintenance->OnPosted(m))
        return;
    m_live->OnPosted(m, recorder);
    switch (m.message) {
        case WM_RECORDER_NOTIFY:
            m_presenter->Present(NotifyCategory(m.lParam), NotifyCode(m.lParam));
            emit NotificationDone(NotifyCategory(m.lParam), NotifyCode(m.lParam));
            break;
        case WM_CONTROL_STATE:
            SetControlState(m.wParam, m.lParam);
            break;
        case protocol::WM_RELEASE_SESSION:
            // The connect thread failed: the connection goes, the Connect button up.
            SetControlState(protocol::kCtlConnect, kReleased);
            ShowConnectionState();
            break;
        case protocol::WM_SESSION_LOGGED_IN:
            // A connection that came back by itself shows the view it had (the login's
            // live start has already put the grid in its first layout).
            if (const auto resume = m_shell->TakeViewRestore())
                m_live->Restore(*resume);
            // The connection is back: what said it failed or ended is over.
            m_presenter->DismissConnectionNotes();
            UpdateToolTips();
            ShowConnectionState();
            emit LoggedIn();
            break;
        case protocol::WM_CHANNEL_GRID_MODE:
            if (m.wParam != protocol::kGridLocal)
                m_maintenance->Ptz().SetLive(m.wParam == protocol::kGridLive);
            break;
        case app::WM_START_PLAYER:
            // The local archive player opens by itself in player mode once it exists.
            if (m_shell->PlayerMode()) {
                Trace("main window: player mode, no recorder connection\n");
                m_local->OpenArchive();
            }
            break;
        default:
            break;  // windows of services that are not open have nothing to do
    }
}

void CClientDlg::OnConnectionClosed(int recorderId) {
    if (m_quitting) {
        if (m_shell->QuitDone())
            FinishQuit();
        return;
    }
    SyncLinks();
    m_live->OnConnectionClosed(recorderId);
    // Another recorder's connection has gone; the window's own still runs.
    if (m_shell->Connection() != nullptr) {
        ShowConnectionState();
        return;
    }
    // The teardown has ended: the window shows no connection any more.
    if (!m_shell->HasSession())
        SetControlState(protocol::kCtlConnect, platform::kReleased);
    SetControlState(protocol::kCtlLive, platform::kDisabled);
    UpdateToolTips();
    ShowConnectionState();
}

void CClientDlg::CreatePresenter() {
    notify::ui::NotifyCallbacks callbacks;
    callbacks.disconnect = [this] {
        // Another recorder's connection ended: only it goes; the selected one's takes the
        // window's own teardown.
        const int about = m_shell->MessageRecorder();
        if (about >= 0 && about != m_shell->SelectedRecorder())
            m_shell->DisconnectMessageRecorder();
        else
            Disconnect();
    };
    callbacks.context = [this] {
        return m_shell->NotificationContext(m_version, notify::ui::SkinTextLookup());
    };
    callbacks.facts = [this] { return m_shell->NotificationFacts(); };
    callbacks.followUp = [this](notify::FollowUpAction action) {
        if (!m_shell->RunFollowUp(action))
            return;
        if (action == notify::FollowUpAction::kOpenSearch)
            OnCommand(361);
        else
            m_maintenance->OpenUpgradeWindow();
    };
    callbacks.cancelAction = [this](notify::NotifyCancelAction action) {
        if (action == notify::NotifyCancelAction::kDiscardPendingSearch)
            m_recordings->Playback().Pending().Clear();
    };
    m_presenter = std::make_unique<notify::ui::CNotifyPresenter>(this, std::move(callbacks),
                                                                 notify::ui::SkinTextLookup());
}

}  // namespace taviro::app::ui
