#include "video/ui/rgb_renderer.h"

#include <QPaintEvent>
#include <QPainter>
#include <mutex>

#include "platform/h264_decoder.h"

namespace taviro::video::ui {

void DrawBgrPicture(QPainter& painter, const QRect& pane, const std::uint8_t* picture, int width,
                    int height) {
    if (!picture || width <= 0 || height <= 0 ||
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 > kPictureBufferSize)
        return;
    const Rect src = RgbSourceRect(width, height);
    if (src.Width() <= 0 || src.Height() <= 0)
        return;
    // The buffer is bottom-up: wrapped as it lies, the picture is upside down, so the source
    // rectangle is taken from the bottom and the drawing is flipped back.
    const QImage image(picture, width, height, width * 3, QImage::Format_BGR888);
    const QRect flippedSource(src.left, height - src.bottom, src.Width(), src.Height());
    painter.save();
    painter.translate(pane.left(), pane.top() + pane.height());
    painter.scale(1.0, -1.0);
    painter.drawImage(QRectF(0, 0, pane.width(), pane.height()), image, QRectF(flippedSource));
    painter.restore();
}

CRgbRenderer::CRgbRenderer(IPaneSource& source, QWidget* parent)
    : QWidget(parent), m_source(source) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

std::uint32_t CRgbRenderer::PictureFormat() const {
    return platform::kH264FormatRgb24;
}

void CRgbRenderer::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRegion region = event->region();
    for (const QRect& r : region)
        painter.fillRect(r, m_source.Background());
    const OsdState osd = m_source.Osd();
    for (const PanePlan& plan : m_source.Plan()) {
        const QRect pane = ToQRect(plan.rect);
        if (!region.intersects(pane))
            continue;
        if (plan.kind == PaneKind::Picture) {
            const ChannelView& view = m_source.Views().Channel(plan.channel);
            std::lock_guard lock(view.lock);
            DrawBgrPicture(painter, pane, view.picture.get(), view.width, view.height);
            DrawOsd(painter, pane, plan.channel, view, osd);
        } else {
            DrawNonPicture(painter, plan, osd);
        }
        m_source.PaneDrawn(plan);
    }
}

}  // namespace taviro::video::ui
