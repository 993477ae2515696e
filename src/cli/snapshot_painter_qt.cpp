#include <QGuiApplication>
#include <memory>

#include "cli/snapshot_command.h"
#include "snapshot/ui/snapshot_qt.h"

namespace taviro::cli {

namespace {

// Fonts need a GUI application; the offscreen platform needs no display. The application
// object lives as long as the painter, created only when the process has none.
class CCliCaptionPainter final : public snapshot::ICaptionPainter {
  public:
    CCliCaptionPainter() {
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 3;
            static char arg0[] = "taviro-cli";
            static char arg1[] = "-platform";
            static char arg2[] = "offscreen";
            static char* argv[] = {arg0, arg1, arg2, nullptr};
            m_app = std::make_unique<QGuiApplication>(argc, argv);
        }
        m_painter = std::make_unique<snapshot::ui::CQtCaptionPainter>();
    }
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
