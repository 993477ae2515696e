// Coming back after a network loss, as the main window shows it: a small bar over the
// connection state in the title strip says "Reconnecting in N s" (counting down) with a
// Cancel button, and a connection that came back gets the grid's layout and page again.
// The shell decides and connects; this file only ticks it and draws what it says.
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>

#include "app/ui/client_dlg.h"
#include "platform/ui/qt_owned.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

using platform::ui::Child;

namespace {

// The countdown is redrawn four times a second so that it never lags a whole second.
constexpr int kReconnectTickMs = 250;
// How long the note that a playback or backup was interrupted stays after the return.
constexpr int kRestoredNoteTicks = 10'000 / kReconnectTickMs;

QString Interrupted(const client::ResumeState& resume) {
    if (resume.playback && resume.backup)
        return QStringLiteral("remote playback and backup interrupted");
    if (resume.playback)
        return QStringLiteral("remote playback interrupted");
    if (resume.backup)
        return QStringLiteral("backup interrupted");
    return {};
}

}  // namespace

void CClientDlg::CreateReconnectBar() {
    // Over the right end of the title strip, where the connection state is; the state's
    // colours, so that it reads as part of the skin.
    m_reconnectBar = Child<QWidget>(this);
    m_reconnectBar->setObjectName("ReconnectBar");
    m_reconnectBar->setGeometry(430, 3, 460, 24);
    m_reconnectBar->setStyleSheet(
        "#ReconnectBar { background: transparent; }"
        "QLabel { color: #d8b25c; }"
        "QPushButton { color: #d0d6dc; background: #2b3037; border: 1px solid #9aa3ad;"
        " border-radius: 3px; padding: 1px 10px; }"
        "QPushButton:hover { background: #3a414a; }");
    auto* row = Child<QHBoxLayout>(m_reconnectBar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_reconnectText = Child<QLabel>(m_reconnectBar);
    m_reconnectText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_reconnectCancel = Child<QPushButton>(m_reconnectBar, QStringLiteral("Cancel"));
    m_reconnectCancel->setObjectName("ReconnectCancel");
    m_reconnectCancel->setFocusPolicy(Qt::NoFocus);
    m_reconnectCancel->setToolTip(QStringLiteral("Stop connecting again"));
    row->addWidget(m_reconnectText, 1);
    row->addWidget(m_reconnectCancel);
    m_reconnectBar->hide();
    connect(m_reconnectCancel, &QPushButton::clicked, this, [this] {
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
    m_reconnectTimer = Child<QTimer>(this);
    m_reconnectTimer->setInterval(kReconnectTickMs);
    connect(m_reconnectTimer, &QTimer::timeout, this, &CClientDlg::OnReconnectTick);
    m_reconnectTimer->start();
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
    const client::CReconnectController& reconnect = m_shell->Reconnect();
    const QString interrupted = Interrupted(reconnect.Resume());
    QString text;
    bool cancellable = false;
    switch (reconnect.State()) {
        case client::ReconnectState::kWaiting:
            text = QStringLiteral("Reconnecting in %1 s")
                       .arg(reconnect.SecondsLeft(client::CReconnectController::Clock::now()));
            cancellable = true;
            m_restoredNoteTicks = kRestoredNoteTicks;
            break;
        case client::ReconnectState::kConnecting:
            text = QStringLiteral("Reconnecting\u2026");
            cancellable = true;
            m_restoredNoteTicks = kRestoredNoteTicks;
            break;
        case client::ReconnectState::kRestored:
            // What was not brought back is said once more, for a while.
            if (!interrupted.isEmpty() && m_restoredNoteTicks > 0) {
                --m_restoredNoteTicks;
                text = QStringLiteral("Connection restored");
            }
            break;
        default:
            break;
    }
    if (!text.isEmpty() && !interrupted.isEmpty())
        text += QStringLiteral(" \u00b7 ") + interrupted;
    if (text.isEmpty()) {
        if (m_reconnectBar->isVisible()) {
            m_reconnectBar->hide();
            m_stateLabel->show();
        }
        return;
    }
    m_reconnectText->setText(text);
    m_reconnectCancel->setVisible(cancellable);
    if (!m_reconnectBar->isVisible()) {
        // The bar takes the state's place while it is up.
        m_stateLabel->hide();
        m_reconnectBar->show();
        m_reconnectBar->raise();
    }
}

QString CClientDlg::ReconnectText() const {
    return m_reconnectBar && m_reconnectBar->isVisible() ? m_reconnectText->text() : QString();
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
