// CSnapshotController: snapshots as the operator takes them. The Save button (or a pane's
// menu) saves the shown channels that hold a picture, one writer per channel; the button
// stays disabled until every writer has ended; a failed file is reported by channel; the
// picture a snapshot would save can also be composed at once for the clipboard.
//
// Threads: one thread (the window's, or the command-line tool's main thread). The painter
// and the sink must outlive the controller; Stop() (and destruction) waits for the writers,
// so quitting never leaves a half-written file.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "snapshot/picture.h"
#include "snapshot/snapshot_job.h"
#include "snapshot/snapshot_writers.h"
#include "video/channel_views.h"

namespace taviro::snapshot {

class CSnapshotController {
  public:
    CSnapshotController(platform::IMessageSink& sink, ICaptionPainter& painter,
                        DisplayFormat display);

    // Starts writers for the channels of `channels` whose panes hold a picture, and writes
    // the log's snapshot entry (`log` may be null). False when none started.
    bool Take(const video::CChannelViews& views, protocol::ChannelMask channels,
              const JobSettings& settings, logs::ILocalLog* log);
    // Joins the writers that have ended; true while any still runs.
    bool Reap();
    [[nodiscard]] bool Running() const { return m_writers.Active() > 0; }
    void Stop() { m_writers.Stop(); }
    // The picture of `channel` exactly as a snapshot saves it (its caption included), made
    // on this thread: a few milliseconds of arithmetic and no disk. Null with `error` set
    // when the pane holds nothing usable.
    std::optional<RgbImage> Compose(const video::CChannelViews& views, int channel,
                                    const JobSettings& settings, std::string* error);

  private:
    ICaptionPainter& m_painter;
    CSnapshotWriters m_writers;
};

// What snapshot::WM_SNAPSHOT_DONE tells the operator: nothing for a saved file, else the sentence.
std::optional<std::string> SnapshotDoneMessage(const platform::PostedMessage& message);

}  // namespace taviro::snapshot
