#include "client/backup_controller.h"

#include <utility>

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
    backup->SetTarget(m_target());
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
