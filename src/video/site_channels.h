// Which recorder and channel each channel of the grid is. The grid numbers the channels of
// all recorders in one row, recorder 1's first, then recorder 2's and so on, each with as
// many as it has (the last count known: a lost recorder keeps its place and panes); a
// grid of one recorder numbers its channels as the recorder does. The owner rebuilds the
// map when a recorder comes, goes or tells its channel count; the grid's slots hold these
// numbers, and each recorder is asked for live view of exactly its part of the panes shown.
//
// Threads: Set on the window thread; the lookups there too. Decoder threads never read the
// map: each recorder's picture listener keeps its own offset (see Offset()).
#pragma once

#include <optional>
#include <vector>

#include "protocol/channel_mask.h"
#include "video/layouts.h"

namespace taviro::video {

class CChannelViews;

// Recorders whose channels one grid shows at most.
inline constexpr int kMaxSiteRecorders = 16;

struct SiteRecorder {
    int id = -1;                     // the recorder's id in the site
    CChannelViews* views = nullptr;  // where its decoders put their pictures (the owner's)
    int channelCount = 0;            // 0 until it is known
};

// One channel of the grid.
struct SiteChannel {
    int recorderId = -1;
    int place = 0;  // 0-based, the recorder's place in the site
    int channel = 0;
    CChannelViews* views = nullptr;
};

class CSiteChannels {
  public:
    // The recorders in site order (the first kMaxSiteRecorders); channels beyond kMaxPanes
    // in all are left out.
    void Set(std::vector<SiteRecorder> recorders);
    [[nodiscard]] const std::vector<SiteRecorder>& Recorders() const { return m_recorders; }
    // Channels of the grid in all.
    [[nodiscard]] int Count() const { return m_count; }
    [[nodiscard]] std::optional<SiteChannel> At(int gridChannel) const;
    // A recorder's channel in the grid's numbering, -1 when it has none there.
    [[nodiscard]] int GridChannel(int recorderId, int channel) const;
    // Where a recorder's channels start in the grid's numbering, -1 for an unknown one.
    [[nodiscard]] int Offset(int recorderId) const;
    // The same by place in the site.
    [[nodiscard]] int OffsetAt(int place) const;
    // The recorder's own mask of the grid channels in `mask` (what it is asked to send).
    [[nodiscard]] protocol::ChannelMask RecorderMask(PaneMask mask, int recorderId) const;
    // The grid channels of a recorder's mask (its available channels, its video loss).
    [[nodiscard]] PaneMask GridMask(protocol::ChannelMask mask, int recorderId) const;

  private:
    std::vector<SiteRecorder> m_recorders;
    std::vector<int> m_offsets;  // by place
    int m_count = 0;
};

}  // namespace taviro::video
