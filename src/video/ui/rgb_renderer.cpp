#include "video/ui/rgb_renderer.h"

#include <QPaintEvent>
#include <QPainter>
#include <mutex>

#include "platform/h264_decoder.h"

namespace taviro::video::ui {

void DrawBgrPicture(QPainter& painter, const QRect& pane, const platform::DecodedPicture* picture,
                    bool doubleLines) {
    if (!picture || picture->format != platform::kH264FormatRgb24 || !picture->planes[0])
        return;
    const int width = picture->width;
    const int height = picture->height;
    // The size first, so the stride arithmetic below cannot overflow.
    if (width <= 0 || height <= 0 ||
        platform::PackedPictureBytes(width, height, picture->format) > kPictureBufferSize ||
        picture->strides[0] < width * 3 || picture->strides[0] > (1 << 16))
        return;
    const Rect src = RgbSourceRect(width, height);
    if (src.Width() <= 0 || src.Height() <= 0)
        return;
    // Wrapped where it lies, no copy. Doubled lines: the odd rows (the lower row of each
    // pair), each row's step twice the stride, and the source rectangle in those rows.
    const int step = doubleLines && height >= 2 ? 2 : 1;
    const std::uint8_t* first = picture->planes[0] + (step == 2 ? picture->strides[0] : 0);
    const int rows = height / step;
    const QImage image(first, width, rows, picture->strides[0] * step, QImage::Format_BGR888);
    const QRectF source(src.left, static_cast<qreal>(src.top) / step, src.Width(),
                        static_cast<qreal>(src.Height()) / step);
    painter.drawImage(QRectF(pane), image, source);
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
            const ChannelView& view = plan.views->Channel(plan.recorderChannel);
            // The picture is drawn without the lock, so its decoder never waits on a paint.
            platform::PictureRef picture;
            bool doubleLines = false;
            {
                std::lock_guard lock(view.lock);
                picture = view.frame;
                doubleLines = view.doubleLines;
            }
            DrawBgrPicture(painter, pane, picture.get(), doubleLines);
            std::lock_guard lock(view.lock);
            DrawOsd(painter, plan, view, osd);
        } else {
            DrawNonPicture(painter, plan, osd);
        }
        m_source.PaneDrawn(plan);
    }
}

}  // namespace taviro::video::ui
