// The RGB renderer: 24-bit BGR pictures (rows top-down, straight from the decoder's shared
// picture; interlaced ones drawn from their even rows, which the stretch doubles) stretched
// with QPainter from their trimmed source rectangle over the pane, the
// OSD drawn over them in the same pass. Only the panes that meet the update region are
// drawn.
//
// Threads: the user-interface thread. Owned by its Qt parent (the grid).
#pragma once

#include <QWidget>

#include "video/ui/pane_renderer.h"

namespace taviro::video::ui {

class CRgbRenderer final : public QWidget, public IPaneRenderer {
    Q_OBJECT
  public:
    CRgbRenderer(IPaneSource& source, QWidget* parent);

    [[nodiscard]] RendererKind Kind() const override { return RendererKind::Rgb; }
    [[nodiscard]] std::uint32_t PictureFormat() const override;
    QWidget* Surface() override { return this; }
    void Invalidate(const QRegion& region) override { update(region); }
    void InvalidateAll() override { update(); }
    QImage Grab() override { return grab().toImage(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    IPaneSource& m_source;
};

// Draws a BGR picture's source rectangle stretched over `pane`; with `doubleLines` only the
// even rows, each shown twice.
void DrawBgrPicture(QPainter& painter, const QRect& pane, const platform::DecodedPicture* picture,
                    bool doubleLines);

}  // namespace taviro::video::ui
