#include "archive/ui/export_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "archive/progress_text.h"
#include "platform/storage.h"

namespace taviro::archive::ui {

namespace {

QDateTimeEdit* TimeEdit(std::uint32_t seconds, QWidget* parent) {
    auto* box = new QDateTimeEdit(parent);
    box->setTimeSpec(Qt::UTC);  // the recorder's wall clock, counted as UTC
    box->setDisplayFormat(QStringLiteral("yyyy-MM-dd  HH:mm:ss"));
    box->setDateTime(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC));
    return box;
}

}  // namespace

CExportDialog::CExportDialog(std::filesystem::path folder, std::filesystem::path saveFolder,
                             std::uint32_t from, std::uint32_t to, std::uint32_t channels,
                             QWidget* parent)
    : QDialog(parent), m_folder(std::move(folder)), m_saveFolder(saveFolder) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QStringLiteral("Export"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_from = TimeEdit(from, this);
    m_to = TimeEdit(to, this);
    form->addRow(QStringLiteral("From"), m_from);
    form->addRow(QStringLiteral("To"), m_to);
    auto* grid = new QGridLayout;
    for (int c = 0; c < 16; ++c) {
        auto* box = new QCheckBox(QStringLiteral("CH%1").arg(c + 1, 2, 10, QLatin1Char('0')), this);
        box->setChecked(((channels >> c) & 1u) != 0);
        grid->addWidget(box, c / 8, c % 8);
        m_channels[static_cast<std::size_t>(c)] = box;
    }
    form->addRow(QStringLiteral("Channels"), grid);
    m_format = new QComboBox(this);
    m_format->addItem(QStringLiteral("MP4 (.mp4)"), QStringLiteral(".mp4"));
    m_format->addItem(QStringLiteral("Matroska (.mkv)"), QStringLiteral(".mkv"));
    form->addRow(QStringLiteral("Format"), m_format);
    const QString stamp =
        QDateTime::fromSecsSinceEpoch(from, Qt::UTC).toString(QStringLiteral("yyyyMMdd_HHmmss"));
    m_file = new QLineEdit(
        QString::fromStdString((saveFolder / ("export_" + stamp.toStdString() + ".mp4")).string()),
        this);
    form->addRow(QStringLiteral("File"), m_file);
    connect(m_format, &QComboBox::currentIndexChanged, this, [this] {
        std::filesystem::path path = m_file->text().toStdString();
        path.replace_extension(m_format->currentData().toString().toStdString());
        m_file->setText(QString::fromStdString(path.string()));
    });
    layout->addLayout(form);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    layout->addWidget(m_bar);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("ExportText"));
    m_text->setWordWrap(true);
    layout->addWidget(m_text);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_export = new QPushButton(QStringLiteral("Export"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(m_export);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(m_export, &QPushButton::clicked, this, [this] { StartExport(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
}

// m_job's end cancels a running export, which stops at its next record and cleans up.
CExportDialog::~CExportDialog() = default;

void CExportDialog::CancelExport() {
    m_job.Cancel();
}

int CExportDialog::ProgressValue() const {
    return m_bar->value();
}

QString CExportDialog::ProgressText() const {
    return m_text->text();
}

void CExportDialog::StartExport() {
    if (m_running)
        return;
    std::uint32_t mask = 0;
    for (int c = 0; c < 16; ++c)
        if (m_channels[static_cast<std::size_t>(c)]->isChecked())
            mask |= 1u << c;
    const auto from = static_cast<std::uint32_t>(m_from->dateTime().toSecsSinceEpoch());
    const auto to = static_cast<std::uint32_t>(m_to->dateTime().toSecsSinceEpoch());
    const std::filesystem::path output = m_file->text().toStdString();
    const auto format = ExportFormatOf(output);
    if (mask == 0 || to <= from || !format) {
        m_text->setText(
            QStringLiteral("Choose channels, a range whose end is after its start, and "
                           "a file ending in .mp4 or .mkv."));
        return;
    }
    m_running = true;
    m_result.reset();
    m_export->setEnabled(false);
    m_bar->setValue(0);
    m_text->setText(QStringLiteral("Exporting ..."));
    m_started = std::chrono::steady_clock::now();
    QPointer<CExportDialog> self(this);
    const std::filesystem::path folder = m_folder;
    // The storage folder's "Saved" is made when it is first written into; a folder the user
    // typed must exist.
    const bool intoSaved = !m_saveFolder.empty() && output.parent_path().lexically_normal() ==
                                                        m_saveFolder.lexically_normal();
    const std::filesystem::path saveFolder = m_saveFolder;
    const bool started = m_job.Start<ExportResult>(
        this,
        [=](const std::atomic<bool>& cancel) {
            if (intoSaved && !platform::EnsureFolder(saveFolder)) {
                ExportResult result;
                result.error = "cannot create the folder " + saveFolder.string();
                return result;
            }
            return ExportRange(
                folder, from, to, mask, output, *format,
                [self](std::uint64_t bytes, std::uint64_t total) {
                    QMetaObject::invokeMethod(
                        QCoreApplication::instance(),
                        [self, bytes, total] {
                            if (self)
                                self->OnProgress(bytes, total);
                        },
                        Qt::QueuedConnection);
                },
                &cancel);
        },
        [this](ExportResult result) { OnDone(std::move(result)); });
    if (!started) {
        // A cancelled export is still removing its files.
        m_running = false;
        m_export->setEnabled(true);
        m_text->setText(QStringLiteral("The previous export is still ending; try again."));
    }
}

void CExportDialog::OnProgress(std::uint64_t bytes, std::uint64_t total) {
    if (!m_running || total == 0)
        return;
    m_bar->setValue(static_cast<int>(std::min<std::uint64_t>(bytes * 1000 / total, 1000)));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    QString text = QString::fromStdString(archive::SizeText(bytes / 1024) + " of " +
                                          archive::SizeText(total / 1024));
    if (elapsed > 0.2 && bytes > 0) {
        const double rate = static_cast<double>(bytes) / elapsed;
        const auto left = static_cast<std::int64_t>(
            static_cast<double>(total - std::min(bytes, total)) / rate + 0.5);
        text += QString::fromStdString("  " + archive::DurationText(left) + " left");
    }
    m_text->setText(text);
}

void CExportDialog::OnDone(ExportResult result) {
    m_running = false;
    m_export->setEnabled(true);
    if (result.ok) {
        m_bar->setValue(1000);
        QStringList lines;
        for (const auto& f : result.files)
            lines << QStringLiteral("%1: %2 frames, %3 s")
                         .arg(QString::fromStdString(f.path.filename().string()))
                         .arg(f.frames)
                         .arg(f.duration, 0, 'f', 1);
        for (const auto& note : result.notes)
            lines << QString::fromStdString(note);
        m_text->setText(lines.join(QLatin1Char('\n')));
    } else {
        m_bar->setValue(0);
        m_text->setText(result.cancelled
                            ? QStringLiteral("Cancelled; nothing was written.")
                            : QString::fromStdString("The export failed: " + result.error));
    }
    m_result = std::move(result);
    emit Finished();
}

void CExportDialog::reject() {
    if (m_running) {
        m_job.Cancel();  // the dialog stays until the export has cleaned up
        return;
    }
    QDialog::reject();
}

}  // namespace taviro::archive::ui
