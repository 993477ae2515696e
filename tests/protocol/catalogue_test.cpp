// The message catalogue against the table of codes the recorder protocol defines, written
// out here row by row (code, name, direction, what the payload is).
#include "protocol/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

namespace taviro::protocol {
namespace {

constexpr Direction kC2R = Direction::ClientToRecorder;
constexpr Direction kR2C = Direction::RecorderToClient;

enum PayloadKind {
    kSize,        // a fixed number of bytes
    kNone,        // an acknowledgement with nothing after the header
    kFragmented,  // pieces of a larger unit
    kNeverSent,   // known but never sent by this client
    kOther,       // a record or a size that depends on the request
};

struct Expected {
    std::uint16_t code;
    const char* name;
    Direction direction;
    PayloadKind kind;
    int size;
};

constexpr Expected kTable[] = {
    {1, "HELLO", kC2R, kSize, 32},
    {4, "BYE", kC2R, kSize, 0},
    {4, "BYE48", kR2C, kSize, 4},
    {5, "HELLO48_ACK", kR2C, kSize, 768},
    {16, "LIVE_REQ", kC2R, kSize, 4},
    {17, "LIVE_CHANNEL_INFO", kR2C, kSize, 4},
    {18, "LIVE_DATA", kR2C, kFragmented, -1},
    {19, "LIVE_NACK", kR2C, kSize, 4},
    {20, "LIVE_STOP", kC2R, kSize, 0},
    {21, "LIVE_STOP_ACK", kR2C, kNone, -1},
    {22, "LIVE_STOP_NACK", kR2C, kSize, 4},
    {23, "AUDIO_ONOFF_REQ", kC2R, kSize, 0},
    {24, "SYS_ETC_INFO_EX", kR2C, kOther, -1},
    {32, "REC_ON_REQ", kC2R, kSize, 0},
    {33, "REC_ON_ACK", kR2C, kSize, 4},
    {34, "REC_ON_NACK", kR2C, kSize, 4},
    {35, "REC_OFF_REQ", kC2R, kSize, 0},
    {36, "REC_OFF_ACK", kR2C, kSize, 4},
    {37, "REC_OFF_NACK", kR2C, kSize, 4},
    {42, "PLAY_PREV_STEP", kC2R, kSize, 0},
    {43, "PLAY_BACKWARD", kC2R, kOther, -1},
    {44, "PLAY_FORWARD", kC2R, kOther, -1},
    {45, "PLAY_PAUSE", kC2R, kSize, 0},
    {46, "PLAY_NEXT_STEP", kC2R, kSize, 0},
    {51, "PLAY_ON_REQ", kC2R, kSize, 24},
    {52, "PLAY_CHANNEL_INFO", kR2C, kOther, -1},
    {53, "PLAY_ON_ACK", kR2C, kOther, -1},
    {54, "PLAY_ON_NACK", kR2C, kSize, 4},
    {55, "RPLAY_STOP", kC2R, kSize, 0},
    {56, "PLAY_OFF_ACK", kR2C, kNone, -1},
    {57, "PLAY_OFF_NACK", kR2C, kSize, 4},
    {61, "PLAY_STEP_DATA", kC2R, kSize, 4},
    {62, "PLAY_CH_CHANGE", kC2R, kSize, 4},
    {63, "PLAY_DATA_FINISH", kR2C, kOther, -1},
    {80, "PLAY_VIEW_CH", kC2R, kSize, 4},
    {99, "TRANS_ON_REQ", kC2R, kSize, 24},
    {101, "TRANS_ON_ACK", kR2C, kOther, -1},
    {102, "TRANS_ON_NACK", kR2C, kOther, -1},
    {102, "TRANS_OFF_REQ", kC2R, kSize, 0},
    {104, "TRANS_OFF_ACK", kR2C, kNone, -1},
    {105, "TRANS_OFF_NACK", kR2C, kSize, 4},
    {113, "DB_INFO_ACK", kR2C, kOther, -1},
    {114, "DB48_INFO_NACK", kR2C, kSize, 4},
    {115, "DB_UPDATE_REQ", kC2R, kOther, -1},
    {116, "DB_UPDATE_ACK", kR2C, kNone, -1},
    {117, "DB_UPDATE_NACK", kR2C, kSize, 4},
    {125, "DST_INFO", kR2C, kOther, -1},
    {127, "DVR_TIME_ACK", kR2C, kOther, -1},
    {144, "FW_UPDATE_REQ", kC2R, kSize, 56},
    {145, "FW_UPDATE_ACK", kR2C, kNone, -1},
    {146, "FW_DATA", kC2R, kOther, -1},
    {153, "NETLIVE_CH_CHANGE", kR2C, kOther, -1},
    {256, "REC_STATUS", kR2C, kSize, 16},
    {257, "SYS_NOTICE", kR2C, kSize, 12},
    {258, "DB_CHANGE", kR2C, kOther, -1},
    {259, "SYS_ETC_INFO", kR2C, kOther, -1},
    {260, "PLAY_INFO_MONTH_REQ", kC2R, kSize, 0},
    {261, "PLAY_INFO_MONTH_ACK", kR2C, kFragmented, -1},
    {262, "PLAY_INFO_MONTH_NACK", kR2C, kSize, 4},
    {263, "PLAY_INFO_DAY_REQ", kC2R, kSize, 8},
    {264, "PLAY_INFO_DAY_ACK", kR2C, kFragmented, -1},
    {265, "PLAY_INFO_DAY_NACK", kR2C, kSize, 4},
    {266, "PLAY_DATA", kR2C, kFragmented, -1},
    {267, "PLAY_ON_FAIL", kR2C, kSize, 4},
    {268, "PLAY_ON_DONE", kR2C, kNone, -1},
    {270, "RIGHT_CHANGE", kR2C, kOther, -1},
    {271, "RIGHT_CHANGE2", kR2C, kOther, -1},
    {272, "A_LISTEN_REQ", kC2R, kSize, 0},
    {273, "A_LISTEN_ACK", kR2C, kNone, -1},
    {274, "A_LISTEN_NACK", kR2C, kSize, 4},
    {275, "A_LISTEN_DATA", kC2R, kOther, -1},
    {276, "A_LISTEN_STOP_REQ", kC2R, kSize, 0},
    {277, "A_LISTEN_STOP_ACK", kR2C, kNone, -1},
    {282, "PTZ_CHANNEL_REQ", kC2R, kOther, -1},
    {283, "PTZ_CHANNEL_ACK", kR2C, kOther, -1},
    {284, "PTZ_MOVE_REQ", kC2R, kSize, 4},
    {285, "PTZ_MOVE_STOP", kC2R, kOther, -1},
    {288, "TRANS_INFO_MONTH_REQ", kC2R, kOther, -1},
    {289, "TRANS_INFO_MONTH_ACK", kR2C, kFragmented, -1},
    {290, "TRANS_INFO_MONTH_NACK", kR2C, kSize, 4},
    {291, "TRANS_INFO_DAY_REQ", kC2R, kSize, 8},
    {292, "TRANS_INFO_DAY_ACK", kR2C, kFragmented, -1},
    {293, "TRANS_INFO_DAY_NACK", kR2C, kSize, 4},
    {294, "TRANS_DATA_REQ", kC2R, kSize, 24},
    {295, "TRANS_ON_DATA", kR2C, kFragmented, -1},
    {297, "TRANS_ON_DONE", kR2C, kNone, -1},
    {298, "TRANS_ON_FAIL", kR2C, kSize, 4},
    {299, "CAPA_CAL_CANCEL", kC2R, kSize, 0},
    {304, "FW_UPDATE_NACK", kR2C, kSize, 4},
    {305, "FW_DATA_RX_DONE", kR2C, kNone, -1},
    {306, "FW_DATA_RX_FAIL", kR2C, kSize, 4},
    {307, "FW_UPDATE_DONE", kR2C, kNone, -1},
    {308, "FW_UPDATE_FAIL", kR2C, kSize, 4},
    {320, "LOG_INFO_REQ", kC2R, kSize, 0},
    {321, "LOG_INFO_ACK", kR2C, kFragmented, -1},
    {322, "LOG_INFO_NACK", kR2C, kSize, 4},
    {323, "SYSTEM_INFO_REQ", kC2R, kNeverSent, -1},
    {324, "SYSTEM_INFO_ACK", kR2C, kFragmented, -1},
    {325, "SYSTEM_INFO_NACK", kR2C, kSize, 4},
    {326, "STATUS_INFO_REQ", kC2R, kOther, -1},
    {327, "STATUS_INFO_ACK", kR2C, kFragmented, -1},
    {328, "STATUS_INFO_NACK", kR2C, kSize, 4},
    {330, "EVENT_INFO_ACK", kR2C, kFragmented, -1},
    {331, "EVENT_INFO_NACK", kR2C, kSize, 4},
    {332, "EVENT_INFO_REQ", kC2R, kSize, 8},
    {333, "EVENT_INFO_ACK_BYPG", kR2C, kOther, -1},
    {334, "EVENT_INFO_NACK_BYPG", kR2C, kSize, 4},
    {336, "DB_INIT_REQ", kC2R, kSize, 0},
    {337, "DB_INIT_ACK", kR2C, kNone, -1},
    {338, "DB_INIT_NACK", kR2C, kSize, 4},
    {340, "SEND_TEST_MAIL_ACK", kR2C, kNone, -1},
    {341, "SEND_TEST_MAIL_NACK", kR2C, kSize, 4},
    {342, "REBOOT_REQ", kC2R, kSize, 0},
    {343, "REBOOT_ACK", kR2C, kNone, -1},
    {344, "REBOOT_NACK", kR2C, kSize, 4},
    {346, "POWEROFF_ACK", kR2C, kNone, -1},
    {347, "POWEROFF_NACK", kR2C, kSize, 4},
    {352, "CAM_INFO_CHANGE", kR2C, kOther, -1},
    {511, "KEEP_ALIVE", kC2R, kSize, 0},
};

std::string Describe(const Expected& e) {
    return std::to_string(e.code) + " " + e.name +
           (e.direction == kC2R ? " client->recorder" : " recorder->client");
}

TEST(CatalogueTest, EveryCodeHasItsNameAndDirection) {
    for (const auto& e : kTable) {
        const MessageInfo* row = FindMessage(e.code, e.direction);
        ASSERT_NE(row, nullptr) << Describe(e);
        EXPECT_EQ(row->code, e.code) << Describe(e);
        EXPECT_EQ(row->name, e.name) << Describe(e);
        EXPECT_EQ(row->direction, e.direction) << Describe(e);
        EXPECT_EQ(MessageName(e.code, e.direction), e.name) << Describe(e);
    }
}

TEST(CatalogueTest, HoldsNoRowBeyondTheKnownCodes) {
    EXPECT_EQ(MessageCatalogue().size(), std::size(kTable));
    for (const auto& row : MessageCatalogue()) {
        const bool known = std::any_of(std::begin(kTable), std::end(kTable), [&](const auto& e) {
            return e.code == row.code && e.direction == row.direction && row.name == e.name;
        });
        EXPECT_TRUE(known) << row.code << " " << row.name;
    }
    // Every other code, in either direction, is unknown.
    for (std::uint16_t code = 0; code < 1024; ++code) {
        for (Direction d : {kC2R, kR2C}) {
            const bool listed =
                std::any_of(std::begin(kTable), std::end(kTable),
                            [&](const auto& e) { return e.code == code && e.direction == d; });
            if (!listed) {
                EXPECT_EQ(FindMessage(code, d), nullptr) << code;
                EXPECT_EQ(MessageName(code, d), "UNKNOWN") << code;
            }
        }
    }
    EXPECT_EQ(MessageName(0xFFFF, kR2C), "UNKNOWN");
}

TEST(CatalogueTest, NoCodeAppearsTwiceInOneDirection) {
    std::set<std::pair<std::uint16_t, Direction>> seen;
    std::set<std::string_view> names;
    for (const auto& row : MessageCatalogue()) {
        EXPECT_TRUE(seen.emplace(row.code, row.direction).second)
            << "duplicate row " << row.code << " " << row.name;
        EXPECT_TRUE(names.insert(row.name).second) << "duplicate name " << row.name;
    }
}

TEST(CatalogueTest, RowsAreOrderedByCodeThenDirection) {
    const auto rows = MessageCatalogue();
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& a = rows[i - 1];
        const auto& b = rows[i];
        EXPECT_TRUE(a.code < b.code || (a.code == b.code && a.direction < b.direction))
            << a.name << " before " << b.name;
    }
}

TEST(CatalogueTest, CodesThatMeanDifferentThingsPerDirection) {
    EXPECT_EQ(MessageName(102, kR2C), "TRANS_ON_NACK");
    EXPECT_EQ(MessageName(102, kC2R), "TRANS_OFF_REQ");
    EXPECT_EQ(MessageName(103, kC2R), "UNKNOWN");  // the client's TRANS_OFF_REQ is not 103
    EXPECT_EQ(MessageName(103, kR2C), "UNKNOWN");
    EXPECT_EQ(MessageName(4, kC2R), "BYE");
    EXPECT_EQ(MessageName(4, kR2C), "BYE48");
    EXPECT_EQ(MessageName(511, kC2R), "KEEP_ALIVE");
    EXPECT_EQ(FindMessage(511, kR2C), nullptr);
    EXPECT_EQ(MessageName(1, kR2C), "UNKNOWN");  // HELLO only goes to the recorder
    EXPECT_EQ(MessageName(5, kC2R), "UNKNOWN");
    EXPECT_EQ(msg::TRANS_OFF_REQ, 102);
    EXPECT_EQ(msg::TRANS_ON_NACK, 102);
    EXPECT_EQ(msg::BYE, 4);
    EXPECT_EQ(msg::BYE48, 4);
}

TEST(CatalogueTest, PayloadRulesFollowTheTable) {
    for (const auto& e : kTable) {
        const MessageInfo* row = FindMessage(e.code, e.direction);
        ASSERT_NE(row, nullptr) << Describe(e);
        const std::string name = e.name;
        const bool refusal = e.direction == kR2C && (name.find("_NACK") != std::string::npos ||
                                                     name.ends_with("_FAIL") || e.code == 4);
        switch (e.kind) {
            case kNone:
                EXPECT_EQ(row->rule, PayloadRule::NoPayload) << Describe(e);
                EXPECT_EQ(row->length, 0) << Describe(e);
                break;
            case kSize:
                EXPECT_EQ(row->length, e.size) << Describe(e);
                if (refusal) {
                    EXPECT_EQ(row->rule, PayloadRule::Reason) << Describe(e);
                } else {
                    EXPECT_TRUE(row->rule == PayloadRule::Fixed || row->rule == PayloadRule::Record)
                        << Describe(e);
                }
                break;
            case kFragmented:
                EXPECT_EQ(row->rule, PayloadRule::Fragmented) << Describe(e);
                break;
            case kNeverSent:
                EXPECT_EQ(row->rule, PayloadRule::NeverSent) << Describe(e);
                break;
            case kOther:
                EXPECT_NE(row->rule, PayloadRule::NoPayload) << Describe(e);
                break;
        }
        if (refusal) {
            EXPECT_TRUE(row->rule == PayloadRule::Reason || row->rule == PayloadRule::ReasonOr12)
                << Describe(e);
        }
    }
    // The one refusal that may carry two more values.
    EXPECT_EQ(FindMessage(msg::TRANS_ON_NACK, kR2C)->rule, PayloadRule::ReasonOr12);
    EXPECT_EQ(FindMessage(msg::TRANS_OFF_REQ, kC2R)->rule, PayloadRule::Fixed);
    EXPECT_EQ(FindMessage(msg::TRANS_OFF_REQ, kC2R)->length, 0);
}

TEST(CatalogueTest, NamedConstantsMatchTheTable) {
    // The constants the code dispatches on carry the numbers of the table.
    const std::pair<std::uint16_t, const char*> c2r[] = {
        {msg::HELLO, "HELLO"},
        {msg::LIVE_REQ, "LIVE_REQ"},
        {msg::AUDIO_ONOFF_REQ, "AUDIO_ONOFF_REQ"},
        {msg::PLAY_ON_REQ, "PLAY_ON_REQ"},
        {msg::TRANS_DATA_REQ, "TRANS_DATA_REQ"},
        {msg::FW_DATA, "FW_DATA"},
        {msg::CAPA_CAL_CANCEL, "CAPA_CAL_CANCEL"},
        {msg::EVENT_INFO_REQ, "EVENT_INFO_REQ"},
        {msg::KEEP_ALIVE, "KEEP_ALIVE"},
    };
    for (const auto& [code, name] : c2r)
        EXPECT_EQ(MessageName(code, kC2R), name);
    const std::pair<std::uint16_t, const char*> r2c[] = {
        {msg::HELLO48_ACK, "HELLO48_ACK"},
        {msg::LIVE_DATA, "LIVE_DATA"},
        {msg::PLAY_DATA, "PLAY_DATA"},
        {msg::TRANS_ON_DATA, "TRANS_ON_DATA"},
        {msg::PLAY_INFO_MONTH_NACK, "PLAY_INFO_MONTH_NACK"},
        {msg::EVENT_INFO_NACK_BYPG, "EVENT_INFO_NACK_BYPG"},
        {msg::FW_UPDATE_NACK, "FW_UPDATE_NACK"},
        {msg::CAM_INFO_CHANGE, "CAM_INFO_CHANGE"},
    };
    for (const auto& [code, name] : r2c)
        EXPECT_EQ(MessageName(code, kR2C), name);
}

}  // namespace
}  // namespace taviro::protocol
