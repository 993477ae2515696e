// Every message code the client sends or handles, in one table that the receive dispatch
// and the traces share. Codes are per direction: 102 is TRANS_ON_NACK from the recorder
// but TRANS_OFF_REQ from the client, and 4 is the goodbye both ways.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace taviro::protocol {

namespace msg {
// Client to recorder.
inline constexpr std::uint16_t HELLO = 1;
inline constexpr std::uint16_t BYE = 4;
inline constexpr std::uint16_t LIVE_REQ = 16;
inline constexpr std::uint16_t LIVE_STOP = 20;
inline constexpr std::uint16_t AUDIO_ONOFF_REQ = 23;
inline constexpr std::uint16_t REC_ON_REQ = 32;
inline constexpr std::uint16_t REC_OFF_REQ = 35;
inline constexpr std::uint16_t PLAY_PREV_STEP = 42;
inline constexpr std::uint16_t PLAY_BACKWARD = 43;
inline constexpr std::uint16_t PLAY_FORWARD = 44;
inline constexpr std::uint16_t PLAY_PAUSE = 45;
inline constexpr std::uint16_t PLAY_NEXT_STEP = 46;
inline constexpr std::uint16_t PLAY_ON_REQ = 51;
inline constexpr std::uint16_t RPLAY_STOP = 55;
inline constexpr std::uint16_t PLAY_STEP_DATA = 61;
inline constexpr std::uint16_t PLAY_CH_CHANGE = 62;
inline constexpr std::uint16_t PLAY_VIEW_CH = 80;
inline constexpr std::uint16_t TRANS_ON_REQ = 99;
inline constexpr std::uint16_t TRANS_OFF_REQ = 102;
inline constexpr std::uint16_t DB_UPDATE_REQ = 115;
inline constexpr std::uint16_t FW_UPDATE_REQ = 144;
inline constexpr std::uint16_t FW_DATA = 146;
inline constexpr std::uint16_t PLAY_INFO_MONTH_REQ = 260;
inline constexpr std::uint16_t PLAY_INFO_DAY_REQ = 263;
inline constexpr std::uint16_t A_LISTEN_REQ = 272;
inline constexpr std::uint16_t A_LISTEN_DATA = 275;
inline constexpr std::uint16_t A_LISTEN_STOP_REQ = 276;
inline constexpr std::uint16_t PTZ_CHANNEL_REQ = 282;
inline constexpr std::uint16_t PTZ_MOVE_REQ = 284;
inline constexpr std::uint16_t PTZ_MOVE_STOP = 285;
inline constexpr std::uint16_t TRANS_INFO_MONTH_REQ = 288;
inline constexpr std::uint16_t TRANS_INFO_DAY_REQ = 291;
inline constexpr std::uint16_t TRANS_DATA_REQ = 294;
inline constexpr std::uint16_t CAPA_CAL_CANCEL = 299;
inline constexpr std::uint16_t LOG_INFO_REQ = 320;
inline constexpr std::uint16_t SYSTEM_INFO_REQ = 323;
inline constexpr std::uint16_t STATUS_INFO_REQ = 326;
inline constexpr std::uint16_t EVENT_INFO_REQ = 332;
inline constexpr std::uint16_t DB_INIT_REQ = 336;
inline constexpr std::uint16_t REBOOT_REQ = 342;
inline constexpr std::uint16_t KEEP_ALIVE = 511;

// Recorder to client.
inline constexpr std::uint16_t BYE48 = 4;
inline constexpr std::uint16_t HELLO48_ACK = 5;
inline constexpr std::uint16_t LIVE_CHANNEL_INFO = 17;
inline constexpr std::uint16_t LIVE_DATA = 18;
inline constexpr std::uint16_t LIVE_NACK = 19;
inline constexpr std::uint16_t LIVE_STOP_ACK = 21;
inline constexpr std::uint16_t LIVE_STOP_NACK = 22;
inline constexpr std::uint16_t SYS_ETC_INFO_EX = 24;
inline constexpr std::uint16_t REC_ON_ACK = 33;
inline constexpr std::uint16_t REC_ON_NACK = 34;
inline constexpr std::uint16_t REC_OFF_ACK = 36;
inline constexpr std::uint16_t REC_OFF_NACK = 37;
inline constexpr std::uint16_t PLAY_CHANNEL_INFO = 52;
inline constexpr std::uint16_t PLAY_ON_ACK = 53;
inline constexpr std::uint16_t PLAY_ON_NACK = 54;
inline constexpr std::uint16_t PLAY_OFF_ACK = 56;
inline constexpr std::uint16_t PLAY_OFF_NACK = 57;
inline constexpr std::uint16_t PLAY_DATA_FINISH = 63;
inline constexpr std::uint16_t TRANS_ON_ACK = 101;
inline constexpr std::uint16_t TRANS_ON_NACK = 102;
inline constexpr std::uint16_t TRANS_OFF_ACK = 104;
inline constexpr std::uint16_t TRANS_OFF_NACK = 105;
inline constexpr std::uint16_t DB_INFO_ACK = 113;
inline constexpr std::uint16_t DB48_INFO_NACK = 114;
inline constexpr std::uint16_t DB_UPDATE_ACK = 116;
inline constexpr std::uint16_t DB_UPDATE_NACK = 117;
inline constexpr std::uint16_t DST_INFO = 125;
inline constexpr std::uint16_t DVR_TIME_ACK = 127;
inline constexpr std::uint16_t FW_UPDATE_ACK = 145;
inline constexpr std::uint16_t NETLIVE_CH_CHANGE = 153;
inline constexpr std::uint16_t REC_STATUS = 256;
inline constexpr std::uint16_t SYS_NOTICE = 257;
inline constexpr std::uint16_t DB_CHANGE = 258;
inline constexpr std::uint16_t SYS_ETC_INFO = 259;
inline constexpr std::uint16_t PLAY_INFO_MONTH_ACK = 261;
inline constexpr std::uint16_t PLAY_INFO_MONTH_NACK = 262;
inline constexpr std::uint16_t PLAY_INFO_DAY_ACK = 264;
inline constexpr std::uint16_t PLAY_INFO_DAY_NACK = 265;
inline constexpr std::uint16_t PLAY_DATA = 266;
inline constexpr std::uint16_t PLAY_ON_FAIL = 267;
inline constexpr std::uint16_t PLAY_ON_DONE = 268;
inline constexpr std::uint16_t RIGHT_CHANGE = 270;
inline constexpr std::uint16_t RIGHT_CHANGE2 = 271;
inline constexpr std::uint16_t A_LISTEN_ACK = 273;
inline constexpr std::uint16_t A_LISTEN_NACK = 274;
inline constexpr std::uint16_t A_LISTEN_STOP_ACK = 277;
inline constexpr std::uint16_t PTZ_CHANNEL_ACK = 283;
inline constexpr std::uint16_t TRANS_INFO_MONTH_ACK = 289;
inline constexpr std::uint16_t TRANS_INFO_MONTH_NACK = 290;
inline constexpr std::uint16_t TRANS_INFO_DAY_ACK = 292;
inline constexpr std::uint16_t TRANS_INFO_DAY_NACK = 293;
inline constexpr std::uint16_t TRANS_ON_DATA = 295;
inline constexpr std::uint16_t TRANS_ON_DONE = 297;
inline constexpr std::uint16_t TRANS_ON_FAIL = 298;
inline constexpr std::uint16_t FW_UPDATE_NACK = 304;
inline constexpr std::uint16_t FW_DATA_RX_DONE = 305;
inline constexpr std::uint16_t FW_DATA_RX_FAIL = 306;
inline constexpr std::uint16_t FW_UPDATE_DONE = 307;
inline constexpr std::uint16_t FW_UPDATE_FAIL = 308;
inline constexpr std::uint16_t LOG_INFO_ACK = 321;
inline constexpr std::uint16_t LOG_INFO_NACK = 322;
inline constexpr std::uint16_t SYSTEM_INFO_ACK = 324;
inline constexpr std::uint16_t SYSTEM_INFO_NACK = 325;
inline constexpr std::uint16_t STATUS_INFO_ACK = 327;
inline constexpr std::uint16_t STATUS_INFO_NACK = 328;
inline constexpr std::uint16_t EVENT_INFO_ACK = 330;
inline constexpr std::uint16_t EVENT_INFO_NACK = 331;
inline constexpr std::uint16_t EVENT_INFO_ACK_BYPG = 333;
inline constexpr std::uint16_t EVENT_INFO_NACK_BYPG = 334;
inline constexpr std::uint16_t DB_INIT_ACK = 337;
inline constexpr std::uint16_t DB_INIT_NACK = 338;
inline constexpr std::uint16_t SEND_TEST_MAIL_ACK = 340;
inline constexpr std::uint16_t SEND_TEST_MAIL_NACK = 341;
inline constexpr std::uint16_t REBOOT_ACK = 343;
inline constexpr std::uint16_t REBOOT_NACK = 344;
inline constexpr std::uint16_t POWEROFF_ACK = 346;
inline constexpr std::uint16_t POWEROFF_NACK = 347;
inline constexpr std::uint16_t CAM_INFO_CHANGE = 352;
}  // namespace msg

enum class Direction : std::uint8_t { ClientToRecorder, RecorderToClient };

// What a message's payload is, as far as framing is concerned.
enum class PayloadRule : std::uint8_t {
    Fixed,       // exactly `length` bytes (0 for plain requests)
    NoPayload,   // an acknowledgement with nothing after the header
    Reason,      // a refusal: 4-byte signed big-endian reason
    ReasonOr12,  // a refusal that may carry two more 32-bit values (12 bytes)
    Record,      // a fixed record whose size its service defines
    Fragmented,  // pieces of a larger unit, the last flagged lastFragment
    Variable,    // size depends on the request (see the service)
    NeverSent,   // known code this client never sends
};

struct MessageInfo {
    std::uint16_t code;
    std::string_view name;
    Direction direction;
    PayloadRule rule;
    std::uint16_t length;  // for Fixed: the payload size; otherwise 0
};

// All rows, both directions, ordered by code then direction.
std::span<const MessageInfo> MessageCatalogue();
// The row for a code in a direction, or nullptr.
const MessageInfo* FindMessage(std::uint16_t code, Direction direction);
// The name for traces; "UNKNOWN" for codes outside the table.
std::string_view MessageName(std::uint16_t code, Direction direction);

}  // namespace taviro::protocol
