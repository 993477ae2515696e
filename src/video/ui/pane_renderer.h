// The renderers of the channel grid. A renderer is a child widget that covers the whole
// grid and paints every pane: the decoded pictures in its own way (OpenGL textures for
// planar YUV, QPainter for 24-bit BGR) and everything else through pane_painter.h. The grid
// has one renderer for its life; its picture format tells the owner which output format
// to ask of the decoders.
//
// Threads: the user-interface thread only. The grid (the IPaneSource) makes the plan; the
// views it names are its owner's; the renderer owns its textures. The renderer widget is owned by
// its Qt parent, the grid.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <string_view>
#include <vector>

#include "video/channel_views.h"
#include "video/ui/pane_painter.h"
#include "video/ui/pane_plan.h"

namespace taviro::video::ui {

enum class RendererKind { Yuv, Rgb };

// What a renderer paints from; implemented by the grid.
class IPaneSource {
  public:
    virtual ~IPaneSource() = default;
    // The panes to draw, each with the views of its channel's recorder.
    virtual std::vector<PanePlan> Plan() const = 0;
    virtual OsdState Osd() const = 0;
    virtual QColor Background() const = 0;
    // Counts the pictures handed to a channel; a renderer that caches pictures re-reads a
    // channel's picture only when this moved.
    [[nodiscard]] virtual std::uint64_t PictureSerial(int channel) const = 0;
    // A pane was drawn (counted for tests and the benchmark).
    virtual void PaneDrawn(const PanePlan& plan) = 0;
};

class IPaneRenderer {
  public:
    virtual ~IPaneRenderer() = default;
    [[nodiscard]] virtual RendererKind Kind() const = 0;
    // The decoder output format this renderer draws (platform::kH264FormatYuv420 / Rgb24).
    [[nodiscard]] virtual std::uint32_t PictureFormat() const = 0;
    virtual QWidget* Surface() = 0;
    // Repaints these panes soon; `everything` repaints the whole grid.
    virtual void Invalidate(const QRegion& region) = 0;
    virtual void InvalidateAll() = 0;
    // What the renderer shows now, at the surface's size.
    virtual QImage Grab() = 0;
};

// True when an OpenGL context with shaders can be created on this display (and the
// environment variable TAVIRO_NO_OPENGL is not set, which forces the RGB renderer).
bool OpenGlAvailable();

// What OpenGL offers on this display: probed once per run (a context is made and dropped);
// `renderer` is the driver's renderer string ("llvmpipe (LLVM 15.0.6, 256 bits)", ...).
struct OpenGlProbe {
    bool usable = false;  // a context with shaders (TAVIRO_NO_OPENGL not looked at)
    bool software = false;
    QString renderer;
};
const OpenGlProbe& ProbeOpenGl();
// Whether an OpenGL renderer string names a rasteriser that runs on the processor (Mesa's
// llvmpipe and softpipe, swrast, OpenSWR, Microsoft's GDI generic). There the YUV renderer
// costs several times what the RGB renderer does.
bool IsSoftwareGlRenderer(std::string_view renderer);

// Draw modes: 0 the YUV renderer when OpenGL works, else the RGB renderer; 1 (or anything
// else) the RGB renderer; kDrawModeAuto the YUV renderer only where OpenGL renders on a
// graphics processor, else the RGB renderer. The renderer is a child of `parent`.
inline constexpr int kDrawModeAuto = 2;
IPaneRenderer* CreatePaneRenderer(int drawMode, IPaneSource& source, QWidget* parent);
// The renderer of this kind as the About dialog and the statistics overlay name it, with
// the OpenGL renderer string where OpenGL is used or was passed over.
QString RendererDescription(RendererKind kind);

}  // namespace taviro::video::ui
