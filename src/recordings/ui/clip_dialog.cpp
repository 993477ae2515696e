#include "recordings/ui/clip_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/ui/qt_owned.h"

namespace taviro::recordings::ui {

using platform::ui::Child;

CClipDialog::CClipDialog(const QString& what, const std::filesystem::path& folder, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ClipDialog"));
    setWindowTitle(QStringLiteral("Clip"));
    auto* form = Child<QFormLayout>(this);
    form->addRow(Child<QLabel>(this, what));
    auto* box = Child<QWidget>(this);
    auto* row = Child<QHBoxLayout>(box);
    row->setContentsMargins(0, 0, 0, 0);
    m_folder = Child<QLineEdit>(box, QString::fromStdString(folder.string()));
    m_folder->setMinimumWidth(320);
    auto* browse = Child<QPushButton>(box, QStringLiteral("Browse\u2026"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Clip folder"), m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(chosen);
    });
    row->addWidget(m_folder);
    row->addWidget(browse);
    form->addRow(QStringLiteral("Folder"), box);
    m_format = Child<QComboBox>(this);
    m_format->addItem(QStringLiteral("MP4 (.mp4)"));
    m_format->addItem(QStringLiteral("Matroska (.mkv)"));
    form->addRow(QStringLiteral("Format"), m_format);
    auto* buttons = Child<QDialogButtonBox>(this, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!m_folder->text().trimmed().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

std::filesystem::path CClipDialog::Folder() const {
    return std::filesystem::path(m_folder->text().trimmed().toStdString());
}

bool CClipDialog::Matroska() const {
    return m_format->currentIndex() == 1;
}

}  // namespace taviro::recordings::ui
