// CBackupController: a backup of a range of the recorder's recordings into .vid/.idx pairs
// under the storage folder's Download, or a clip of it into video files, as the search
// window and the progress panel drive it: the size question, the start (refused with a message
// while the previous backup still writes, so nothing of it is lost), the stop, and what the last
// one wrote.
//
// Threads: the owner's (window) thread; nothing waits (the stop runs on the connection's
// worker). Ownership: the connection and the sink belong to the owner; Attach(nullptr)
// comes before the connection is destroyed.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "client/connection.h"
#include "platform/message_sink.h"
#include "recordings/backup_service.h"

namespace taviro::client {

class CBackupController {
  public:
    // `target`: where the next backup writes (asked at every question and start, so a
    // storage folder changed meanwhile is followed).
    CBackupController(platform::IMessageSink& sink,
                      std::function<recordings::BackupTarget()> target);

    void Attach(CConnection* connection) { m_connection = connection; }

    // TRANS_ON_REQ; the answer comes as recordings::WM_BACKUP_CAPACITY. False when not sent.
    bool RequestCapacity(const recordings::BackupRange& range);
    // The size question closed without a start.
    void CancelCapacity();
    // The transfer; false when not started (the previous backup still writing says so).
    bool Start(const recordings::BackupRange& range);
    // The same transfer written as a clip: one file per channel (chNN.mp4 or .mkv) in
    // `folder`, made when missing; the panel's messages are the backup's.
    bool StartClip(const recordings::BackupRange& range, const std::filesystem::path& folder,
                   bool matroska);
    // The panel's Stop button.
    void Stop();
    [[nodiscard]] bool Running() const;
    // What the last finished backup wrote (null after a connection that ended first).
    [[nodiscard]] std::optional<recordings::BackupOutcome> LastOutcome() const;

  private:
    [[nodiscard]] recordings::CBackupService* Service() const;
    bool StartWith(const recordings::BackupRange& range, recordings::BackupTarget target);

    platform::IMessageSink& m_sink;
    std::function<recordings::BackupTarget()> m_target;
    CConnection* m_connection = nullptr;
};

}  // namespace taviro::client
