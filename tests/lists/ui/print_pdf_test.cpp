// The lists' printed pages as PDF files, read back with poppler's pdftotext and pdfinfo:
// the rows on each page, the footers, where the cells land, a chosen page range, a small
// sheet the page is shrunk onto, and the cases that must leave no file.
#include <gtest/gtest.h>

#include <QPrinter>
#include <QStandardPaths>
#include <QString>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "lists/print_layout.h"
#include "lists/ui/print_document.h"
#include "support/run_program.h"
#include "support/temp_folder_test.h"

namespace taviro::lists::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

PrintDocument RemoteLog(int rows) {
    PrintDocument d;
    d.documentName = "Remote Log Operation";
    d.title = "Remote Log";
    d.geometry = RemoteLogGeometry();
    for (int r = 1; r <= rows; ++r) {
        const std::string n = std::to_string(r);
        d.rows.push_back({"n" + n, "2024-05-06 07:08:09", "Operation", "sub" + n, "detail" + n});
    }
    return d;
}

struct Word {
    std::string text;
    double xMin, yMin, xMax, yMax;  // points from the page's top-left corner
    double X() const { return (xMin + xMax) / 2; }
    double Y() const { return (yMin + yMax) / 2; }
};

class PrintPdfTest : public testing::CTempFolderTest {
  protected:
    PrintPdfTest() : CTempFolderTest("taviro-print-pdf-test-") {}
    void SetUp() override {
        CTempFolderTest::SetUp();
        fs::create_directories(m_root);
        m_pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext")).toStdString();
        m_pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).toStdString();
        m_pdffonts = QStandardPaths::findExecutable(QStringLiteral("pdffonts")).toStdString();
        if (m_pdftotext.empty() || m_pdfinfo.empty() || m_pdffonts.empty()) {
            GTEST_SKIP() << "pdftotext, pdfinfo or pdffonts (poppler-utils) is not installed";
        }
    }

    std::string Run(const std::string& program, const std::vector<std::string>& args) const {
        const auto result = testing::RunProgram(program, args, 30s);
        EXPECT_EQ(result.exitStatus, 0) << program << ": " << result.err;
        return result.out;
    }
    std::string PageText(const fs::path& pdf, int page) const {
        const std::string n = std::to_string(page);
        return Run(m_pdftotext, {"-layout", "-f", n, "-l", n, pdf.string(), "-"});
    }
    std::string Info(const fs::path& pdf) const { return Run(m_pdfinfo, {pdf.string()}); }
    std::string Fonts(const fs::path& pdf) const { return Run(m_pdffonts, {pdf.string()}); }
    // The word `text` of page `page` with its box.
    std::optional<Word> Find(const fs::path& pdf, int page, const std::string& text) const {
        const std::string n = std::to_string(page);
        const std::string html = Run(m_pdftotext, {"-bbox", "-f", n, "-l", n, pdf.string(), "-"});
        static const std::regex word(
            R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
        for (auto it = std::sregex_iterator(html.begin(), html.end(), word);
             it != std::sregex_iterator(); ++it) {
            if ((*it)[5] == text) {
                return Word{text, std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]),
                            std::stod((*it)[4])};
            }
        }
        return std::nullopt;
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_root)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    std::string m_pdftotext;
    std::string m_pdfinfo;
    std::string m_pdffonts;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
// pdftotext -layout may close up the blanks of the footer ("-1/2-").
bool HasFooter(const std::string& text, int page, int pages) {
    return std::regex_search(
        text, std::regex("- ?" + std::to_string(page) + " ?/ ?" + std::to_string(pages) + " ?-"));
}

TEST_F(PrintPdfTest, ThirtyFourRowsPrintOnTwoPages) {
    const fs::path pdf = m_root / "remote.pdf";
    QString error;
    ASSERT_TRUE(PrintToPdf(RemoteLog(34), QString::fromStdString(pdf.string()), &error))
        << error.toStdString();
    EXPECT_EQ(Entries(), (std::vector<std::string>{"remote.pdf"}));

    const std::string info = Info(pdf);
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Pages:\s+2\n)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Title:\s+Remote Log Operation\n)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Page size:.*\(A4\))"))) << info;

    const std::string first = PageText(pdf, 1);
    for (int r = 1; r <= 33; ++r) {
        const std::string n = std::to_string(r);
        EXPECT_TRUE(Has(first, "n" + n + " ")) << "row " << r << "\n" << first;
        EXPECT_TRUE(Has(first, "detail" + n)) << "row " << r;
    }
    EXPECT_FALSE(Has(first, "n34"));
    EXPECT_TRUE(Has(first, "Remote Log"));
    EXPECT_TRUE(HasFooter(first, 1, 2)) << first;

    const std::string second = PageText(pdf, 2);
    EXPECT_TRUE(Has(second, "Remote Log"));
    EXPECT_TRUE(Has(second, "n34"));
    EXPECT_TRUE(Has(second, "detail34"));
    EXPECT_FALSE(Has(second, "n33")) << second;
    EXPECT_FALSE(Has(second, "n1 ")) << second;
    EXPECT_TRUE(HasFooter(second, 2, 2)) << second;
}

TEST_F(PrintPdfTest, CellsLandWhereTheTwipsPutThem) {
    const fs::path pdf = m_root / "remote.pdf";
    ASSERT_TRUE(PrintToPdf(RemoteLog(33), QString::fromStdString(pdf.string()), nullptr));
    // The layout (11000 twips plus its 400-twip left edge) is centred across A4.
    const double margin = (595.276 - 11400 / 20.0) / 2;
    const auto at = [&](double twipX, double twipY) {
        return std::pair{margin + twipX / 20, margin - twipY / 20};
    };
    // The first cell (400..1150, −1800..−2200), the last row's last cell and the footer.
    const auto firstCell = Find(pdf, 1, "n1");
    ASSERT_TRUE(firstCell);
    EXPECT_NEAR(firstCell->X(), at(775, -2000).first, 2.0);
    EXPECT_NEAR(firstCell->Y(), at(775, -2000).second, 2.0);
    const auto lastCell = Find(pdf, 1, "detail33");
    ASSERT_TRUE(lastCell);
    EXPECT_NEAR(lastCell->X(), at(8650, -14800).first, 2.0);
    EXPECT_NEAR(lastCell->Y(), at(8650, -14800).second, 2.0);
    const auto slash = Find(pdf, 1, "/");
    ASSERT_TRUE(slash);
    EXPECT_NEAR(slash->X(), at(6000, -15600).first, 2.0);
    EXPECT_NEAR(slash->Y(), at(6000, -15600).second, 2.0);
    // The footer's words in order on one line.
    for (const char* word : {"-", "1", "/"}) {
        const auto w = Find(pdf, 1, word);
        ASSERT_TRUE(w) << word;
        EXPECT_NEAR(w->Y(), slash->Y(), 1.0) << word;
    }
    // Only bold faces: Arial Bold or its metric twin.
    const std::string fonts = Fonts(pdf);
    EXPECT_TRUE(std::regex_search(fonts, std::regex(R"((Arial|LiberationSans)-?Bold)"))) << fonts;
    EXPECT_FALSE(std::regex_search(fonts, std::regex(R"((Arial|LiberationSans)(MT)?\s)"))) << fonts;
    // Cell text is 200 twips of character cell: about 10 points from top to bottom.
    EXPECT_NEAR(firstCell->yMax - firstCell->yMin, 10.0, 1.5);
}

TEST_F(PrintPdfTest, PrinterHonoursRangeNameAndShrinksOntoSmallSheets) {
    PrintDocument local = RemoteLog(34);
    local.documentName = "Local Log";
    local.geometry = LocalLogGeometry();

    // Page 2 only, as a range chosen in the print dialog, on A5: the layout does not fit
    // and is shrunk so that its footer stays on the sheet.
    const fs::path pdf = m_root / "range.pdf";
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf.string()));
    printer.setPageSize(QPageSize(QPageSize::A5));
    printer.setPrintRange(QPrinter::PageRange);
    printer.setFromTo(2, 5);
    ASSERT_TRUE(PrintOnPrinter(local, printer));

    const std::string info = Info(pdf);
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Pages:\s+1\n)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Title:\s+Local Log\n)"))) << info;
    const std::string page = PageText(pdf, 1);
    EXPECT_TRUE(Has(page, "n34"));
    EXPECT_FALSE(Has(page, "n33"));
    EXPECT_TRUE(HasFooter(page, 2, 2)) << page;

    const double a5Width = 419.53, a5Height = 595.28;
    const auto slash = Find(pdf, 1, "/");
    ASSERT_TRUE(slash);
    EXPECT_LT(slash->yMax, a5Height);
    EXPECT_GT(slash->Y(), a5Height * 0.8);  // still near the bottom: shrunk, not cut
    const auto row = Find(pdf, 1, "detail34");
    ASSERT_TRUE(row);
    EXPECT_LT(row->xMax, a5Width);

    // A range wholly past the last page starts no job.
    const fs::path none = m_root / "none.pdf";
    printer.setOutputFileName(QString::fromStdString(none.string()));
    printer.setFromTo(3, 4);
    EXPECT_FALSE(PrintOnPrinter(local, printer));
    EXPECT_FALSE(fs::exists(none));
}

TEST_F(PrintPdfTest, NothingIsWrittenForNoRowsOrAnUnwritablePlace) {
    QString error;
    const fs::path empty = m_root / "empty.pdf";
    EXPECT_FALSE(PrintToPdf(RemoteLog(0), QString::fromStdString(empty.string()), &error));
    EXPECT_EQ(error, QStringLiteral("nothing to print"));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(empty.string()));
    EXPECT_FALSE(PrintOnPrinter(RemoteLog(0), printer));

    error.clear();
    const fs::path missing = m_root / "missing" / "log.pdf";
    EXPECT_FALSE(PrintToPdf(RemoteLog(3), QString::fromStdString(missing.string()), &error));
    EXPECT_FALSE(error.isEmpty());

    // A failed save keeps the earlier file as it was.
    const fs::path kept = m_root / "kept.pdf";
    ASSERT_TRUE(PrintToPdf(RemoteLog(1), QString::fromStdString(kept.string()), nullptr));
    const auto size = fs::file_size(kept);
    fs::create_directory(m_root / "taken.pdf");
    EXPECT_FALSE(
        PrintToPdf(RemoteLog(3), QString::fromStdString((m_root / "taken.pdf").string()), &error));
    EXPECT_EQ(fs::file_size(kept), size);

    auto names = Entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kept.pdf", "taken.pdf"}));
}

}  // namespace
}  // namespace taviro::lists::ui
