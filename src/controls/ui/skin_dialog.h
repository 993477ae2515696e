// The frame every skinned dialog of the client shares: no system frame, the skin's dialog
// background stretched over the window, dragged by any background point, centred on the
// screen, made translucent by the opacity setting of its kind of window, with helpers for
// skinned text buttons, labels and dark edits.
// Thread: the GUI thread. Owner: whoever runs the dialog (its children belong to it).
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <optional>

#include "controls/ui/skin_button_widget.h"

namespace taviro::controls::ui {

class CSkinDialog : public QDialog {
    Q_OBJECT
  public:
    // What the window is about (a recorder's name), after the caption; empty: the caption
    // alone.
    void SetAbout(const QString& about);
    // The caption with what the window is about.
    [[nodiscard]] QString Title() const;
    // `opacity` 0..255 as the local settings keep it; 255 is opaque.
    CSkinDialog(QWidget* parent, QSize size, std::uint8_t opacity,
                std::optional<int> background = std::nullopt);

    // The skin text `number`, empty when the pack lacks it.
    static QString SkinText(int number);

    // Moves the window to the middle of the screen it is on (or the primary one).
    void CenterOnScreen();

  protected:
    // A push button of the generic text strip with the skin text `textNumber` as caption.
    controls::ui::CSkinButtonWidget* MakeTextButton(std::uint32_t id, const QString& caption,
                                                    const QRect& place);
    QLabel* MakeLabel(const QString& text, const QRect& place,
                      Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
    QLineEdit* MakeEdit(const QRect& place, int maxLength);
    // Gives the dialog a title strip with this caption (a missing skin text leaves the strip
    // empty).
    void SetCaption(const QString& caption);

    // Enter or Return anywhere in the dialog: what the dialog's OK does (nothing by default;
    // the dialogs have no platform push button that would take it).
    virtual void OnEnterKey() {}

    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    std::optional<int> m_background;
    QString m_caption;
    QString m_about;
    bool m_hasTitle = false;
    std::optional<QPoint> m_dragOffset;  // pointer position inside the window while dragging
};

// The style sheet of edits, lists and check boxes that sit on the dark skin.
QString DarkControlStyle();

}  // namespace taviro::controls::ui
