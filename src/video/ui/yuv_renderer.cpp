#include "video/ui/yuv_renderer.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/h264_decoder.h"
#include "platform/ui/qt_owned.h"
#include "video/ui/rgb_renderer.h"

#ifndef GL_RED
#define GL_RED 0x1903
#endif
#ifndef GL_R8
#define GL_R8 0x8229
#endif
#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif

namespace taviro::video::ui {

namespace {

constexpr const char* kVertex = R"(
attribute highp vec2 a_pos;
attribute highp vec2 a_tex;
varying highp vec2 v_tex;
void main() {
    v_tex = a_tex;
    gl_Position = vec4(a_pos, 0.0, 1.0);
}
)";

// BT.601 limited range: Y 16..235, Cb and Cr 16..240 around 128.
constexpr const char* kFragment = R"(
varying highp vec2 v_tex;
uniform sampler2D u_y;
uniform sampler2D u_u;
uniform sampler2D u_v;
void main() {
    highp float y = 1.164384 * (texture2D(u_y, v_tex).r - 0.062745);
    highp float u = texture2D(u_u, v_tex).r - 0.501961;
    highp float v = texture2D(u_v, v_tex).r - 0.501961;
    gl_FragColor = vec4(clamp(y + 1.596027 * v, 0.0, 1.0),
                        clamp(y - 0.391762 * u - 0.812968 * v, 0.0, 1.0),
                        clamp(y + 2.017232 * u, 0.0, 1.0), 1.0);
}
)";

}  // namespace

const char* YuvVertexShader() {
    return kVertex;
}
const char* YuvFragmentShader() {
    return kFragment;
}

bool IsSoftwareGlRenderer(std::string_view renderer) {
    std::string lower(renderer);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* name :
         {"llvmpipe", "softpipe", "swrast", "software rasterizer", "openswr", "gdi generic"}) {
        if (lower.find(name) != std::string::npos)
            return true;
    }
    // OpenSWR names itself "SWR" among other words.
    return lower == "swr" || lower.rfind("swr ", 0) == 0 || lower.find(" swr") != std::string::npos;
}

namespace {

OpenGlProbe RunProbe() {
    OpenGlProbe probe;
    QOpenGLContext context;
    if (!context.create())
        return probe;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return probe;
    QOpenGLFunctions* gl = context.functions();
    if (const auto* text = reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER)))
        probe.renderer = QString::fromLatin1(text).left(200);
    probe.software = IsSoftwareGlRenderer(probe.renderer.toStdString());
    bool ok = gl->hasOpenGLFeature(QOpenGLFunctions::Shaders);
    if (ok) {
        QOpenGLShaderProgram program;
        ok = program.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertex) &&
             program.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragment) && program.link();
    }
    probe.usable = ok;
    context.doneCurrent();
    return probe;
}

}  // namespace

const OpenGlProbe& ProbeOpenGl() {
    // The GUI thread only, like every window; made once, it stays for the run.
    static const OpenGlProbe probe = RunProbe();
    return probe;
}

bool OpenGlAvailable() {
    if (!qEnvironmentVariableIsEmpty("TAVIRO_NO_OPENGL"))
        return false;
    return ProbeOpenGl().usable;
}

IPaneRenderer* CreatePaneRenderer(int drawMode, IPaneSource& source, QWidget* parent) {
    const bool yuv = (drawMode == 0 || drawMode == kDrawModeAuto) && OpenGlAvailable() &&
                     !(drawMode == kDrawModeAuto && ProbeOpenGl().software);
    if (yuv)
        return platform::ui::Child<CYuvRenderer>(parent, source);
    return platform::ui::Child<CRgbRenderer>(parent, source);
}

QString RendererDescription(RendererKind kind) {
    const OpenGlProbe& gl = ProbeOpenGl();
    if (kind == RendererKind::Yuv)
        return QStringLiteral("OpenGL YUV renderer (%1)").arg(gl.renderer);
    if (gl.usable && gl.software && qEnvironmentVariableIsEmpty("TAVIRO_NO_OPENGL"))
        return QStringLiteral("RGB renderer (OpenGL renders in software: %1)").arg(gl.renderer);
    return QStringLiteral("RGB renderer");
}

CYuvRenderer::CYuvRenderer(IPaneSource& source, QWidget* parent)
    : QOpenGLWidget(parent), m_source(source) {
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

CYuvRenderer::~CYuvRenderer() {
    // QOpenGLWidget's destructor destroys the context; by then this object is no longer a
    // CYuvRenderer, so the release must not run from the context's signal.
    QObject::disconnect(m_contextGone);
    makeCurrent();
    ReleaseGl();
    doneCurrent();
}

std::uint32_t CYuvRenderer::PictureFormat() const {
    return platform::kH264FormatYuv420;
}

void CYuvRenderer::Invalidate(const QRegion& region) {
    m_dirty += region;
    update();
}

QImage CYuvRenderer::Grab() {
    m_full = true;
    return grabFramebuffer();
}

void CYuvRenderer::InvalidateAll() {
    m_full = true;
    update();
}

void CYuvRenderer::ReleaseGl() {
    if (!m_ready)
        return;
    for (auto& t : m_textures) {
        glDeleteTextures(3, t.ids.data());
        t = ChannelTextures{};
    }
    m_program.reset();
    m_ready = false;
}

void CYuvRenderer::initializeGL() {
    initializeOpenGLFunctions();
    // A context created again (the widget moved to another window) starts from nothing.
    m_ready = false;
    for (auto& t : m_textures)
        t = ChannelTextures{};
    QObject::disconnect(m_contextGone);
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        ReleaseGl();
        doneCurrent();
    });
    const QSurfaceFormat f = context()->format();
    m_useRed = f.majorVersion() >= 3 || context()->hasExtension("GL_ARB_texture_rg");
    m_rowLength = !context()->isOpenGLES() || f.majorVersion() >= 3 ||
                  context()->hasExtension("GL_EXT_unpack_subimage");
    m_program = std::make_unique<QOpenGLShaderProgram>();
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertex) ||
        !m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragment) ||
        !m_program->link()) {
        m_program.reset();
        return;
    }
    for (auto& t : m_textures) {
        glGenTextures(3, t.ids.data());
        for (GLuint id : t.ids) {
            glBindTexture(GL_TEXTURE_2D, id);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    m_ready = true;
    m_full = true;
}

void CYuvRenderer::resizeGL(int, int) {
    m_full = true;
}

bool CYuvRenderer::Upload(int channel, const platform::DecodedPicture* picture, bool doubleLines,
                          std::uint64_t serial) {
    if (!picture || picture->format != platform::kH264FormatYuv420)
        return false;
    const int w = picture->width;
    const int h = picture->height;
    // The size first, so no arithmetic below can overflow; strides beyond any real row are
    // refused too, since a doubled one is read at twice its value.
    if (w < 2 || h < 2 || platform::PackedPictureBytes(w, h, picture->format) > kPictureBufferSize)
        return false;
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    constexpr int kMaxStride = 1 << 16;
    if (!picture->planes[0] || !picture->planes[1] || !picture->planes[2] ||
        picture->strides[0] < w || picture->strides[1] < cw || picture->strides[2] < cw ||
        picture->strides[0] > kMaxStride || picture->strides[1] > kMaxStride ||
        picture->strides[2] > kMaxStride)
        return false;
    ChannelTextures& t = m_textures[static_cast<std::size_t>(channel)];
    if (serial == t.serial && w == t.width && h == t.height && doubleLines == t.doubled)
        return true;
    const bool allocate = w != t.width || h != t.height || doubleLines != t.doubled;
    const int step = doubleLines ? 2 : 1;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
        const int pw = i == 0 ? w : cw;
        const int ph = i == 0 ? h : ch;
        glBindTexture(GL_TEXTURE_2D, t.ids[static_cast<std::size_t>(i)]);
        UploadPlane(picture->planes[static_cast<std::size_t>(i)], pw, (ph + step - 1) / step,
                    picture->strides[static_cast<std::size_t>(i)] * step, allocate);
    }
    // Back to the default: QPainter's glyph cache uploads its rows padded to 4 bytes and
    // does not set the alignment itself, so 1 left here garbles every OSD letter.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    t.width = w;
    t.height = h;
    t.doubled = doubleLines;
    t.serial = serial;
    ++m_uploads;
    return true;
}

void CYuvRenderer::UploadPlane(const std::uint8_t* plane, int planeWidth, int rows, int stride,
                               bool allocate) {
    const GLenum format = m_useRed ? GL_RED : GL_LUMINANCE;
    const GLint internal = m_useRed ? GL_R8 : GL_LUMINANCE;
    const std::uint8_t* pixels = plane;
    const bool packed = stride == planeWidth;
    if (!packed && m_rowLength) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, stride);  // the rows straight from the decoder
    } else if (!packed) {
        // OpenGL ES 2 reads rows back to back only: pack them first.
        m_rows.resize(static_cast<std::size_t>(planeWidth) * static_cast<std::size_t>(rows));
        for (int r = 0; r < rows; ++r)
            std::memcpy(
                m_rows.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(planeWidth),
                plane + static_cast<std::ptrdiff_t>(r) * stride,
                static_cast<std::size_t>(planeWidth));
        pixels = m_rows.data();
    }
    if (allocate)
        glTexImage2D(GL_TEXTURE_2D, 0, internal, planeWidth, rows, 0, format, GL_UNSIGNED_BYTE,
                     pixels);
    else
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, planeWidth, rows, format, GL_UNSIGNED_BYTE, pixels);
    if (!packed && m_rowLength)
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void CYuvRenderer::DrawQuad(const QRect& pane, const ChannelTextures& t) {
    const auto W = static_cast<float>(width());
    const auto H = static_cast<float>(height());
    const auto x0 = 2.0f * static_cast<float>(pane.left()) / W - 1.0f;
    const auto x1 = 2.0f * static_cast<float>(pane.left() + pane.width()) / W - 1.0f;
    const auto y0 = 1.0f - 2.0f * static_cast<float>(pane.top()) / H;
    const auto y1 = 1.0f - 2.0f * static_cast<float>(pane.top() + pane.height()) / H;
    const Rect src = YuvSourceRect(t.width, t.height);
    const auto tw = static_cast<float>(t.width);
    const auto th = static_cast<float>(t.height);
    const float s0 = static_cast<float>(src.left) / tw;
    const float s1 = static_cast<float>(src.right) / tw;
    const float t0 = static_cast<float>(src.top) / th;
    const float t1 = static_cast<float>(src.bottom) / th;
    const GLfloat pos[] = {x0, y0, x1, y0, x0, y1, x1, y1};
    const GLfloat tex[] = {s0, t0, s1, t0, s0, t1, s1, t1};
    for (int i = 0; i < 3; ++i) {
        glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, t.ids[static_cast<std::size_t>(i)]);
    }
    m_program->setAttributeArray("a_pos", pos, 2);
    m_program->setAttributeArray("a_tex", tex, 2);
    m_program->enableAttributeArray("a_pos");
    m_program->enableAttributeArray("a_tex");
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_program->disableAttributeArray("a_pos");
    m_program->disableAttributeArray("a_tex");
}

void CYuvRenderer::paintGL() {
    const QRegion dirty = m_full ? QRegion(rect()) : (m_dirty & rect());
    m_full = false;
    m_dirty = QRegion();
    if (dirty.isEmpty())
        return;
    const std::vector<PanePlan> plans = m_source.Plan();
    const OsdState osd = m_source.Osd();
    const qreal dpr = devicePixelRatioF();
    QPainter painter(this);

    painter.beginNativePainting();
    const QColor bg = m_source.Background();
    glClearColor(static_cast<GLfloat>(bg.redF()), static_cast<GLfloat>(bg.greenF()),
                 static_cast<GLfloat>(bg.blueF()), 1.0f);
    glEnable(GL_SCISSOR_TEST);
    const int fbHeight = static_cast<int>(height() * dpr);
    auto scissor = [&](const QRect& r) {
        glScissor(static_cast<GLint>(r.left() * dpr),
                  static_cast<GLint>(fbHeight - (r.top() + r.height()) * dpr),
                  static_cast<GLsizei>(r.width() * dpr), static_cast<GLsizei>(r.height() * dpr));
    };
    for (const QRect& r : dirty) {
        scissor(r);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    if (m_ready && m_program) {
        glDisable(GL_BLEND);
        m_program->bind();
        m_program->setUniformValue("u_y", 0);
        m_program->setUniformValue("u_u", 1);
        m_program->setUniformValue("u_v", 2);
        for (const PanePlan& plan : plans) {
            const QRect pane = ToQRect(plan.rect);
            if (plan.kind != PaneKind::Picture || !dirty.intersects(pane))
                continue;
            // The serial first, then the picture: a picture newer than its serial is only
            // uploaded once more on the next paint.
            const std::uint64_t serial = m_source.PictureSerial(plan.channel);
            platform::PictureRef picture;
            bool doubleLines = false;
            {
                const ChannelView& view = plan.views->Channel(plan.recorderChannel);
                std::lock_guard lock(view.lock);
                picture = view.frame;
                doubleLines = view.doubleLines;
            }
            const bool shown = Upload(plan.channel, picture.get(), doubleLines, serial);
            if (!shown)
                continue;
            for (const QRect& r : dirty& pane) {
                scissor(r);
                DrawQuad(pane, m_textures[static_cast<std::size_t>(plan.channel)]);
            }
        }
        m_program->release();
        // Leave no plane bound for QPainter's GL engine, which paints the OSD next.
        for (const GLenum unit : {GLenum{GL_TEXTURE2}, GLenum{GL_TEXTURE1}, GLenum{GL_TEXTURE0}}) {
            glActiveTexture(unit);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
    }
    glDisable(GL_SCISSOR_TEST);
    painter.endNativePainting();

    painter.setClipRegion(dirty);
    for (const PanePlan& plan : plans) {
        const QRect pane = ToQRect(plan.rect);
        if (!dirty.intersects(pane))
            continue;
        if (plan.kind == PaneKind::Picture) {
            const ChannelView& view = plan.views->Channel(plan.recorderChannel);
            std::lock_guard lock(view.lock);
            DrawOsd(painter, plan, view, osd);
        } else {
            DrawNonPicture(painter, plan, osd);
        }
        m_source.PaneDrawn(plan);
    }
}

}  // namespace taviro::video::ui
