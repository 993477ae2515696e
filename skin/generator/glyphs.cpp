// The skin's vector icons. Every glyph is drawn inside a square box with round caps, so
// they share one stroke weight and look like one family at 16 and 20 pixels.
#include <QPainterPath>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>

#include "draw.h"

namespace taviro::skin {
namespace {

using GlyphFn = std::function<void(QPainter&, const QRectF&, const QColor&)>;

QPen Stroke(const QColor& c, const QRectF& b) {
    QPen pen(c, std::max(1.2, b.width() / 11.0));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Points of the unit box [0,1] x [0,1] mapped into b.
QPointF At(const QRectF& b, double x, double y) {
    return {b.left() + x * b.width(), b.top() + y * b.height()};
}
QRectF Sub(const QRectF& b, double x, double y, double w, double h) {
    return {At(b, x, y), QSizeF(w * b.width(), h * b.height())};
}

void Fill(QPainter& p, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
}
void Outline(QPainter& p, const QColor& c, const QRectF& b) {
    p.setPen(Stroke(c, b));
    p.setBrush(Qt::NoBrush);
}

void Triangle(QPainter& p, const QRectF& b, bool right, const QColor& c) {
    Fill(p, c);
    QPolygonF t;
    if (right)
        t << b.topLeft() << QPointF(b.right(), b.center().y()) << b.bottomLeft();
    else
        t << b.topRight() << QPointF(b.left(), b.center().y()) << b.bottomRight();
    p.drawPolygon(t);
}

void Speaker(QPainter& p, const QRectF& b, const QColor& c) {
    Fill(p, c);
    QPolygonF s;
    s << At(b, 0.08, 0.36) << At(b, 0.28, 0.36) << At(b, 0.52, 0.14) << At(b, 0.52, 0.86)
      << At(b, 0.28, 0.64) << At(b, 0.08, 0.64);
    p.drawPolygon(s);
}

void Waves(QPainter& p, const QRectF& b, const QColor& c) {
    Outline(p, c, b);
    p.drawArc(Sub(b, 0.42, 0.30, 0.28, 0.40), -50 * 16, 100 * 16);
    p.drawArc(Sub(b, 0.38, 0.14, 0.50, 0.72), -50 * 16, 100 * 16);
}

void LayoutGrid(QPainter& p, const QRectF& b, const QColor& c, int n,
                const std::vector<QRect>& cells) {
    // Cells on an n x n grid, each drawn as a filled tile with a hairline gap.
    Fill(p, c);
    const double cell = b.width() / n;
    for (const QRect& r : cells) {
        QRectF t(b.left() + r.x() * cell, b.top() + r.y() * cell, r.width() * cell,
                 r.height() * cell);
        p.drawRect(t.adjusted(0.6, 0.6, -0.6, -0.6));
    }
}

std::vector<QRect> Uniform(int n) {
    std::vector<QRect> cells;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            cells.emplace_back(x, y, 1, 1);
    return cells;
}

// One big tile and the small ones around it on the remaining cells of an n x n grid.
std::vector<QRect> WithBig(int n, const std::vector<QRect>& big) {
    std::vector<QRect> cells = big;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            bool covered = false;
            for (const QRect& r : big)
                covered = covered || r.contains(x, y);
            if (!covered)
                cells.emplace_back(x, y, 1, 1);
        }
    return cells;
}

const std::map<std::string, GlyphFn>& Glyphs() {
    static const std::map<std::string, GlyphFn> glyphs = {
        {"play", [](QPainter& p, const QRectF& b,
                    const QColor& c) { Triangle(p, Sub(b, 0.22, 0.12, 0.62, 0.76), true, c); }},
        {"backward",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Triangle(p, Sub(b, 0.16, 0.12, 0.62, 0.76), false, c);
         }},
        {"pause",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Fill(p, c);
             p.drawRect(Sub(b, 0.20, 0.14, 0.20, 0.72));
             p.drawRect(Sub(b, 0.60, 0.14, 0.20, 0.72));
         }},
        {"stop",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Fill(p, c);
             p.drawRoundedRect(Sub(b, 0.18, 0.18, 0.64, 0.64), 1.5, 1.5);
         }},
        {"record",
         [](QPainter& p, const QRectF& b, const QColor&) {
             Fill(p, Colors().record);
             p.drawEllipse(Sub(b, 0.18, 0.18, 0.64, 0.64));
         }},
        {"prevstep",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Fill(p, c);
             p.drawRect(Sub(b, 0.14, 0.16, 0.14, 0.68));
             Triangle(p, Sub(b, 0.34, 0.16, 0.52, 0.68), false, c);
         }},
        {"nextstep",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Triangle(p, Sub(b, 0.14, 0.16, 0.52, 0.68), true, c);
             Fill(p, c);
             p.drawRect(Sub(b, 0.72, 0.16, 0.14, 0.68));
         }},
        {"slice_fwd", [](QPainter& p, const QRectF& b,
                         const QColor& c) { Triangle(p, Sub(b, 0.06, 0.2, 0.4, 0.6), true, c); }},
        {"slice_bwd", [](QPainter& p, const QRectF& b,
                         const QColor& c) { Triangle(p, Sub(b, 0.54, 0.2, 0.4, 0.6), false, c); }},
        {"plug",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             // Two chain links meeting diagonally: the connection.
             p.save();
             p.translate(b.center());
             p.rotate(-45);
             const double w = b.width();
             p.drawRoundedRect(QRectF(-0.46 * w, -0.16 * w, 0.5 * w, 0.32 * w), 0.16 * w, 0.16 * w);
             p.drawRoundedRect(QRectF(-0.04 * w, -0.16 * w, 0.5 * w, 0.32 * w), 0.16 * w, 0.16 * w);
             p.restore();
         }},
        {"search",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawEllipse(Sub(b, 0.12, 0.12, 0.52, 0.52));
             p.drawLine(At(b, 0.58, 0.58), At(b, 0.86, 0.86));
         }},
        {"zoom",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawEllipse(Sub(b, 0.12, 0.12, 0.52, 0.52));
             p.drawLine(At(b, 0.58, 0.58), At(b, 0.86, 0.86));
             p.drawLine(At(b, 0.26, 0.38), At(b, 0.50, 0.38));
             p.drawLine(At(b, 0.38, 0.26), At(b, 0.38, 0.50));
         }},
        {"globe",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawEllipse(Sub(b, 0.12, 0.12, 0.76, 0.76));
             p.drawEllipse(Sub(b, 0.34, 0.12, 0.32, 0.76));
             p.drawLine(At(b, 0.14, 0.5), At(b, 0.86, 0.5));
         }},
        {"archive",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             QPainterPath folder;
             folder.moveTo(At(b, 0.10, 0.26));
             folder.lineTo(At(b, 0.40, 0.26));
             folder.lineTo(At(b, 0.48, 0.36));
             folder.lineTo(At(b, 0.90, 0.36));
             folder.lineTo(At(b, 0.90, 0.82));
             folder.lineTo(At(b, 0.10, 0.82));
             folder.closeSubpath();
             p.drawPath(folder);
             Triangle(p, Sub(b, 0.42, 0.48, 0.2, 0.24), true, c);
         }},
        {"gear",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawEllipse(Sub(b, 0.28, 0.28, 0.44, 0.44));
             const QPointF m = b.center();
             for (int i = 0; i < 8; ++i) {
                 const double a = i * std::numbers::pi / 4;
                 p.drawLine(m + QPointF(std::cos(a), std::sin(a)) * b.width() * 0.26,
                            m + QPointF(std::cos(a), std::sin(a)) * b.width() * 0.42);
             }
             p.drawEllipse(m, b.width() * 0.07, b.width() * 0.07);
         }},
        {"power",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawArc(Sub(b, 0.16, 0.18, 0.68, 0.68), 125 * 16, 290 * 16);
             p.drawLine(At(b, 0.5, 0.1), At(b, 0.5, 0.46));
         }},
        {"speaker",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Speaker(p, b, c);
             Waves(p, b, c);
         }},
        {"speaker_off",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Speaker(p, b, c);
             Outline(p, c, b);
             p.drawLine(At(b, 0.64, 0.36), At(b, 0.9, 0.64));
             p.drawLine(At(b, 0.64, 0.64), At(b, 0.9, 0.36));
         }},
        {"speaker_next",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Speaker(p, Sub(b, -0.04, 0, 1, 1), c);
             Outline(p, c, b);
             p.drawLine(At(b, 0.62, 0.5), At(b, 0.92, 0.5));
             p.drawLine(At(b, 0.80, 0.38), At(b, 0.92, 0.5));
             p.drawLine(At(b, 0.80, 0.62), At(b, 0.92, 0.5));
         }},
        {"camera",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRoundedRect(Sub(b, 0.08, 0.28, 0.56, 0.44), 2, 2);
             QPolygonF lens;
             lens << At(b, 0.66, 0.44) << At(b, 0.92, 0.3) << At(b, 0.92, 0.7) << At(b, 0.66, 0.56);
             p.drawPolygon(lens);
         }},
        {"osd",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRoundedRect(Sub(b, 0.08, 0.16, 0.84, 0.68), 2, 2);
             p.drawLine(At(b, 0.22, 0.34), At(b, 0.56, 0.34));
             p.drawLine(At(b, 0.22, 0.66), At(b, 0.78, 0.66));
         }},
        {"arrange",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRect(Sub(b, 0.10, 0.10, 0.32, 0.32));
             p.drawRect(Sub(b, 0.58, 0.58, 0.32, 0.32));
             p.drawArc(Sub(b, 0.26, 0.26, 0.48, 0.48), 0, 90 * 16);
             p.drawArc(Sub(b, 0.26, 0.26, 0.48, 0.48), 180 * 16, 90 * 16);
         }},
        {"pan",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawLine(At(b, 0.5, 0.12), At(b, 0.5, 0.88));
             p.drawLine(At(b, 0.12, 0.5), At(b, 0.88, 0.5));
             Fill(p, c);
             QPolygonF up, down, left, right;
             up << At(b, 0.36, 0.22) << At(b, 0.5, 0.06) << At(b, 0.64, 0.22);
             down << At(b, 0.36, 0.78) << At(b, 0.5, 0.94) << At(b, 0.64, 0.78);
             left << At(b, 0.22, 0.36) << At(b, 0.06, 0.5) << At(b, 0.22, 0.64);
             right << At(b, 0.78, 0.36) << At(b, 0.94, 0.5) << At(b, 0.78, 0.64);
             Fill(p, c);
             p.drawPolygon(up);
             p.drawPolygon(down);
             p.drawPolygon(left);
             p.drawPolygon(right);
         }},
        {"mic",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRoundedRect(Sub(b, 0.36, 0.08, 0.28, 0.5), 0.14 * b.width(), 0.14 * b.width());
             p.drawArc(Sub(b, 0.22, 0.3, 0.56, 0.44), 180 * 16, 180 * 16);
             p.drawLine(At(b, 0.5, 0.74), At(b, 0.5, 0.9));
             p.drawLine(At(b, 0.34, 0.9), At(b, 0.66, 0.9));
         }},
        {"headphones",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawArc(Sub(b, 0.14, 0.14, 0.72, 0.72), 0, 180 * 16);
             Fill(p, c);
             p.drawRoundedRect(Sub(b, 0.12, 0.5, 0.18, 0.34), 2, 2);
             p.drawRoundedRect(Sub(b, 0.70, 0.5, 0.18, 0.34), 2, 2);
         }},
        {"snapshot",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRoundedRect(Sub(b, 0.08, 0.28, 0.84, 0.58), 2, 2);
             p.drawLine(At(b, 0.34, 0.28), At(b, 0.40, 0.16));
             p.drawLine(At(b, 0.40, 0.16), At(b, 0.60, 0.16));
             p.drawLine(At(b, 0.60, 0.16), At(b, 0.66, 0.28));
             p.drawEllipse(Sub(b, 0.35, 0.40, 0.30, 0.30));
         }},
        {"image",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRect(Sub(b, 0.1, 0.16, 0.8, 0.68));
             QPolygonF hill;
             hill << At(b, 0.16, 0.78) << At(b, 0.40, 0.48) << At(b, 0.56, 0.66)
                  << At(b, 0.66, 0.56) << At(b, 0.84, 0.78);
             p.drawPolyline(hill);
             p.drawEllipse(Sub(b, 0.62, 0.26, 0.12, 0.12));
         }},
        {"chip",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawRect(Sub(b, 0.26, 0.26, 0.48, 0.48));
             for (double t : {0.38, 0.5, 0.62}) {
                 p.drawLine(At(b, t, 0.08), At(b, t, 0.2));
                 p.drawLine(At(b, t, 0.8), At(b, t, 0.92));
                 p.drawLine(At(b, 0.08, t), At(b, 0.2, t));
                 p.drawLine(At(b, 0.8, t), At(b, 0.92, t));
             }
         }},
        {"info",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawEllipse(Sub(b, 0.1, 0.1, 0.8, 0.8));
             p.drawLine(At(b, 0.5, 0.44), At(b, 0.5, 0.72));
             Fill(p, c);
             p.drawEllipse(At(b, 0.5, 0.3), b.width() * 0.06, b.width() * 0.06);
         }},
        {"min",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Fill(p, c);
             p.drawRect(Sub(b, 0.2, 0.62, 0.6, 0.14));
         }},
        {"full",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             const double e = 0.3;
             p.drawPolyline(QPolygonF()
                            << At(b, 0.1, 0.1 + e) << At(b, 0.1, 0.1) << At(b, 0.1 + e, 0.1));
             p.drawPolyline(QPolygonF()
                            << At(b, 0.9 - e, 0.1) << At(b, 0.9, 0.1) << At(b, 0.9, 0.1 + e));
             p.drawPolyline(QPolygonF()
                            << At(b, 0.1, 0.9 - e) << At(b, 0.1, 0.9) << At(b, 0.1 + e, 0.9));
             p.drawPolyline(QPolygonF()
                            << At(b, 0.9 - e, 0.9) << At(b, 0.9, 0.9) << At(b, 0.9, 0.9 - e));
         }},
        {"ptz1",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             p.drawEllipse(Sub(b, 0.14, 0.14, 0.72, 0.72));
             Fill(p, c);
             p.drawEllipse(b.center(), b.width() * 0.12, b.width() * 0.12);
         }},
        {"ptz2",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Fill(p, c);
             p.drawEllipse(Sub(b, 0.14, 0.14, 0.72, 0.72));
             Fill(p, Qt::black);
             p.drawEllipse(b.center(), b.width() * 0.14, b.width() * 0.14);
         }},
        {"shield",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Outline(p, c, b);
             QPainterPath s;
             s.moveTo(At(b, 0.5, 0.08));
             s.lineTo(At(b, 0.86, 0.22));
             s.quadTo(At(b, 0.86, 0.72), At(b, 0.5, 0.92));
             s.quadTo(At(b, 0.14, 0.72), At(b, 0.14, 0.22));
             s.closeSubpath();
             p.drawPath(s);
         }},
        {"shield_ok",
         [](QPainter& p, const QRectF& b, const QColor& c) {
             Fill(p, c);
             QPainterPath s;
             s.moveTo(At(b, 0.5, 0.08));
             s.lineTo(At(b, 0.86, 0.22));
             s.quadTo(At(b, 0.86, 0.72), At(b, 0.5, 0.92));
             s.quadTo(At(b, 0.14, 0.72), At(b, 0.14, 0.22));
             s.closeSubpath();
             p.drawPath(s);
             QPen pen(Qt::black, std::max(1.5, b.width() / 9.0));
             pen.setCapStyle(Qt::RoundCap);
             p.setPen(pen);
             p.drawPolyline(QPolygonF()
                            << At(b, 0.32, 0.5) << At(b, 0.46, 0.64) << At(b, 0.70, 0.36));
         }},
    };
    return glyphs;
}

// Layout glyphs "grid<N>": the split-screen layouts of 1 .. 16 panes.
bool DrawLayoutGlyph(QPainter& p, const std::string& name, const QRectF& b, const QColor& c) {
    if (name.rfind("grid", 0) != 0)
        return false;
    const std::string n = name.substr(4);
    if (n == "1")
        LayoutGrid(p, b, c, 1, Uniform(1));
    else if (n == "4")
        LayoutGrid(p, b, c, 2, Uniform(2));
    else if (n == "6")
        LayoutGrid(p, b, c, 3, WithBig(3, {QRect(0, 0, 2, 2)}));
    else if (n == "7")
        LayoutGrid(p, b, c, 4,
                   WithBig(4, {QRect(0, 0, 2, 2), QRect(2, 0, 2, 2), QRect(0, 2, 2, 2)}));
    else if (n == "8")
        LayoutGrid(p, b, c, 4, WithBig(4, {QRect(0, 0, 3, 3)}));
    else if (n == "9")
        LayoutGrid(p, b, c, 3, Uniform(3));
    else if (n == "10")
        LayoutGrid(p, b, c, 4, WithBig(4, {QRect(0, 0, 2, 2), QRect(2, 0, 2, 2)}));
    else if (n == "13")
        LayoutGrid(p, b, c, 4, WithBig(4, {QRect(1, 1, 2, 2)}));
    else if (n == "16")
        LayoutGrid(p, b, c, 4, Uniform(4));
    else
        return false;
    return true;
}

}  // namespace

bool KnownGlyph(const std::string& name) {
    if (Glyphs().count(name) != 0)
        return true;
    QImage probe(8, 8, QImage::Format_ARGB32);
    QPainter p(&probe);
    return DrawLayoutGlyph(p, name, QRectF(0, 0, 8, 8), Qt::white);
}

bool DrawGlyph(QPainter& p, const std::string& name, const QRectF& box, const QColor& color) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    bool ok = true;
    if (const auto it = Glyphs().find(name); it != Glyphs().end())
        it->second(p, box, color);
    else
        ok = DrawLayoutGlyph(p, name, box, color);
    p.restore();
    return ok;
}

}  // namespace taviro::skin
