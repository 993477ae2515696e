#include "sim/login_service.h"

#include <algorithm>
#include <cctype>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The client cuts both texts at 16 bytes, so a configured text is compared the same way.
std::string_view Cut(std::string_view s) {
    return s.substr(0, kCredentialWidth);
}

}  // namespace

std::optional<HelloCredentials> ParseHello(std::span<const std::uint8_t> payload) {
    if (payload.size() != protocol::kHelloPayloadSize) {
        return std::nullopt;
    }
    protocol::CByteReader r(payload);
    HelloCredentials c;
    c.user = r.Text(kCredentialWidth);
    c.password = r.Text(kCredentialWidth);
    return c;
}

std::optional<std::size_t> FindUser(const std::vector<SimUser>& users,
                                    const HelloCredentials& credentials) {
    for (std::size_t slot = 0; slot < users.size(); ++slot) {
        if (EqualIgnoringCase(Cut(users[slot].name), credentials.user) &&
            EqualIgnoringCase(Cut(users[slot].password), credentials.password)) {
            return slot;
        }
    }
    return std::nullopt;
}

CLoginService::CLoginService(const SimConfig& config)
    : m_users(EffectiveUsers(config)),
      m_answer(BuildHelloAck(config).Encode()),
      m_badPasswordReason(config.bad_password_reason) {}

bool CLoginService::Handles(std::uint16_t code) const {
    return code == msg::HELLO;
}

void CLoginService::OnMessage(CSimConnection& connection, const protocol::PacketHeader&,
                              std::span<const std::uint8_t> payload) {
    // A HELLO of the wrong size cannot name anybody: it is refused like a wrong password.
    const auto credentials = ParseHello(payload);
    const auto slot = credentials ? FindUser(m_users, *credentials) : std::nullopt;
    if (slot) {
        if (connection.Send(msg::HELLO48_ACK, m_answer)) {
            connection.SetLoggedIn(*slot);
            connection.Journal().Event("login", m_users[*slot].name);
        }
        return;
    }
    std::array<std::uint8_t, 4> reason{};
    protocol::StoreBE32(reason.data(), static_cast<std::uint32_t>(m_badPasswordReason));
    connection.Journal().Event("login-refused", credentials ? credentials->user : "");
    connection.Send(msg::BYE48, reason);
    connection.CloseAfter(kByeClosePause, "login refused");
}

}  // namespace taviro::sim
