#include "snapshot/snapshot_controller.h"

#include "platform/trace.h"

namespace taviro::snapshot {

CSnapshotController::CSnapshotController(platform::IMessageSink& sink, ICaptionPainter& painter,
                                         DisplayFormat display)
    : m_painter(painter), m_writers(&sink, painter, display) {}

bool CSnapshotController::Take(const video::CChannelViews& views, protocol::ChannelMask channels,
                               const JobSettings& settings, logs::ILocalLog* log) {
    // Only panes that hold a picture: the grid must show one for each.
    auto jobs = MakeSnapshotJobs(views, channels & views.HasDecodedMask(), settings);
    if (jobs.empty() || m_writers.Start(std::move(jobs)) == 0)
        return false;
    if (log != nullptr)
        WriteSnapshotLogEntry(*log);
    return true;
}

bool CSnapshotController::Reap() {
    return m_writers.Reap() > 0;
}

std::optional<RgbImage> CSnapshotController::Compose(const video::CChannelViews& views, int channel,
                                                     const JobSettings& settings,
                                                     std::string* error) {
    const SnapshotJob job = MakeSnapshotJob(views.Channel(channel), channel, settings);
    return ComposeSnapshot(job, m_painter, DisplayFormat{32, {}}, error);
}

std::optional<std::string> SnapshotDoneMessage(const platform::PostedMessage& m) {
    if (m.lParam == kSnapshotSaved)
        return std::nullopt;
    platform::Trace("snapshot of channel %d failed (%lld)\n", static_cast<int>(m.wParam) + 1,
                    static_cast<long long>(m.lParam));
    return "The snapshot of CH" + std::to_string(m.wParam + 1) + " could not be saved.";
}

}  // namespace taviro::snapshot
