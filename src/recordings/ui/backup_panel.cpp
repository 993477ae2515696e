#include "recordings/ui/backup_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace taviro::recordings::ui {

CBackupPanel::CBackupPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("BackupPanel"));
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    auto* title = new QLabel(QStringLiteral("Backup"), this);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setFixedWidth(260);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("BackupText"));
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    layout->addWidget(title);
    layout->addWidget(m_bar);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_stop);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_stop->setEnabled(false);
        emit StopPressed();
    });
    hide();
}

std::int64_t CBackupPanel::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_start)
        .count();
}

void CBackupPanel::Started(std::uint64_t totalKb) {
    m_progress.Start(totalKb, NowMs());
    m_bar->setValue(0);
    m_text->setText(QString::fromStdString(m_progress.Text()));
    m_stop->setEnabled(true);
    show();
    raise();
}

void CBackupPanel::Progress(std::uint64_t doneKb) {
    m_progress.Update(doneKb, NowMs());
    m_bar->setValue(m_progress.Permille());
    m_text->setText(QString::fromStdString(m_progress.Text()));
}

void CBackupPanel::Finished() {
    hide();
}

QString CBackupPanel::Text() const {
    return m_text->text();
}

int CBackupPanel::Value() const {
    return m_bar->value();
}

}  // namespace taviro::recordings::ui
