#include "controls/ui/skin_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "controls/ui/skin_paint.h"
#include "platform/skin_numbers.h"
#include "platform/ui/qt_owned.h"
#include "platform/ui/skin_library.h"

namespace taviro::controls::ui {

namespace {
constexpr int kTitleHeight = 26;
}  // namespace

QString DarkControlStyle() {
    return QStringLiteral(
        "QLineEdit { background: #15171b; color: #d8dde3; border: 1px solid #3a4049;"
        " border-radius: 3px; padding: 1px 4px; selection-background-color: #2f7fb8; }"
        "QLineEdit:disabled { background: #24272c; color: #6c737d; border-color: #2c3036; }"
        "QLineEdit:focus { border-color: #3d9ad6; }"
        "QLabel { color: #c4cad2; background: transparent; }"
        "QTreeWidget { background: #15171b; alternate-background-color: #1a1d22;"
        " color: #d8dde3; border: 1px solid #3a4049; gridline-color: #30353c;"
        " selection-background-color: #2f7fb8; selection-color: #ffffff; }"
        "QTreeWidget::item { border-right: 1px solid #30353c; border-bottom: 1px solid #30353c;"
        " padding: 1px 3px; }"
        "QHeaderView::section { background: #2a2e35; color: #c4cad2; border: 0;"
        " border-right: 1px solid #3a4049; border-bottom: 1px solid #3a4049; padding: 2px 4px; }"
        "QCheckBox, QRadioButton { color: #c4cad2; background: transparent; }"
        "QComboBox { background: #15171b; color: #d8dde3; border: 1px solid #3a4049;"
        " border-radius: 3px; padding: 1px 4px; }"
        "QComboBox QAbstractItemView { background: #15171b; color: #d8dde3;"
        " selection-background-color: #2f7fb8; }");
}

CSkinDialog::CSkinDialog(QWidget* parent, QSize size, std::uint8_t opacity,
                         std::optional<int> background)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_background(background.value_or(platform::skin::kPicDialogBackground)) {
    setFixedSize(size);
    setWindowOpacity(static_cast<double>(opacity) / 255.0);
    setStyleSheet(DarkControlStyle());
    CenterOnScreen();
}

QString CSkinDialog::SkinText(int number) {
    return platform::ui::Skin().Text(number);
}

void CSkinDialog::CenterOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

controls::ui::CSkinButtonWidget* CSkinDialog::MakeTextButton(std::uint32_t id,
                                                             const QString& caption,
                                                             const QRect& place) {
    auto* button =
        platform::ui::Child<controls::ui::CSkinButtonWidget>(this, id, controls::ButtonKind::Push);
    const int strip = place.width() <= 64   ? platform::skin::kPicTextButtonSmall
                      : place.width() <= 88 ? platform::skin::kPicTextButtonMedium
                                            : platform::skin::kPicTextButtonLarge;
    button->SetFrameCount(platform::skin::kButtonFrames);
    button->Model().SetStretch(true);
    button->SetPictures(controls::ButtonPictures{strip, strip, strip, strip, strip}, false);
    button->setGeometry(place);
    button->SetText(caption);
    return button;
}

QLabel* CSkinDialog::MakeLabel(const QString& text, const QRect& place, Qt::Alignment align) {
    auto* label = platform::ui::Child<QLabel>(this, text);
    label->setGeometry(place);
    label->setAlignment(align);
    return label;
}

QLineEdit* CSkinDialog::MakeEdit(const QRect& place, int maxLength) {
    auto* edit = platform::ui::Child<QLineEdit>(this);
    edit->setGeometry(place);
    edit->setMaxLength(maxLength);
    return edit;
}

void CSkinDialog::SetCaption(const QString& caption) {
    m_hasTitle = true;
    m_caption = caption;
    setWindowTitle(Title());
    update();
}

void CSkinDialog::SetAbout(const QString& about) {
    if (about == m_about)
        return;
    m_about = about;
    setWindowTitle(Title());
    update();
}

QString CSkinDialog::Title() const {
    return m_about.isEmpty() ? m_caption : m_caption + QStringLiteral("  \u2014  ") + m_about;
}

void CSkinDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage background = m_background ? platform::ui::Skin().Image(*m_background) : QImage();
    if (background.isNull()) {
        painter.fillRect(rect(), controls::ui::PlainFill());
    } else {
        painter.drawImage(rect(), background);
    }
    // Only a dialog with a caption has a title strip; the popup's background is its own.
    if (m_hasTitle) {
        const QImage title = platform::ui::Skin().Image(platform::skin::kPicDialogTitle);
        const QRect titleRect(0, 0, width(), kTitleHeight);
        if (!title.isNull()) {
            painter.drawImage(titleRect, title);
        }
        painter.setPen(controls::ui::TextColor());
        QFont f = font();
        f.setBold(true);
        painter.setFont(f);
        painter.drawText(titleRect.adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         Title());
    }
}

void CSkinDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        OnEnterKey();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSkinDialog::mousePressEvent(QMouseEvent* event) {
    // The window has no system frame: any background point drags it.
    if (event->button() == Qt::LeftButton) {
        m_dragOffset = event->position().toPoint();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CSkinDialog::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CSkinDialog::mouseReleaseEvent(QMouseEvent* event) {
    m_dragOffset.reset();
    QDialog::mouseReleaseEvent(event);
}

}  // namespace taviro::controls::ui
