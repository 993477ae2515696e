// What the snapshot needs of Qt outside any window: the caption painter, the display's
// pixel format, the viewer's image loader and the clipboard.
#pragma once

#include <QImage>
#include <QString>

#include "snapshot/picture.h"

namespace taviro::snapshot::ui {

// Writes the caption with QPainter: font "Tahoma" when installed, else "DejaVu Sans" or
// "Liberation Sans", 21 pixels, normal weight, transparent background.
// Thread: constructed on the GUI thread (it asks the font database once); Paint on any
// worker, several at once (each paints its own image with its own QPainter).
class CQtCaptionPainter final : public ICaptionPainter {
  public:
    CQtCaptionPainter();
    void Paint(BgrImage& image, int x, int y, std::string_view text, std::uint32_t colour) override;
    [[nodiscard]] const QString& Family() const { return m_family; }

  private:
    QString m_family;
};

// The primary screen's pixel format (32, 24, or 16 bits as 5-6-5; 15 bits as 5-5-5).
// Thread: the GUI thread.
DisplayFormat ScreenDisplayFormat();

// A saved picture for the preview and the viewer: TIFF through the core loader, BMP and
// JPEG through QImageReader with an allocation limit; files above the size cap are not
// read. A null image with `error` when nothing could be loaded.
// Thread: any (no widgets).
QImage LoadSnapshotImage(const QString& path, QString* error = nullptr);

// Puts the picture on the clipboard. Thread: the GUI thread.
void CopyImageToClipboard(const QImage& image);

}  // namespace taviro::snapshot::ui
