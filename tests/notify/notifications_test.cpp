// The popup table: the texts of every listed (category, code), the button sets, the
// follow-ups and their conditions, the made size and version lines, and the one-popup gate.
#include "notify/notifications.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace taviro::notify {
namespace {

std::vector<int> Numbers(const NotificationSpec& note) {
    std::vector<int> numbers;
    for (const NotificationLine& line : note.lines) {
        numbers.push_back(line.text.value_or(-1));
    }
    return numbers;
}

struct Row {
    int category;
    int code;
    std::vector<int> texts;
    NotifyButtons buttons;
    NotifyFollowUp followUp;
};

constexpr NotifyButtons kOne = NotifyButtons::kSingle;
constexpr NotifyButtons kTwo = NotifyButtons::kConfirmCancel;
constexpr NotifyFollowUp kNo = NotifyFollowUp::kNone;

const std::vector<Row>& Table() {
    static const std::vector<Row> rows = {
        {0, 0, {5080}, kOne, kNo},
        {1, 0, {5087}, kOne, kNo},
        {1, 1, {5053}, kOne, kNo},
        {2, 0, {5079}, kOne, kNo},
        {3, 0, {5079, 5084}, kOne, kNo},
        {3, 1, {5079, 5082}, kOne, kNo},
        {3, 2, {5079, 5066}, kOne, kNo},
        {3, 3, {5079, 5071}, kOne, kNo},
        {3, 4, {5079, 5057}, kOne, kNo},
        {3, 5, {5079, 5060}, kOne, kNo},
        {3, 6, {5079, 5062}, kOne, kNo},
        {3, 7, {5079, 5073}, kOne, kNo},
        {4, 0, {5069}, kOne, kNo},
        {5, 0, {5083}, kOne, kNo},
        {5, 1, {5070}, kOne, kNo},
        {5, 2, {5065}, kOne, kNo},
        {6, 0, {5083}, kOne, kNo},
        {6, 1, {5081}, kOne, kNo},
        {6, 2, {5070}, kOne, kNo},
        {6, 3, {5054}, kOne, kNo},
        {6, 4, {5055}, kOne, kNo},
        {6, 5, {5052}, kOne, kNo},
        {6, 6, {5092}, kOne, kNo},
        {6, 7, {5074}, kOne, kNo},
        {7, 0, {5075, 5084, 5078}, kTwo, NotifyFollowUp::kResendDatabase},
        {7, 1, {5075, 5051, 5078}, kTwo, NotifyFollowUp::kResendDatabase},
        {7, 2, {5075, 5056, 5078}, kTwo, NotifyFollowUp::kResendDatabase},
        {7, 3, {5075, 5074, 5078}, kTwo, NotifyFollowUp::kResendDatabase},
        {8, 0, {5063, 5084}, kOne, kNo},
        {8, 1, {5063, 5089}, kOne, kNo},
        {8, 2, {5063, 5072}, kOne, kNo},
        {8, 3, {5063, 5059}, kOne, kNo},
        {8, 4, {5063, 5058}, kOne, kNo},
        {8, 5, {5064, 5077}, kTwo, NotifyFollowUp::kRebootIfLoggedIn},
        {8, 6, {5063, 5088}, kOne, kNo},
        {9, 0, {5050}, kOne, kNo},
        {10, 0, {5076}, kOne, kNo},
        {11, 0, {5067}, kTwo, NotifyFollowUp::kStartFirmware},
        {11, 1, {5068}, kOne, kNo},
        {12, 0, {5085}, kOne, kNo},
        {12, 1, {5086}, kOne, kNo},
        {13, 0, {5061}, kOne, kNo},
        {14, 0, {5090, 5091}, kTwo, NotifyFollowUp::kInitArchive},
        {15, 0, {5093}, kOne, kNo},
        {16, 0, {5821, 5822, 5823}, kTwo, NotifyFollowUp::kArchiveInitDecision},
        {17, 0, {5069}, kOne, kNo},
    };
    return rows;
}

TEST(NotificationTable, EveryListedPairShowsItsTextsButtonsAndFollowUp) {
    const NotificationContext ctx;
    for (const Row& row : Table()) {
        SCOPED_TRACE(::testing::Message() << "(" << row.category << ", " << row.code << ")");
        const auto note = BuildNotification(row.category, row.code, ctx);
        ASSERT_TRUE(note.has_value());
        EXPECT_EQ(Numbers(*note), row.texts);
        EXPECT_EQ(note->buttons, row.buttons);
        EXPECT_EQ(note->onConfirm, row.followUp);
        EXPECT_EQ(note->onCancel, NotifyCancelAction::kNone);
        for (const NotificationLine& line : note->lines) {
            EXPECT_FALSE(line.literal.has_value());
        }
    }
}

TEST(NotificationTable, CodesNotListedShowNothing) {
    const NotificationContext ctx;
    const std::vector<std::pair<int, int>> unlisted = {
        {0, 2},  {1, 2},  {2, 1},  {3, 8},  {3, -1}, {4, 1},  {5, 3},        {6, 8},  {7, 4},
        {8, 7},  {9, 1},  {10, 1}, {11, 2}, {12, 2}, {13, 1}, {14, 1},       {15, 1}, {16, 1},
        {17, 1}, {18, 1}, {19, 1}, {20, 2}, {21, 0}, {-1, 0}, {65535, 65535}};
    for (auto [category, code] : unlisted) {
        EXPECT_FALSE(BuildNotification(category, code, ctx).has_value())
            << category << ", " << code;
    }
}

TEST(NotificationTable, NoDataWithAPendingSearchSelectionOffersTheSearchAndDiscardsOnCancel) {
    NotificationContext ctx;
    ctx.pendingSearchSelection = true;
    const auto note = BuildNotification(4, 0, ctx);
    ASSERT_TRUE(note);
    EXPECT_EQ(Numbers(*note), (std::vector<int>{5069, 5078}));
    EXPECT_EQ(note->buttons, NotifyButtons::kConfirmCancel);
    EXPECT_EQ(note->onConfirm, NotifyFollowUp::kOpenSearch);
    EXPECT_EQ(note->onCancel, NotifyCancelAction::kDiscardPendingSearch);
}

TEST(NotificationTable, LiteralLinesOfBookmarksAndVersion) {
    NotificationContext ctx;
    ctx.version = {1, 2, 30, 4000};
    const auto bookmark = BuildNotification(18, 0, ctx);
    ASSERT_TRUE(bookmark);
    ASSERT_EQ(bookmark->lines.size(), 1u);
    EXPECT_EQ(LineText(bookmark->lines[0], {}), "Bookmark is full");

    const auto version = BuildNotification(19, 0, ctx);
    ASSERT_TRUE(version);
    ASSERT_EQ(version->lines.size(), 2u);
    EXPECT_EQ(LineText(version->lines[0], {}), "Program Version");
    EXPECT_EQ(LineText(version->lines[1], {}), " 1.2.30.4000");
    EXPECT_EQ(version->buttons, NotifyButtons::kSingle);
}

class SizeLines : public ::testing::Test {
  protected:
    NotificationContext Context(std::map<int, std::string> texts, std::uint32_t needed,
                                std::uint32_t available) {
        NotificationContext ctx;
        ctx.transferSizes = std::make_pair(needed, available);
        ctx.text = [texts](int n) {
            auto it = texts.find(n);
            return it == texts.end() ? std::string() : it->second;
        };
        return ctx;
    }
};

TEST_F(SizeLines, BackupRefusalUsesTheSkinFormatsInGigabytes) {
    const auto ctx =
        Context({{5840, "Needed: %.2f GB"}, {5841, "Free: %5.1f GB"}}, 2048 + 512, 1024);
    const auto note = BuildNotification(6, 5, ctx);
    ASSERT_TRUE(note);
    ASSERT_EQ(note->lines.size(), 3u);
    EXPECT_EQ(note->lines[1].text, 5840);
    EXPECT_EQ(LineText(note->lines[1], ctx.text), "Needed: 2.50 GB");
    EXPECT_EQ(note->lines[2].text, 5841);
    EXPECT_EQ(LineText(note->lines[2], ctx.text), "Free:   1.0 GB");
}

TEST_F(SizeLines, BackupRefusalWithPlainLabelsOrUnknownSizes) {
    // A label without a number format is never handed to printf.
    const auto ctx = Context({{5840, "Needed %s %n"}, {5841, "Free"}}, 512, 0);
    const auto note = BuildNotification(6, 5, ctx);
    ASSERT_TRUE(note);
    ASSERT_EQ(note->lines.size(), 3u);
    EXPECT_EQ(LineText(note->lines[1], ctx.text), "Needed %s %n :    0.5 GByte");
    EXPECT_EQ(LineText(note->lines[2], ctx.text), "Free :    0.0 GByte");

    EXPECT_EQ(BuildNotification(6, 5, NotificationContext{})->lines.size(), 1u);
    // Only code 5 carries sizes.
    EXPECT_EQ(BuildNotification(6, 4, ctx)->lines.size(), 1u);
}

TEST_F(SizeLines, LocalDiskCheckInGigabytesOrMegabytes) {
    const auto ctx = Context({{5840, "Needed"}, {5841, "Available"}}, 3 * 1024 + 102, 900);
    const auto note = BuildNotification(13, 0, ctx);
    ASSERT_TRUE(note);
    ASSERT_EQ(note->lines.size(), 3u);
    EXPECT_EQ(note->lines[0].text, 5061);
    EXPECT_EQ(LineText(note->lines[1], ctx.text), "Needed :    3.1 GByte");
    EXPECT_EQ(LineText(note->lines[2], ctx.text), "Available : 900 MByte");
}

TEST(SkinNumberFormat, AcceptsOneFloatingConversionOnly) {
    EXPECT_EQ(FormatSkinNumber("%6.1f", 1.25), "   1.2");
    EXPECT_EQ(FormatSkinNumber("100%% of %g", 2.0), "100% of 2");
    EXPECT_EQ(FormatSkinNumber("%-8.3e|", 0.5), "5.000e-01|");
    for (const char* bad :
         {"", "plain", "%s", "%d", "%n", "%f %f", "%*f", "%.*f", "%123f", "%", "%ld", "%lf %"}) {
        EXPECT_FALSE(FormatSkinNumber(bad, 1.0).has_value()) << bad;
    }
    EXPECT_FALSE(FormatSkinNumber(std::string(300, 'x') + "%f", 1.0).has_value());
    EXPECT_FALSE(FormatSkinNumber(std::string_view("%f\0%s", 5), 1.0).has_value());
}

TEST(FollowUps, DependOnLoginRecordingAndRights) {
    const SessionFacts out{false, false, false};
    const SessionFacts idle{true, false, false};
    const SessionFacts recordingMay{true, true, true};
    const SessionFacts recordingMayNot{true, true, false};

    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kRebootIfLoggedIn, idle),
              FollowUpAction::kSendReboot);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kRebootIfLoggedIn, out), FollowUpAction::kNothing);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kInitArchive, idle),
              FollowUpAction::kSendArchiveInit);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kInitArchive, out), FollowUpAction::kNothing);

    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kArchiveInitDecision, out), FollowUpAction::kNothing);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kArchiveInitDecision, idle),
              FollowUpAction::kSendArchiveInit);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kArchiveInitDecision, recordingMay),
              FollowUpAction::kNotifyInitArchive);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kArchiveInitDecision, recordingMayNot),
              FollowUpAction::kNotifyRefused);

    // These need no session state.
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kOpenSearch, out), FollowUpAction::kOpenSearch);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kResendDatabase, out), FollowUpAction::kSendDatabase);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kStartFirmware, out), FollowUpAction::kStartFirmware);
    EXPECT_EQ(ResolveFollowUp(NotifyFollowUp::kNone, idle), FollowUpAction::kNothing);
}

TEST(NotificationGate, OnePopupAtATimeAndDisconnectAlwaysFirst) {
    CNotificationGate gate;
    auto d = gate.Arrive(6);
    EXPECT_TRUE(d.present);
    EXPECT_FALSE(d.disconnect);
    gate.Open();

    d = gate.Arrive(6);
    EXPECT_FALSE(d.present);
    EXPECT_FALSE(d.disconnect);
    d = gate.Arrive(kCategoryDisconnect);
    EXPECT_FALSE(d.present);
    EXPECT_TRUE(d.disconnect);

    gate.Close();
    d = gate.Arrive(kCategoryDisconnect);
    EXPECT_TRUE(d.present);
    EXPECT_TRUE(d.disconnect);
}

TEST(NotificationTable, ConnectionNotesNameTheRecorderAndClientNotesSayWhy) {
    NotificationContext ctx;
    ctx.recorder = "dvr.example:2000";
    // Connection notes get the recorder on a line before their own; other notes do not.
    struct Case {
        int category;
        int code;
        std::size_t lines;
    };
    for (const Case c : {Case{0, 0, 2}, Case{0, kNoteUnknownHost, 3}, Case{1, 0, 2}, Case{1, 1, 2},
                         Case{2, 0, 2}, Case{3, 1, 3}, Case{15, 0, 1}, Case{6, 0, 1}}) {
        SCOPED_TRACE(::testing::Message() << "(" << c.category << ", " << c.code << ")");
        const auto note = BuildNotification(c.category, c.code, ctx);
        ASSERT_TRUE(note.has_value());
        ASSERT_EQ(note->lines.size(), c.lines);
        const std::string first = LineText(note->lines.front(), {});
        EXPECT_EQ(first == "Recorder dvr.example:2000", IsConnectionNote(c.category)) << first;
    }
    const auto noSound = BuildNotification(kCategoryClient, kNoteNoSoundDevice, ctx);
    ASSERT_TRUE(noSound.has_value());
    EXPECT_NE(LineText(noSound->lines.front(), {}).find("sound output device"), std::string::npos);
    const auto notConnected = BuildNotification(kCategoryClient, kNoteNotConnected, ctx);
    ASSERT_TRUE(notConnected.has_value());
    EXPECT_NE(LineText(notConnected->lines.front(), {}).find("No recorder is connected"),
              std::string::npos);
}

}  // namespace
}  // namespace taviro::notify
