// A skinned slider on screen: a thin QWidget over controls::CSkinSlider. It draws the track
// picture stretched over the control and the thumb picture at the model's ThumbRect(),
// forwards the left mouse button and emits each message the model posts, in order:
// controls::WM_SLIDER_BEGIN (0x0D60), controls::WM_SLIDER_MOVE (0x0D61), controls::WM_SLIDER_END
// (0x0D62). The thumb and track come from the skin (2160/2161 horizontal, 2162/2163 vertical); when
// the pack lacks the thumb, a thumb of kDefaultThumbLength x kDefaultThumbBreadth is drawn
// as a plain fill so the slider still works.
// Thread: the GUI thread. Owner: the parent widget (made with platform::ui::Child).
#pragma once

#include <QWidget>
#include <cstdint>

#include "controls/skin_slider.h"

namespace taviro::controls::ui {

inline constexpr int kDefaultThumbLength = 11;
inline constexpr int kDefaultThumbBreadth = 16;

class CSkinSliderWidget final : public QWidget {
    Q_OBJECT
  public:
    CSkinSliderWidget(std::uint32_t id, Orientation orientation, QWidget* parent);

    CSkinSlider& Model() { return m_model; }
    const CSkinSlider& Model() const { return m_model; }

    void SetRange(int minimum, int maximum);
    void SetPosition(int value);
    int Position() const { return m_model.Position(); }
    void SetSliderEnabled(bool on);

  signals:
    void SliderMessage(std::uint32_t message, std::uint32_t id, int position);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void Apply(const Reaction& reaction);

    CSkinSlider m_model;
    int m_trackPicture = 0;
};

}  // namespace taviro::controls::ui
