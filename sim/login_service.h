// The recorder's side of the login: HELLO carries the user ID and password (16 bytes each,
// lower-cased by the client); a known user gets HELLO48_ACK with the recorder's
// description, anybody else BYE48 with the configured reason, and the recorder closes the
// connection a moment later.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/hello.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

// How long the recorder waits after a goodbye before it closes the connection, so the
// client reads the reason before it sees the end of the stream.
inline constexpr std::chrono::milliseconds kByeClosePause{300};

struct HelloCredentials {
    std::string user;
    std::string password;
};

// The two 16-byte text fields of a 32-byte HELLO payload (each up to its first NUL);
// nullopt for any other payload size.
std::optional<HelloCredentials> ParseHello(std::span<const std::uint8_t> payload);

// The slot (index into `users`) of the user whose name and password both match, ignoring
// letter case; nullopt when none does.
std::optional<std::size_t> FindUser(const std::vector<SimUser>& users,
                                    const HelloCredentials& credentials);

class CLoginService final : public ISimService {
  public:
    explicit CLoginService(const SimConfig& config);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    [[nodiscard]] bool RequiresLogin() const override { return false; }
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

  private:
    std::vector<SimUser> m_users;
    std::array<std::uint8_t, protocol::kHelloAckSize> m_answer{};
    std::int32_t m_badPasswordReason;
};

}  // namespace taviro::sim
