// The YUV renderer: planar YUV 4:2:0 pictures uploaded as three one-channel textures per
// channel (again only when that channel has a new picture) and converted to RGB by a
// shader (BT.601, limited range), showing the picture's inner rectangle; the idle pictures
// and the OSD are drawn with QPainter over the GL content in the same widget.
//
// Only the panes invalidated since the last frame are redrawn; the rest of the framebuffer
// is kept (partial updates), so a new picture costs its own pane only.
//
// Threads: the user-interface thread. Owned by its Qt parent (the grid); owns its GL
// textures and shader program, released with the context.
#pragma once

#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <array>
#include <memory>
#include <vector>

#include "video/ui/pane_renderer.h"

namespace taviro::video::ui {

class CYuvRenderer final : public QOpenGLWidget, protected QOpenGLFunctions, public IPaneRenderer {
    Q_OBJECT
  public:
    CYuvRenderer(IPaneSource& source, QWidget* parent);
    ~CYuvRenderer() override;

    [[nodiscard]] RendererKind Kind() const override { return RendererKind::Yuv; }
    [[nodiscard]] std::uint32_t PictureFormat() const override;
    QWidget* Surface() override { return this; }
    void Invalidate(const QRegion& region) override;
    void InvalidateAll() override;
    // Draws every pane again, pictures and OSD, into the framebuffer and reads it back: with
    // partial updates the framebuffer may hold panes whose OSD a later picture covered.
    QImage Grab() override;

    // Texture uploads so far (each is one channel's three planes).
    [[nodiscard]] std::uint64_t Uploads() const { return m_uploads; }

  protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

  private:
    struct ChannelTextures {
        std::array<GLuint, 3> ids{};
        int width = 0;  // the picture's size; the textures hold half the rows when doubled
        int height = 0;
        bool doubled = false;
        std::uint64_t serial = ~std::uint64_t{0};
    };

    void ReleaseGl();
    // Uploads the picture when it is new (by `serial`); false when it cannot be shown (no,
    // malformed or oversized picture). Called without the channel's lock: the picture is a
    // reference of the caller's and is never written. With `doubleLines` only the even rows
    // go up, and the texture's stretch shows each of them twice.
    bool Upload(int channel, const platform::DecodedPicture* picture, bool doubleLines,
                std::uint64_t serial);
    // One plane into the bound texture: `rows` rows of `planeWidth` bytes, `stride` apart.
    void UploadPlane(const std::uint8_t* plane, int planeWidth, int rows, int stride,
                     bool allocate);
    void DrawQuad(const QRect& pane, const ChannelTextures& t);

    IPaneSource& m_source;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::array<ChannelTextures, kMaxPanes> m_textures{};  // by channel of the grid
    bool m_useRed = false;                                // GL_R8 textures; GL_LUMINANCE otherwise
    bool m_rowLength = false;          // GL_UNPACK_ROW_LENGTH works (not OpenGL ES 2)
    std::vector<std::uint8_t> m_rows;  // packed rows, where it does not
    bool m_ready = false;
    bool m_full = true;
    QRegion m_dirty;
    std::uint64_t m_uploads = 0;
    QMetaObject::Connection m_contextGone;
};

// The shader sources, shared with the availability check.
const char* YuvVertexShader();
const char* YuvFragmentShader();

}  // namespace taviro::video::ui
