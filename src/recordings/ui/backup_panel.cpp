#include "recordings/ui/backup_panel.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

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
    m_open = new QPushButton(QStringLiteral("Open folder"), this);
    m_open->setObjectName(QStringLiteral("OpenBackupFolder"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    layout->addWidget(title);
    layout->addWidget(m_bar);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_stop);
    layout->addWidget(m_open);
    layout->addWidget(m_close);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_stop->setEnabled(false);
        emit StopPressed();
    });
    m_opener = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (!m_folder.isEmpty() && m_opener)
            m_opener(m_folder);
    });
    connect(m_close, &QPushButton::clicked, this, [this] { hide(); });
    m_open->hide();
    m_close->hide();
    hide();
}

void CBackupPanel::SetFolderOpener(std::function<void(const QString&)> opener) {
    m_opener = std::move(opener);
}

QWidget* CBackupPanel::OpenFolderButton() const {
    return m_open;
}

QWidget* CBackupPanel::StopButton() const {
    return m_stop;
}

QWidget* CBackupPanel::CloseButton() const {
    return m_close;
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
    m_stop->show();
    m_bar->show();
    m_open->hide();
    m_close->hide();
    m_folder.clear();
    m_bRunning = true;
    m_text->setStyleSheet(QString());
    show();
    raise();
}

void CBackupPanel::Progress(std::uint64_t doneKb) {
    m_progress.Update(doneKb, NowMs());
    m_bar->setValue(m_progress.Permille());
    m_text->setText(QString::fromStdString(m_progress.Text()));
}

void CBackupPanel::Finished(const std::optional<BackupOutcome>& outcome) {
    m_bRunning = false;
    if (!outcome) {
        hide();
        return;
    }
    m_folder = QString::fromStdString(BackupFolder(*outcome).string());
    m_text->setText(QString::fromStdString(BackupEndText(*outcome)));
    m_text->setToolTip(m_text->text());
    // A backup cut short must not pass for a finished one.
    const bool whole = !outcome->failed && outcome->end == BackupEnd::kDone;
    m_text->setStyleSheet(whole ? QString() : QStringLiteral("color: #e04040;"));
    m_bar->hide();
    m_stop->hide();
    m_open->setVisible(!m_folder.isEmpty());
    m_close->show();
    show();
    raise();
}

QString CBackupPanel::Text() const {
    return m_text->text();
}

int CBackupPanel::Value() const {
    return m_bar->value();
}

}  // namespace taviro::recordings::ui
