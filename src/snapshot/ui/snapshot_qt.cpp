#include "snapshot/ui/snapshot_qt.h"

#include <QClipboard>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QScreen>
#include <cstring>

#include "snapshot/image_file.h"

namespace taviro::snapshot::ui {

namespace {

constexpr int kCaptionPixels = 21;
// The decoded picture may take at most this many megabytes.
constexpr int kAllocationLimitMb = 400;

}  // namespace

CQtCaptionPainter::CQtCaptionPainter() {
    const QStringList families = QFontDatabase::families();
    for (const char* wanted : {"Tahoma", "DejaVu Sans", "Liberation Sans"}) {
        if (families.contains(QString::fromLatin1(wanted), Qt::CaseInsensitive)) {
            m_family = QString::fromLatin1(wanted);
            break;
        }
    }
    if (m_family.isEmpty()) {
        m_family = QFont().family();
    }
}

void CQtCaptionPainter::Paint(BgrImage& image, int x, int y, std::string_view text,
                              std::uint32_t colour) {
    if (image.width <= 0 || image.height <= 0 ||
        image.bytes.size() <
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
        return;
    }
    // Paints straight into the picture's bytes: the rows are packed BGR, as QImage's
    // BGR888 with a stride of width x 3.
    QImage canvas(image.bytes.data(), image.width, image.height, image.width * 3,
                  QImage::Format_BGR888);
    QFont font(m_family);
    font.setPixelSize(kCaptionPixels);
    font.setWeight(QFont::Normal);
    QPainter painter(&canvas);
    painter.setFont(font);
    painter.setPen(QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                          static_cast<int>((colour >> 16) & 0xFF)));
    painter.setBackgroundMode(Qt::TransparentMode);
    // (x, y) is the top of the text cell; QPainter places text by its baseline.
    painter.drawText(x, y + painter.fontMetrics().ascent(),
                     QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

DisplayFormat ScreenDisplayFormat() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int depth = screen != nullptr ? screen->depth() : 32;
    switch (depth) {
        case 32:
        case 24:
            return DisplayFormat{depth, Pixel16Layout::kNone};
        case 16:
            return DisplayFormat{16, Pixel16Layout::k565};
        case 15:
            return DisplayFormat{16, Pixel16Layout::k555};
        default:
            return DisplayFormat{depth, Pixel16Layout::kNone};
    }
}

QImage LoadSnapshotImage(const QString& path, QString* error) {
    auto fail = [error](const QString& text) {
        if (error != nullptr) {
            *error = text;
        }
        return QImage();
    };
    const std::filesystem::path file = path.toStdString();
    switch (ImageKindOfPath(file)) {
        case ImageKind::kTiff: {
            std::string message;
            const auto rgb = LoadTiffFile(file, &message);
            if (!rgb) {
                return fail(QString::fromStdString(message));
            }
            QImage image(rgb->width, rgb->height, QImage::Format_RGB888);
            if (image.isNull()) {
                return fail(QStringLiteral("out of memory"));
            }
            const auto row = static_cast<std::size_t>(rgb->width) * 3;
            for (int y = 0; y < rgb->height; ++y) {
                std::memcpy(image.scanLine(y),
                            rgb->bytes.data() + row * static_cast<std::size_t>(y), row);
            }
            return image;
        }
        case ImageKind::kBmp:
        case ImageKind::kJpeg:
            break;
        case ImageKind::kNone:
            return fail(QStringLiteral("not a picture file: %1").arg(path));
    }
    const QFileInfo info(path);
    if (!info.isFile()) {
        return fail(QStringLiteral("cannot open %1").arg(path));
    }
    if (static_cast<std::uint64_t>(info.size()) > kMaxImageFileBytes) {
        return fail(QStringLiteral("%1 is too large").arg(path));
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    const QSize size = reader.size();
    if (size.isValid() &&
        static_cast<std::uint64_t>(size.width()) * static_cast<std::uint64_t>(size.height()) >
            ImageLimits{}.maxPixels) {
        return fail(QStringLiteral("%1 is too large").arg(path));
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return fail(reader.errorString());
    }
    return image;
}

void CopyImageToClipboard(const QImage& image) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setImage(image);
    }
}

}  // namespace taviro::snapshot::ui
