#include <memory>

#include "cli/offscreen_app.h"
#include "cli/snapshot_command.h"
#include "snapshot/ui/snapshot_qt.h"

namespace taviro::cli {

namespace {

// The captions need fonts: the offscreen application lives as long as the painter.
class CCliCaptionPainter final : public snapshot::ICaptionPainter {
  public:
    CCliCaptionPainter()
        : m_app(MakeOffscreenApp()),
          m_painter(std::make_unique<snapshot::ui::CQtCaptionPainter>()) {}
    void Paint(snapshot::BgrImage& image, int x, int y, std::string_view text,
               std::uint32_t colour) override {
        m_painter->Paint(image, x, y, text, colour);
    }

  private:
    std::unique_ptr<QGuiApplication> m_app;
    std::unique_ptr<snapshot::ui::CQtCaptionPainter> m_painter;
};

}  // namespace

std::unique_ptr<snapshot::ICaptionPainter> MakeCaptionPainter() {
    return std::make_unique<CCliCaptionPainter>();
}

}  // namespace taviro::cli
