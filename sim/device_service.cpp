#include "sim/device_service.h"

#include <algorithm>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "protocol/device_records.h"
#include "sim/connection.h"
#include "sim/login_service.h"

namespace taviro::sim {

namespace msg = protocol::msg;
using Bytes = std::vector<std::uint8_t>;

namespace {

// DB_INFO_ACK goes out in pieces of this size, the last one flagged.
constexpr std::size_t kDatabasePiece = 32'000;

void PutText(Bytes& out, std::size_t offset, std::string_view text, std::size_t width) {
    const std::size_t n = std::min(text.size(), width);
    std::copy_n(text.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(offset));
}

Bytes Reason(std::int32_t reason) {
    Bytes b(4);
    protocol::StoreBE32(b.data(), static_cast<std::uint32_t>(reason));
    return b;
}

Bytes Word(std::uint32_t value) {
    Bytes b(4);
    protocol::StoreBE32(b.data(), value);
    return b;
}

// A deterministic filler, so tests can recompute what was sent.
Bytes Filler(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    return b;
}

}  // namespace

Bytes BuildDbChangeRecord(const SimConfig& config) {
    Bytes p(protocol::kDbChangeSize, 0);
    protocol::StoreBE32(p.data(), 1);
    for (std::size_t n = 0; n < 16; ++n) {
        p[4 + n] = (config.covert >> n) & 1u ? 1 : 0;
        if (n < config.titles.size()) {
            PutText(p, 20 + 32 * n, config.titles[n], 32);
        }
    }
    const auto users = EffectiveUsers(config);
    PutText(p, 532, users.front().password, 8);
    return p;
}

Bytes BuildRightsRecord(const SimConfig& config, bool second) {
    const std::size_t slots = second ? 50 : 8;
    const std::size_t firstUser = second ? kRightChangeSlots : 0;
    Bytes p(second ? protocol::kRightChange2Size : protocol::kRightChangeSize, 0);
    const auto users = EffectiveUsers(config);
    for (std::size_t slot = 0; slot < slots && firstUser + slot < users.size(); ++slot) {
        const SimUser& user = users[firstUser + slot];
        for (std::size_t row = 0; row < kRightRows; ++row) {
            p[row * slots + slot] = user.rights[row];
        }
        PutText(p, kRightRows * slots + slot * 32, user.name, 32);
        PutText(p, kRightRows * slots + slots * 32 + slot * 32, user.password, 32);
    }
    return p;
}

Bytes BuildLivePermissionRecord(const SimConfig& config) {
    Bytes p(protocol::kLivePermissionSize, 1);
    for (const auto& [slot, mask] : config.live_masks) {
        for (std::size_t n = 0; n < 16 && slot < kLivePermissionSlots; ++n) {
            p[slot * 16 + n] = (mask >> n) & 1u ? 1 : 0;
        }
    }
    return p;
}

Bytes BuildCamInfoRecord(const SimConfig& config) {
    Bytes p(protocol::kCamInfoSize, 0);
    for (std::size_t n = 0; n < 16; ++n) {
        p[n] = (config.cam_info >> n) & 1u ? 1 : 0;
    }
    return p;
}

Bytes BuildDatabaseUnit(const SimConfig& config) {
    const Bytes database = Filler(std::min(config.database_size, kMaxDatabaseSize), 3);
    std::uint32_t crc = protocol::Crc32(database);
    if (config.database_bad_crc) {
        crc ^= 0x00010000u;
    }
    Bytes unit = Word(crc);
    unit.insert(unit.end(), database.begin(), database.end());
    return unit;
}

CDeviceService::CDeviceService(const SimConfig& config)
    : m_config(config), m_recording(config.rec_status.value_or(6) < 6) {}

bool CDeviceService::Handles(std::uint16_t code) const {
    return code == msg::REC_ON_REQ || code == msg::REC_OFF_REQ || code == msg::DB_UPDATE_REQ ||
           code == msg::DB_INIT_REQ || code == msg::REBOOT_REQ;
}

void CDeviceService::Answer(CSimConnection& connection, const std::optional<std::int32_t>& reason,
                            std::uint16_t ack, std::uint16_t nack,
                            std::span<const std::uint8_t> ackPayload) {
    if (reason) {
        connection.Send(nack, Reason(*reason));
    } else {
        connection.Send(ack, ackPayload);
    }
}

void CDeviceService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                               std::span<const std::uint8_t> payload) {
    switch (header.Command()) {
        case msg::REC_ON_REQ:
            if (!m_config.rec_on_reason) {
                m_recording = true;
            }
            Answer(connection, m_config.rec_on_reason, msg::REC_ON_ACK, msg::REC_ON_NACK, Word(49));
            break;
        case msg::REC_OFF_REQ:
            if (!m_config.rec_off_reason) {
                m_recording = false;
            }
            Answer(connection, m_config.rec_off_reason, msg::REC_OFF_ACK, msg::REC_OFF_NACK,
                   Word(50));
            break;
        case msg::DB_UPDATE_REQ: {
            // A database whose CRC does not match is refused with the general reason.
            const bool intact = payload.size() >= 4 && protocol::Crc32(payload.subspan(4)) ==
                                                           protocol::LoadBE32(payload.data());
            const auto reason = m_config.db_update_reason
                                    ? m_config.db_update_reason
                                    : (intact ? std::nullopt : std::optional<std::int32_t>(1));
            connection.Journal().Event("db-update", intact ? "crc ok" : "crc wrong");
            Answer(connection, reason, msg::DB_UPDATE_ACK, msg::DB_UPDATE_NACK);
            break;
        }
        case msg::DB_INIT_REQ:
            Answer(connection, m_config.db_init_reason, msg::DB_INIT_ACK, msg::DB_INIT_NACK);
            break;
        case msg::REBOOT_REQ:
            Answer(connection, m_config.reboot_reason, msg::REBOOT_ACK, msg::REBOOT_NACK);
            if (!m_config.reboot_reason) {
                connection.CloseAfter(kByeClosePause, "reboot");
            }
            break;
        default:
            break;
    }
}

void CDeviceService::OnLogin(CSimConnection& connection) {
    if (!m_config.push_records) {
        return;
    }
    if (m_config.send_right_change) {
        connection.Send(msg::RIGHT_CHANGE, BuildRightsRecord(m_config, false));
    }
    if (m_config.send_right_change2) {
        connection.Send(msg::RIGHT_CHANGE2, BuildRightsRecord(m_config, true));
    }
    connection.Send(msg::NETLIVE_CH_CHANGE, BuildLivePermissionRecord(m_config));
    connection.Send(msg::DB_CHANGE, BuildDbChangeRecord(m_config));
    connection.Send(msg::CAM_INFO_CHANGE, BuildCamInfoRecord(m_config));
    connection.Send(msg::SYS_ETC_INFO, Filler(protocol::kSysEtcInfoSize, 1));
    connection.Send(msg::SYS_ETC_INFO_EX, Filler(protocol::kSysEtcInfoExSize, 2));
    connection.Send(msg::DST_INFO, Bytes(protocol::kDstInfoSize, 0));
    if (m_config.rec_status) {
        Bytes status(protocol::kRecStatusSize, 0);
        protocol::StoreBE32(status.data() + 4, *m_config.rec_status);
        connection.Send(msg::REC_STATUS, status);
    }
    if (m_config.database_size > 0) {
        const Bytes unit = BuildDatabaseUnit(m_config);
        const std::span<const std::uint8_t> all(unit);
        for (std::size_t at = 0; at < all.size(); at += kDatabasePiece) {
            const std::size_t n = std::min(kDatabasePiece, all.size() - at);
            connection.Send(msg::DB_INFO_ACK, all.subspan(at, n), at + n == all.size());
        }
    }
}

}  // namespace taviro::sim
