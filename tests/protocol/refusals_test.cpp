// The recorder's refusal reasons and what each one shows the user, checked against the
// refusal table written out here by hand, for every refusal code and a wide spread of
// reasons (listed ones and their neighbours, the -99/-100 read results, extremes).
#include "protocol/refusals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {
namespace {

using platform::Window;

struct Outcome {
    // Either a notification or a window message to another window.
    std::optional<Notification> notification;
    std::uint32_t windowMessage = 0;
    Window window = Window::Main;
};

Outcome N(int category, int code) {
    return Outcome{Notification{category, code}, 0, Window::Main};
}
Outcome W(std::uint32_t message, Window window) {
    return Outcome{std::nullopt, message, window};
}

struct ExpectedRefusal {
    std::uint16_t code;
    const char* name;
    std::map<std::int32_t, Outcome> reasons;
    Window parent = Window::Main;
    bool keepsExtra = false;
};

std::vector<ExpectedRefusal> Table() {
    const std::map<std::int32_t, Outcome> live = {{1, N(5, 0)}};
    const std::map<std::int32_t, Outcome> rec = {{1, N(5, 0)}, {65, N(5, 1)}, {66, N(5, 2)}};
    const std::map<std::int32_t, Outcome> playMonth = {
        {1, N(6, 0)}, {53, N(6, 4)}, {83, W(21044, Window::Search)}, {86, N(6, 3)}, {98, N(6, 6)}};
    const std::map<std::int32_t, Outcome> transMonth = {
        {1, N(6, 0)}, {53, N(6, 4)}, {83, W(21046, Window::Backup)}, {86, N(6, 3)}, {98, N(6, 6)}};
    const std::map<std::int32_t, Outcome> day = {
        {1, N(6, 0)}, {53, N(6, 4)}, {83, N(4, 0)}, {98, N(6, 6)}};
    const std::map<std::int32_t, Outcome> fail = {
        {1, N(6, 0)}, {53, N(6, 4)}, {83, N(4, 0)}, {86, N(6, 3)}, {98, N(6, 6)}};
    std::map<std::int32_t, Outcome> transOn = fail;
    transOn[87] = N(6, 5);
    const std::map<std::int32_t, Outcome> off = {{1, N(6, 0)}, {2, N(6, 1)}};
    const std::map<std::int32_t, Outcome> dbInfo = {
        {1, N(6, 0)}, {2, N(6, 1)}, {83, N(4, 0)}, {86, N(6, 3)}};
    const std::map<std::int32_t, Outcome> dbUpdate = {
        {1, N(7, 0)}, {81, N(7, 1)}, {51, N(7, 2)}, {97, N(7, 3)}};
    const std::map<std::int32_t, Outcome> dbInit = {
        {1, N(6, 0)}, {2, N(6, 1)}, {98, N(6, 6)}, {97, N(6, 7)}};
    const std::map<std::int32_t, Outcome> mail = {{1, N(6, 0)}};
    const std::map<std::int32_t, Outcome> info = {{1, N(6, 0)}, {83, N(4, 0)}, {86, N(6, 3)}};
    const std::map<std::int32_t, Outcome> listen = {{1, N(6, 0)},   {2, N(6, 1)},   {53, N(6, 4)},
                                                    {54, N(12, 0)}, {55, N(12, 1)}, {98, N(6, 6)}};
    return {
        {19, "LIVE_NACK", live},
        {22, "LIVE_STOP_NACK", live},
        {34, "REC_ON_NACK", rec},
        {37, "REC_OFF_NACK", rec},
        {262, "PLAY_INFO_MONTH_NACK", playMonth},
        {290, "TRANS_INFO_MONTH_NACK", transMonth},
        {265, "PLAY_INFO_DAY_NACK", day},
        {54, "PLAY_ON_NACK", day},
        {331, "EVENT_INFO_NACK", day, Window::Search},
        {334, "EVENT_INFO_NACK_BYPG", day, Window::Search},
        {293, "TRANS_INFO_DAY_NACK", fail},
        {267, "PLAY_ON_FAIL", fail},
        {298, "TRANS_ON_FAIL", fail},
        {102, "TRANS_ON_NACK", transOn, Window::Main, true},
        {57, "PLAY_OFF_NACK", off},
        {105, "TRANS_OFF_NACK", off},
        {344, "REBOOT_NACK", off},
        {347, "POWEROFF_NACK", off},
        {114, "DB48_INFO_NACK", dbInfo},
        {117, "DB_UPDATE_NACK", dbUpdate},
        {338, "DB_INIT_NACK", dbInit},
        {341, "SEND_TEST_MAIL_NACK", mail},
        {322, "LOG_INFO_NACK", info},
        {325, "SYSTEM_INFO_NACK", info},
        {328, "STATUS_INFO_NACK", info},
        {274, "A_LISTEN_NACK", listen},
    };
}

// Every reason that appears anywhere, its neighbours, and values a broken read produces.
std::vector<std::int32_t> ProbeReasons() {
    std::set<std::int32_t> r = {
        std::numeric_limits<std::int32_t>::min(), -100, -99, -2, -1, 0, 4, 37, 256 + 1, 65536 + 83,
        std::numeric_limits<std::int32_t>::max()};
    for (const auto& e : Table()) {
        for (const auto& [reason, outcome] : e.reasons) {
            r.insert(reason - 1);
            r.insert(reason);
            r.insert(reason + 1);
        }
    }
    return {r.begin(), r.end()};
}

TEST(RefusalsTest, EveryRefusalMapsExactlyItsListedReasons) {
    const auto probes = ProbeReasons();
    for (const auto& e : Table()) {
        ASSERT_EQ(MessageName(e.code, Direction::RecorderToClient), e.name) << e.code;
        const RefusalRule* rule = FindRefusal(e.code);
        ASSERT_NE(rule, nullptr) << e.name;
        EXPECT_EQ(rule->code, e.code);
        EXPECT_EQ(rule->parent, e.parent) << e.name;
        EXPECT_EQ(rule->keepsExtraValues, e.keepsExtra) << e.name;
        for (std::int32_t reason : probes) {
            const ReasonRule* got = MapRefusal(e.code, reason);
            const auto it = e.reasons.find(reason);
            if (it == e.reasons.end()) {
                EXPECT_EQ(got, nullptr) << e.name << " reason " << reason << " must post nothing";
                continue;
            }
            ASSERT_NE(got, nullptr) << e.name << " reason " << reason;
            EXPECT_EQ(got->reason, reason);
            const Outcome& want = it->second;
            if (want.notification) {
                EXPECT_EQ(got->windowMessage, 0u) << e.name << " reason " << reason;
                EXPECT_EQ(got->notification, *want.notification)
                    << e.name << " reason " << reason << ": got (" << got->notification.category
                    << ", " << got->notification.code << ")";
            } else {
                EXPECT_EQ(got->windowMessage, want.windowMessage) << e.name << " reason " << reason;
                EXPECT_EQ(got->window, want.window) << e.name << " reason " << reason;
            }
        }
        // The rule lists nothing beyond the table either.
        EXPECT_EQ(rule->reasons.size(), e.reasons.size()) << e.name;
    }
}

TEST(RefusalsTest, RecordRefusal) {
    const ReasonRule* r = MapRefusal(msg::REC_ON_NACK, 65);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->notification, (Notification{5, 1}));
    EXPECT_EQ(r->windowMessage, 0u);
    EXPECT_EQ(MapRefusal(msg::REC_ON_NACK, 2), nullptr);
}

TEST(RefusalsTest, TransferRefusalForLackOfSpaceKeepsTheSizes) {
    const ReasonRule* r = MapRefusal(msg::TRANS_ON_NACK, 87);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->notification, (Notification{6, 5}));
    EXPECT_TRUE(FindRefusal(msg::TRANS_ON_NACK)->keepsExtraValues);
    // Only the transfer request knows reason 87.
    EXPECT_EQ(MapRefusal(msg::TRANS_ON_FAIL, 87), nullptr);
    EXPECT_FALSE(FindRefusal(msg::TRANS_ON_FAIL)->keepsExtraValues);
}

TEST(RefusalsTest, BusyMonthQueriesOpenTheCalendarInsteadOfAPopup) {
    const ReasonRule* play = MapRefusal(msg::PLAY_INFO_MONTH_NACK, 83);
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(play->windowMessage, 21044u);
    EXPECT_EQ(play->windowMessage, static_cast<std::uint32_t>(protocol::WM_PLAY_MONTH_READY));
    EXPECT_EQ(play->window, Window::Search);

    const ReasonRule* trans = MapRefusal(msg::TRANS_INFO_MONTH_NACK, 83);
    ASSERT_NE(trans, nullptr);
    EXPECT_EQ(trans->windowMessage, 21046u);
    EXPECT_EQ(trans->windowMessage, static_cast<std::uint32_t>(protocol::WM_BACKUP_MONTH_READY));
    EXPECT_EQ(trans->window, Window::Backup);

    // The day queries, by contrast, show "busy" as a popup.
    const ReasonRule* day = MapRefusal(msg::PLAY_INFO_DAY_NACK, 83);
    ASSERT_NE(day, nullptr);
    EXPECT_EQ(day->windowMessage, 0u);
    EXPECT_EQ(day->notification, (Notification{4, 0}));
}

TEST(RefusalsTest, EventSearchRefusalsBelongToTheSearchWindow) {
    EXPECT_EQ(FindRefusal(msg::EVENT_INFO_NACK)->parent, Window::Search);
    EXPECT_EQ(FindRefusal(msg::EVENT_INFO_NACK_BYPG)->parent, Window::Search);
    EXPECT_EQ(FindRefusal(msg::PLAY_ON_NACK)->parent, Window::Main);
}

TEST(RefusalsTest, EmptyOrUnreadablePayloadsPostNothing) {
    for (const auto& e : Table()) {
        EXPECT_EQ(MapRefusal(e.code, -100), nullptr) << e.name;
        EXPECT_EQ(MapRefusal(e.code, -99), nullptr) << e.name;
    }
}

TEST(RefusalsTest, CodesThatAreNoRefusalHaveNoRule) {
    for (int code :
         {0, 1, 5, 17, 18, 21, 33, 36, 53, 101, 103, 261, 264, 268, 295, 297, 330, 511, 600}) {
        const auto c = static_cast<std::uint16_t>(code);
        EXPECT_EQ(FindRefusal(c), nullptr) << code;
        EXPECT_EQ(MapRefusal(c, 1), nullptr) << code;
    }
}

TEST(RefusalsTest, GoodbyeReasons) {
    const std::pair<std::int32_t, Notification> table[] = {
        {1, {3, 0}},  {2, {3, 1}},  {3, {3, 2}},  {33, {3, 3}},  {34, {3, 4}},
        {35, {3, 5}}, {36, {3, 6}}, {-2, {3, 7}}, {37, {15, 0}},
    };
    for (const auto& [reason, note] : table) {
        const auto got = ByeNotification(reason);
        ASSERT_TRUE(got.has_value()) << reason;
        EXPECT_EQ(*got, note) << reason;
    }
    for (std::int32_t reason :
         {4, 0, -1, -3, 32, 38, 5, 65, -99, -100, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_FALSE(ByeNotification(reason).has_value()) << reason;
    }
}

}  // namespace
}  // namespace taviro::protocol
