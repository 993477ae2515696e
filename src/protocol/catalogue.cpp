#include "protocol/catalogue.h"

#include <algorithm>
#include <array>

namespace taviro::protocol {

namespace {

constexpr Direction C2R = Direction::ClientToRecorder;
constexpr Direction R2C = Direction::RecorderToClient;
using R = PayloadRule;

constexpr MessageInfo kCatalogue[] = {
    {1, "HELLO", C2R, R::Fixed, 32},
    {4, "BYE", C2R, R::Fixed, 0},
    {4, "BYE48", R2C, R::Reason, 4},
    {5, "HELLO48_ACK", R2C, R::Record, 768},
    {16, "LIVE_REQ", C2R, R::Fixed, 4},
    {17, "LIVE_CHANNEL_INFO", R2C, R::Record, 4},
    {18, "LIVE_DATA", R2C, R::Fragmented, 0},
    {19, "LIVE_NACK", R2C, R::Reason, 4},
    {20, "LIVE_STOP", C2R, R::Fixed, 0},
    {21, "LIVE_STOP_ACK", R2C, R::NoPayload, 0},
    {22, "LIVE_STOP_NACK", R2C, R::Reason, 4},
    {23, "AUDIO_ONOFF_REQ", C2R, R::Fixed, 0},
    {24, "SYS_ETC_INFO_EX", R2C, R::Record, 0},
    {32, "REC_ON_REQ", C2R, R::Fixed, 0},
    {33, "REC_ON_ACK", R2C, R::Record, 4},
    {34, "REC_ON_NACK", R2C, R::Reason, 4},
    {35, "REC_OFF_REQ", C2R, R::Fixed, 0},
    {36, "REC_OFF_ACK", R2C, R::Record, 4},
    {37, "REC_OFF_NACK", R2C, R::Reason, 4},
    {42, "PLAY_PREV_STEP", C2R, R::Fixed, 0},
    {43, "PLAY_BACKWARD", C2R, R::Variable, 0},
    {44, "PLAY_FORWARD", C2R, R::Variable, 0},
    {45, "PLAY_PAUSE", C2R, R::Fixed, 0},
    {46, "PLAY_NEXT_STEP", C2R, R::Fixed, 0},
    {51, "PLAY_ON_REQ", C2R, R::Fixed, 24},
    {52, "PLAY_CHANNEL_INFO", R2C, R::Variable, 0},
    {53, "PLAY_ON_ACK", R2C, R::Variable, 0},
    {54, "PLAY_ON_NACK", R2C, R::Reason, 4},
    {55, "RPLAY_STOP", C2R, R::Fixed, 0},
    {56, "PLAY_OFF_ACK", R2C, R::NoPayload, 0},
    {57, "PLAY_OFF_NACK", R2C, R::Reason, 4},
    {61, "PLAY_STEP_DATA", C2R, R::Fixed, 4},
    {62, "PLAY_CH_CHANGE", C2R, R::Fixed, 4},
    {63, "PLAY_DATA_FINISH", R2C, R::Variable, 0},
    {80, "PLAY_VIEW_CH", C2R, R::Fixed, 4},
    {99, "TRANS_ON_REQ", C2R, R::Fixed, 24},
    {101, "TRANS_ON_ACK", R2C, R::Variable, 0},
    {102, "TRANS_OFF_REQ", C2R, R::Fixed, 0},
    {102, "TRANS_ON_NACK", R2C, R::ReasonOr12, 4},
    {104, "TRANS_OFF_ACK", R2C, R::NoPayload, 0},
    {105, "TRANS_OFF_NACK", R2C, R::Reason, 4},
    {113, "DB_INFO_ACK", R2C, R::Record, 0},
    {114, "DB48_INFO_NACK", R2C, R::Reason, 4},
    {115, "DB_UPDATE_REQ", C2R, R::Record, 0},
    {116, "DB_UPDATE_ACK", R2C, R::NoPayload, 0},
    {117, "DB_UPDATE_NACK", R2C, R::Reason, 4},
    {125, "DST_INFO", R2C, R::Record, 0},
    {127, "DVR_TIME_ACK", R2C, R::Record, 0},
    {144, "FW_UPDATE_REQ", C2R, R::Fixed, 56},
    {145, "FW_UPDATE_ACK", R2C, R::NoPayload, 0},
    {146, "FW_DATA", C2R, R::Fragmented, 0},
    {153, "NETLIVE_CH_CHANGE", R2C, R::Record, 0},
    {256, "REC_STATUS", R2C, R::Record, 16},
    {257, "SYS_NOTICE", R2C, R::Record, 12},
    {258, "DB_CHANGE", R2C, R::Record, 0},
    {259, "SYS_ETC_INFO", R2C, R::Record, 0},
    {260, "PLAY_INFO_MONTH_REQ", C2R, R::Fixed, 0},
    {261, "PLAY_INFO_MONTH_ACK", R2C, R::Fragmented, 0},
    {262, "PLAY_INFO_MONTH_NACK", R2C, R::Reason, 4},
    {263, "PLAY_INFO_DAY_REQ", C2R, R::Fixed, 8},
    {264, "PLAY_INFO_DAY_ACK", R2C, R::Fragmented, 0},
    {265, "PLAY_INFO_DAY_NACK", R2C, R::Reason, 4},
    {266, "PLAY_DATA", R2C, R::Fragmented, 0},
    {267, "PLAY_ON_FAIL", R2C, R::Reason, 4},
    {268, "PLAY_ON_DONE", R2C, R::NoPayload, 0},
    {270, "RIGHT_CHANGE", R2C, R::Record, 0},
    {271, "RIGHT_CHANGE2", R2C, R::Record, 0},
    {272, "A_LISTEN_REQ", C2R, R::Fixed, 0},
    {273, "A_LISTEN_ACK", R2C, R::NoPayload, 0},
    {274, "A_LISTEN_NACK", R2C, R::Reason, 4},
    {275, "A_LISTEN_DATA", C2R, R::Variable, 0},
    {276, "A_LISTEN_STOP_REQ", C2R, R::Fixed, 0},
    {277, "A_LISTEN_STOP_ACK", R2C, R::NoPayload, 0},
    {282, "PTZ_CHANNEL_REQ", C2R, R::Variable, 0},
    {283, "PTZ_CHANNEL_ACK", R2C, R::Variable, 0},
    {284, "PTZ_MOVE_REQ", C2R, R::Fixed, 4},
    {285, "PTZ_MOVE_STOP", C2R, R::Variable, 0},
    {288, "TRANS_INFO_MONTH_REQ", C2R, R::Variable, 0},
    {289, "TRANS_INFO_MONTH_ACK", R2C, R::Fragmented, 0},
    {290, "TRANS_INFO_MONTH_NACK", R2C, R::Reason, 4},
    {291, "TRANS_INFO_DAY_REQ", C2R, R::Fixed, 8},
    {292, "TRANS_INFO_DAY_ACK", R2C, R::Fragmented, 0},
    {293, "TRANS_INFO_DAY_NACK", R2C, R::Reason, 4},
    {294, "TRANS_DATA_REQ", C2R, R::Fixed, 24},
    {295, "TRANS_ON_DATA", R2C, R::Fragmented, 0},
    {297, "TRANS_ON_DONE", R2C, R::NoPayload, 0},
    {298, "TRANS_ON_FAIL", R2C, R::Reason, 4},
    {299, "CAPA_CAL_CANCEL", C2R, R::Fixed, 0},
    {304, "FW_UPDATE_NACK", R2C, R::Reason, 4},
    {305, "FW_DATA_RX_DONE", R2C, R::NoPayload, 0},
    {306, "FW_DATA_RX_FAIL", R2C, R::Reason, 4},
    {307, "FW_UPDATE_DONE", R2C, R::NoPayload, 0},
    {308, "FW_UPDATE_FAIL", R2C, R::Reason, 4},
    {320, "LOG_INFO_REQ", C2R, R::Fixed, 0},
    {321, "LOG_INFO_ACK", R2C, R::Fragmented, 0},
    {322, "LOG_INFO_NACK", R2C, R::Reason, 4},
    {323, "SYSTEM_INFO_REQ", C2R, R::NeverSent, 0},
    {324, "SYSTEM_INFO_ACK", R2C, R::Fragmented, 0},
    {325, "SYSTEM_INFO_NACK", R2C, R::Reason, 4},
    {326, "STATUS_INFO_REQ", C2R, R::Variable, 0},
    {327, "STATUS_INFO_ACK", R2C, R::Fragmented, 0},
    {328, "STATUS_INFO_NACK", R2C, R::Reason, 4},
    {330, "EVENT_INFO_ACK", R2C, R::Fragmented, 0},
    {331, "EVENT_INFO_NACK", R2C, R::Reason, 4},
    {332, "EVENT_INFO_REQ", C2R, R::Fixed, 8},
    {333, "EVENT_INFO_ACK_BYPG", R2C, R::Fragmented, 0},
    {334, "EVENT_INFO_NACK_BYPG", R2C, R::Reason, 4},
    {336, "DB_INIT_REQ", C2R, R::Fixed, 0},
    {337, "DB_INIT_ACK", R2C, R::NoPayload, 0},
    {338, "DB_INIT_NACK", R2C, R::Reason, 4},
    {340, "SEND_TEST_MAIL_ACK", R2C, R::NoPayload, 0},
    {341, "SEND_TEST_MAIL_NACK", R2C, R::Reason, 4},
    {342, "REBOOT_REQ", C2R, R::Fixed, 0},
    {343, "REBOOT_ACK", R2C, R::NoPayload, 0},
    {344, "REBOOT_NACK", R2C, R::Reason, 4},
    {346, "POWEROFF_ACK", R2C, R::NoPayload, 0},
    {347, "POWEROFF_NACK", R2C, R::Reason, 4},
    {352, "CAM_INFO_CHANGE", R2C, R::Record, 0},
    {511, "KEEP_ALIVE", C2R, R::Fixed, 0},
};

// Direct lookup per direction, built once from the table above.
struct Index {
    std::array<const MessageInfo*, 512> byCode[2]{};
    Index() {
        for (const auto& row : kCatalogue) {
            byCode[row.direction == C2R ? 0 : 1][row.code] = &row;
        }
    }
};

const Index& TheIndex() {
    static const Index index;
    return index;
}

}  // namespace

std::span<const MessageInfo> MessageCatalogue() {
    return kCatalogue;
}

const MessageInfo* FindMessage(std::uint16_t code, Direction direction) {
    if (code >= 512) {
        return nullptr;
    }
    return TheIndex().byCode[direction == C2R ? 0 : 1][code];
}

std::string_view MessageName(std::uint16_t code, Direction direction) {
    const MessageInfo* row = FindMessage(code, direction);
    return row ? row->name : std::string_view("UNKNOWN");
}

}  // namespace taviro::protocol
