#include "protocol/refusals.h"

#include <array>

#include "protocol/catalogue.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {

namespace {

using platform::Window;

constexpr ReasonRule N(std::int32_t reason, int category, int code) {
    return ReasonRule{reason, Notification{category, code}, 0, Window::Main};
}

constexpr ReasonRule kLive[] = {N(1, 5, 0)};
constexpr ReasonRule kRecord[] = {N(1, 5, 0), N(65, 5, 1), N(66, 5, 2)};
constexpr ReasonRule kPlayMonth[] = {
    N(1, 6, 0), N(53, 6, 4), ReasonRule{83, {}, protocol::WM_PLAY_MONTH_READY, Window::Search},
    N(86, 6, 3), N(98, 6, 6)};
constexpr ReasonRule kTransMonth[] = {
    N(1, 6, 0), N(53, 6, 4), ReasonRule{83, {}, protocol::WM_BACKUP_MONTH_READY, Window::Backup},
    N(86, 6, 3), N(98, 6, 6)};
constexpr ReasonRule kPlayDay[] = {N(1, 6, 0), N(53, 6, 4), N(83, 4, 0), N(98, 6, 6)};
constexpr ReasonRule kTransFail[] = {N(1, 6, 0), N(53, 6, 4), N(83, 4, 0), N(86, 6, 3),
                                     N(98, 6, 6)};
constexpr ReasonRule kTransOnNack[] = {N(1, 6, 0),  N(53, 6, 4), N(83, 4, 0),
                                       N(86, 6, 3), N(98, 6, 6), N(87, 6, 5)};
constexpr ReasonRule kOff[] = {N(1, 6, 0), N(2, 6, 1)};
constexpr ReasonRule kDbInfo[] = {N(1, 6, 0), N(2, 6, 1), N(83, 4, 0), N(86, 6, 3)};
constexpr ReasonRule kDbUpdate[] = {N(1, 7, 0), N(81, 7, 1), N(51, 7, 2), N(97, 7, 3)};
constexpr ReasonRule kDbInit[] = {N(1, 6, 0), N(2, 6, 1), N(98, 6, 6), N(97, 6, 7)};
constexpr ReasonRule kTestMail[] = {N(1, 6, 0)};
constexpr ReasonRule kInfo[] = {N(1, 6, 0), N(83, 4, 0), N(86, 6, 3)};
constexpr ReasonRule kListen[] = {N(1, 6, 0),   N(2, 6, 1),   N(53, 6, 4),
                                  N(54, 12, 0), N(55, 12, 1), N(98, 6, 6)};

constexpr RefusalRule kRefusals[] = {
    {msg::LIVE_NACK, kLive},
    {msg::LIVE_STOP_NACK, kLive},
    {msg::REC_ON_NACK, kRecord},
    {msg::REC_OFF_NACK, kRecord},
    {msg::PLAY_INFO_MONTH_NACK, kPlayMonth},
    {msg::TRANS_INFO_MONTH_NACK, kTransMonth},
    {msg::PLAY_INFO_DAY_NACK, kPlayDay},
    {msg::PLAY_ON_NACK, kPlayDay},
    {msg::EVENT_INFO_NACK, kPlayDay, Window::Search},
    {msg::EVENT_INFO_NACK_BYPG, kPlayDay, Window::Search},
    {msg::TRANS_INFO_DAY_NACK, kTransFail},
    {msg::PLAY_ON_FAIL, kTransFail},
    {msg::TRANS_ON_FAIL, kTransFail},
    {msg::TRANS_ON_NACK, kTransOnNack, Window::Main, true},
    {msg::PLAY_OFF_NACK, kOff},
    {msg::TRANS_OFF_NACK, kOff},
    {msg::REBOOT_NACK, kOff},
    {msg::POWEROFF_NACK, kOff},
    {msg::DB48_INFO_NACK, kDbInfo},
    {msg::DB_UPDATE_NACK, kDbUpdate},
    {msg::DB_INIT_NACK, kDbInit},
    {msg::SEND_TEST_MAIL_NACK, kTestMail},
    {msg::LOG_INFO_NACK, kInfo},
    {msg::SYSTEM_INFO_NACK, kInfo},
    {msg::STATUS_INFO_NACK, kInfo},
    {msg::A_LISTEN_NACK, kListen},
};

struct ByeRow {
    std::int32_t reason;
    Notification notification;
};
constexpr ByeRow kBye[] = {{1, {3, 0}},  {2, {3, 1}},  {3, {3, 2}},   {33, {3, 3}}, {34, {3, 4}},
                           {35, {3, 5}}, {36, {3, 6}}, {37, {15, 0}}, {-2, {3, 7}}};

}  // namespace

const RefusalRule* FindRefusal(std::uint16_t code) {
    for (const auto& rule : kRefusals) {
        if (rule.code == code) {
            return &rule;
        }
    }
    return nullptr;
}

const ReasonRule* MapRefusal(std::uint16_t code, std::int32_t reason) {
    const RefusalRule* rule = FindRefusal(code);
    if (rule == nullptr) {
        return nullptr;
    }
    for (const auto& r : rule->reasons) {
        if (r.reason == reason) {
            return &r;
        }
    }
    return nullptr;
}

std::optional<Notification> ByeNotification(std::int32_t reason) {
    for (const auto& row : kBye) {
        if (row.reason == reason) {
            return row.notification;
        }
    }
    return std::nullopt;
}

}  // namespace taviro::protocol
