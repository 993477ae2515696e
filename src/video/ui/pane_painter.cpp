#include "video/ui/pane_painter.h"

#include <QFontMetrics>
#include <QString>
#include <algorithm>

namespace taviro::video::ui {

namespace {

constexpr int kSliceStep = 7;  // the arrow slices of fast playback
// The statistics lines: a smaller font than the labels, so four lines fit under the title
// of the smallest pane (a 16-pane page), on a dark band that keeps them readable over
// bright pictures.
constexpr int kStatsFontPixels = 13;
constexpr int kStatsLineHeight = 15;
constexpr int kStatsTop = 3 + kOsdFontPixels + 5;  // under the title line
constexpr std::uint32_t kStatsColour = 0x00FFFF;   // yellow
constexpr std::uint32_t kRecorderNameColour = 0xFFFFFF;

void DrawIcon(QPainter& painter, const QRect& pane, int x, const QImage& icon) {
    if (icon.isNull())
        return;
    painter.drawImage(QPoint(pane.left() + x, pane.top() + pane.height() - kIconRowFromBottom),
                      icon);
}

QString FromBytes(const std::string& text) {
    // Recorder titles are single-byte text; the title fitting counts bytes the same way.
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void DrawLine(QPainter& painter, const QRect& pane, int x, int y, const std::string& text,
              std::uint32_t colour) {
    painter.setPen(FromColorRef(colour));
    painter.drawText(QRect(pane.left() + x, pane.top() + y, pane.width() - x, kOsdFontPixels + 8),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, FromBytes(text));
}

void DrawPlaybackIcon(QPainter& painter, const QRect& pane, const OsdState& osd) {
    const GridPictures& pics = *osd.pictures;
    const int speed = osd.status->playerSpeed;
    const int x = kPlaybackIconX;
    if (speed == 0) {
        DrawIcon(painter, pane, x, pics.pause);
    } else if (speed == 1) {
        DrawIcon(painter, pane, x, pics.play);
    } else if (speed >= 2 && speed <= 6) {
        for (int i = 0; i < speed; ++i)
            DrawIcon(painter, pane, x + kSliceStep * i, pics.forwardSlice);
    } else if (speed == -1) {
        DrawIcon(painter, pane, x, pics.backwardSlice);
    } else if (speed >= -6 && speed <= -2) {
        for (int i = 0; i < -speed; ++i)
            DrawIcon(painter, pane, x + kSliceStep * i, pics.backwardSlice);
    } else if (speed == 10) {
        DrawIcon(painter, pane, x + kStepIconShift, pics.stepForward);
    } else if (speed == 11) {
        DrawIcon(painter, pane, x + kStepIconShift, pics.stepBackward);
    }
}

void DrawIcons(QPainter& painter, const QRect& pane, const PanePlan& plan, const ChannelView& view,
               const PaneTexts& texts, const OsdState& osd) {
    if (!osd.pictures || !osd.status)
        return;
    const GridPictures& pics = *osd.pictures;
    const GridStatus& status = *osd.status;
    if (status.audioOutput && (view.audioIcon == 0 || view.audioIcon == 1))
        DrawIcon(painter, pane, texts.audioIconX,
                 pics.audio[static_cast<std::size_t>(view.audioIcon)]);
    if (plan.mode == ViewMode::Live && plan.channel == status.ptzChannel &&
        (status.ptzState == 1 || status.ptzState == 2))
        DrawIcon(painter, pane, texts.audioIconX + kPtzIconGap,
                 pics.ptz[static_cast<std::size_t>(status.ptzState - 1)]);
    const bool playback =
        plan.mode == ViewMode::RemotePlayback || plan.mode == ViewMode::LocalPlayback;
    if (playback && pane.width() > kPlaybackIconMinPaneWidth)
        DrawPlaybackIcon(painter, pane, osd);
    if (plan.mode == ViewMode::LocalPlayback && view.integrity >= 0)
        DrawIcon(painter, pane, texts.integrityIconX, pics.integrity[view.integrity == 0 ? 0 : 1]);
}

void DrawStatistics(QPainter& painter, const QRect& pane, const PanePlan& plan,
                    const OsdState& osd) {
    const auto place = static_cast<std::size_t>(plan.place);
    const int channel = plan.recorderChannel;
    if (place >= osd.stats.size() || osd.stats[place] == nullptr || channel < 0 ||
        channel >= protocol::kMaxChannels)
        return;
    std::vector<std::string> lines =
        StatsOsdLines((*osd.stats[place])[static_cast<std::size_t>(channel)]);
    if (!osd.renderer.isEmpty())
        lines.push_back(osd.renderer.toStdString());
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(kStatsFontPixels);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(FromBytes(line)));
    const int height = static_cast<int>(lines.size()) * kStatsLineHeight + 4;
    const QRect band(pane.left() + 4, pane.top() + kStatsTop - 2,
                     std::min(widest + 8, pane.width() - 8),
                     std::min(height, std::max(0, pane.height() - kStatsTop)));
    painter.fillRect(band, QColor(0, 0, 0, 150));
    painter.save();
    painter.setClipRect(band.intersected(pane));
    int y = kStatsTop;
    for (const std::string& line : lines) {
        painter.setPen(FromColorRef(kStatsColour));
        painter.drawText(
            QRect(pane.left() + 8, pane.top() + y, pane.width() - 12, kStatsLineHeight),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, FromBytes(line));
        y += kStatsLineHeight;
    }
    painter.restore();
}

void DrawTampered(QPainter& painter, const QRect& pane) {
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(std::max(1, pane.width() / 8));
    painter.setFont(font);
    painter.setPen(FromColorRef(0x0000FF));
    painter.drawText(pane, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("Tampered!"));
}

// The pane's recorder, when the grid shows several: its name at the right of the bottom
// line, where the mode and the icons leave room.
void DrawRecorderName(QPainter& painter, const QRect& pane, const PanePlan& plan,
                      const OsdState& osd) {
    const auto place = static_cast<std::size_t>(plan.place);
    if (!osd.status || place >= osd.status->recorders.size())
        return;
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(kStatsFontPixels);
    painter.setFont(font);
    painter.setPen(FromColorRef(kRecorderNameColour));
    const QRect line(pane.left() + pane.width() / 2,
                     pane.top() + pane.height() - kStatsFontPixels - 6, pane.width() / 2 - 7,
                     kStatsFontPixels + 4);
    // Its place first, which a narrow pane still shows when the name is cut.
    const QString name = QStringLiteral("[%1] %2")
                             .arg(plan.place + 1)
                             .arg(QString::fromStdString(osd.status->recorders[place].name));
    painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(font).elidedText(name, Qt::ElideRight, line.width()));
}

// A recorder that is not connected: its name and why, over the idle picture.
void DrawLostRecorder(QPainter& painter, const QRect& pane, const PanePlan& plan,
                      const OsdState& osd) {
    const auto place = static_cast<std::size_t>(plan.place);
    if (!osd.status || place >= osd.status->recorders.size())
        return;
    const PaneRecorder& recorder = osd.status->recorders[place];
    painter.fillRect(pane, QColor(0, 0, 0, 140));
    painter.setFont(OsdFont());
    painter.setPen(FromColorRef(kColourGreen));
    QString text = QString::fromStdString(recorder.name) +
                   QStringLiteral("  CH%1").arg(plan.recorderChannel + 1);
    if (!recorder.state.empty())
        text += QLatin1Char('\n') + QString::fromStdString(recorder.state);
    painter.drawText(pane.adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap, text);
}

}  // namespace

QImage MaskedIcon(const QImage& image, const QImage& mask) {
    if (image.isNull())
        return {};
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QImage m = mask.isNull() ? QImage() : mask.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            // A white mask keeps the pane: the image is black there, so OR adds nothing.
            const bool clear =
                !m.isNull() && x < m.width() && y < m.height() && qGray(m.pixel(x, y)) >= 128;
            row[x] = clear ? qRgba(0, 0, 0, 0) : (row[x] | 0xFF000000u);
        }
    }
    return out;
}

QColor FromColorRef(std::uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

QFont OsdFont() {
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(kOsdFontPixels);
    return font;
}

void DrawStill(QPainter& painter, const QRect& pane, const QImage& picture, bool trim) {
    if (picture.isNull())
        return;
    if (!trim) {
        painter.drawImage(pane, picture);
        return;
    }
    const Rect inner = YuvSourceRect(picture.width(), picture.height());
    painter.drawImage(pane, picture, ToQRect(inner));
}

void DrawVideoLossText(QPainter& painter, const PanePlan& plan, const OsdState& osd) {
    if (!osd.status || plan.channel < 0 || plan.channel >= kMaxPanes)
        return;
    if (osd.osdMode == kOsdOff ||
        osd.status->cameraFlags[static_cast<std::size_t>(plan.channel)] != 1)
        return;
    const int number = plan.recorderChannel + 1;
    const QString text = osd.osdMode != kOsdTitle ? QStringLiteral("CH%1  Video Loss").arg(number)
                                                  : QStringLiteral("CH%1").arg(number);
    painter.setFont(OsdFont());
    DrawLine(painter, ToQRect(plan.rect), 7, 3, text.toStdString(), kColourGreen);
}

void DrawOsd(QPainter& painter, const PanePlan& plan, const ChannelView& view,
             const OsdState& osd) {
    const QRect pane = ToQRect(plan.rect);
    if (osd.osdMode == kOsdFull || osd.osdMode == kOsdTitle || osd.osdMode == kOsdStatistics) {
        const PaneTexts texts =
            plan.views ? MakePaneTexts(view, osd.osdMode, *plan.views) : PaneTexts{};
        painter.setFont(OsdFont());
        DrawLine(painter, pane, 7, 3, texts.line1, texts.colour1);
        if (osd.osdMode == kOsdStatistics)
            DrawStatistics(painter, pane, plan, osd);
        if (osd.osdMode == kOsdFull) {
            painter.setFont(OsdFont());
            DrawLine(painter, pane, 7, pane.height() - kOsdFontPixels - 5, texts.line2,
                     texts.colour2);
            DrawIcons(painter, pane, plan, view, texts, osd);
        }
        if (osd.osdMode != kOsdStatistics)
            DrawRecorderName(painter, pane, plan, osd);
    }
    if (plan.mode == ViewMode::LocalPlayback && view.integrity == 2)
        DrawTampered(painter, pane);
}

void DrawNonPicture(QPainter& painter, const PanePlan& plan, const OsdState& osd) {
    const QRect pane = ToQRect(plan.rect);
    if (!osd.pictures)
        return;
    switch (plan.kind) {
        case PaneKind::Idle:
            DrawStill(painter, pane, osd.pictures->idle, osd.trimStills);
            break;
        case PaneKind::Blocked:
            DrawStill(painter, pane, osd.pictures->blocked, osd.trimStills);
            break;
        case PaneKind::VideoLoss:
            DrawStill(painter, pane, osd.pictures->videoLoss, osd.trimStills);
            DrawVideoLossText(painter, plan, osd);
            break;
        case PaneKind::Lost:
            DrawStill(painter, pane, osd.pictures->idle, osd.trimStills);
            DrawLostRecorder(painter, pane, plan, osd);
            break;
        case PaneKind::Picture:
            break;
    }
}

}  // namespace taviro::video::ui
