#include "cli/command_session.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "platform/socket.h"
#include "platform/storage.h"
#include "platform/trace.h"
#include "protocol/hello.h"
#include "protocol/recorder_time.h"
#include "protocol/session_messages.h"

namespace taviro::cli {

namespace {

using Clock = std::chrono::steady_clock;

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

std::optional<std::pair<std::string, std::uint16_t>> ParseRecorder(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    unsigned port = 0;
    const char* begin = text.data() + colon + 1;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, port);
    if (ec != std::errc() || ptr != end || begin == end || port == 0 || port > 65535)
        return std::nullopt;
    return std::make_pair(text.substr(0, colon), static_cast<std::uint16_t>(port));
}

std::optional<std::string> ResolvePassword(const COptions& options, const char* environment,
                                           std::string* error) {
    if (options.Has("password") && options.Has("password-file")) {
        *error = "give one of --password and --password-file";
        return std::nullopt;
    }
    if (const auto password = options.Get("password"))
        return password;
    if (const auto file = options.Get("password-file")) {
        // A password is a short line: the file is read no further than that.
        constexpr std::size_t kMaxLine = 1024;
        std::FILE* in = std::fopen(file->c_str(), "rb");
        if (in == nullptr) {
            *error = "cannot read the password file " + *file;
            return std::nullopt;
        }
        std::string line(kMaxLine, '\0');
        const std::size_t got = std::fread(line.data(), 1, line.size(), in);
        const bool failed = std::ferror(in) != 0;
        std::fclose(in);
        if (failed) {
            *error = "cannot read the password file " + *file;
            return std::nullopt;
        }
        line.resize(got);
        line.resize(std::min(line.find('\n'), line.size()));
        if (line.ends_with('\r'))
            line.pop_back();
        return line;
    }
    if (environment != nullptr)
        return std::string(environment);
    *error = "--password, --password-file or TAVIRO_PASSWORD is needed";
    return std::nullopt;
}

const std::vector<std::string> kConnectionOptions = {
    "host",  "port", "user",    "password",           "password-file", "json",
    "trace", "help", "storage", "connect-timeout-ms", "keepalive-ms"};
const std::vector<std::string> kConnectionFlags = {"json", "trace", "help"};
const char* const kConnectionUsage =
    "--host HOST --port PORT --user USER (--password PASS | --password-file FILE)\n"
    "       [--json] [--trace] [--storage DIR] [--connect-timeout-ms N] [--keepalive-ms N]\n"
    "       (the password may also come from the variable TAVIRO_PASSWORD)";

CCommandSession::CCommandSession(std::string command, COptions options, bool json)
    : m_command(std::move(command)), m_options(std::move(options)), m_sink(stdout, json) {}

CCommandSession::~CCommandSession() {
    if (m_connection) {
        m_connection->Close(client::CloseKind::kDisconnect);
    }
}

std::unique_ptr<CCommandSession> CCommandSession::Create(
    const std::string& command, const std::vector<std::string>& args,
    const std::vector<std::string>& extraOptions, const std::vector<std::string>& extraFlags,
    const std::string& usage, int* exitStatus) {
    auto fail = [&](const std::string& error) -> std::unique_ptr<CCommandSession> {
        std::fprintf(stderr, "taviro-cli %s: %s\n%s", command.c_str(), error.c_str(),
                     usage.c_str());
        *exitStatus = kExitUsage;
        return nullptr;
    };
    std::vector<std::string> flags = kConnectionFlags;
    flags.insert(flags.end(), extraFlags.begin(), extraFlags.end());
    std::vector<std::string> known = kConnectionOptions;
    known.insert(known.end(), extraOptions.begin(), extraOptions.end());
    known.insert(known.end(), extraFlags.begin(), extraFlags.end());

    COptions options;
    std::string error;
    if (!options.Parse(args, flags, &error)) {
        return fail(error);
    }
    if (options.Has("help")) {
        std::fputs(usage.c_str(), stdout);
        *exitStatus = kExitOk;
        return nullptr;
    }
    if (const auto unknown = options.Unknown(known); !unknown.empty()) {
        return fail("unknown option --" + unknown[0]);
    }
    const auto port = options.GetInt("port", -1, 1, 65535, &error);
    // Several recorders are named HOST:PORT by --recorder, one is by --host and --port.
    std::vector<std::pair<std::string, std::uint16_t>> recorders;
    for (const std::string& text : options.GetAll("recorder")) {
        const auto recorder = ParseRecorder(text);
        if (!recorder)
            return fail("--recorder wants HOST:PORT, not '" + text + "'");
        if (std::find(recorders.begin(), recorders.end(), *recorder) != recorders.end())
            return fail("the recorder " + text + " is given twice");
        recorders.push_back(*recorder);
    }
    if (recorders.size() > kMaxRecorders)
        return fail("at most " + std::to_string(kMaxRecorders) + " recorders");
    if (!recorders.empty() && (options.Has("host") || options.Has("port")))
        return fail("give --recorder, or --host and --port, not both");
    const auto connectMs = options.GetInt("connect-timeout-ms", 10'000, 1, 600'000, &error);
    const auto keepAliveMs = options.GetInt("keepalive-ms", 10'000, 10, 3'600'000, &error);
    if (!port || !connectMs || !keepAliveMs) {
        return fail(error);
    }
    if (recorders.empty() && (!options.Has("host") || *port < 0))
        return fail("--host and --port (or --recorder) are needed");
    if (!options.Has("user"))
        return fail("--user is needed");
    auto password = ResolvePassword(options, std::getenv("TAVIRO_PASSWORD"), &error);
    if (!password)
        return fail(error);
    if (options.Has("trace")) {
        platform::SetTraceEnabled(true);
    }
    const bool json = options.Has("json");
    std::unique_ptr<CCommandSession> self(new CCommandSession(command, std::move(options), json));
    self->m_host = self->m_options.GetOr("host", "");
    self->m_port = static_cast<std::uint16_t>(std::max<long long>(*port, 0));
    self->m_password = std::move(*password);
    self->m_recorders = std::move(recorders);
    self->m_connectTimeout = std::chrono::milliseconds(*connectMs);
    self->m_keepAlive = std::chrono::milliseconds(*keepAliveMs);
    return self;
}

std::unique_ptr<CCommandSession> CCommandSession::ForRecorder(std::size_t index) {
    std::unique_ptr<CCommandSession> other(new CCommandSession(m_command, m_options, Json()));
    const auto& [host, port] = m_recorders.at(index);
    other->m_host = host;
    other->m_port = port;
    other->m_password = m_password;
    other->m_connectTimeout = m_connectTimeout;
    other->m_keepAlive = m_keepAlive;
    // One local log for the run: two logs on one file would write over each other.
    other->m_localLog = LocalLog();
    other->m_sink.SetRecorder(static_cast<int>(index) + 1, host + ":" + std::to_string(port));
    return other;
}

std::shared_ptr<logs::CLocalLog> CCommandSession::LocalLog() {
    if (!m_localLog) {
        const std::filesystem::path storage = m_options.Has("storage")
                                                  ? std::filesystem::path(*m_options.Get("storage"))
                                                  : platform::DefaultStorageFolder();
        m_localLog = std::make_shared<logs::CLocalLog>(storage);
    }
    return m_localLog;
}

int CCommandSession::LogIn(client::ConnectionSettings settings) {
    const auto address = platform::ResolveIPv4(m_host);
    if (!address) {
        m_reason = "cannot resolve host '" + m_host + "'";
        return kExitResolve;
    }
    m_address = *address;
    LocalLog();

    protocol::SessionConfig config;
    config.address = m_address;
    config.port = m_port;
    config.userId = *m_options.Get("user");
    config.password = m_password;
    config.connectTimeout = m_connectTimeout;
    config.keepAliveInterval = m_keepAlive;
    // One connection per run, unless it comes back after a loss: each has its generation.
    m_connection = std::make_unique<client::CConnection>(m_sink, m_generation, m_localLog, m_views,
                                                         std::move(config), std::move(settings));
    m_connection->Start();

    // Without an answer to the login in this time the recorder is taken as not answering.
    const auto deadline = Clock::now() + m_connectTimeout + std::chrono::seconds(30);
    while (!m_loggedIn) {
        if (Clock::now() >= deadline) {
            m_reason = "no answer to the login";
            return m_goodbye ? kExitGoodbye : kExitFailure;
        }
        if (const auto message = m_sink.Take(std::chrono::milliseconds(50))) {
            if (const auto status = Handle(*message)) {
                return *status;
            }
        }
    }
    PrintIdentity(m_sink, m_address, m_port, m_connection->Session().Login());
    return kExitOk;
}

int CCommandSession::Reconnect(client::ConnectionSettings settings) {
    if (m_connection) {
        m_connection->Close(client::CloseKind::kDisconnect);
        m_connection.reset();
    }
    ++m_generation;
    m_loggedIn = false;
    m_unsupported = false;
    m_goodbye.reset();
    m_reason.clear();
    return LogIn(std::move(settings));
}

protocol::SessionEnd CCommandSession::EndCause() const {
    return m_connection ? m_connection->Session().Transport().EndCause()
                        : protocol::SessionEnd::kRunning;
}

bool CCommandSession::WasLoggedIn() const {
    return m_connection && m_connection->Session().Transport().WasLoggedIn();
}

int CCommandSession::CheckRights(protocol::Feature feature) {
    constexpr std::chrono::milliseconds kRightsWait{3'000};
    constexpr std::chrono::milliseconds kRightsStep{50};
    auto& live = Session().Live();
    const auto deadline = std::chrono::steady_clock::now() + kRightsWait;
    while (live.Rights().productMajor != 0 && !live.Rights().userSlot &&
           std::chrono::steady_clock::now() < deadline) {
        if (const int status = Stay(kRightsStep); status != kExitOk)
            return status;
    }
    return Connection().CheckRights(feature) == client::CommandResult::kDone ? kExitOk
                                                                             : kExitFailure;
}

int CCommandSession::Stay(std::chrono::milliseconds duration) {
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (const auto message = m_sink.Take(std::min(left, std::chrono::milliseconds(50)))) {
            if (const auto status = Handle(*message)) {
                return *status;
            }
        }
    }
    return kExitOk;
}

std::optional<platform::PostedMessage> CCommandSession::WaitFor(
    const std::function<bool(const platform::PostedMessage&)>& match,
    std::chrono::milliseconds timeout, int* status) {
    *status = kExitOk;
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        auto message = m_sink.Take(std::min(left, std::chrono::milliseconds(50)));
        if (!message) {
            continue;
        }
        if (match(*message)) {
            return message;
        }
        if (const auto ended = Handle(*message)) {
            *status = *ended;
            return std::nullopt;
        }
        if (message->message == platform::WM_RECORDER_NOTIFY) {
            // Categories 4 and 6: the recorder has no such data or refused the request.
            const int category = platform::NotifyCategory(message->lParam);
            if (category == 4 || category == 6) {
                m_reason = DescribeNotification(category, platform::NotifyCode(message->lParam));
                *status = kExitFailure;
                return std::nullopt;
            }
        }
    }
    return std::nullopt;
}

std::optional<int> CCommandSession::Handle(const platform::PostedMessage& message) {
    if (message.generation != 0 && message.generation != m_generation) {
        return std::nullopt;  // a connection that has ended and been replaced
    }
    if (message.messageBox) {
        m_unsupported = m_unsupported || *message.messageBox == "Not MRKD7310 or TQ71!";
        return std::nullopt;
    }
    if (message.message == protocol::WM_SESSION_LOGGED_IN) {
        m_loggedIn = true;
        return std::nullopt;
    }
    if (message.message != platform::WM_RECORDER_NOTIFY) {
        return std::nullopt;
    }
    const int category = platform::NotifyCategory(message.lParam);
    const int code = platform::NotifyCode(message.lParam);
    // Which recorder, as the user named it: a script that talks to several can tell.
    const std::string recorder = " (recorder " + m_host + ":" + std::to_string(m_port) + ")";
    switch (category) {
        case 0:
            m_reason = DescribeNotification(category, code) + recorder;
            return kExitFailure;
        case 1:
            m_reason = DescribeNotification(category, code) + recorder;
            return code == 0 ? kExitTimedOut : kExitRefused;
        case 3:
        case 15:
            m_goodbye = std::make_pair(category, code);  // the recorder closes next
            return std::nullopt;
        case 2:
            if (m_unsupported) {
                m_reason = "the recorder is no supported product (Not MRKD7310 or TQ71!)";
                return kExitUnsupported;
            }
            if (m_goodbye) {
                m_reason = DescribeNotification(m_goodbye->first, m_goodbye->second);
                return kExitGoodbye;
            }
            m_reason = "the recorder ended the connection" + recorder;
            return kExitDropped;
        default:
            return std::nullopt;
    }
}

int CCommandSession::Finish(int status, std::string reason) {
    if (m_connection) {
        m_connection->Close(client::CloseKind::kDisconnect);
        m_connection.reset();
    }
    if (reason.empty()) {
        reason = status == kExitOk ? "disconnected" : m_reason;
    }
    if (m_sink.Json()) {
        m_sink.PrintLine("{\"event\":\"summary\",\"result\":\"" + std::string(ResultName(status)) +
                         "\",\"exit\":" + std::to_string(status) + ",\"reason\":\"" +
                         JsonEscape(reason) + "\"}");
    } else if (status != kExitOk) {
        std::fprintf(stderr, "taviro-cli %s: %s\n", m_command.c_str(), reason.c_str());
    } else {
        m_sink.PrintLine("disconnected");
    }
    return status;
}

void PrintIdentity(CPrintingSink& out, const std::string& address, std::uint16_t port,
                   const protocol::CLoginService& login) {
    const int productType = login.ProductType();
    const protocol::HelloAck h = login.Hello();
    const int channels = login.ChannelCount();
    if (out.Json()) {
        // With several recorders the line's "address" is the recorder as given; the address
        // it resolved to is "resolved" then.
        std::string line = "{\"event\":\"login\",\"" +
                           std::string(out.Tagged() ? "resolved" : "address") + "\":\"" +
                           JsonEscape(address) + "\",\"port\":" + std::to_string(port) +
                           ",\"product_type\":" + std::to_string(productType) + ",\"product\":\"" +
                           std::string(protocol::ProductTypeName(productType)) +
                           "\",\"product_number\":" + std::to_string(h.product_number) +
                           ",\"channels\":" + std::to_string(channels) +
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
        std::string(protocol::ProductTypeName(productType)).c_str(), h.product_number,
        h.protocol_major_ver, h.protocol_minor_ver, h.product_major_ver, h.product_minor_ver);
    out.PrintLine(line);
    out.PrintLine("  channels : " + std::to_string(channels));
    out.PrintLine("  account  : " + std::to_string(h.account));
    out.PrintLine("  MAC      : " + FormatMac(h.mac_address));
    for (std::size_t i = 0; i < protocol::kFirmwareEntries; ++i) {
        if (h.FirmVer[i] == 0)
            continue;
        out.PrintLine("  firmware : " + h.FirmwareName(i) + " " + FormatRecorderTime(h.FirmVer[i]));
    }
}

}  // namespace taviro::cli
