#include "video/ui/grid_pictures.h"

#include "platform/skin_numbers.h"

namespace taviro::video::ui {

GridPictures LoadGridPictures(const platform::ui::CSkinLibrary& skin) {
    namespace pn = platform::skin;
    const auto icon = [&skin](int image, int mask) {
        return MaskedIcon(skin.Image(image), skin.Image(mask));
    };
    GridPictures p;
    p.idle = skin.NamedPicture(QString::fromLatin1(pn::kNamedIdle));
    p.videoLoss = skin.NamedPicture(QString::fromLatin1(pn::kNamedVideoLoss));
    p.blocked = p.videoLoss;
    p.audio = {icon(pn::kPicIconAudioHeard, pn::kPicIconAudioHeardMask),
               icon(pn::kPicIconAudioMuted, pn::kPicIconAudioMutedMask)};
    p.ptz = {icon(pn::kPicIconPtz1, pn::kPicIconPtz1Mask),
             icon(pn::kPicIconPtz2, pn::kPicIconPtz2Mask)};
    p.pause = icon(pn::kPicIconPause, pn::kPicIconPauseMask);
    p.play = icon(pn::kPicIconPlay, pn::kPicIconPlayMask);
    p.forwardSlice = icon(pn::kPicIconForwardSlice, pn::kPicIconForwardSliceMask);
    p.backwardSlice = icon(pn::kPicIconBackwardSlice, pn::kPicIconBackwardSliceMask);
    p.stepForward = icon(pn::kPicIconStepForward, pn::kPicIconStepForwardMask);
    p.stepBackward = icon(pn::kPicIconStepBackward, pn::kPicIconStepBackwardMask);
    p.integrity = {icon(pn::kPicIconNoCheck, pn::kPicIconNoCheckMask),
                   icon(pn::kPicIconChecked, pn::kPicIconCheckedMask)};
    return p;
}

}  // namespace taviro::video::ui
