#include "app/client_options.h"

#include <charconv>
#include <cmath>

namespace taviro::app {

namespace {

// Recorders one window connects to at most.
constexpr std::size_t kMaxConnects = 16;

bool ParseSeconds(std::string_view text, double& out) {
    try {
        std::size_t used = 0;
        const double value = std::stod(std::string(text), &used);
        if (used != text.size() || !std::isfinite(value) || value < 0 || value > 86400)
            return false;
        out = value;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool SplitHostPort(std::string_view text, std::string& host, std::int32_t& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        host = std::string(text);
        port = 2000;
        return !host.empty();
    }
    host = std::string(text.substr(0, colon));
    const auto digits = text.substr(colon + 1);
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (host.empty() || digits.empty() || ec != std::errc() ||
        end != digits.data() + digits.size() || value < 1 || value > 65534) {
        return false;
    }
    port = value;
    return true;
}

ParsedOptions ParseClientOptions(std::span<const std::string> args) {
    ParsedOptions parsed;
    ClientOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                parsed.error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            return parsed;
        } else if (arg == "--skin-path") {
            parsed.skinPath = true;
            return parsed;
        } else if (arg == "--version") {
            parsed.version = true;
            return parsed;
        } else if (arg == "--player") {
            o.player = true;
        } else if (arg == "--connect") {
            if (!value(v))
                return parsed;
            std::string host;
            std::int32_t port = 0;
            if (!SplitHostPort(v, host, port)) {
                parsed.error = "--connect wants HOST:PORT with a port from 1 to 65534";
                return parsed;
            }
            if (!o.connectHost) {
                o.connectHost = host;
                o.connectPort = port;
            } else if (o.moreConnects.size() + 1 >= kMaxConnects) {
                parsed.error = "--connect may be given at most 16 times";
                return parsed;
            } else {
                o.moreConnects.push_back({host, port});
            }
        } else if (arg == "--user") {
            if (!value(o.user))
                return parsed;
        } else if (arg == "--password") {
            if (!value(o.password))
                return parsed;
        } else if (arg == "--settings") {
            if (!value(v))
                return parsed;
            o.settingsFile = v;
        } else if (arg == "--screenshot") {
            if (!value(v))
                return parsed;
            o.screenshot = v;
        } else if (arg == "--screenshot-after" || arg == "--quit-after") {
            if (!value(v))
                return parsed;
            double seconds = 0;
            if (!ParseSeconds(v, seconds)) {
                parsed.error = arg + " wants seconds from 0 to 86400";
                return parsed;
            }
            if (arg == "--quit-after")
                o.quitAfter = seconds;
            else
                o.screenshotAfter = seconds;
        } else {
            parsed.error = "unknown option " + arg;
            return parsed;
        }
    }
    parsed.options = std::move(o);
    return parsed;
}

}  // namespace taviro::app
