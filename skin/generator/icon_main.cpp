// The desktop client's icon, drawn in the skin's colours at the sizes of the desktop's icon
// theme: a recorder's four-pane live view, one pane lit in the accent colour and a record
// light in another.
//
//   taviro-icon-gen --out DIR SIZE...
//
// writes DIR/<SIZE>x<SIZE>/apps/taviro.png for each size (8..1024 pixels), the layout of
// the hicolor theme. Exit 1 on a bad size or a file that cannot be written.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "draw.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "taviro-icon-gen: %s\n", message.c_str());
    return 1;
}

// The icon on a unit square scaled to `size`; every length is a share of the side, so the
// small sizes keep the same proportions.
QImage DrawIcon(int size) {
    const taviro::skin::Palette& c = taviro::skin::Colors();
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size, size);

    const QRectF body(0.04, 0.04, 0.92, 0.92);
    QLinearGradient face(body.topLeft(), body.bottomLeft());
    face.setColorAt(0, c.buttonTop);
    face.setColorAt(1, c.background);
    p.setPen(QPen(c.panelBorder, 0.02));
    p.setBrush(face);
    p.drawRoundedRect(body, 0.18, 0.18);

    // The four panes: at 16 px each is about 5 px, still four.
    const double left = 0.17, gap = 0.05, pane = (1.0 - 2 * left - gap) / 2;
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 2; ++column) {
            const QRectF r(left + column * (pane + gap), left + row * (pane + gap), pane, pane);
            p.setBrush(row == 0 && column == 0 ? c.accent : c.well);
            p.drawRoundedRect(r, 0.04, 0.04);
            if (row == 1 && column == 1) {
                p.setBrush(c.record);
                p.drawEllipse(r.center(), pane * 0.22, pane * 0.22);
            }
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);  // fonts and painting need a GUI application
    QString out;
    std::vector<int> sizes;
    const QStringList args = QGuiApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const std::string arg = args[i].toStdString();
        if (arg == "--out" && i + 1 < args.size()) {
            out = args[++i];
            continue;
        }
        int size = 0;
        const auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), size);
        if (ec != std::errc() || end != arg.data() + arg.size() || size < 8 || size > 1024)
            return Fail("not a size from 8 to 1024: " + arg);
        sizes.push_back(size);
    }
    if (out.isEmpty() || sizes.empty())
        return Fail("usage: taviro-icon-gen --out DIR SIZE...");
    for (int size : sizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = folder + QStringLiteral("/taviro.png");
        if (!QDir().mkpath(folder) || !DrawIcon(size).save(file, "PNG"))
            return Fail("cannot write " + file.toStdString());
    }
    return 0;
}
