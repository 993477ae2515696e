#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "app/main_window_layout.h"
#include "description.h"
#include "draw.h"
#include "platform/skin_numbers.h"

namespace taviro::skin {
namespace {

std::vector<Entry> Parse(const std::string& text, std::string* error = nullptr) {
    std::vector<Entry> out;
    std::string e;
    const bool ok = ParseDescription(text, "test.txt", out, e);
    if (error != nullptr)
        *error = ok ? std::string() : e;
    return ok ? out : std::vector<Entry>{};
}

TEST(SkinDescription, ReadsEntriesKeysQuotesAndComments) {
    const auto entries = Parse(
        "# heading\n"
        "\n"
        "1557  button  46x44  style=tool icon=plug label=\"Connect now\"  # trailing\r\n"
        "ComMark idle 720x480\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].number, 1557);
    EXPECT_EQ(entries[0].kind, "button");
    EXPECT_EQ(entries[0].width, 46);
    EXPECT_EQ(entries[0].height, 44);
    EXPECT_EQ(entries[0].Key("label"), "Connect now");
    EXPECT_EQ(entries[0].Key("style"), "tool");
    EXPECT_EQ(entries[0].keys.size(), 3u);
    EXPECT_EQ(entries[0].line, 3);
    EXPECT_FALSE(entries[1].number.has_value());
    EXPECT_EQ(entries[1].Id(), "ComMark");
    EXPECT_EQ(entries[1].IntKey("frames", 5), 5);
}

TEST(SkinDescription, RefusesBadLinesWithTheirPlace) {
    for (const char* bad : {"1 button\n", "1 button 0x10\n", "1 button 10x\n", "1 button 9000x2\n",
                            "70000 button 2x2\n", "1 button 2x2 novalue\n",
                            "1 button 2x2 label=\"open\n", "1 button 2x2 =x\n"}) {
        std::string error;
        EXPECT_TRUE(Parse(bad, &error).empty()) << bad;
        EXPECT_NE(error.find("test.txt:1:"), std::string::npos) << bad << " -> " << error;
    }
    std::string error;
    Parse("1 button 2x2\n\n3 nonsense\n", &error);
    EXPECT_NE(error.find("test.txt:3:"), std::string::npos) << error;
}

QImage Draw(const std::string& line, std::string* error = nullptr,
            const std::vector<Entry>* others = nullptr) {
    const auto entries = Parse(line);
    EXPECT_EQ(entries.size(), 1u) << line;
    if (entries.empty())
        return {};
    std::map<std::string, const Entry*> all;
    if (others != nullptr)
        for (const Entry& e : *others)
            all[e.Id()] = &e;
    std::string e;
    QImage image = DrawEntry(entries[0], all, e);
    if (error != nullptr)
        *error = e;
    return image;
}

TEST(SkinDrawing, StripsHaveOneFrameOfTheSizePerState) {
    EXPECT_EQ(Draw("1 button 40x32 style=icon icon=play").size(), QSize(200, 32));
    EXPECT_EQ(Draw("1 button 16x13 style=flat icon=min frames=4").size(), QSize(64, 13));
    EXPECT_EQ(Draw("1 check 16x16").size(), QSize(80, 16));
    const QImage strip = Draw("1 button 30x20 style=text");
    // Normal, hover and pressed frames differ where the face is.
    const auto centre = [&](int frame) { return strip.pixel(frame * 30 + 15, 10); };
    EXPECT_NE(centre(0), centre(1));
    EXPECT_NE(centre(0), centre(3));
    EXPECT_NE(centre(3), centre(4));
}

TEST(SkinDrawing, UnknownNamesAreRefused) {
    std::string error;
    EXPECT_TRUE(Draw("1 button 10x10 style=icon icon=nope", &error).isNull());
    EXPECT_NE(error.find("nope"), std::string::npos);
    EXPECT_TRUE(Draw("1 button 10x10 style=weird", &error).isNull());
    EXPECT_TRUE(Draw("1 button 10x10 frames=9", &error).isNull());
    EXPECT_TRUE(Draw("1 sparkle 10x10", &error).isNull());
    EXPECT_TRUE(Draw("1 icon 16x16 glyph=nope", &error).isNull());
    EXPECT_TRUE(Draw("2 mask 16x16 of=1", &error).isNull());  // no such icon
    const auto icon = Parse("1 icon 16x16 glyph=play\n");
    EXPECT_TRUE(Draw("2 mask 8x8 of=1", &error, &icon).isNull());  // size differs
    EXPECT_FALSE(Draw("2 mask 16x16 of=1", &error, &icon).isNull());
}

TEST(SkinDrawing, MainBackgroundHasAWellUnderEveryButtonOfTheTable) {
    const QImage bg = DrawMainBackground(app::kMainWindowWidth, app::kMainWindowHeight);
    const QRgb well = Colors().well.rgb();
    for (const app::MainControl& m : app::MainWindowControls()) {
        if (m.picture == 0 || m.id == app::kMinButtonId)
            continue;
        SCOPED_TRACE(m.id);
        // The one-pixel rim of the well shows left and right of the button's middle.
        const int y = m.rect.y + m.rect.height / 2;
        EXPECT_EQ(bg.pixel(m.rect.x - 1, y) | 0xFF000000u, well);
        EXPECT_EQ(bg.pixel(m.rect.Right(), y) | 0xFF000000u, well);
    }
    // And none where no control is: the middle of the grid.
    const QPoint grid(app::kChannelGridRect.x + 400, app::kChannelGridRect.y + 300);
    EXPECT_NE(bg.pixel(grid) | 0xFF000000u, well);
}

class SkinGeneratorRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariable("TAVIRO_SOURCE_DIR").isEmpty()) << "run through ctest";
        ASSERT_TRUE(m_dir.isValid());
    }
    int Run(const QString& description, const QString& texts) {
        const QString descPath = m_dir.filePath(QStringLiteral("d.txt"));
        const QString textsPath = m_dir.filePath(QStringLiteral("t.txt"));
        Write(descPath, description);
        Write(textsPath, texts);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TAVIRO_SKIN_GEN),
                {QStringLiteral("--out"), m_dir.filePath(QStringLiteral("pack")),
                 QStringLiteral("--texts"), textsPath, descPath});
        EXPECT_TRUE(p.waitForFinished(60000));
        m_err = p.readAllStandardError().toStdString();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    static void Write(const QString& path, const QString& text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    static QString ShippedDescription() {
        QString all;
        const QDir dir(qEnvironmentVariable("TAVIRO_SOURCE_DIR") +
                       QStringLiteral("/skin/description"));
        for (const QString& name :
             dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            all += QString::fromUtf8(f.readAll()) + QStringLiteral("\n");
        }
        return all;
    }
    static QString ShippedTexts() {
        QFile f(qEnvironmentVariable("TAVIRO_SOURCE_DIR") + QStringLiteral("/skin/texts.txt"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QString::fromUtf8(f.readAll());
    }
    QTemporaryDir m_dir;
    std::string m_err;
};

TEST_F(SkinGeneratorRun, ShippedDescriptionBuildsAndStalePicturesGo) {
    QDir().mkpath(m_dir.filePath(QStringLiteral("pack")));
    Write(m_dir.filePath(QStringLiteral("pack/4242.png")), QStringLiteral("old"));
    ASSERT_EQ(Run(ShippedDescription(), ShippedTexts()), 0) << m_err;
    const QDir pack(m_dir.filePath(QStringLiteral("pack")));
    EXPECT_TRUE(pack.exists(QStringLiteral("1538.png")));
    EXPECT_TRUE(pack.exists(QStringLiteral("VdoLoss.png")));
    EXPECT_TRUE(pack.exists(QStringLiteral("texts.txt")));
    EXPECT_FALSE(pack.exists(QStringLiteral("4242.png")));
}

TEST_F(SkinGeneratorRun, RefusesAStripThatDoesNotFitItsControl) {
    QString description = ShippedDescription();
    description.replace(QStringLiteral("1557  button  46x44"),
                        QStringLiteral("1557  button  46x40"));
    EXPECT_EQ(Run(description, ShippedTexts()), 1);
    EXPECT_NE(m_err.find("control 360"), std::string::npos) << m_err;
}

TEST_F(SkinGeneratorRun, RefusesMissingPicturesTextsAndBadTexts) {
    QString description = ShippedDescription();
    description.replace(QStringLiteral("1605  mask"), QStringLiteral("1699  mask"));
    EXPECT_EQ(Run(description, ShippedTexts()), 1);
    EXPECT_NE(m_err.find("1605"), std::string::npos) << m_err;

    QString texts = ShippedTexts();
    texts.replace(QStringLiteral("5883  Start recording"), QStringLiteral("# gone"));
    EXPECT_EQ(Run(ShippedDescription(), texts), 1);
    EXPECT_NE(m_err.find("5883"), std::string::npos) << m_err;

    EXPECT_EQ(Run(ShippedDescription(), ShippedTexts() + QStringLiteral("77 bad \\q\n")), 1);
    EXPECT_EQ(Run(ShippedDescription() + QStringLiteral("1538 main 928x712\n"), ShippedTexts()), 1);
    EXPECT_NE(m_err.find("twice"), std::string::npos) << m_err;
}

}  // namespace
}  // namespace taviro::skin
