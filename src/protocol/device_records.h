// The records a recorder pushes to describe itself (channel titles and covert channels,
// user permissions, live permissions, camera flags, extra information, daylight saving,
// recording state, the settings database) and the small live and record answers. Each
// parser takes the whole payload and returns nullopt when its length is not the one the
// record has; the session reads and drops such payloads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/rights.h"

namespace taviro::protocol {

inline constexpr std::size_t kTitleWidth = 32;
inline constexpr std::size_t kUserTextWidth = 32;
inline constexpr std::size_t kDbChangeSize = 596;
inline constexpr std::size_t kRightChangeSize = 584;
inline constexpr std::size_t kRightChange2Size = 3650;
inline constexpr std::size_t kLivePermissionSize = 928;
inline constexpr std::size_t kCamInfoSize = 16;
inline constexpr std::size_t kSysEtcInfoSize = 320;
inline constexpr std::size_t kSysEtcInfoExSize = 3200;
inline constexpr std::size_t kDstInfoSize = 1204;
inline constexpr std::size_t kRecStatusSize = 16;
inline constexpr std::size_t kSysNoticeSize = 12;
inline constexpr std::size_t kLiveChannelInfoSize = 4;
// The main window keeps at most this much of the settings database.
inline constexpr std::size_t kDatabaseWindowLimit = 64'512;
// A DB_UPDATE_REQ carries CRC and database in one message.
inline constexpr std::size_t kDatabaseUnitLimit = 65'535;

using ChannelTitle = std::array<std::uint8_t, kTitleWidth>;
using UserText = std::array<std::uint8_t, kUserTextWidth>;

// Text of a fixed field up to its first NUL.
std::string FieldText(std::span<const std::uint8_t> field);

// DB_CHANGE (258), 596 bytes.
struct DbChange {
    std::uint32_t number = 0;                         // offset 0, big-endian, not used further
    std::array<std::uint8_t, kMaxChannels> covert{};  // offset 4, 1 = covert
    std::array<ChannelTitle, kMaxChannels> titles{};  // offset 20
    std::array<std::uint8_t, 8> archivePass{};        // offset 532
    std::array<std::uint32_t, 2> values{};            // offset 540, big-endian
};
std::optional<DbChange> ParseDbChange(std::span<const std::uint8_t> payload);

// RIGHT_CHANGE (270, 8 user slots) and RIGHT_CHANGE2 (271, 50 user slots): 9 rows of one
// byte per slot, then the user names, then the passwords.
struct RightsRecord {
    std::size_t recordSlots = 0;      // 8 or 50
    std::size_t firstClientSlot = 0;  // where the kept slots go in the client's tables: 0 or 6
    std::size_t keptSlots = 0;        // how many slots the client keeps: 6 or 21
    std::size_t matchSlots = 0;       // how many names are compared with the user ID: 8 or 21
    std::array<std::array<std::uint8_t, 50>, kPermissionRows> rows{};
    std::array<UserText, 50> names{};
    std::array<UserText, 50> passwords{};
};
std::optional<RightsRecord> ParseRightChange(std::span<const std::uint8_t> payload);
std::optional<RightsRecord> ParseRightChange2(std::span<const std::uint8_t> payload);

// The record slot whose name equals `userId` without regard to letter case, among the
// first matchSlots slots; nullopt when none does.
std::optional<std::size_t> MatchUser(const RightsRecord& record, std::string_view userId);

// Stored records, kept whole.
using LivePermission = std::array<std::uint8_t, kLivePermissionSize>;
using CamInfo = std::array<std::uint8_t, kCamInfoSize>;
using SysEtcInfo = std::array<std::uint8_t, kSysEtcInfoSize>;
using SysEtcInfoEx = std::array<std::uint8_t, kSysEtcInfoExSize>;
struct DstInfo {
    std::uint32_t firstWord = 0;  // host order
    std::array<std::uint8_t, kDstInfoSize> raw{};
};
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> ParseStored(std::span<const std::uint8_t> payload) {
    if (payload.size() != N) {
        return std::nullopt;
    }
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = payload[i];
    }
    return out;
}
std::optional<DstInfo> ParseDstInfo(std::span<const std::uint8_t> payload);

// Live permission byte of (slot, channel); 0 outside the record.
std::uint8_t LivePermissionAt(const LivePermission& permission, std::size_t slot, int channel);

// Which channels (bit n) this user must not see: with covert channels invisible to the user,
// a channel is hidden when it is covert or the user lacks the live permission for it;
// otherwise only the live permission counts. Channels at or above channelCount stay clear.
ChannelMask ComputeHidden(const std::array<std::uint8_t, kMaxChannels>& covert,
                          const LivePermission& permission, std::size_t userSlot, int channelCount,
                          bool covertVisible);

// LIVE_CHANNEL_INFO (17): bits 0..15 channels with a picture, bits 16..31 channels without
// camera signal. Hidden channels are taken out of the available set; the video-loss set
// only names channels whose stream slot exists.
struct LiveChannelState {
    ChannelMask available = 0;
    std::uint16_t videoLoss = 0;
};
LiveChannelState ApplyLiveChannelInfo(std::uint32_t word, ChannelMask hidden,
                                      ChannelMask existingSlots);
// First 4 bytes, big-endian; nullopt when shorter.
std::optional<std::uint32_t> ParseLeadingWord(std::span<const std::uint8_t> payload);

// Recording state after each answer.
constexpr bool RecordingAfterRecOnAck(std::uint32_t status) {
    return status == 49 || status == 51;
}
constexpr bool RecordingAfterRecOffAck(std::uint32_t status) {
    return !(status == 50 || status == 52);
}
// REC_STATUS (256), 16 bytes: word 1 below 6 means recording. nullopt for other lengths.
std::optional<bool> ParseRecStatus(std::span<const std::uint8_t> payload);

// DB_INFO_ACK (113) reassembly: the unit is a big-endian CRC-32, then the database.
class CDatabaseAssembly {
  public:
    enum class Result { Partial, Good, BadCrc, TooLarge };
    // Appends one fragment; on the last one checks the unit and starts over.
    Result Add(std::span<const std::uint8_t> fragment, bool last);
    // The database of the last Good unit (without the CRC).
    [[nodiscard]] const std::vector<std::uint8_t>& Database() const { return m_database; }

  private:
    std::vector<std::uint8_t> m_unit;
    std::vector<std::uint8_t> m_database;
    bool m_overflow = false;
};
// Fragments beyond this total are dropped and the unit is refused.
inline constexpr std::size_t kDatabaseAssemblyLimit = 1u << 20;

// The DB_UPDATE_REQ payload: the CRC-32 of the database, big-endian, then the database,
// cut so the whole fits one message.
std::vector<std::uint8_t> BuildDatabaseUpdate(std::span<const std::uint8_t> database);

}  // namespace taviro::protocol
