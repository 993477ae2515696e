#include "video/pane_texts.h"

#include <cstdio>

namespace taviro::video {

std::string_view ModeLabel(ViewMode mode) {
    switch (mode) {
        case ViewMode::Live:
            return "LIVE";
        case ViewMode::RemotePlayback:
            return "R-PLAY";
        case ViewMode::LocalPlayback:
            return "L-PLAY";
        case ViewMode::Idle:
            break;
    }
    return {};
}

PaneTexts MakePaneTexts(const ChannelView& view, int osdMode, const CChannelViews& views) {
    PaneTexts texts;
    const std::string_view mode = ModeLabel(view.labelMode);
    if (!mode.empty()) {
        if (view.title != view.fittedFrom || view.paneWidth != view.fittedWidth) {
            view.fittedFrom = view.title;
            view.fittedWidth = view.paneWidth;
            view.fitted = views.FitTitle(view.title, view.paneWidth);
        }
        char line[300];
        if (osdMode == kOsdFull) {
            // The recorders' two picture widths are shown as the sizes of their formats.
            std::snprintf(line, sizeof line, "%s %dx%d", view.fitted.c_str(),
                          view.width == 352 ? 360 : 720, view.height);
            texts.line1 = line;
        } else {
            texts.line1 = view.fitted;
        }
        std::snprintf(line, sizeof line, "%.*s  %02d", static_cast<int>(mode.size()), mode.data(),
                      view.frameRate);
        texts.line2 = line;
    }
    const int characters = static_cast<int>(texts.line2.size());
    const int cw = CChannelViews::LabelCharWidth();
    texts.audioIconX = cw * characters + 45;
    texts.integrityIconX = cw * characters + 80;
    return texts;
}

}  // namespace taviro::video
