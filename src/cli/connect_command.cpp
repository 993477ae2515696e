#include "cli/connect_command.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/options.h"
#include "cli/printing_sink.h"
#include "logs/local_log.h"
#include "platform/socket.h"
#include "platform/storage.h"
#include "platform/trace.h"
#include "protocol/hello.h"
#include "protocol/recorder_time.h"
#include "protocol/session.h"

namespace taviro::cli {

namespace {

using Clock = std::chrono::steady_clock;
using platform::PostedMessage;

const std::vector<std::string> kFlags = {"json", "trace", "help"};
const std::vector<std::string> kKnown = {
    "host",  "port", "user",    "password",           "seconds",     "json",
    "trace", "help", "storage", "connect-timeout-ms", "keepalive-ms"};

constexpr const char* kUsage =
    "usage: taviro-cli connect --host HOST --port PORT --user USER --password PASS\n"
    "                          [--seconds N] [--json] [--trace] [--storage DIR]\n"
    "                          [--connect-timeout-ms N] [--keepalive-ms N]\n";

std::string FormatRecorderTime(protocol::RecorderTime t) {
    protocol::UserTime u;
    if (!protocol::GetTime_tToUsertime(t, &u)) {
        return "-";
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", u.year, u.month + 1,
                  u.day + 1, u.hour, u.minute, u.second);
    return text;
}

std::string FormatMac(const std::array<std::uint8_t, 6>& mac) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

struct Identity {
    int productType = 0;
    protocol::HelloAck hello;
    int channels = 0;
};

void PrintIdentity(CPrintingSink& out, const std::string& address, std::uint16_t port,
                   const Identity& id) {
    const auto& h = id.hello;
    if (out.Json()) {
        std::string line = "{\"event\":\"login\",\"address\":\"" + JsonEscape(address) +
                           "\",\"port\":" + std::to_string(port) +
                           ",\"product_type\":" + std::to_string(id.productType) +
                           ",\"product\":\"" +
                           std::string(protocol::ProductTypeName(id.productType)) +
                           "\",\"product_number\":" + std::to_string(h.product_number) +
                           ",\"channels\":" + std::to_string(id.channels) +
                           ",\"account\":" + std::to_string(h.account) + ",\"mac\":\"" +
                           FormatMac(h.mac_address) + "\",\"firmware\":[";
        bool first = true;
        for (std::size_t i = 0; i < protocol::kFirmwareEntries; ++i) {
            if (h.FirmVer[i] == 0)
                continue;
            line += std::string(first ? "" : ",") + "{\"name\":\"" + JsonEscape(h.FirmwareName(i)) +
                    "\",\"version\":\"" + FormatRecorderTime(h.FirmVer[i]) + "\"}";
            first = false;
        }
        out.PrintLine(line + "]}");
        return;
    }
    char line[256];
    out.PrintLine("logged in to " + address + ":" + std::to_string(port));
    std::snprintf(
        line, sizeof line, "  product  : %s (product number %u, protocol %u.%u, software %u.%u)",
        std::string(protocol::ProductTypeName(id.productType)).c_str(), h.product_number,
        h.protocol_major_ver, h.protocol_minor_ver, h.product_major_ver, h.product_minor_ver);
    out.PrintLine(line);
    out.PrintLine("  channels : " + std::to_string(id.channels));
    out.PrintLine("  account  : " + std::to_string(h.account));
    out.PrintLine("  MAC      : " + FormatMac(h.mac_address));
    for (std::size_t i = 0; i < protocol::kFirmwareEntries; ++i) {
        if (h.FirmVer[i] == 0)
            continue;
        out.PrintLine("  firmware : " + h.FirmwareName(i) + " " + FormatRecorderTime(h.FirmVer[i]));
    }
}

const char* ResultName(int status) {
    switch (status) {
        case kExitOk:
            return "ok";
        case kExitRefused:
            return "refused";
        case kExitTimedOut:
            return "timed out";
        case kExitUnsupported:
            return "unsupported product";
        case kExitGoodbye:
            return "goodbye";
        case kExitDropped:
            return "connection ended";
        case kExitResolve:
            return "unknown host";
        default:
            return "failed";
    }
}

}  // namespace

int RunConnect(const std::vector<std::string>& args) {
    COptions options;
    std::string error;
    if (!options.Parse(args, kFlags, &error)) {
        std::fprintf(stderr, "taviro-cli connect: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (options.Has("help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (const auto unknown = options.Unknown(kKnown); !unknown.empty()) {
        std::fprintf(stderr, "taviro-cli connect: unknown option --%s\n%s", unknown[0].c_str(),
                     kUsage);
        return kExitUsage;
    }
    const auto port = options.GetInt("port", -1, 1, 65535, &error);
    const auto seconds = options.GetInt("seconds", 0, 0, 86400 * 7, &error);
    const auto connectMs = options.GetInt("connect-timeout-ms", 10'000, 1, 600'000, &error);
    const auto keepAliveMs = options.GetInt("keepalive-ms", 10'000, 10, 3'600'000, &error);
    if (!port || !seconds || !connectMs || !keepAliveMs || !options.Has("host") ||
        !options.Has("user") || !options.Has("password") || *port < 0) {
        std::fprintf(
            stderr, "taviro-cli connect: %s\n%s",
            error.empty() ? "--host, --port, --user and --password are needed" : error.c_str(),
            kUsage);
        return kExitUsage;
    }
    if (options.Has("trace")) {
        platform::SetTraceEnabled(true);
    }
    const bool json = options.Has("json");
    CPrintingSink sink(stdout, json);

    auto summary = [&](int status, const std::string& reason) {
        if (json) {
            sink.PrintLine("{\"event\":\"summary\",\"result\":\"" +
                           std::string(ResultName(status)) + "\",\"exit\":" +
                           std::to_string(status) + ",\"reason\":\"" + JsonEscape(reason) + "\"}");
        } else if (status != kExitOk) {
            std::fprintf(stderr, "taviro-cli connect: %s\n", reason.c_str());
        } else {
            sink.PrintLine("disconnected");
        }
        return status;
    };

    const std::string host = *options.Get("host");
    const auto address = platform::ResolveIPv4(host);
    if (!address) {
        return summary(kExitResolve, "cannot resolve host '" + host + "'");
    }

    const std::filesystem::path storage = options.Has("storage")
                                              ? std::filesystem::path(*options.Get("storage"))
                                              : platform::DefaultStorageFolder();
    logs::CLocalLog localLog(storage, protocol::ProcessZoneOffset().TotalSeconds());

    protocol::SessionConfig config;
    config.address = *address;
    config.port = static_cast<std::uint16_t>(*port);
    config.userId = *options.Get("user");
    config.password = *options.Get("password");
    config.connectTimeout = std::chrono::milliseconds(*connectMs);
    config.keepAliveInterval = std::chrono::milliseconds(*keepAliveMs);

    auto session = std::make_unique<protocol::CRecorderSession>(sink, &localLog, config);
    session->Connect();

    // Without an answer to the login in this time the recorder is taken as not answering.
    const auto loginDeadline = Clock::now() + config.connectTimeout + std::chrono::seconds(30);
    std::optional<Clock::time_point> stayUntil;
    std::optional<int> status;
    std::string reason;
    bool unsupported = false;
    std::optional<std::pair<int, int>> goodbye;

    while (!status) {
        const auto now = Clock::now();
        if (stayUntil && now >= *stayUntil) {
            status = kExitOk;
            reason = "disconnected";
            break;
        }
        if (!stayUntil && now >= loginDeadline) {
            status = kExitFailure;
            reason = "no answer to the login";
            break;
        }
        const auto message = sink.Take(std::chrono::milliseconds(50));
        if (!message) {
            continue;
        }
        if (message->messageBox) {
            unsupported = *message->messageBox == "Not MRKD7310 or TQ71!";
            continue;
        }
        if (message->message == platform::WM_SESSION_LOGGED_IN && !stayUntil) {
            Identity id{session->ProductType(), session->Hello(), session->ChannelCount()};
            PrintIdentity(sink, config.address, config.port, id);
            stayUntil = Clock::now() + std::chrono::seconds(*seconds);
            continue;
        }
        if (message->message != platform::WM_RECORDER_NOTIFY) {
            continue;
        }
        const int category = platform::NotifyCategory(message->lParam);
        const int code = platform::NotifyCode(message->lParam);
        if (category == 1) {
            status = code == 0 ? kExitTimedOut : kExitRefused;
            reason = DescribeNotification(category, code);
        } else if (category == 0) {
            status = kExitFailure;
            reason = DescribeNotification(category, code);
        } else if (category == 3 || category == 15) {
            goodbye = std::make_pair(category, code);  // the recorder closes next
        } else if (category == 2) {
            if (unsupported) {
                status = kExitUnsupported;
                reason = "the recorder is no supported product (Not MRKD7310 or TQ71!)";
            } else if (goodbye) {
                status = kExitGoodbye;
                reason = DescribeNotification(goodbye->first, goodbye->second);
            } else {
                status = kExitDropped;
                reason = "the recorder ended the connection";
            }
        }
    }
    // A goodbye the recorder said but whose close did not come before the deadline.
    if (*status == kExitFailure && goodbye) {
        status = kExitGoodbye;
        reason = DescribeNotification(goodbye->first, goodbye->second);
    }
    session->DestroyWindow();
    session.reset();
    return summary(*status, reason);
}

}  // namespace taviro::cli
