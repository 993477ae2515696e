#include "connect/connect_model.h"

#include <array>
#include <cstdio>
#include <vector>

#include "platform/socket.h"
#include "platform/trace.h"

namespace taviro::connect {

namespace {

std::string Cut(std::string_view text, std::size_t limit) {
    return std::string(text.substr(0, std::min(text.size(), limit)));
}

// Fixed fields keep one byte for their terminator.
std::string Field(std::string_view text, std::size_t width) {
    return Cut(text, width - 1);
}

}  // namespace

Resolver SystemResolver() {
    return [](const std::string& host) { return platform::ResolveIPv4(host); };
}

bool PortInRange(std::int32_t port) {
    return port >= kMinPort && port <= kMaxPort;
}

std::int32_t ParsePortText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 99999999) {
            // Far out of range already; stop before anything can overflow.
            break;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

bool IsDigitsAndDots(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c != '.' && (c < '0' || c > '9')) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> NormalizeDottedQuad(std::string_view text) {
    if (!IsDigitsAndDots(text)) {
        return std::nullopt;
    }
    std::array<unsigned, 4> parts{};
    std::size_t part = 0;
    bool digits = false;
    for (char c : text) {
        if (c == '.') {
            if (!digits || part == 3) {
                return std::nullopt;
            }
            ++part;
            digits = false;
            continue;
        }
        // Low 8 bits of the decimal value, accumulated so long numbers never overflow.
        parts[part] = (parts[part] * 10 + static_cast<unsigned>(c - '0')) & 0xFFu;
        digits = true;
    }
    if (!digits || part != 3) {
        return std::nullopt;
    }
    if (parts[0] == 0 && parts[1] == 0 && parts[2] == 0 && parts[3] == 0) {
        return std::string();
    }
    char out[16];
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return std::string(out);
}

std::string ResolveAddress(const std::string& typed, const Resolver& resolve) {
    if (typed.empty()) {
        return {};
    }
    if (IsDigitsAndDots(typed)) {
        return NormalizeDottedQuad(typed).value_or(std::string());
    }
    std::optional<std::string> found = resolve ? resolve(typed) : std::nullopt;
    if (!found) {
        return {};
    }
    // Whatever the resolver answers goes through the same normalisation, so only a clean
    // dotted quad reaches the session.
    return NormalizeDottedQuad(*found).value_or(std::string());
}

void CConnectModel::Open(const RememberedServer& remembered, const AddressBook& book) {
    m_strIP = Cut(remembered.address, kRememberedAddressWidth - 1);
    m_strUser.clear();
    m_strPassword.clear();
    m_strDescription.clear();
    m_bFocusPort = false;
    if (remembered.port) {
        m_mode = PortMode::Modified;
        m_nPort = *remembered.port;
        m_strPort = Cut(std::to_string(m_nPort), kPortTextLimit);
    } else {
        m_mode = PortMode::Default;
        m_nPort = kDefaultPort;
        m_strPort.clear();
    }
    for (const AddressBookEntry& entry : book) {
        if (entry.address == m_strIP && entry.port == m_nPort) {
            m_strDescription = Cut(entry.description, kDescriptionLimit);
            break;
        }
    }
}

void CConnectModel::SetAddress(std::string_view text) {
    m_strIP = Cut(text, kAddressLimit);
    m_strDescription.clear();
}

void CConnectModel::SetPortText(std::string_view text) {
    m_strPort = Cut(text, kPortTextLimit);
    m_strDescription.clear();
}

void CConnectModel::SetUser(std::string_view text) {
    m_strUser = Cut(text, kUserLimit);
}

void CConnectModel::SetPassword(std::string_view text) {
    m_strPassword = Cut(text, kPasswordLimit);
}

void CConnectModel::SetDescription(std::string_view text) {
    m_strDescription = Cut(text, kDescriptionLimit);
}

void CConnectModel::PressDefault() {
    SetPortText(std::to_string(kDefaultPort));
    m_mode = PortMode::Default;
    m_nPort = kDefaultPort;
}

void CConnectModel::PressModify() {
    SetPortText("");
    m_mode = PortMode::Modified;
    m_bFocusPort = true;
}

void CConnectModel::TakeBookEntry(const AddressBookEntry& entry) {
    SetAddress(entry.address);
    SetPortText(std::to_string(entry.port));
    SetDescription(entry.description);
}

std::optional<ConnectOutcome> CConnectModel::Confirm(const Resolver& resolve) {
    const std::int32_t port = m_mode == PortMode::Default ? kDefaultPort : ParsePortText(m_strPort);
    if (!PortInRange(port)) {
        m_strPort.clear();
        m_bFocusPort = true;
        return std::nullopt;
    }
    m_nPort = port;

    ConnectOutcome outcome;
    outcome.remember.address = Cut(m_strIP, kRememberedAddressWidth - 1);
    outcome.remember.port = port;
    outcome.record.address = m_strIP;
    outcome.record.port = port;
    outcome.record.description = m_strDescription;

    platform::Trace("m_strIP : %s\n", m_strIP.c_str());
    SessionTarget& s = outcome.session;
    s.address = Field(ResolveAddress(m_strIP, resolve), kSessionAddressWidth);
    if (!m_strIP.empty() && !IsDigitsAndDots(m_strIP)) {
        s.host = Field(m_strIP, kSessionAddressWidth);
    }
    s.port = port;
    s.user = Field(m_strUser, kSessionUserWidth);
    s.password = Field(m_strPassword, kSessionPasswordWidth);
    s.description = Field(m_strDescription, kSessionDescriptionWidth);
    return outcome;
}

}  // namespace taviro::connect
