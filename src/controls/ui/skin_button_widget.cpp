#include "controls/ui/skin_button_widget.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include "controls/control_events.h"
#include "controls/ui/skin_paint.h"
#include "platform/message_sink.h"
#include "platform/ui/skin_library.h"

namespace taviro::controls::ui {
namespace {

Point ToPoint(const QPointF& p) {
    return Point{static_cast<int>(p.x()), static_cast<int>(p.y())};
}

void DrawEdge(QPainter& painter, const QRect& r, EdgeStyle style) {
    if (style == EdgeStyle::None)
        return;
    const QColor light(0x5a, 0x62, 0x6e);
    const QColor dark(0x10, 0x12, 0x15);
    const QColor& topLeft = style == EdgeStyle::Raised ? light : dark;
    const QColor& bottomRight = style == EdgeStyle::Raised ? dark : light;
    painter.setPen(topLeft);
    painter.drawLine(r.left(), r.top(), r.right(), r.top());
    painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
    painter.setPen(bottomRight);
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

}  // namespace

CSkinButtonWidget::CSkinButtonWidget(std::uint32_t id, ButtonKind kind, QWidget* parent)
    : QWidget(parent), m_model(id, kind) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover, false);
    m_model.SetSize(width(), height());
}

void CSkinButtonWidget::SetPictures(const ButtonPictures& pictures, bool fitToPicture) {
    m_model.SetPictures(pictures);
    if (fitToPicture && pictures.normal) {
        const QImage frame = StripFrame(platform::ui::Skin().Image(*pictures.normal), m_frames, 0);
        if (!frame.isNull())
            resize(frame.size());
    }
    update();
}

void CSkinButtonWidget::SetFrameCount(int frames) {
    m_frames = frames < 0 ? 0 : frames;
    update();
}

void CSkinButtonWidget::SetText(const QString& text) {
    m_text = text;
    update();
}

void CSkinButtonWidget::SetCheck(int checked) {
    Apply(m_model.SetCheck(checked));
}

void CSkinButtonWidget::SetButtonEnabled(bool on) {
    Apply(m_model.SetEnabled(on));
    setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
}

void CSkinButtonWidget::DeliverUncheck() {
    Apply(m_model.OnUncheckRequest());
}

int CSkinButtonWidget::FrameIndex(ButtonFrame frame) const {
    const int i = static_cast<int>(frame);
    if (m_frames == 1)
        return 0;
    if (m_frames == 4) {
        // normal, hover, pressed, disabled: focus shows the normal frame.
        switch (frame) {
            case ButtonFrame::Normal:
            case ButtonFrame::Focus:
                return 0;
            case ButtonFrame::Hover:
                return 1;
            case ButtonFrame::Pressed:
                return 2;
            case ButtonFrame::Disabled:
                return 3;
        }
    }
    return i;
}

void CSkinButtonWidget::Apply(const Reaction& reaction) {
    if (reaction.capture == CaptureChange::Take)
        grabMouse();
    else if (reaction.capture == CaptureChange::Release)
        releaseMouse();
    if (reaction.takeFocus)
        setFocus(Qt::MouseFocusReason);
    if (reaction.repaint)
        update();
    for (const ControlPost& post : reaction.posts) {
        if (post.recipient == Recipient::Control) {
            if (post.message == controls::WM_UNCHECK_REQUEST && parentWidget() != nullptr) {
                const auto siblings = parentWidget()->findChildren<CSkinButtonWidget*>(
                    QString(), Qt::FindDirectChildrenOnly);
                for (CSkinButtonWidget* sibling : siblings) {
                    if (sibling != this && sibling->Model().Id() == post.control)
                        sibling->DeliverUncheck();
                }
            } else {
                emit Posted(post);
            }
        } else if (post.message == kWmCommand) {
            emit Clicked(m_model.Id());
        } else {
            emit Posted(post);
        }
    }
}

void CSkinButtonWidget::DrawText(QPainter& painter, TextStyle style) {
    if (m_text.isEmpty())
        return;
    QFont f = font();
    f.setFamily(QStringLiteral("Liberation Sans"));
    painter.setFont(f);
    const QRect r = rect();
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    if (style == TextStyle::Embossed) {
        painter.setPen(Highlight());
        painter.drawText(r, flags, m_text);
        painter.setPen(DisabledText());
        painter.drawText(r.translated(-1, -1), flags, m_text);
        return;
    }
    painter.setPen(TextColor());
    painter.drawText(style == TextStyle::Shifted ? r.translated(1, 1) : r, flags, m_text);
}

void CSkinButtonWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ButtonLook look = m_model.Look();
    const QRect r = rect();
    QImage frame;
    if (look.picture)
        frame =
            StripFrame(platform::ui::Skin().Image(*look.picture), m_frames, FrameIndex(look.frame));
    if (!look.picture) {
        // A look the button has no picture for is a plain fill.
        painter.fillRect(r, PlainFill());
    } else if (!frame.isNull()) {
        // (A picture the pack lacks leaves the control blank.)
        QImage mask;
        if (look.mask)
            mask = StripFrame(platform::ui::Skin().Image(*look.mask), m_frames,
                              FrameIndex(look.frame));
        const QImage shown = Transparent(frame, mask);
        if (look.stretch)
            painter.drawImage(r, shown);
        else
            painter.drawImage(0, 0, shown);
    }
    DrawEdge(painter, r, look.edge);
    DrawText(painter, look.text);
    if (look.focusInset) {
        const int inset = *look.focusInset;
        QPen pen(TextColor());
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.drawRect(r.adjusted(inset, inset, -inset - 1, -inset - 1));
    }
}

void CSkinButtonWidget::resizeEvent(QResizeEvent* event) {
    m_model.SetSize(width(), height());
    QWidget::resizeEvent(event);
}

void CSkinButtonWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (m_model.Enabled() && !m_model.Inert())
        setFocus(Qt::MouseFocusReason);
    Apply(m_model.OnButtonDown(ToPoint(event->position())));
}

void CSkinButtonWidget::mouseMoveEvent(QMouseEvent* event) {
    Apply(m_model.OnMouseMove(ToPoint(event->position())));
}

void CSkinButtonWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    Apply(m_model.OnButtonUp(ToPoint(event->position())));
}

void CSkinButtonWidget::enterEvent(QEnterEvent* event) {
    Apply(m_model.OnMouseMove(ToPoint(event->position())));
    QWidget::enterEvent(event);
}

void CSkinButtonWidget::leaveEvent(QEvent* event) {
    Apply(m_model.OnMouseLeave());
    QWidget::leaveEvent(event);
}

void CSkinButtonWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        Apply(m_model.OnSpaceKey());
        return;
    }
    QWidget::keyPressEvent(event);
}

void CSkinButtonWidget::focusInEvent(QFocusEvent* event) {
    Apply(m_model.OnFocusIn());
    QWidget::focusInEvent(event);
}

void CSkinButtonWidget::focusOutEvent(QFocusEvent* event) {
    Apply(m_model.OnFocusOut());
    QWidget::focusOutEvent(event);
}

}  // namespace taviro::controls::ui
