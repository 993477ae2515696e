// taviro-cli: the headless client for scripts and tests.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/archive_command.h"
#include "cli/backup_command.h"
#include "cli/clip_command.h"
#include "cli/command_session.h"
#include "cli/connect_command.h"
#include "cli/export_command.h"
#include "cli/firmware_command.h"
#include "cli/info_command.h"
#include "cli/live_command.h"
#include "cli/log_command.h"
#include "cli/ptz_command.h"
#include "cli/recordings_command.h"
#include "cli/snapshot_command.h"
#include "cli/talk_command.h"
#include "cli/web_command.h"
#include "platform/heap_tuning.h"
#include "platform/version.h"

namespace {

constexpr const char* kUsage =
    "usage: taviro-cli COMMAND [OPTIONS]\n"
    "       taviro-cli --version\n"
    "commands:\n"
    "  connect   log in to a recorder, print its identity, stay connected, disconnect\n"
    "  live      run live view without a screen: decode every channel, print per-channel\n"
    "            counts, optionally save each channel's last picture\n"
    "  talk      send a WAV file to the recorder as the microphone, then stop talking and\n"
    "            disconnect\n"
    "  recordings  list the months that hold recordings, or one day's recorded stretches\n"
    "  play      play back from a time, optionally take next steps, stop in order and print\n"
    "            what every channel showed\n"
    "  backup    download a stretch of recordings into .vid/.idx pairs\n"
    "  archive   list (or play) the backup pairs of a folder without a recorder\n"
    "  verify    check every backup pair of a folder: structure and watermarks\n"
    "  export    write the backup pairs of a folder between two times to MP4 or Matroska\n"
    "  clip      write a stretch of a recorder's channels straight to MP4 or Matroska\n"
    "            files, one per channel\n"
    "  events    list the recorder's events of one kind (alarm, motion, audio), by page\n"
    "  logs      list the recorder's log (one view or all), or save it as CSV or PDF\n"
    "  local-log list this computer's own log of what the operator did\n"
    "  status    print the recorder's system and status information\n"
    "  snapshot  run live view, then save each channel's picture as JPEG, BMP or TIFF\n"
    "  firmware  list the firmware images of a folder, or upgrade the recorder with them\n"
    "  ptz       steer one channel's camera: a timed move, a preset, a tour or a dome menu\n"
    "            step\n"
    "  web-url   print the address of the recorder's web setup pages for this user\n"
    "run 'taviro-cli COMMAND --help' for the options of a command\n";

}  // namespace

int main(int argc, char** argv) {
    taviro::platform::TuneHeapForVideo();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--version") {
        std::printf("%s\n", taviro::platform::VersionLine("taviro-cli").c_str());
        return taviro::cli::kExitOk;
    }
    if (args.empty() || args[0] == "--help" || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? taviro::cli::kExitUsage : taviro::cli::kExitOk;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "connect") {
        return taviro::cli::RunConnect(args);
    }
    if (command == "live") {
        return taviro::cli::RunLive(args);
    }
    if (command == "snapshot") {
        return taviro::cli::RunSnapshot(args);
    }
    if (command == "talk") {
        return taviro::cli::RunTalk(args);
    }
    if (command == "recordings") {
        return taviro::cli::RunRecordings(args);
    }
    if (command == "play") {
        return taviro::cli::RunPlay(args);
    }
    if (command == "backup") {
        return taviro::cli::RunBackup(args);
    }
    if (command == "clip") {
        return taviro::cli::RunClip(args);
    }
    if (command == "archive") {
        return taviro::cli::RunArchive(args);
    }
    if (command == "verify") {
        return taviro::cli::RunVerify(args);
    }
    if (command == "events") {
        return taviro::cli::RunEvents(args);
    }
    if (command == "logs") {
        return taviro::cli::RunLogs(args);
    }
    if (command == "local-log") {
        return taviro::cli::RunLocalLog(args);
    }
    if (command == "firmware") {
        return taviro::cli::RunFirmware(args);
    }
    if (command == "ptz") {
        return taviro::cli::RunPtz(args);
    }
    if (command == "web-url") {
        return taviro::cli::RunWebUrl(args);
    }
    if (command == "status") {
        return taviro::cli::RunStatus(args);
    }
    if (command == "export") {
        return taviro::cli::RunExport(args);
    }
    std::fprintf(stderr, "taviro-cli: unknown command '%s'\n%s", command.c_str(), kUsage);
    return taviro::cli::kExitUsage;
}
