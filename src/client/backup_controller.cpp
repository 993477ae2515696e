#include "client/backup_controller.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "archive/clip_transfer.h"

namespace taviro::client {

CBackupController::CBackupController(platform::IMessageSink& sink,
                                     std::function<recordings::BackupTarget()> target)
    : m_sink(sink), m_target(std::move(target)) {}

recordings::CBackupService* CBackupController::Service() const {
    return m_connection != nullptr && !m_connection->Closing() ? &m_connection->Backup() : nullptr;
}

bool CBackupController::RequestCapacity(const recordings::BackupRange& range) {
    recordings::CBackupService* backup = Service();
    if (backup == nullptr)
        return false;
    backup->SetTarget(m_target());
    return backup->RequestCapacity(range);
}

void CBackupController::CancelCapacity() {
    if (recordings::CBackupService* backup = Service())
        backup->CancelCapacity();
}

bool CBackupController::Start(const recordings::BackupRange& range) {
    return StartWith(range, m_target());
}

bool CBackupController::StartClip(const recordings::BackupRange& range,
                                  const std::filesystem::path& folder, bool matroska) {
    archive::ClipSetup setup;
    setup.from = static_cast<std::uint32_t>(std::max<protocol::RecorderTime>(range.start, 0));
    setup.to = static_cast<std::uint32_t>(std::max<protocol::RecorderTime>(range.end, 0));
    setup.channels = range.channels & 0xFFFFu;
    setup.format = matroska ? archive::ExportFormat::Mkv : archive::ExportFormat::Mp4;
    setup.folder = folder;
    setup.name = [container = setup.format](int channel, int part) {
        return archive::ClipFileName(channel, part, container);
    };
    recordings::BackupTarget target = m_target();
    target.folder = folder;
    target.makeWriter = [setup] { return std::make_shared<archive::CClipTransferWriter>(setup); };
    return StartWith(range, std::move(target));
}

bool CBackupController::StartWith(const recordings::BackupRange& range,
                                  recordings::BackupTarget target) {
    recordings::CBackupService* backup = Service();
    if (backup == nullptr)
        return false;
    if (backup->Finishing()) {
        // The previous backup still writes what it received; a new one waits for it.
        m_sink.ShowMessageBox(
            "The previous backup is still being written. Start this one "
            "again once its panel says it has ended.");
        return false;
    }
    backup->SetTarget(std::move(target));
    return backup->Start(range);
}

void CBackupController::Stop() {
    if (m_connection != nullptr)
        m_connection->StopBackup();
}

bool CBackupController::Running() const {
    const recordings::CBackupService* backup = Service();
    return backup != nullptr && backup->Running();
}

std::optional<recordings::BackupOutcome> CBackupController::LastOutcome() const {
    return m_connection != nullptr ? m_connection->Backup().LastOutcome() : std::nullopt;
}

}  // namespace taviro::client
