// Coming back after a network loss, as the main window shows it: the reconnect bar takes
// the connection state's place in the title strip while the shell waits and connects, and
// a connection that came back gets the grid's layout and page again.
#include <QLabel>
#include <QTimer>

#include "app/ui/client_dlg.h"
#include "client/ui/reconnect_bar.h"
#include "platform/ui/qt_owned.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

// The countdown is redrawn four times a second so that it never lags a whole second.
constexpr int kReconnectTickMs = 250;

}  // namespace

void CClientDlg::CreateReconnectBar() {
    // Over the right end of the title strip, where the connection state is.
    m_reconnectBar = platform::ui::Child<client::ui::CReconnectBar>(this);
    m_reconnectBar->setGeometry(430, 3, 460, 24);
    connect(m_reconnectBar, &client::ui::CReconnectBar::CancelPressed, this, [this] {
        m_shell->CancelReconnect();
        OnReconnectTick();
        ShowConnectionState();
    });
    // What the grid showed when the connection was lost.
    m_shell->SetViewProbe([this](client::ResumeState& state) {
        if (m_grid) {
            state.layout = m_grid->Layout().Layout();
            state.page = m_grid->Layout().Page();
        }
    });
    auto* timer = platform::ui::Child<QTimer>(this);
    timer->setInterval(kReconnectTickMs);
    connect(timer, &QTimer::timeout, this, &CClientDlg::OnReconnectTick);
    timer->start();
}

void CClientDlg::OnReconnectTick() {
    if (m_quitting) {
        m_reconnectBar->hide();
        m_stateLabel->show();  // "Closing..."
        return;
    }
    const bool hadConnection = m_shell->HasSession();
    m_shell->ReconnectTick();
    if (!hadConnection && m_shell->HasSession())
        ShowConnectionState();  // an attempt started: "Connecting..."
    const auto line =
        m_reconnectBanner.Update(m_shell->Reconnect(), client::CReconnectController::Clock::now());
    // The bar takes the state's place while it is up.
    m_stateLabel->setVisible(!m_reconnectBar->Show(line));
}

QString CClientDlg::ReconnectText() const {
    return m_reconnectBar ? m_reconnectBar->Text() : QString();
}

QPushButton* CClientDlg::ReconnectCancelButton() const {
    return m_reconnectBar ? m_reconnectBar->CancelButton() : nullptr;
}

void CClientDlg::RestoreView(const client::ResumeState& resume) {
    if (!m_grid || resume.layout < 0)
        return;
    // Pressing a layout's button again turns its page; the first press starts at page 0.
    // A page the recorder no longer has stops the turning after one round.
    m_grid->SelectLayout(resume.layout);
    for (int turns = 0; turns < protocol::kMaxChannels && m_grid->Layout().Page() != resume.page;
         ++turns)
        m_grid->SelectLayout(resume.layout);
    ShowLayoutButtons(m_grid->Layout().Buttons());
}

}  // namespace taviro::app::ui
