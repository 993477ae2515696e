#include "recordings/backup_progress.h"

#include <algorithm>
#include <cstdio>

namespace taviro::recordings {

using archive::DurationText;
using archive::SizeText;

namespace {

constexpr std::int64_t kRateWindowMs = 5000;

}  // namespace

void CBackupProgress::Start(std::uint64_t totalKb, std::int64_t nowMs) {
    m_nTotalKb = totalKb;
    m_nDoneKb = 0;
    m_samples.clear();
    m_samples.emplace_back(nowMs, 0);
}

void CBackupProgress::Update(std::uint64_t doneKb, std::int64_t nowMs) {
    m_nDoneKb = std::max(m_nDoneKb, doneKb);
    m_samples.emplace_back(nowMs, m_nDoneKb);
    while (m_samples.size() > 2 && nowMs - m_samples.front().first > kRateWindowMs) {
        m_samples.pop_front();
    }
}

int CBackupProgress::Permille() const {
    if (m_nTotalKb == 0 || m_nDoneKb >= m_nTotalKb) {
        return 1000;
    }
    return static_cast<int>(m_nDoneKb * 1000 / m_nTotalKb);
}

double CBackupProgress::RateKbPerSecond() const {
    if (m_samples.size() < 2) {
        return 0.0;
    }
    const auto& [t0, k0] = m_samples.front();
    const auto& [t1, k1] = m_samples.back();
    if (t1 <= t0) {
        return 0.0;
    }
    return static_cast<double>(k1 - k0) * 1000.0 / static_cast<double>(t1 - t0);
}

std::string CBackupProgress::Text() const {
    std::string text = SizeText(m_nDoneKb);
    if (m_nTotalKb > 0) {
        text += " of " + SizeText(m_nTotalKb);
    }
    const double rate = RateKbPerSecond();
    if (rate > 0.0) {
        text += "  " + SizeText(static_cast<std::uint64_t>(rate)) + "/s";
        if (m_nTotalKb > m_nDoneKb) {
            const auto left =
                static_cast<std::int64_t>(static_cast<double>(m_nTotalKb - m_nDoneKb) / rate + 0.5);
            text += "  " + DurationText(left) + " left";
        }
    }
    return text;
}

}  // namespace taviro::recordings

namespace taviro::recordings {

std::string BackupConfirmText(std::uint64_t kilobytes, std::uint64_t splitBytes) {
    const std::uint64_t splitKb = std::max<std::uint64_t>(splitBytes / 1024, 1);
    const std::uint64_t pairs = kilobytes / splitKb + 1;
    return "This backup is about " + SizeText(kilobytes) + ", written as " + std::to_string(pairs) +
           (pairs == 1 ? " pair" : " pairs") +
           " of files. It takes a while and needs that much free disk. Start it?";
}

std::filesystem::path BackupFolder(const BackupOutcome& outcome) {
    return outcome.pairs.empty() ? std::filesystem::path()
                                 : outcome.pairs.front().vid.parent_path();
}

std::string BackupEndText(const BackupOutcome& outcome) {
    const std::size_t files = outcome.pairs.size();
    const std::string written = std::to_string(files) + (files == 1 ? " pair" : " pairs") + ", " +
                                SizeText(outcome.bytesWritten / 1024) + " in " +
                                BackupFolder(outcome).string();
    const std::string kept = files == 0 ? std::string("Nothing was kept") : "Kept " + written;
    switch (outcome.failed ? BackupEnd::kWriteFailed : outcome.end) {
        case BackupEnd::kDone:
            if (files == 0)
                return "Done: nothing was recorded in the range";
            return "Done: " + written;
        case BackupEnd::kStopped:
            return "Stopped by you. " + kept;
        case BackupEnd::kRecorderFailed:
            return "The recorder stopped the backup. " + kept;
        case BackupEnd::kConnectionEnded:
            return "Interrupted: the connection ended. " + kept;
        case BackupEnd::kWriteFailed:
            break;
    }
    return "Stopped: " + outcome.error + ". " + kept;
}

}  // namespace taviro::recordings
