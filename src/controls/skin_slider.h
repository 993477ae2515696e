// A skinned slider: a track inside the control's margins and a thumb picture that marks the
// position. This object maps values to pixels and back and runs the drag; the widget draws
// the thumb at ThumbRect() and forwards the left mouse button with the pointer in the
// slider's own coordinates. Positions posted to the parent carry the slider's id in wParam.
#pragma once

#include <cstdint>
#include <optional>

#include "controls/control_events.h"

namespace taviro::controls {

enum class Orientation { Horizontal, Vertical };

struct SliderMargins {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

struct ThumbPicture {
    int picture = 0;                        // skin picture number
    std::optional<std::uint32_t> colorKey;  // colour drawn transparent
};

struct SliderPictures {
    ThumbPicture thumb;
    std::optional<ThumbPicture> second;
};

class CSkinSlider {
  public:
    explicit CSkinSlider(std::uint32_t id, Orientation orientation = Orientation::Horizontal);

    std::uint32_t Id() const { return m_id; }
    Orientation GetOrientation() const { return m_orientation; }

    void SetSize(int width, int height);
    void SetThumbSize(int width, int height);
    void SetMargins(const SliderMargins& margins) { m_margins = margins; }
    void SetPictures(const SliderPictures& pictures) { m_pictures = pictures; }
    const SliderPictures& Pictures() const { return m_pictures; }

    // False (and nothing changes) when maximum < minimum. The position is pulled into the
    // new range.
    bool SetRange(int minimum, int maximum);
    int Minimum() const { return m_min; }
    int Maximum() const { return m_max; }
    // Clamped to the range. Returns whether the thumb must be repainted.
    bool SetPosition(int value);
    int Position() const { return m_pos; }

    // Disabling in the middle of a drag ends it without a message; the widget releases
    // the capture when told.
    Reaction SetEnabled(bool on);
    bool Enabled() const { return m_enabled; }
    bool Dragging() const { return m_dragging; }
    int GrabOffset() const { return m_grabOffset; }

    // The centre pixel of the thumb for `value` along the slider's axis.
    int PixelOfValue(int value) const;
    // The value at pixel `p` along the slider's axis (not clamped).
    int ValueOfPixel(int p) const;
    // The stretch inside the margins.
    Rect TrackRect() const;
    // Where the thumb is drawn for the current position; across the axis it is centred
    // between the margins.
    Rect ThumbRect() const;

    Reaction OnButtonDown(Point p);
    Reaction OnMouseMove(Point p);
    Reaction OnButtonUp(Point p);

  private:
    struct Axis {
        int length;      // control width (or height)
        int thumb;       // thumb width (or height)
        int nearMargin;  // left (or top)
        int farMargin;   // right (or bottom)
    };
    Axis AlongAxis() const;
    int Along(Point p) const { return m_orientation == Orientation::Horizontal ? p.x : p.y; }
    void Move(int pointer, Reaction& r);
    ControlPost ToParent(std::uint32_t message) const;

    std::uint32_t m_id;
    Orientation m_orientation;
    int m_width = 0;
    int m_height = 0;
    int m_thumbWidth = 0;
    int m_thumbHeight = 0;
    SliderMargins m_margins;
    SliderPictures m_pictures;
    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
    bool m_enabled = true;
    bool m_dragging = false;
    int m_grabOffset = 0;
};

}  // namespace taviro::controls
