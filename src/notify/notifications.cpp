#include "notify/notifications.h"

#include <cstdio>

namespace taviro::notify {

namespace {

NotificationLine Text(int number) {
    return NotificationLine{number, std::nullopt};
}

NotificationLine Made(int number, std::string text) {
    return NotificationLine{number, std::move(text)};
}

NotificationSpec Single(std::vector<NotificationLine> lines) {
    NotificationSpec note;
    note.lines = std::move(lines);
    note.buttons = NotifyButtons::kSingle;
    return note;
}

NotificationSpec Confirm(std::vector<NotificationLine> lines, NotifyFollowUp followUp) {
    NotificationSpec note;
    note.lines = std::move(lines);
    note.buttons = NotifyButtons::kConfirmCancel;
    note.onConfirm = followUp;
    return note;
}

// Code n of a category that shows texts[n]; nullopt past the end.
template <std::size_t N>
std::optional<int> Pick(const int (&texts)[N], int code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) {
        return std::nullopt;
    }
    return texts[static_cast<std::size_t>(code)];
}

std::string Lookup(const NotificationContext& ctx, int number) {
    return ctx.text ? ctx.text(number) : std::string();
}

std::string Printf(const char* format, const std::string& label, double value) {
    char out[512];
    std::snprintf(out, sizeof out, format, label.c_str(), value);
    return out;
}

// A backup refusal for lack of space: the skin text is the format of the size in gigabytes
// when it holds one, else it labels the size.
NotificationLine GigabyteLine(const NotificationContext& ctx, int number, std::uint32_t megabytes) {
    const std::string skin = Lookup(ctx, number);
    const double gigabytes = static_cast<double>(megabytes) / 1024.0;
    if (std::optional<std::string> made = FormatSkinNumber(skin, gigabytes)) {
        return Made(number, *made);
    }
    return Made(number, Printf("%s : %6.1f GByte", skin, gigabytes));
}

// The local disk check: sizes of a gigabyte and more in gigabytes, smaller ones in
// whole megabytes.
NotificationLine DiskSizeLine(const NotificationContext& ctx, int number, std::uint32_t megabytes) {
    const std::string label = Lookup(ctx, number);
    if (megabytes >= 1024) {
        return Made(number,
                    Printf("%s : %6.1f GByte", label, static_cast<double>(megabytes) / 1024.0));
    }
    char value[32];
    std::snprintf(value, sizeof value, "%d MByte", static_cast<int>(megabytes));
    return Made(number, label + " : " + value);
}

}  // namespace

namespace {

std::optional<NotificationSpec> BuildTableNotification(int category, int code,
                                                       const NotificationContext& ctx);

}  // namespace

std::optional<NotificationSpec> BuildNotification(int category, int code,
                                                  const NotificationContext& ctx) {
    std::optional<NotificationSpec> note = BuildTableNotification(category, code, ctx);
    if (note && IsConnectionNote(category) && !ctx.recorder.empty() && note->lines.size() < 3)
        note->lines.insert(note->lines.begin(),
                           NotificationLine{std::nullopt, "Recorder " + ctx.recorder});
    return note;
}

namespace {

std::optional<NotificationSpec> BuildTableNotification(int category, int code,
                                                       const NotificationContext& ctx) {
    switch (category) {
        case 0:
            if (code == 0)
                return Single({Text(5080)});
            if (code == kNoteUnknownHost)  // the cause, under the skin's line
                return Single(
                    {Text(5080),
                     NotificationLine{std::nullopt, "No computer of this name was found."}});
            break;
        case 1: {
            static constexpr int kTexts[] = {5087, 5053};
            if (auto t = Pick(kTexts, code))
                return Single({Text(*t)});
            break;
        }
        case 2:
            if (code == 0)
                return Single({Text(5079)});
            break;
        case 3: {
            // Login refusals: "cannot connect" and the reason.
            static constexpr int kTexts[] = {5084, 5082, 5066, 5071, 5057, 5060, 5062, 5073};
            if (auto t = Pick(kTexts, code))
                return Single({Text(5079), Text(*t)});
            break;
        }
        case 4:
            if (code != 0)
                break;
            if (ctx.pendingSearchSelection) {
                NotificationSpec note =
                    Confirm({Text(5069), Text(5078)}, NotifyFollowUp::kOpenSearch);
                note.onCancel = NotifyCancelAction::kDiscardPendingSearch;
                return note;
            }
            return Single({Text(5069)});
        case 5: {
            static constexpr int kTexts[] = {5083, 5070, 5065};
            if (auto t = Pick(kTexts, code))
                return Single({Text(*t)});
            break;
        }
        case 6: {
            static constexpr int kTexts[] = {5083, 5081, 5070, 5054, 5055, 5052, 5092, 5074};
            auto t = Pick(kTexts, code);
            if (!t)
                break;
            NotificationSpec note = Single({Text(*t)});
            if (code == 5 && ctx.transferSizes) {
                note.lines.push_back(GigabyteLine(ctx, kTextNeededSize, ctx.transferSizes->first));
                note.lines.push_back(
                    GigabyteLine(ctx, kTextAvailableSize, ctx.transferSizes->second));
            }
            return note;
        }
        case 7: {
            // The settings database was refused: offer to send it again.
            static constexpr int kTexts[] = {5084, 5051, 5056, 5074};
            if (auto t = Pick(kTexts, code))
                return Confirm({Text(5075), Text(*t), Text(5078)}, NotifyFollowUp::kResendDatabase);
            break;
        }
        case 8: {
            // Firmware upgrade results; code 5 asks for the reboot that finishes it.
            static constexpr int kTexts[] = {5084, 5089, 5072, 5059, 5058};
            if (auto t = Pick(kTexts, code))
                return Single({Text(5063), Text(*t)});
            if (code == 5)
                return Confirm({Text(5064), Text(5077)}, NotifyFollowUp::kRebootIfLoggedIn);
            if (code == 6)
                return Single({Text(5063), Text(5088)});
            break;
        }
        case 9:
            if (code == 0)
                return Single({Text(5050)});
            break;
        case 10:
            if (code == 0)
                return Single({Text(5076)});
            break;
        case 11:
            if (code == 0)
                return Confirm({Text(5067)}, NotifyFollowUp::kStartFirmware);
            if (code == 1)
                return Single({Text(5068)});
            break;
        case 12: {
            static constexpr int kTexts[] = {5085, 5086};
            if (auto t = Pick(kTexts, code))
                return Single({Text(*t)});
            break;
        }
        case 13: {
            if (code != 0)
                break;
            NotificationSpec note = Single({Text(5061)});
            if (ctx.transferSizes) {
                note.lines.push_back(DiskSizeLine(ctx, kTextNeededSize, ctx.transferSizes->first));
                note.lines.push_back(
                    DiskSizeLine(ctx, kTextAvailableSize, ctx.transferSizes->second));
            }
            return note;
        }
        case 14:
            if (code == 0)
                return Confirm({Text(5090), Text(5091)}, NotifyFollowUp::kInitArchive);
            break;
        case 15:
            if (code == 0)
                return Single({Text(5093)});
            break;
        case 16:
            if (code == 0)
                return Confirm({Text(5821), Text(5822), Text(5823)},
                               NotifyFollowUp::kArchiveInitDecision);
            break;
        case 17:
            if (code == 0)
                return Single({Text(5069)});
            break;
        case 18:
            if (code == 0)
                return Single({NotificationLine{std::nullopt, "Bookmark is full"}});
            break;
        case 19:
            if (code == 0) {
                char version[64];
                std::snprintf(version, sizeof version, " %d.%d.%d.%d", ctx.version[0],
                              ctx.version[1], ctx.version[2], ctx.version[3]);
                return Single({NotificationLine{std::nullopt, "Program Version"},
                               NotificationLine{std::nullopt, std::string(version)}});
            }
            break;
        case kCategoryClient:
            if (code == kNoteNoSoundDevice)
                return Single({NotificationLine{std::nullopt, "No sound output device was found."},
                               NotificationLine{std::nullopt, "Live audio cannot be played."}});
            if (code == kNoteNotConnected)
                return Single({NotificationLine{std::nullopt, "No recorder is connected."},
                               NotificationLine{std::nullopt, "Connect to a recorder first."}});
            break;
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::string LineText(const NotificationLine& line, const TextLookup& text) {
    if (line.literal) {
        return *line.literal;
    }
    if (line.text && text) {
        return text(*line.text);
    }
    return {};
}

std::optional<std::string> FormatSkinNumber(std::string_view format, double value) {
    if (format.size() > 200) {
        return std::nullopt;
    }
    std::size_t conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '\0') {
            return std::nullopt;
        }
        if (format[i] != '%') {
            continue;
        }
        ++i;
        if (i < format.size() && format[i] == '%') {
            continue;
        }
        while (i < format.size() &&
               std::string_view("-+ 0#").find(format[i]) != std::string_view::npos) {
            ++i;
        }
        // Width and precision of at most two digits each; '*' would read a missing argument.
        std::size_t digits = 0;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9' && digits < 2) {
            ++i;
            ++digits;
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            digits = 0;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9' && digits < 2) {
                ++i;
                ++digits;
            }
        }
        if (i >= format.size() ||
            std::string_view("fFeEgG").find(format[i]) == std::string_view::npos) {
            return std::nullopt;
        }
        ++conversions;
    }
    if (conversions != 1) {
        return std::nullopt;
    }
    const std::string f(format);
    char out[512];
    // The format was checked above: one floating conversion, nothing else.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(out, sizeof out, f.c_str(), value);
#pragma GCC diagnostic pop
    return std::string(out);
}

FollowUpAction ResolveFollowUp(NotifyFollowUp followUp, const SessionFacts& facts) {
    switch (followUp) {
        case NotifyFollowUp::kNone:
            return FollowUpAction::kNothing;
        case NotifyFollowUp::kOpenSearch:
            return FollowUpAction::kOpenSearch;
        case NotifyFollowUp::kResendDatabase:
            return FollowUpAction::kSendDatabase;
        case NotifyFollowUp::kRebootIfLoggedIn:
            return facts.loggedIn ? FollowUpAction::kSendReboot : FollowUpAction::kNothing;
        case NotifyFollowUp::kStartFirmware:
            return FollowUpAction::kStartFirmware;
        case NotifyFollowUp::kInitArchive:
            return facts.loggedIn ? FollowUpAction::kSendArchiveInit : FollowUpAction::kNothing;
        case NotifyFollowUp::kArchiveInitDecision:
            if (!facts.loggedIn) {
                return FollowUpAction::kNothing;
            }
            if (!facts.recording) {
                return FollowUpAction::kSendArchiveInit;
            }
            return facts.mayInitArchive ? FollowUpAction::kNotifyInitArchive
                                        : FollowUpAction::kNotifyRefused;
    }
    return FollowUpAction::kNothing;
}

CNotificationGate::Decision CNotificationGate::Arrive(int category) const {
    Decision d;
    d.disconnect = category == kCategoryDisconnect;
    d.present = !m_bOpen;
    return d;
}

}  // namespace taviro::notify
