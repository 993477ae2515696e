#include "snapshot/ui/preview_file_dialog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>

#include "snapshot/ui/snapshot_qt.h"

namespace taviro::snapshot::ui {

namespace {

constexpr int kPreviewWidth = 360;
constexpr int kPreviewHeight = 240;

}  // namespace

CPreviewFileDlg::CPreviewFileDlg(const QString& savedFolder, QWidget* parent)
    : QFileDialog(parent), m_generation(std::make_shared<std::atomic<unsigned>>(0)) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    setDefaultSuffix(QStringLiteral("Image"));
    setNameFilters({QStringLiteral("JPEG files(*.jpg)"), QStringLiteral("BMP files(*.bmp)"),
                    QStringLiteral("TIFF files(*.tif)"),
                    QStringLiteral("Pictures (*.jpg *.bmp *.tif)")});
    setDirectory(savedFolder);
    resize(656 + kPreviewWidth / 2, 340 + kPreviewHeight / 2);

    auto* side = new QWidget(this);
    auto* column = new QVBoxLayout(side);
    m_size = new QLabel(side);
    m_size->setFixedSize(160, 19);
    m_preview = new QLabel(side);
    m_preview->setFixedSize(kPreviewWidth, kPreviewHeight);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setFrameShape(QFrame::StyledPanel);
    column->addWidget(m_size, 0, Qt::AlignHCenter);
    column->addWidget(m_preview);
    column->addStretch();
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(side, 0, grid->columnCount(), grid->rowCount(), 1);
    }
    connect(this, &QFileDialog::currentChanged, this, &CPreviewFileDlg::OnCurrentChanged);
    connect(this, &QFileDialog::directoryEntered, this, [this] { Clear(); });
}

CPreviewFileDlg::~CPreviewFileDlg() {
    // Tasks still queued find a newer generation and do nothing.
    m_generation->fetch_add(1);
}

void CPreviewFileDlg::Clear() {
    m_generation->fetch_add(1);
    m_image = QImage();
    m_preview->clear();
    m_size->clear();
}

void CPreviewFileDlg::OnCurrentChanged(const QString& path) {
    Clear();
    if (path.isEmpty()) {
        return;
    }
    const unsigned generation = m_generation->load();
    QPointer<CPreviewFileDlg> self(this);
    std::shared_ptr<std::atomic<unsigned>> current = m_generation;
    QThreadPool::globalInstance()->start([self, current, generation, path] {
        if (current->load() != generation) {
            return;  // another file was selected meanwhile
        }
        const QImage full = LoadSnapshotImage(path);
        QImage image;
        if (!full.isNull()) {
            // Only the stretched preview travels back, with the full size as its text.
            image = full.scaled(kPreviewWidth, kPreviewHeight, Qt::IgnoreAspectRatio,
                                Qt::SmoothTransformation);
            image.setText(QStringLiteral("size"),
                          QString::asprintf("(%d x %d)", full.width(), full.height()));
        }
        // Delivered on the GUI thread, where the pointer is checked.
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, image] {
                if (self) {
                    self->ShowPreview(generation, image);
                }
            },
            Qt::QueuedConnection);
    });
}

void CPreviewFileDlg::ShowPreview(unsigned generation, const QImage& image) {
    if (generation != m_generation->load()) {
        return;
    }
    m_shown = generation;
    if (image.isNull()) {
        m_preview->clear();
        m_size->clear();
        return;
    }
    m_image = image;
    m_preview->setPixmap(QPixmap::fromImage(image));
    m_size->setText(image.text(QStringLiteral("size")));
}

bool CPreviewFileDlg::WaitForPreview(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (m_shown != m_generation->load() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return m_shown == m_generation->load();
}

}  // namespace taviro::snapshot::ui
