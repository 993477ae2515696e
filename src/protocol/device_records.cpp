#include "protocol/device_records.h"

#include <algorithm>
#include <cctype>

#include "protocol/byte_order.h"
#include "protocol/crc32.h"

namespace taviro::protocol {

namespace {

constexpr std::size_t kDbCovertOffset = 4;
constexpr std::size_t kDbTitlesOffset = 20;
constexpr std::size_t kDbArchivePassOffset = 532;
constexpr std::size_t kDbValuesOffset = 540;

std::optional<RightsRecord> ParseRights(std::span<const std::uint8_t> payload, std::size_t expected,
                                        std::size_t slots, std::size_t firstClientSlot,
                                        std::size_t kept, std::size_t match) {
    if (payload.size() != expected) {
        return std::nullopt;
    }
    RightsRecord r;
    r.recordSlots = slots;
    r.firstClientSlot = firstClientSlot;
    r.keptSlots = kept;
    r.matchSlots = match;
    CByteReader reader(payload);
    for (auto& row : r.rows) {
        reader.Bytes(std::span(row).first(slots));
    }
    for (std::size_t i = 0; i < slots; ++i) {
        reader.Bytes(r.names[i]);
    }
    for (std::size_t i = 0; i < slots; ++i) {
        reader.Bytes(r.passwords[i]);
    }
    if (!reader.Ok() || reader.Remaining() != 0) {
        return std::nullopt;
    }
    return r;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::string FieldText(std::span<const std::uint8_t> field) {
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

std::optional<DbChange> ParseDbChange(std::span<const std::uint8_t> payload) {
    if (payload.size() != kDbChangeSize) {
        return std::nullopt;
    }
    DbChange d;
    d.number = LoadBE32(payload.data());
    std::copy_n(payload.begin() + kDbCovertOffset, kMaxChannels, d.covert.begin());
    for (std::size_t n = 0; n < kMaxChannels; ++n) {
        std::copy_n(
            payload.begin() + static_cast<std::ptrdiff_t>(kDbTitlesOffset + n * kTitleWidth),
            kTitleWidth, d.titles[n].begin());
    }
    std::copy_n(payload.begin() + kDbArchivePassOffset, d.archivePass.size(),
                d.archivePass.begin());
    d.values[0] = LoadBE32(payload.data() + kDbValuesOffset);
    d.values[1] = LoadBE32(payload.data() + kDbValuesOffset + 4);
    return d;
}

std::optional<RightsRecord> ParseRightChange(std::span<const std::uint8_t> payload) {
    return ParseRights(payload, kRightChangeSize, 8, 0, 6, 8);
}

std::optional<RightsRecord> ParseRightChange2(std::span<const std::uint8_t> payload) {
    return ParseRights(payload, kRightChange2Size, 50, 6, 21, 21);
}

std::optional<std::size_t> MatchUser(const RightsRecord& record, std::string_view userId) {
    const std::string wanted = Lower(userId);
    const std::size_t n = std::min(record.matchSlots, record.recordSlots);
    for (std::size_t slot = 0; slot < n; ++slot) {
        if (Lower(FieldText(record.names[slot])) == wanted) {
            return slot;
        }
    }
    return std::nullopt;
}

std::optional<DstInfo> ParseDstInfo(std::span<const std::uint8_t> payload) {
    if (payload.size() != kDstInfoSize) {
        return std::nullopt;
    }
    DstInfo d;
    std::copy(payload.begin(), payload.end(), d.raw.begin());
    d.firstWord = LoadBE32(payload.data());
    return d;
}

std::uint8_t LivePermissionAt(const LivePermission& permission, std::size_t slot, int channel) {
    if (channel < 0 || channel >= kMaxChannels) {
        return 0;
    }
    const std::size_t index = slot * kMaxChannels + static_cast<std::size_t>(channel);
    return index < permission.size() ? permission[index] : 0;
}

ChannelMask ComputeHidden(const std::array<std::uint8_t, kMaxChannels>& covert,
                          const LivePermission& permission, std::size_t userSlot, int channelCount,
                          bool covertVisible) {
    ChannelMask hidden = 0;
    const int count = std::clamp(channelCount, 0, kMaxChannels);
    for (int n = 0; n < count; ++n) {
        const bool noLive = LivePermissionAt(permission, userSlot, n) == 0;
        const bool isCovert = covert[static_cast<std::size_t>(n)] == 1;
        if (noLive || (!covertVisible && isCovert)) {
            hidden |= ChannelBit(n);
        }
    }
    return hidden;
}

LiveChannelState ApplyLiveChannelInfo(std::uint32_t word, ChannelMask hidden,
                                      ChannelMask existingSlots) {
    LiveChannelState s;
    s.available = word & kAllChannels & ~hidden;
    s.videoLoss = static_cast<std::uint16_t>((word >> 16) & existingSlots & kAllChannels);
    return s;
}

std::optional<std::uint32_t> ParseLeadingWord(std::span<const std::uint8_t> payload) {
    if (payload.size() < 4) {
        return std::nullopt;
    }
    return LoadBE32(payload.data());
}

std::optional<bool> ParseRecStatus(std::span<const std::uint8_t> payload) {
    if (payload.size() != kRecStatusSize) {
        return std::nullopt;
    }
    return LoadBE32(payload.data() + 4) < 6;
}

CDatabaseAssembly::Result CDatabaseAssembly::Add(std::span<const std::uint8_t> fragment,
                                                 bool last) {
    if (m_unit.size() + fragment.size() > kDatabaseAssemblyLimit) {
        m_overflow = true;
    } else if (!m_overflow) {
        m_unit.insert(m_unit.end(), fragment.begin(), fragment.end());
    }
    if (!last) {
        return Result::Partial;
    }
    Result result = Result::BadCrc;
    if (m_overflow) {
        result = Result::TooLarge;
    } else if (m_unit.size() >= 4) {
        const auto body = std::span<const std::uint8_t>(m_unit).subspan(4);
        if (Crc32(body) == LoadBE32(m_unit.data())) {
            m_database.assign(body.begin(), body.end());
            result = Result::Good;
        }
    }
    m_unit.clear();
    m_overflow = false;
    return result;
}

std::vector<std::uint8_t> BuildDatabaseUpdate(std::span<const std::uint8_t> database) {
    const auto body = database.first(std::min(database.size(), kDatabaseUnitLimit - 4));
    std::vector<std::uint8_t> out(4 + body.size());
    std::copy(body.begin(), body.end(), out.begin() + 4);
    StoreBE32(out.data(), Crc32(body));
    return out;
}

}  // namespace taviro::protocol
