// A skinned button on screen: a thin QWidget over controls::CSkinButton. The model decides
// which frame to show and what a mouse or key event means; this widget draws the chosen
// frame out of the skin strip, takes and releases the mouse as told and delivers the posts:
// the click command as Clicked(), the uncheck request of a radio group to the sibling
// button with that id under the same parent, everything else as Posted().
// Thread: the GUI thread. Owner: the parent widget (made with platform::ui::Child).
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

#include "controls/skin_button.h"

namespace taviro::controls::ui {

class CSkinButtonWidget final : public QWidget {
    Q_OBJECT
  public:
    CSkinButtonWidget(std::uint32_t id, ButtonKind kind, QWidget* parent);

    CSkinButton& Model() { return m_model; }
    const CSkinButton& Model() const { return m_model; }

    // Skin numbers of the five looks. A multi-frame strip draws frame i (normal, hover,
    // focus, pressed, disabled) at x = i * frame width; with fitToPicture the widget takes
    // the size of one frame of the normal picture.
    void SetPictures(const ButtonPictures& pictures, bool fitToPicture = true);
    // Frames in the strips: 5 (the default), 4 (normal, hover, pressed, disabled), 1 (one
    // picture per look), or 0 for square frames as wide as the strip is high. Set it before
    // SetPictures when the widget should fit a strip of another frame count.
    void SetFrameCount(int frames);
    void SetText(const QString& text);
    QString Text() const { return m_text; }
    void SetCheck(int checked);
    int Check() const { return m_model.Checked(); }
    void SetButtonEnabled(bool on);
    [[nodiscard]] bool ButtonEnabled() const { return m_model.Enabled(); }

    // The uncheck request (0x0500) of a radio group member.
    void DeliverUncheck();

  signals:
    void Clicked(std::uint32_t id);                   // the kWmCommand post
    void Posted(taviro::controls::ControlPost post);  // every other post to the parent

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void Apply(const Reaction& reaction);
    int FrameIndex(ButtonFrame frame) const;
    void DrawText(class QPainter& painter, TextStyle style);

    CSkinButton m_model;
    int m_frames = 5;
    QString m_text;
};

}  // namespace taviro::controls::ui

// Posted() carries the model's post by value, also across queued connections.
Q_DECLARE_METATYPE(taviro::controls::ControlPost)
