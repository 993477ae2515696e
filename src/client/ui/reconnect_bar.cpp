#include "client/ui/reconnect_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "platform/ui/qt_owned.h"

namespace taviro::client::ui {

using platform::ui::Child;

CReconnectBar::CReconnectBar(QWidget* parent) : QWidget(parent) {
    setObjectName("ReconnectBar");
    setStyleSheet(
        "#ReconnectBar { background: transparent; }"
        "QLabel { color: #d8b25c; }"
        "QPushButton { color: #d0d6dc; background: #2b3037; border: 1px solid #9aa3ad;"
        " border-radius: 3px; padding: 1px 10px; }"
        "QPushButton:hover { background: #3a414a; }");
    auto* row = Child<QHBoxLayout>(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_text = Child<QLabel>(this);
    m_text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_cancel = Child<QPushButton>(this, QStringLiteral("Cancel"));
    m_cancel->setObjectName("ReconnectCancel");
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_cancel->setToolTip(QStringLiteral("Stop connecting again"));
    row->addWidget(m_text, 1);
    row->addWidget(m_cancel);
    hide();
    connect(m_cancel, &QPushButton::clicked, this, &CReconnectBar::CancelPressed);
}

bool CReconnectBar::Show(const CReconnectBanner::Line& line) {
    if (line.text.empty()) {
        hide();
        return false;
    }
    m_text->setText(QString::fromStdString(line.text));
    m_cancel->setVisible(line.cancellable);
    if (!isVisible()) {
        show();
        raise();
    }
    return true;
}

QString CReconnectBar::Text() const {
    return isVisible() ? m_text->text() : QString();
}

}  // namespace taviro::client::ui
