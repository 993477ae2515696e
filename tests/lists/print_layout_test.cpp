// The printed page layout of the lists (remote log, local log, other tables) in twips, and
// the CSV files the lists are saved to, including writes that fail.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include "lists/csv.h"
#include "lists/print_layout.h"
#include "support/temp_folder_test.h"

namespace taviro::lists {
namespace {

namespace fs = std::filesystem;

PrintDocument Document(PrintGeometry geometry, int rows, int columns = 5) {
    PrintDocument d;
    d.documentName = "Remote Log Operation";
    d.title = "Log List";
    d.geometry = std::move(geometry);
    for (int r = 1; r <= rows; ++r) {
        std::vector<std::string> row;
        for (int c = 1; c <= columns; ++c) {
            row.push_back("r" + std::to_string(r) + "c" + std::to_string(c));
        }
        d.rows.push_back(std::move(row));
    }
    return d;
}

std::vector<PageItem> OfKind(const std::vector<PageItem>& items, PageItem::Kind kind) {
    std::vector<PageItem> out;
    for (const auto& item : items) {
        if (item.kind == kind) {
            out.push_back(item);
        }
    }
    return out;
}

TEST(PrintLayout, RemoteLogPageHasTitleCellsAndFooterAtTheirTwips) {
    const PrintDocument d = Document(RemoteLogGeometry(), 2);
    ASSERT_EQ(PageCount(d), 1);
    const auto items = LayoutPage(d, 0);
    ASSERT_GE(items.size(), 3u);

    // Title box framed first, then its text in the large font.
    EXPECT_EQ(items[0].kind, PageItem::Kind::kFrame);
    EXPECT_EQ(items[0].box, (TwipRect{3200, -900, 8200, -1400}));
    EXPECT_EQ(items[1].kind, PageItem::Kind::kText);
    EXPECT_EQ(items[1].box, items[0].box);
    EXPECT_EQ(items[1].text, "Log List");
    EXPECT_EQ(items[1].font, (PrintFont{"Arial Bold", 400, 700}));
    EXPECT_EQ(d.geometry.penWidth, 5);

    // Two rows of five framed cells; the first row from −1800 to −2200, the next 400 lower.
    const auto frames = OfKind(items, PageItem::Kind::kFrame);
    ASSERT_EQ(frames.size(), 1u + 2u * 5u);
    const int edges[] = {400, 1150, 3300, 5150, 6300, 11000};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(frames[1 + static_cast<std::size_t>(c)].box,
                  (TwipRect{edges[c], -1800, edges[c + 1], -2200}))
            << "column " << c;
        EXPECT_EQ(frames[6 + static_cast<std::size_t>(c)].box,
                  (TwipRect{edges[c], -2200, edges[c + 1], -2600}))
            << "column " << c;
    }
    // Every cell's text sits in its own frame in the small font.
    const auto texts = OfKind(items, PageItem::Kind::kText);
    ASSERT_EQ(texts.size(), 1u + 10u + 1u);
    EXPECT_EQ(texts[1].text, "r1c1");
    EXPECT_EQ(texts[1].box, frames[1].box);
    EXPECT_EQ(texts[10].text, "r2c5");
    EXPECT_EQ(texts[10].box, frames[10].box);
    EXPECT_EQ(texts[10].font, (PrintFont{"Arial Bold", 200, 400}));

    // The footer comes last, unframed.
    EXPECT_EQ(items.back().kind, PageItem::Kind::kText);
    EXPECT_EQ(items.back().text, "- 1 / 1 -");
    EXPECT_EQ(items.back().box, (TwipRect{5000, -15500, 7000, -15700}));
    EXPECT_EQ(items.back().font, (PrintFont{"Arial Bold", 200, 400}));
}

TEST(PrintLayout, RowsSplitIntoPagesOf33) {
    // A full page: the 33rd row is the last and lies 32 steps below the first.
    const PrintDocument full = Document(RemoteLogGeometry(), 33);
    EXPECT_EQ(PageCount(full), 1);
    const auto frames = OfKind(LayoutPage(full, 0), PageItem::Kind::kFrame);
    ASSERT_EQ(frames.size(), 1u + 33u * 5u);
    EXPECT_EQ(frames.back().box, (TwipRect{6300, -14600, 11000, -15000}));

    // One row more opens a second page holding only that row.
    const PrintDocument d = Document(RemoteLogGeometry(), 34);
    ASSERT_EQ(PageCount(d), 2);
    const auto first = LayoutPage(d, 0);
    EXPECT_EQ(OfKind(first, PageItem::Kind::kFrame).size(), 1u + 33u * 5u);
    EXPECT_EQ(first.back().text, "- 1 / 2 -");

    const auto second = LayoutPage(d, 1);
    const auto texts = OfKind(second, PageItem::Kind::kText);
    ASSERT_EQ(texts.size(), 1u + 5u + 1u);
    EXPECT_EQ(texts[0].text, "Log List");
    EXPECT_EQ(texts[1].text, "r34c1");
    EXPECT_EQ(texts[1].box, (TwipRect{400, -1800, 1150, -2200}));
    EXPECT_EQ(texts.back().text, "- 2 / 2 -");

    EXPECT_TRUE(LayoutPage(d, 2).empty());
    EXPECT_TRUE(LayoutPage(d, -1).empty());
    EXPECT_EQ(PageCount(Document(RemoteLogGeometry(), 66)), 2);
    EXPECT_EQ(PageCount(Document(RemoteLogGeometry(), 67)), 3);

    // No rows, no pages and nothing to draw.
    const PrintDocument empty = Document(RemoteLogGeometry(), 0);
    EXPECT_EQ(PageCount(empty), 0);
    EXPECT_TRUE(LayoutPage(empty, 0).empty());
}

TEST(PrintLayout, LocalLogAndTableGeometries) {
    const PrintGeometry local = LocalLogGeometry();
    EXPECT_EQ(local.titleBox, (TwipRect{3700, -900, 7700, -1400}));
    EXPECT_EQ(local.columnEdges, (std::vector<int>{400, 1100, 3700, 6800, 8100, 10800}));
    EXPECT_EQ(local.footerBox, (TwipRect{5000, -15500, 7000, -15700}));
    EXPECT_EQ(local.rowsPerPage, 33);
    EXPECT_EQ(local.titleFont, (PrintFont{"Arial Bold", 400, 700}));

    // The other lists: equal columns spanning exactly the remote log's width.
    const PrintGeometry three = TableGeometry(3);
    ASSERT_EQ(three.Columns(), 3);
    EXPECT_EQ(three.columnEdges.front(), 400);
    EXPECT_EQ(three.columnEdges.back(), 11000);
    for (std::size_t i = 1; i < three.columnEdges.size(); ++i) {
        const int width = three.columnEdges[i] - three.columnEdges[i - 1];
        EXPECT_NEAR(width, 10600 / 3, 1);
    }
    EXPECT_EQ(TableGeometry(0).Columns(), 1);

    // Short rows leave framed empty cells; texts past the last column are dropped.
    PrintDocument d;
    d.geometry = three;
    d.rows = {{"only"}, {"a", "b", "c", "d"}};
    const auto items = LayoutPage(d, 0);
    EXPECT_EQ(OfKind(items, PageItem::Kind::kFrame).size(), 1u + 2u * 3u);
    std::vector<std::string> texts;
    for (const auto& item : OfKind(items, PageItem::Kind::kText)) {
        texts.push_back(item.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"", "only", "a", "b", "c", "- 1 / 1 -"}));
}

TEST(Csv, FieldsAreQuotedOnlyWhenTheyMustBe) {
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("\""), "\"\"\"\"");
    EXPECT_EQ(CsvField("line\nbreak"), "\"line\nbreak\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    // Texts are kept exactly: UTF-8, leading blanks and spreadsheet formulas alike.
    EXPECT_EQ(CsvField(" Kanal 01 \xC3\xA4\xE2\x82\xAC"), " Kanal 01 \xC3\xA4\xE2\x82\xAC");
    EXPECT_EQ(CsvField("=1+2"), "=1+2");

    EXPECT_EQ(CsvRecord({"a", "b,c", ""}), "a,\"b,c\",\r\n");
    EXPECT_EQ(CsvRecord({""}), "\"\"\r\n");
    EXPECT_EQ(CsvRecord({}), "\r\n");
    EXPECT_EQ(CsvText({"No", "Time"}, {{"0001", "2024-01-02 03:04:05"}, {"0002", "x\"y"}}),
              "No,Time\r\n0001,2024-01-02 03:04:05\r\n0002,\"x\"\"y\"\r\n");
    EXPECT_EQ(CsvText({}, {{"a"}}), "a\r\n");
}

class CsvFileTest : public testing::CTempFolderTest {
  protected:
    CsvFileTest() : CTempFolderTest("taviro-csv-test-") {}
    void SetUp() override {
        CTempFolderTest::SetUp();
        fs::create_directories(m_root);
    }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_root)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(CsvFileTest, WritesAndReplacesWholeFiles) {
    const fs::path file = m_root / "log.csv";
    std::string error;
    ASSERT_TRUE(WriteCsvFile(file, {"No", "Text"}, {{"1", "a,b"}}, &error)) << error;
    EXPECT_EQ(Read(file), "No,Text\r\n1,\"a,b\"\r\n");
    // Saving again replaces the earlier file and leaves no temporary behind.
    ASSERT_TRUE(WriteCsvFile(file, {"No"}, {}, &error)) << error;
    EXPECT_EQ(Read(file), "No\r\n");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"log.csv"}));
}

TEST_F(CsvFileTest, FailedWritesLeaveNothingBehind) {
    std::string error;
    // A folder that does not exist: nothing can be created.
    EXPECT_FALSE(WriteCsvFile(m_root / "missing" / "log.csv", {"a"}, {}, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;

    // The target is a folder: the text is written but cannot take the name; the
    // temporary goes again.
    fs::create_directory(m_root / "taken.csv");
    error.clear();
    EXPECT_FALSE(WriteCsvFile(m_root / "taken.csv", {"a"}, {{"b"}}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(m_root / "taken.csv"));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"taken.csv"}));

    // A write that fails half-way (file size limit): the earlier file is kept as it was.
    const fs::path file = m_root / "log.csv";
    ASSERT_TRUE(WriteCsvFile(file, {"old"}, {}, &error)) << error;
    std::vector<std::vector<std::string>> many(20000, {"0123456789", "abcdefghij"});
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    error.clear();
    const bool written = WriteCsvFile(file, {"new"}, many, &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(Read(file), "old\r\n");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"log.csv", "taken.csv"}));

    // A folder without write permission (only meaningful when not running as root).
    if (::geteuid() != 0) {
        const fs::path locked = m_root / "locked";
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(WriteCsvFile(locked / "log.csv", {"a"}, {}, &error));
        fs::permissions(locked, fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(locked));
    }
}

}  // namespace
}  // namespace taviro::lists
