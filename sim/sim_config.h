// What the simulated recorder says about itself, who may log in, and which faults it plays
// on purpose. One SimConfig drives both the in-process simulator (tests) and the
// taviro-recorder-sim executable (scripts, manual runs against the desktop client).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/hello.h"
#include "protocol/recorder_time.h"

namespace taviro::sim {

// The recorder keeps nine permission rows; each user has one byte per row (1 = allowed).
// Row 0 recording, 1 firmware and web setup, 2 search and playback, 3 backup, 4 PTZ,
// 5 covert channels, 6 and 8 must both be set or the client refuses the user, 7 unused.
inline constexpr std::size_t kRightRows = 9;
// The client keeps 27 user slots: 0..5 arrive in RIGHT_CHANGE, 6..26 in RIGHT_CHANGE2.
inline constexpr std::size_t kMaxUsers = 27;
inline constexpr std::size_t kRightChangeSlots = 6;
// User IDs and passwords travel in 16-byte fields of HELLO.
inline constexpr std::size_t kCredentialWidth = 16;

struct SimUser {
    std::string name;
    std::string password;
    // rights[row] for this user's slot; the slot is the user's index in SimConfig::users.
    std::array<std::uint8_t, kRightRows> rights{1, 1, 1, 1, 1, 1, 1, 1, 1};
};

struct FirmwareEntry {
    std::string name;  // at most 32 bytes (FirmName field width)
    protocol::RecorderTime built = 0;
};

struct SimConfig {
    // Network.
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = 0;  // 0 picks a free port; CRecorderSim::Port() tells which
    std::string port_file;   // when set, the bound port is written there (for scripts)

    // HELLO48_ACK fields.
    std::uint8_t protocol_major = 1;
    std::uint8_t protocol_minor = 0;
    std::uint8_t product_number = 11;  // MRKD7310
    std::uint8_t product_major = 1;
    std::uint8_t product_minor = 0;
    std::uint8_t front_ver = 1;
    std::uint8_t channels = 16;
    std::uint8_t account = 0;
    std::uint8_t capabilities = 8;
    std::array<std::uint8_t, 6> mac{0x00, 0x1C, 0x54, 0x10, 0x20, 0x30};
    std::array<std::uint8_t, 8> key{0x5A, 0x17, 0xC3, 0x08, 0x91, 0x4E, 0xB2, 0x6D};
    std::uint16_t web_port = 80;
    std::vector<FirmwareEntry> firmware;  // at most 20

    // Login. Empty means the recorder's factory account admin:1234.
    std::vector<SimUser> users;
    std::int32_t bad_password_reason = 1;

    // Journal and run mode.
    std::string journal_path;  // empty: the journal is kept in memory only
    bool once = false;         // serve one client, then stop accepting
    bool verbose = false;      // echo the journal to stderr

    // How long one message may take to arrive once its first byte is there; a client that
    // stalls in the middle of a message is dropped after this.
    std::chrono::milliseconds read_timeout{30'000};

    // Scripted faults. close_after counts from a successful login; close_after_messages
    // counts every received message, HELLO included (the Nth is still answered). The others
    // fire once per connection, fault_delay after login, in this order: the unknown
    // messages, the lying length, then either the stall (after which nothing more is sent)
    // or the goodbye.
    std::optional<std::chrono::milliseconds> close_after;
    std::optional<std::uint32_t> close_after_messages;
    bool stall_mid_payload = false;
    struct UnknownMessage {
        std::uint16_t code = 0;
        std::uint16_t length = 0;
    };
    std::vector<UnknownMessage> send_unknown;
    bool lying_length = false;
    std::optional<std::int32_t> bye_reason;
    std::chrono::milliseconds fault_delay{200};
};

inline constexpr std::size_t kMaxFirmwareEntries = protocol::kFirmwareEntries;
inline constexpr std::size_t kMaxUnknownMessages = 64;

// The users the recorder accepts: the configured list, or admin:1234 with every right.
std::vector<SimUser> EffectiveUsers(const SimConfig& config);

// The login answer for this configuration (the fields above, everything else zero).
protocol::HelloAck BuildHelloAck(const SimConfig& config);

// Field parsers shared by the command line and tests. Each returns nullopt for text that
// does not match its form exactly (no trailing junk, values in range).
std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text);  // aa:bb:..:ff
std::optional<std::array<std::uint8_t, 8>> ParseKey(std::string_view text);  // 16 hex digits
std::optional<std::pair<std::uint8_t, std::uint8_t>> ParseVersion(std::string_view text);
// "YYYY-MM-DDTHH:MM:SS" read as UTC (the recorder's wall clock), 1970..2037.
std::optional<protocol::RecorderTime> ParseRecorderTime(std::string_view text);
std::optional<FirmwareEntry> ParseFirmware(std::string_view text);  // NAME=TIME
// NAME:PASSWORD[:RIGHTS]; RIGHTS is "all", "none" or a comma list of rows 0..8.
std::optional<SimUser> ParseUser(std::string_view text);
std::optional<std::array<std::uint8_t, kRightRows>> ParseRights(std::string_view text);
std::optional<SimConfig::UnknownMessage> ParseUnknownMessage(std::string_view text);

// Unsigned decimal in [0, max]; nullopt otherwise.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max);
std::optional<std::int32_t> ParseInt32(std::string_view text);
// Non-negative seconds with an optional fraction ("2", "0.25"), to milliseconds.
std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text);

// Checks the parts that only make sense together (user count, duplicate names, firmware
// count). Empty when the configuration is usable, else the reason.
std::string ValidateConfig(const SimConfig& config);

}  // namespace taviro::sim
