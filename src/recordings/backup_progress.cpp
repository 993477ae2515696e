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
    if (outcome.clip) {
        return outcome.clipFiles.empty() ? std::filesystem::path() : outcome.clipFolder;
    }
    return outcome.pairs.empty() ? std::filesystem::path()
                                 : outcome.pairs.front().vid.parent_path();
}

namespace {

// A clip is finished whole or not at all: either its files, or why not and how far it got.
std::string ClipEndText(const BackupOutcome& outcome) {
    const std::size_t files = outcome.clipFiles.size();
    if (!outcome.failed && outcome.end == BackupEnd::kDone && files > 0) {
        return "Done: " + std::to_string(files) + (files == 1 ? " file" : " files") + ", " +
               SizeText(outcome.bytesWritten / 1024) + " in " + outcome.clipFolder.string();
    }
    std::string got = "no file was written";
    if (outcome.latestMicros >= 0) {
        const std::int64_t seconds = outcome.latestMicros / 1'000'000;
        char clock[40];
        std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", static_cast<int>(seconds / 3600 % 24),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
        got += " (it had got to " + std::string(clock) + ")";
    }
    switch (outcome.end) {
        case BackupEnd::kStopped:
            return "Clip stopped by you: " + got;
        case BackupEnd::kRecorderFailed:
            return "The recorder stopped the clip: " + got;
        case BackupEnd::kConnectionEnded:
            return "Clip interrupted, the connection ended: " + got;
        case BackupEnd::kDone:
        case BackupEnd::kWriteFailed:
            break;
    }
    return "Clip stopped: " +
           (outcome.error.empty() ? std::string("nothing to write") : outcome.error) + "; " + got;
}

}  // namespace

std::string BackupEndText(const BackupOutcome& outcome) {
    if (outcome.clip) {
        return ClipEndText(outcome);
    }
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
