// Backup pairs as a backup of the simulated recorder leaves them on disk, made without a
// connection: the simulator's records for a range (real H.264 of its test pattern) handed to
// the backup writer in the order they come, as the backup's writer thread does.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "archive/backup_writer.h"
#include "sim/archive.h"
#include "sim/backup_stream.h"
#include "sim/sim_config.h"

namespace taviro::testing {

// The recorder's default archive records every channel from here (2010-10-12 08:00:00).
inline constexpr protocol::RecorderTime kSimRecordingStart = 1286870400;

// One pair of [start, start + seconds) of the first `channels` channels at 352 x 240 and
// 10 pictures a second, into `folder`; the reason in *error when it could not be written.
inline bool WriteSimBackup(const std::filesystem::path& folder, protocol::RecorderTime start,
                           int seconds, int channels, std::string* error) {
    sim::SimConfig config;
    config.channels = static_cast<std::uint8_t>(channels);
    config.live_width = 352;
    config.live_height = 240;
    config.live_fps = 10;
    config.live_gop = 10;
    const auto loaded = sim::LoadArchive(config, error);
    if (!loaded) {
        return false;
    }
    const auto recordings = std::make_shared<const sim::SimArchive>(*loaded);
    const sim::BackupRange range{sim::RecorderChannels(config), 63, start, start + seconds};
    sim::BackupStreamOptions options;
    options.pocStep = config.live_poc_step;
    sim::CBackupStream stream(recordings, range.mask, range, options);
    archive::WriterOptions writerOptions;
    writerOptions.folder = folder;
    archive::CBackupWriter writer(writerOptions);
    if (!writer.Open()) {
        *error = writer.Error();
        return false;
    }
    while (const auto record = stream.Next()) {
        if (!writer.Write(archive::KindOfRecord(record->bytes, options.productType),
                          record->bytes)) {
            *error = writer.Error();
            return false;
        }
    }
    if (!writer.Close() || stream.Failed()) {
        *error = "the backup was not written whole: " + writer.Error();
        return false;
    }
    return true;
}

}  // namespace taviro::testing
