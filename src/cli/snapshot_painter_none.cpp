#include "cli/snapshot_command.h"

namespace taviro::cli {

std::unique_ptr<snapshot::ICaptionPainter> MakeCaptionPainter() {
    return std::make_unique<snapshot::CNullCaptionPainter>();
}

}  // namespace taviro::cli
