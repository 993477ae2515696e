#include "draw.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

#include "app/main_window_layout.h"
#include "platform/skin_numbers.h"

namespace taviro::skin {
namespace {

namespace pics = platform::skin;

enum Frame { kNormal = 0, kHover, kFocus, kPressed, kDisabled };

QColor ColorKey(const Entry& e, const std::string& key, const QColor& fallback) {
    const std::string v = e.Key(key);
    if (v.empty())
        return fallback;
    const QColor c(QString::fromStdString(v));
    return c.isValid() ? c : fallback;
}

QImage Blank(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// A rounded, softly lit face: the one look of every button, in the state's colours.
void Face(QPainter& p, const QRectF& r, int frame, const QColor& accent, double radius) {
    const Palette& c = Colors();
    QColor top = c.buttonTop, bottom = c.buttonBottom, border = c.buttonBorder;
    if (frame == kHover) {
        top = c.hoverTop;
        bottom = c.hoverBottom;
    } else if (frame == kPressed) {
        top = accent.darker(115);
        bottom = accent.darker(160);
        border = accent.darker(260);
    } else if (frame == kDisabled) {
        top = c.buttonBottom.darker(115);
        bottom = c.buttonBottom.darker(125);
    }
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(border, 1));
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    // The crisp 1-px highlight along the top edge (a shadow line when pressed).
    QColor line = frame == kPressed ? QColor(0, 0, 0, 70) : QColor(255, 255, 255, 28);
    if (frame == kDisabled)
        line = QColor(255, 255, 255, 10);
    p.setPen(QPen(line, 1));
    p.drawLine(QPointF(r.left() + radius, r.top() + 1.5),
               QPointF(r.right() - radius, r.top() + 1.5));
    if (frame == kFocus) {
        p.setPen(QPen(accent, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1, radius - 1);
    }
}

QColor ContentColor(int frame) {
    const Palette& c = Colors();
    if (frame == kPressed)
        return Qt::white;
    if (frame == kDisabled)
        return c.textDim;
    if (frame == kHover)
        return QColor(0xf2, 0xf4, 0xf7);
    return c.text;
}

bool DrawButtonStrip(const Entry& e, QImage& out, std::string& error) {
    const int frames = e.IntKey("frames", pics::kButtonFrames);
    if (frames < 1 || frames > 8) {
        error = "frames must be 1..8";
        return false;
    }
    const std::string style = e.Key("style", "text");
    const std::string icon = e.Key("icon");
    const QString label = QString::fromStdString(e.Key("label"));
    if (!icon.empty() && !KnownGlyph(icon)) {
        error = "unknown icon '" + icon + "'";
        return false;
    }
    const QColor accent = ColorKey(e, "accent", Colors().accent);
    out = Blank(e.width * frames, e.height);
    QPainter p(&out);
    for (int i = 0; i < frames; ++i) {
        // A strip without a focus frame (4 frames) runs normal, hover, pressed, disabled.
        int frame = i;
        if (frames == pics::kMinButtonFrames && i >= kFocus)
            frame = i + 1;
        const QRectF r(i * e.width, 0, e.width, e.height);
        const double radius = std::min(4.0, e.height / 4.0);
        if (style == "flat") {
            // Window-chrome buttons: no face until the pointer comes.
            if (frame == kHover || frame == kPressed)
                Face(p, r, frame, accent, 2);
        } else {
            Face(p, r, frame, accent, radius);
        }
        const QColor ink = ContentColor(frame);
        const QPointF shift = frame == kPressed ? QPointF(0, 1) : QPointF(0, 0);
        p.setRenderHint(QPainter::Antialiasing, true);
        if (style == "tool") {
            // Icon above, caption below.
            const double s = std::min(e.width, e.height) * 0.46;
            const QRectF iconBox(r.center().x() - s / 2, r.top() + 5, s, s);
            DrawGlyph(p, icon, iconBox.translated(shift), ink);
            p.setFont(SkinFont(9));
            p.setPen(ink);
            p.drawText(
                QRectF(r.left(), r.top() + 7 + s, r.width(), r.height() - 8 - s).translated(shift),
                Qt::AlignHCenter | Qt::AlignTop, label);
        } else if (style == "icon" || style == "flat") {
            const double s = std::min(e.width, e.height) * e.IntKey("iconpercent", 56) / 100.0;
            const QRectF iconBox(r.center().x() - s / 2, r.center().y() - s / 2, s, s);
            DrawGlyph(p, icon, iconBox.translated(shift), ink);
        } else if (style == "label") {
            p.setFont(SkinFont(e.IntKey("fontsize", 12), true));
            p.setPen(ink);
            p.drawText(r.translated(shift), Qt::AlignCenter, label);
        } else if (style != "text") {
            error = "unknown button style '" + style + "'";
            return false;
        }
    }
    return true;
}

// Check boxes and radio buttons: normal, hover, focus, checked, disabled.
QImage DrawToggleStrip(const Entry& e, bool round) {
    const Palette& c = Colors();
    QImage out = Blank(e.width * pics::kButtonFrames, e.height);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int f = 0; f < pics::kButtonFrames; ++f) {
        const QRectF r = QRectF(f * e.width, 0, e.width, e.height).adjusted(1.5, 1.5, -1.5, -1.5);
        QColor fill = c.well, border = c.panelBorder.lighter(130);
        if (f == kHover)
            border = c.text;
        if (f == kFocus)
            border = c.accent;
        if (f == kPressed) {
            fill = c.accent;
            border = c.accentDark;
        }
        if (f == kDisabled)
            border = c.panelBorder;
        p.setPen(QPen(border, 1));
        p.setBrush(fill);
        if (round)
            p.drawEllipse(r);
        else
            p.drawRoundedRect(r, 3, 3);
        if (f == kPressed) {
            if (round) {
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                p.drawEllipse(r.center(), r.width() * 0.2, r.width() * 0.2);
            } else {
                QPen tick(Qt::white, 1.8);
                tick.setCapStyle(Qt::RoundCap);
                p.setPen(tick);
                p.drawPolyline(QPolygonF() << QPointF(r.left() + r.width() * 0.22, r.center().y())
                                           << QPointF(r.left() + r.width() * 0.42,
                                                      r.bottom() - r.height() * 0.24)
                                           << QPointF(r.right() - r.width() * 0.2,
                                                      r.top() + r.height() * 0.24));
            }
        }
    }
    return out;
}

QImage DrawPanel(const Entry& e) {
    const Palette& c = Colors();
    QImage out(e.width, e.height, QImage::Format_ARGB32);
    out.fill(c.background);
    QPainter p(&out);
    QLinearGradient g(0, 0, 0, e.height);
    g.setColorAt(0, c.panel);
    g.setColorAt(1, c.background);
    p.fillRect(out.rect(), g);
    const int title = e.IntKey("title", 0);
    if (title > 0) {
        p.fillRect(QRect(0, 0, e.width, title), c.titleBar);
        p.fillRect(QRect(0, title - 1, e.width, 1), c.accent.darker(140));
        p.fillRect(QRect(10, title / 2 - 3, 6, 6), c.accent);
    }
    p.setPen(c.panelBorder);
    p.drawRect(out.rect().adjusted(0, 0, -1, -1));
    p.setPen(QColor(255, 255, 255, 16));
    p.drawLine(1, title + 1, e.width - 2, title + 1);
    return out;
}

QImage DrawTitleStrip(const Entry& e) {
    const Palette& c = Colors();
    QImage out(e.width, e.height, QImage::Format_ARGB32);
    QPainter p(&out);
    QLinearGradient g(0, 0, 0, e.height);
    g.setColorAt(0, c.titleBar.lighter(120));
    g.setColorAt(1, c.titleBar);
    p.fillRect(out.rect(), g);
    p.fillRect(QRect(0, e.height - 1, e.width, 1), c.accent.darker(140));
    return out;
}

QImage DrawTrack(const Entry& e) {
    const Palette& c = Colors();
    const bool horizontal = e.width >= e.height;
    QImage out = Blank(e.width, e.height);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double t = 4;
    const QRectF groove = horizontal ? QRectF(1, (e.height - t) / 2, e.width - 2, t)
                                     : QRectF((e.width - t) / 2, 1, t, e.height - 2);
    p.setPen(QPen(QColor(0, 0, 0, 160), 1));
    p.setBrush(c.well);
    p.drawRoundedRect(groove, 2, 2);
    p.setPen(QPen(QColor(255, 255, 255, 20), 1));
    if (horizontal)
        p.drawLine(QPointF(groove.left() + 2, groove.bottom() + 1),
                   QPointF(groove.right() - 2, groove.bottom() + 1));
    return out;
}

QImage DrawThumb(const Entry& e) {
    const Palette& c = Colors();
    QImage out = Blank(e.width, e.height);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(out.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0xe6, 0xe9, 0xed));
    g.setColorAt(1, QColor(0xa9, 0xb0, 0xba));
    p.setPen(QPen(c.buttonBorder, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    p.setPen(QPen(c.accent, 2));
    if (e.width < e.height)
        p.drawLine(QPointF(e.width / 2.0, 4), QPointF(e.width / 2.0, e.height - 4));
    else
        p.drawLine(QPointF(4, e.height / 2.0), QPointF(e.width - 4, e.height / 2.0));
    return out;
}

// A status icon rendered with alpha: the image and the mask both come from it.
QImage DrawIconArgb(const Entry& e, std::string& error) {
    const std::string glyph = e.Key("glyph");
    if (!KnownGlyph(glyph)) {
        error = "unknown glyph '" + glyph + "'";
        return {};
    }
    QImage out = Blank(e.width, e.height);
    QPainter p(&out);
    const QColor color = ColorKey(e, "color", Colors().text);
    // A 1-px dark outline keeps the icon readable over bright video.
    QImage shape = Blank(e.width, e.height);
    {
        QPainter s(&shape);
        DrawGlyph(s, glyph, QRectF(1, 1, e.width - 2, e.height - 2), Qt::black);
    }
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx != 0 || dy != 0)
                p.drawImage(dx, dy, shape);
    DrawGlyph(p, glyph, QRectF(1, 1, e.width - 2, e.height - 2), color);
    return out;
}

// Image: black where transparent. Mask: black where opaque, white where transparent.
QImage IconImage(const QImage& argb, bool mask) {
    QImage out(argb.size(), QImage::Format_RGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb px = argb.pixel(x, y);
            const bool opaque = qAlpha(px) >= 128;
            if (mask)
                out.setPixel(x, y, opaque ? 0xFF000000u : 0xFFFFFFFFu);
            else
                out.setPixel(x, y, opaque ? (px | 0xFF000000u) : 0xFF000000u);
        }
    // An opaque pixel that happens to be pure black would vanish in the image; it stays
    // opaque through the mask, which is what the renderer combines.
    return out;
}

QImage DrawIdle(const Entry& e) {
    const Palette& c = Colors();
    QImage out(e.width, e.height, QImage::Format_RGB32);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, true);
    QRadialGradient g(QPointF(e.width / 2.0, e.height / 2.0), e.width * 0.7);
    g.setColorAt(0, QColor(0x24, 0x28, 0x2f));
    g.setColorAt(1, QColor(0x12, 0x14, 0x17));
    p.fillRect(out.rect(), g);
    const QPointF m(e.width / 2.0, e.height * 0.42);
    const double r = e.height * 0.12;
    p.setPen(QPen(QColor(0x34, 0x3a, 0x44), 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(m, r, r);
    p.setPen(QPen(QColor(0x2d, 0x9c, 0xdb, 90), 2));
    p.drawEllipse(m, r * 0.55, r * 0.55);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2d, 0x9c, 0xdb, 110));
    p.drawEllipse(m, r * 0.18, r * 0.18);
    QFont f = SkinFont(static_cast<int>(e.height * 0.075), true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, e.height * 0.02);
    p.setFont(f);
    p.setPen(QColor(0x3a, 0x40, 0x4b));
    p.drawText(QRectF(0, m.y() + r * 1.5, e.width, e.height * 0.12), Qt::AlignCenter,
               QStringLiteral("TAVIRO"));
    p.setFont(SkinFont(static_cast<int>(e.height * 0.032)));
    p.setPen(QColor(0x30, 0x35, 0x3e));
    p.drawText(QRectF(0, m.y() + r * 1.5 + e.height * 0.12, e.width, e.height * 0.06),
               Qt::AlignCenter, QStringLiteral("network video client"));
    (void)c;
    return out;
}

QImage DrawVideoLoss(const Entry& e) {
    QImage out(e.width, e.height, QImage::Format_RGB32);
    out.fill(QColor(0x13, 0x14, 0x17));
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double s = e.height * 0.28;
    const QRectF box(e.width / 2.0 - s * 0.9, e.height * 0.42 - s * 0.45, s * 1.8, s * 0.9);
    DrawGlyph(p, "camera", QRectF(box.center().x() - s, box.center().y() - s, 2 * s, 2 * s),
              QColor(0x55, 0x5b, 0x65));
    QPen slash(QColor(0x9a, 0x4e, 0x50), e.height * 0.018);
    slash.setCapStyle(Qt::RoundCap);
    p.setPen(slash);
    p.drawLine(QPointF(box.left() + s * 0.1, box.top() - s * 0.25),
               QPointF(box.right() - s * 0.1, box.bottom() + s * 0.25));
    QFont f = SkinFont(static_cast<int>(e.height * 0.05), true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, e.height * 0.008);
    p.setFont(f);
    p.setPen(QColor(0x6a, 0x70, 0x7a));
    p.drawText(QRectF(0, box.bottom() + s * 0.55, e.width, e.height * 0.1), Qt::AlignCenter,
               QStringLiteral("VIDEO LOSS"));
    return out;
}

}  // namespace

const Palette& Colors() {
    static const Palette palette;
    return palette;
}

QFont SkinFont(int pixelSize, bool bold) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(std::max(1, pixelSize));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QImage DrawEntry(const Entry& e, const std::map<std::string, const Entry*>& all,
                 std::string& error) {
    QImage out;
    if (e.kind == "button") {
        if (!DrawButtonStrip(e, out, error))
            return {};
    } else if (e.kind == "check") {
        out = DrawToggleStrip(e, false);
    } else if (e.kind == "radio") {
        out = DrawToggleStrip(e, true);
    } else if (e.kind == "panel") {
        out = DrawPanel(e);
    } else if (e.kind == "titlestrip") {
        out = DrawTitleStrip(e);
    } else if (e.kind == "track") {
        out = DrawTrack(e);
    } else if (e.kind == "thumb") {
        out = DrawThumb(e);
    } else if (e.kind == "icon") {
        const QImage argb = DrawIconArgb(e, error);
        if (argb.isNull())
            return {};
        out = IconImage(argb, false);
    } else if (e.kind == "mask") {
        const auto it = all.find(e.Key("of"));
        if (it == all.end() || it->second->kind != "icon") {
            error = "mask of an unknown icon '" + e.Key("of") + "'";
            return {};
        }
        if (it->second->width != e.width || it->second->height != e.height) {
            error = "mask size differs from its icon";
            return {};
        }
        const QImage argb = DrawIconArgb(*it->second, error);
        if (argb.isNull())
            return {};
        out = IconImage(argb, true);
    } else if (e.kind == "main") {
        out = DrawMainBackground(e.width, e.height);
    } else if (e.kind == "idle") {
        out = DrawIdle(e);
    } else if (e.kind == "videoloss") {
        out = DrawVideoLoss(e);
    } else {
        error = "unknown kind '" + e.kind + "'";
        return {};
    }
    return out;
}

QImage DrawMainBackground(int width, int height) {
    const Palette& c = Colors();
    QImage out(width, height, QImage::Format_RGB32);
    QPainter p(&out);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, c.background.lighter(106));
    g.setColorAt(1, c.background.darker(112));
    p.fillRect(out.rect(), g);

    // Title bar with the product mark; the window has no system frame.
    constexpr int kTitle = 30;
    p.fillRect(QRect(0, 0, width, kTitle), c.titleBar);
    p.fillRect(QRect(0, kTitle - 1, width, 1), QColor(0x2a, 0x2f, 0x37));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(c.accent, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(18, 15), 7, 7);
    p.setPen(Qt::NoPen);
    p.setBrush(c.accent);
    p.drawEllipse(QPointF(18, 15), 2.5, 2.5);
    QFont mark = SkinFont(14, true);
    mark.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    p.setFont(mark);
    p.setPen(c.text);
    p.drawText(QRect(32, 0, 200, kTitle), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("TAVIRO"));
    p.setFont(SkinFont(10));
    p.setPen(c.textDim);
    p.drawText(QRect(116, 1, 300, kTitle), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Network Video Client"));

    // One panel per group of controls, then a sunken well under every control.
    using app::ControlGroup;
    for (ControlGroup group :
         {ControlGroup::Channels, ControlGroup::Layouts, ControlGroup::Services,
          ControlGroup::Tools, ControlGroup::Playback}) {
        QRect box;
        for (const app::MainControl& m : app::MainWindowControls()) {
            if (m.group == group)
                box = box.united(QRect(m.rect.x, m.rect.y, m.rect.width, m.rect.height));
        }
        if (box.isNull())
            continue;
        box = box.adjusted(-4, -4, 4, 4)
                  .intersected(QRect(0, kTitle + 1, width, height - kTitle - 2));
        p.setPen(QPen(c.panelBorder, 1));
        p.setBrush(c.panel);
        p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        p.setPen(QPen(QColor(255, 255, 255, 14), 1));
        p.drawLine(QPointF(box.left() + 4, box.top() + 1.5),
                   QPointF(box.right() - 4, box.top() + 1.5));
    }
    for (const app::MainControl& m : app::MainWindowControls()) {
        if (m.kind == app::ControlKind::SliderHorizontal ||
            m.kind == app::ControlKind::SliderVertical)
            continue;
        if (m.id == app::kMinButtonId)
            continue;
        const QRectF r(m.rect.x - 1, m.rect.y - 1, m.rect.width + 2, m.rect.height + 2);
        p.setPen(Qt::NoPen);
        p.setBrush(c.well);
        p.drawRoundedRect(r, 4.5, 4.5);
    }
    // The channel grid's frame; the grid window covers the inside.
    const app::LayoutRect grid = app::kChannelGridRect;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0x0b, 0x0c, 0x0e));
    p.setBrush(QColor(0x10, 0x12, 0x15));
    p.drawRect(QRect(grid.x - 1, grid.y - 1, grid.width + 1, grid.height + 1));
    return out;
}

QImage DrawPreview(const std::map<int, QImage>& pictures, const QImage& idle) {
    const auto picture = [&](int n) {
        const auto it = pictures.find(n);
        return it == pictures.end() ? QImage() : it->second;
    };
    QImage out = picture(pics::kPicMainBackground).convertToFormat(QImage::Format_RGB32);
    if (out.isNull())
        return out;
    QPainter p(&out);
    // The grid in its 16-pane layout, each pane showing the idle picture.
    const app::LayoutRect grid = app::kChannelGridRect;
    for (int i = 0; i < 16; ++i) {
        const int x0 = grid.x + (i % 4) * grid.width / 4,
                  x1 = grid.x + (i % 4 + 1) * grid.width / 4;
        const int y0 = grid.y + (i / 4) * grid.height / 4,
                  y1 = grid.y + (i / 4 + 1) * grid.height / 4;
        const QRect pane(x0, y0, x1 - x0 - 1, y1 - y0 - 1);
        p.drawImage(pane, idle);
        p.setPen(Colors().text);
        p.setFont(SkinFont(11, true));
        p.drawText(pane.adjusted(6, 4, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("CAM %1").arg(i + 1));
    }
    for (const app::MainControl& m : app::MainWindowControls()) {
        const QRect r(m.rect.x, m.rect.y, m.rect.width, m.rect.height);
        if (m.kind == app::ControlKind::SliderHorizontal ||
            m.kind == app::ControlKind::SliderVertical) {
            const bool h = m.kind == app::ControlKind::SliderHorizontal;
            const QImage track = picture(h ? pics::kPicSliderTrackH : pics::kPicSliderTrackV);
            const QImage thumb = picture(h ? pics::kPicSliderThumbH : pics::kPicSliderThumbV);
            p.drawImage(r, track);
            const QPoint at =
                h ? QPoint(r.left() + r.width() / 3, r.top() + (r.height() - thumb.height()) / 2)
                  : QPoint(r.left() + (r.width() - thumb.width()) / 2, r.top() + r.height() / 4);
            p.drawImage(at, thumb);
            continue;
        }
        const QImage strip = picture(m.picture);
        if (strip.isNull())
            continue;
        // The 16-pane layout button shows pressed, as at start; Live shows disabled.
        int frame = 0;
        if (m.id == 328)
            frame = 3;
        if (m.id == 369)
            frame = 4;
        if (m.id == 300)
            frame = 1;
        const int w = strip.width() / std::max(1, m.frames);
        p.drawImage(r.topLeft(),
                    strip.copy(std::min(frame, m.frames - 1) * w, 0, w, strip.height()));
    }
    return out;
}

}  // namespace taviro::skin
