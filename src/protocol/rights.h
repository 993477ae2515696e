// Who may use what: the rights rule the main window's buttons consult. Old recorders
// (product_major_ver 0) decide by the account level of the login answer; newer ones by the
// permission tables they push in RIGHT_CHANGE / RIGHT_CHANGE2 (9 rows, one byte per user
// slot, 1 = allowed). A refused button posts (15, 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace taviro::protocol {

inline constexpr std::size_t kPermissionRows = 9;
inline constexpr std::size_t kUserSlots = 27;

// Rows of the permission tables.
namespace right_row {
inline constexpr std::size_t kRecord = 0;    // recording on/off
inline constexpr std::size_t kFirmware = 1;  // firmware upgrade and web setup
inline constexpr std::size_t kSearch = 2;    // remote search and playback
inline constexpr std::size_t kBackup = 3;    // backup (download)
inline constexpr std::size_t kPtz = 4;       // PTZ panels
inline constexpr std::size_t kCovert = 5;    // viewing covert channels
inline constexpr std::size_t kLogin1 = 6;    // 6 and 8 must both be set for the user
inline constexpr std::size_t kUnused = 7;
inline constexpr std::size_t kLogin2 = 8;
}  // namespace right_row

using PermissionTables = std::array<std::array<std::uint8_t, kUserSlots>, kPermissionRows>;

enum class Feature {
    RecordOnOff,
    SearchPlayback,
    WebSetup,
    FirmwareUpgrade,
    Ptz,
    Talk,
    CovertVisible,
};

// Everything the rule looks at.
struct RightsContext {
    std::uint8_t productMajor = 0;  // HelloAck::product_major_ver
    std::uint8_t productMinor = 0;  // HelloAck::product_minor_ver
    std::uint8_t account = 0;       // HelloAck::account
    PermissionTables tables{};
    // The logged-in user's slot, once a user list named this user; without it no
    // table-based right is granted.
    std::optional<std::size_t> userSlot;
    bool liveOn = false;  // PTZ panels need live view
};

// True when the row's byte for the user's slot is exactly 1.
bool RowAllows(const RightsContext& context, std::size_t row);

// The rights rule.
bool MayUse(Feature feature, const RightsContext& context);

// Recorders of major version 0, and 1.0, apply a withdrawn search right in the older,
// coarser way (search dialog closed as a whole).
constexpr bool UsesLegacyRightsApplication(std::uint8_t productMajor, std::uint8_t productMinor) {
    return productMajor == 0 || (productMajor == 1 && productMinor == 0);
}

}  // namespace taviro::protocol
