#include "platform/skin_texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace taviro::platform {
namespace {

TEST(SkinTexts, ReadsNumbersTextsCommentsAndLineEnds) {
    const SkinTexts t = ParseSkinTexts(
        "# heading\n"
        "\n"
        "5000  Connect to a recorder\r\n"
        "\t5001\tSearch\t recordings \n"
        "  # indented comment\n"
        "0 zero\n"
        "65535 top");
    EXPECT_EQ(t.errorCount, 0u);
    ASSERT_EQ(t.texts.size(), 4u);
    EXPECT_EQ(t.texts.at(5000), "Connect to a recorder");
    // Blanks after the number are separators; blanks inside and after the text are kept.
    EXPECT_EQ(t.texts.at(5001), "Search\t recordings ");
    EXPECT_EQ(t.texts.at(0), "zero");
    EXPECT_EQ(t.texts.at(65535), "top");
}

TEST(SkinTexts, EscapesAndTheirErrors) {
    const SkinTexts t = ParseSkinTexts(
        "1 a\\nb\\tc\\\\d\n"
        "2 bad \\x escape\n"
        "3 trailing backslash \\\n"
        "4 %s : %6.1f GByte\n");
    EXPECT_EQ(t.texts.at(1), "a\nb\tc\\d");
    EXPECT_EQ(t.texts.count(2), 0u);
    EXPECT_EQ(t.texts.count(3), 0u);
    EXPECT_EQ(t.texts.at(4), "%s : %6.1f GByte");
    ASSERT_EQ(t.errors.size(), 2u);
    EXPECT_EQ(t.errors[0].line, 2u);
    EXPECT_EQ(t.errors[1].line, 3u);
}

TEST(SkinTexts, BadNumbersAreRejectedLineByLine) {
    const SkinTexts t = ParseSkinTexts(
        "65536 too big\n"
        "99999999999999999999 far too big\n"
        "-1 negative\n"
        "12ab glued\n"
        "no number\n"
        "7 good\n"
        "8\n");
    EXPECT_EQ(t.errorCount, 5u);
    ASSERT_EQ(t.texts.size(), 2u);
    EXPECT_EQ(t.texts.at(7), "good");
    EXPECT_EQ(t.texts.at(8), "");  // a number alone is an empty text
}

TEST(SkinTexts, DuplicatesKeepTheLastLine) {
    const SkinTexts t = ParseSkinTexts("10 first\n10 second\n");
    EXPECT_EQ(t.texts.at(10), "second");
}

TEST(SkinTexts, Utf8IsCheckedAndBoundsHold) {
    const SkinTexts t = ParseSkinTexts(
        "1 Caf\xC3\xA9 \xE2\x86\x92 ok\n"
        "2 \xC3\n"              // cut short
        "3 \xC0\xAF\n"          // overlong '/'
        "4 \xED\xA0\x80\n"      // surrogate
        "5 \xF4\x90\x80\x80\n"  // above U+10FFFF
        "6 " +
        std::string(kMaxSkinTextLine, 'x') + "\n" + "7 " + std::string(kMaxSkinTextLine - 2, 'y') +
        "\n");
    EXPECT_EQ(t.texts.at(1), "Caf\xC3\xA9 \xE2\x86\x92 ok");
    for (int bad : {2, 3, 4, 5, 6})
        EXPECT_EQ(t.texts.count(bad), 0u) << bad;
    EXPECT_EQ(t.texts.at(7).size(), kMaxSkinTextLine - 2);
    EXPECT_EQ(t.errorCount, 5u);
}

TEST(SkinTexts, ErrorListIsCappedAndLongInputTruncated) {
    std::string many;
    for (std::size_t i = 0; i < kMaxSkinTextErrors + 10; ++i)
        many += "junk\n";
    const SkinTexts t = ParseSkinTexts(many);
    EXPECT_EQ(t.errors.size(), kMaxSkinTextErrors);
    EXPECT_EQ(t.errorCount, kMaxSkinTextErrors + 10);

    std::string huge = "1 kept\n" + std::string(kMaxSkinTextFile, '#') + "\n2 lost\n";
    const SkinTexts h = ParseSkinTexts(huge);
    EXPECT_TRUE(h.truncated);
    EXPECT_EQ(h.texts.count(1), 1u);
    EXPECT_EQ(h.texts.count(2), 0u);
}

TEST(SkinTexts, EscapeRoundTrips) {
    const std::string text = "line\none\ttab \\ back";
    const SkinTexts t = ParseSkinTexts("42 " + EscapeSkinText(text) + "\n");
    EXPECT_EQ(t.texts.at(42), text);
}

TEST(SkinTexts, TheShippedTableIsCleanAndComplete) {
    const char* source = std::getenv("TAVIRO_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    SkinTexts t;
    ASSERT_TRUE(LoadSkinTexts(std::string(source) + "/skin/texts.txt", t));
    EXPECT_EQ(t.errorCount, 0u);
    for (int n = 5000; n <= 5093; ++n)
        EXPECT_FALSE(t.texts[n].empty()) << n;
    for (int n : {5821, 5822, 5823, 5830, 5840, 5841, 5882, 5883})
        EXPECT_FALSE(t.texts[n].empty()) << n;
    EXPECT_FALSE(LoadSkinTexts(std::string(source) + "/skin/no-such-file.txt", t));
}

}  // namespace
}  // namespace taviro::platform
