#include "cli/recordings_command.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/command_session.h"
#include "cli/picture_file.h"
#include "cli/time_text.h"
#include "platform/h264_decoder.h"
#include "protocol/session_messages.h"
#include "recordings/messages.h"
#include "recordings/play_control.h"
#include "recordings/search_service.h"
#include "timeline/calendar.h"

namespace taviro::cli {

namespace {

using protocol::ChannelMask;
using recordings::SearchSide;

constexpr auto kAnswerWait = std::chrono::seconds(15);

void PrintMonths(CCommandSession& command, const std::vector<timeline::MonthInfoRecord>& records) {
    for (int year = timeline::kFirstCalendarYear; year <= timeline::kLastCalendarYear; ++year) {
        const timeline::MonthInfoRecord* record = timeline::FindYear(records, year);
        if (record == nullptr)
            continue;
        for (int month0 = 0; month0 < 12; ++month0) {
            std::string days;
            for (int day0 = 0; day0 < timeline::DaysInMonth(year, month0); ++day0) {
                if (record->Flag(month0, day0)) {
                    if (!days.empty())
                        days += command.Json() ? "," : " ";
                    days += std::to_string(day0 + 1);
                }
            }
            if (days.empty())
                continue;
            char line[400];
            if (command.Json()) {
                std::snprintf(line, sizeof line,
                              "{\"event\":\"month\",\"year\":%d,\"month\":%d,\"days\":[%s]}", year,
                              month0 + 1, days.c_str());
            } else {
                std::snprintf(line, sizeof line, "%04d-%02d  days %s", year, month0 + 1,
                              days.c_str());
            }
            command.Sink().PrintLine(line);
        }
    }
}

void PrintStretches(CCommandSession& command, const std::vector<timeline::DayInfoRecord>& records) {
    for (const timeline::DayInfoRecord& r : records) {
        std::string kinds;
        const bool json = command.Json();
        if (r.kinds & timeline::kKindContinuous)
            kinds += json ? "\"continuous\"" : "continuous";
        if (r.kinds & timeline::kKindEvent)
            kinds += std::string(kinds.empty() ? "" : (json ? "," : "+")) +
                     (json ? "\"event\"" : "event");
        std::string line;
        if (json) {
            line = "{\"event\":\"stretch\",\"channels\":[" + ChannelList(r.channels, true) +
                   "],\"kinds\":[" + kinds + "],\"start\":\"" + FormatTime(r.start) +
                   "\",\"end\":\"" + FormatTime(r.end) + "\"}";
        } else {
            line = FormatTime(r.start) + " .. " + FormatTime(r.end) + "  " +
                   (kinds.empty() ? "-" : kinds) + "  channels " + ChannelList(r.channels, false);
        }
        command.Sink().PrintLine(line);
    }
}

bool IsAnswer(const platform::PostedMessage& m, std::uint32_t message) {
    return m.message == message;
}

}  // namespace

int RunRecordings(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli recordings ") + kConnectionUsage +
                              " [--backup] [--day YYYY-MM-DD] [--json]\n";
    int status = kExitOk;
    auto command = CCommandSession::Create("recordings", args, {"day"}, {"backup"}, usage, &status);
    if (!command) {
        return status;
    }
    std::optional<Date> day;
    if (const auto text = command->Options().Get("day")) {
        day = ParseDate(*text);
        if (!day) {
            std::fprintf(stderr, "taviro-cli recordings: --day wants YYYY-MM-DD\n%s",
                         usage.c_str());
            return kExitUsage;
        }
    }
    const SearchSide side =
        command->Options().Has("backup") ? SearchSide::Backup : SearchSide::Playback;
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    recordings::CSearchService& search = command->Connection().Search();
    const bool play = side == SearchSide::Playback;
    const std::uint32_t ready =
        day ? (play ? recordings::WM_PLAY_DAY_READY : recordings::WM_BACKUP_DAY_READY)
            : (play ? protocol::WM_PLAY_MONTH_READY : protocol::WM_BACKUP_MONTH_READY);
    const bool sent = day ? search.RequestDay(side, day->year, day->month0, day->day0)
                          : search.RequestMonths(side);
    if (!sent) {
        return command->Finish(kExitFailure, "the request could not be sent");
    }
    const auto answer =
        command->WaitFor([ready](const platform::PostedMessage& m) { return IsAnswer(m, ready); },
                         kAnswerWait, &status);
    if (!answer) {
        return command->Finish(status == kExitOk ? kExitFailure : status,
                               status == kExitOk ? "no answer from the recorder" : "");
    }
    // A month refusal with "no data" opens an empty calendar: no bytes, no lines.
    const std::vector<std::uint8_t> none;
    const std::vector<std::uint8_t>& bytes = answer->data ? *answer->data : none;
    if (day) {
        PrintStretches(*command, timeline::ParseDayInfo(bytes));
    } else {
        PrintMonths(*command, timeline::ParseMonthInfo(bytes));
    }
    return command->Finish(kExitOk);
}

int RunPlay(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli play ") + kConnectionUsage +
                              " --from YYYY-MM-DDTHH:MM:SS [--channels MASK] [--seconds N]"
                              " [--then-steps K] [--save-dir DIR] [--deinterlace] [--json]\n";
    int status = kExitOk;
    auto command = CCommandSession::Create(
        "play", args, {"from", "channels", "seconds", "then-steps", "save-dir"}, {"deinterlace"},
        usage, &status);
    if (!command) {
        return status;
    }
    const COptions& options = command->Options();
    std::string error;
    const auto from = options.Get("from") ? ParseDateTime(*options.Get("from")) : std::nullopt;
    if (!from)
        error = "--from wants YYYY-MM-DDTHH:MM:SS";
    const auto seconds = options.GetInt("seconds", 5, 0, 86400, &error);
    const auto steps = options.GetInt("then-steps", 0, 0, 10000, &error);
    // 0: every channel of the recorder, once its channel count is known.
    const auto maskValue = options.GetMask("channels", 0, &error);
    if (!from || !seconds || !steps || !maskValue || !error.empty()) {
        std::fprintf(stderr, "taviro-cli play: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    std::filesystem::path saveDir;
    if (const auto dir = options.Get("save-dir")) {
        const auto made = MakeFolder(*dir);
        if (!made) {
            std::fprintf(stderr, "taviro-cli play: cannot create %s\n", dir->c_str());
            return kExitUsage;
        }
        saveDir = *made;
    }
    // Pictures as decoded (no line doubling of 480- and 576-line pictures) with
    // --deinterlace, as `taviro-cli live` has it.
    client::ConnectionSettings settings;
    settings.deinterlace.fill(options.Has("deinterlace"));
    status = command->LogIn(settings);
    if (status != kExitOk) {
        return command->Finish(status);
    }
    client::CConnection& connection = command->Connection();
    const int count = connection.Session().Login().ChannelCount();
    const ChannelMask all = count >= 32 ? protocol::kAllChannels : ((1u << count) - 1u);
    const ChannelMask mask = *maskValue != 0 ? static_cast<ChannelMask>(*maskValue) & all : all;
    recordings::PlayRequest request;
    request.channels = mask;
    request.start = *from;
    connection.StartPlayback(request);
    const auto started = command->WaitFor(
        [](const platform::PostedMessage& m) { return m.message == recordings::WM_PLAY_STARTED; },
        kAnswerWait, &status);
    if (!started) {
        return command->Finish(status == kExitOk ? kExitFailure : status,
                               status == kExitOk ? "playback did not start" : "");
    }
    const ChannelMask played = connection.Playback().Channels() & mask;
    video::CChannelViews& views = command->Views();
    const auto shownOf = [&views](int c) {
        const video::ChannelView& view = views.Channel(c);
        std::lock_guard lock(view.lock);
        return view.shown;
    };
    status = command->Stay(std::chrono::seconds(*seconds));
    for (long long k = 0; status == kExitOk && k < *steps; ++k) {
        std::array<std::uint64_t, protocol::kMaxChannels> before{};
        for (int c = 0; c < protocol::kMaxChannels; ++c)
            before[static_cast<std::size_t>(c)] = shownOf(c);
        connection.PlayCommand(recordings::PlayCommand::NextStep, played);
        // Each step waits until every played channel has shown its next picture.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool all_shown = false;
        while (status == kExitOk && !all_shown && std::chrono::steady_clock::now() < until) {
            status = command->Stay(std::chrono::milliseconds(20));
            all_shown = true;
            for (int c = 0; c < protocol::kMaxChannels; ++c) {
                if (protocol::HasChannel(played, c) &&
                    shownOf(c) <= before[static_cast<std::size_t>(c)])
                    all_shown = false;
            }
        }
        if (!all_shown && status == kExitOk) {
            std::fprintf(stderr, "taviro-cli play: step %lld showed no picture on some channel\n",
                         k + 1);
        }
    }
    if (status == kExitOk) {
        connection.StopPlayback(false);  // RPLAY_STOP, then the decoders drained and stopped
        connection.Drain();
        command->Stay(std::chrono::milliseconds(200));  // the recorder's answer to the stop
    }
    connection.Close(client::CloseKind::kDisconnect);
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (!protocol::HasChannel(played, c))
            continue;
        std::uint64_t shown = 0;
        std::int64_t firstMs = 0;
        std::int64_t lastMs = 0;
        {
            const video::ChannelView& view = views.Channel(c);
            std::lock_guard lock(view.lock);
            shown = view.shown;
            firstMs = view.firstMillis;
            lastMs = view.shownMillis;
        }
        const auto timeOf = [shown](std::int64_t ms) {
            return shown == 0 ? std::string() : FormatTime(ms / 1000, static_cast<int>(ms % 1000));
        };
        const std::string first = timeOf(firstMs);
        const std::string last = timeOf(lastMs);
        char line[240];
        if (command->Json()) {
            std::snprintf(line, sizeof line,
                          "{\"event\":\"channel\",\"channel\":%d,\"shown\":%llu,\"first\":\"%s\","
                          "\"last\":\"%s\"}",
                          c + 1, static_cast<unsigned long long>(shown), first.c_str(),
                          last.c_str());
        } else {
            std::snprintf(line, sizeof line, "ch%02d  shown %llu  first %s  last %s", c + 1,
                          static_cast<unsigned long long>(shown), shown ? first.c_str() : "-",
                          shown ? last.c_str() : "-");
        }
        command->Sink().PrintLine(line);
        if (!saveDir.empty() && shown > 0 &&
            !SaveChannelPicture(views, c, platform::kH264FormatYuv420, saveDir)) {
            std::fprintf(stderr, "taviro-cli play: cannot write the picture of channel %d\n",
                         c + 1);
        }
    }
    return command->Finish(status);
}

}  // namespace taviro::cli
