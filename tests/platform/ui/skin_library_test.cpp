#include "platform/ui/skin_library.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "platform/skin_numbers.h"

namespace taviro::platform::ui {
namespace {

using namespace platform::skin;  // the picture numbers under test

QString PackFolder() {
    return qEnvironmentVariable("TAVIRO_SKIN");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Restores the working directory and TAVIRO_SKIN whatever a test changes.
class SkinLibraryTest : public ::testing::Test {
  protected:
    void TearDown() override {
        QDir::setCurrent(m_cwd);
        qputenv("TAVIRO_SKIN", m_env);
    }
    QString m_cwd = QDir::currentPath();
    QByteArray m_env = qgetenv("TAVIRO_SKIN");
};

TEST_F(SkinLibraryTest, BuiltPackHasTheDocumentedSizes) {
    CSkinLibrary skin;
    ASSERT_TRUE(skin.Load(PackFolder())) << PackFolder().toStdString();
    EXPECT_TRUE(skin.Loaded());
    const struct {
        int number;
        int width;
        int height;
    } sizes[] = {
        {kPicMainBackground, 928, 712},
        {kPicMinButton, 16 * kMinButtonFrames, 13},
        {kPicTextButtonSmall, 64 * kButtonFrames, 22},
        {kPicTextButtonMedium, 88 * kButtonFrames, 24},
        {kPicTextButtonLarge, 120 * kButtonFrames, 28},
        {kPicCheckBox, 16 * kButtonFrames, 16},
        {kPicRadio, 16 * kButtonFrames, 16},
        {kPicSliderThumbH, 11, 16},
        {kPicSliderThumbV, 16, 11},
        {kPicIconStepForward, 11, 16},
        {kPicIconStepBackwardMask, 11, 16},
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.number);
        const QImage image = skin.Image(s.number);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), s.width);
        EXPECT_EQ(image.height(), s.height);
        EXPECT_EQ(skin.Picture(s.number).size(), image.size());
    }
    for (int n : {1600, 1601, 1602, 1603, 1604, 1605, 1606, 1607, 1733, 1734,
                  1735, 1736, 2291, 2292, 2293, 2294, 2303, 2304, 2305, 2306})
        EXPECT_EQ(skin.Image(n).size(), QSize(kStatusIconSize, kStatusIconSize)) << n;
    EXPECT_FALSE(skin.Text(5000).isEmpty());
    EXPECT_FALSE(skin.Text(5883).isEmpty());
    EXPECT_EQ(skin.NamedPicture(kNamedIdle).size(), QSize(kNamedPictureWidth, kNamedPictureHeight));
    EXPECT_EQ(skin.NamedPicture(kNamedVideoLoss).size(),
              QSize(kNamedPictureWidth, kNamedPictureHeight));
}

// The renderer combines image and mask: the mask is pure black/white, black exactly where
// the icon shows, and the image is black wherever the mask is white.
TEST_F(SkinLibraryTest, StatusIconPairsFollowTheMaskConvention) {
    CSkinLibrary skin;
    ASSERT_TRUE(skin.Load(PackFolder()));
    for (int image :
         {kPicIconPause, kPicIconPlay, kPicIconForwardSlice, kPicIconBackwardSlice,
          kPicIconStepForward, kPicIconStepBackward, kPicIconAudioHeard, kPicIconAudioMuted,
          kPicIconPtz1, kPicIconPtz2, kPicIconNoCheck, kPicIconChecked}) {
        SCOPED_TRACE(image);
        const QImage pic = skin.Image(image);
        const QImage mask = skin.Image(image + 1);
        ASSERT_FALSE(pic.isNull());
        ASSERT_EQ(pic.size(), mask.size());
        int opaque = 0;
        for (int y = 0; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x) {
                const QRgb m = mask.pixel(x, y) & 0xFFFFFFu;
                ASSERT_TRUE(m == 0 || m == 0xFFFFFFu);
                if (m == 0xFFFFFFu)
                    EXPECT_EQ(pic.pixel(x, y) & 0xFFFFFFu, 0u);
                else
                    ++opaque;
            }
        EXPECT_GT(opaque, 10);                               // something shows
        EXPECT_LT(opaque, pic.width() * pic.height() - 10);  // and it is not a square
    }
}

TEST_F(SkinLibraryTest, MissingNumbersAndFoldersYieldNothing) {
    CSkinLibrary skin;
    ASSERT_TRUE(skin.Load(PackFolder()));
    EXPECT_TRUE(skin.Picture(9999).isNull());
    EXPECT_TRUE(skin.Image(-1).isNull());
    EXPECT_TRUE(skin.Text(1).isEmpty());
    EXPECT_TRUE(skin.NamedPicture(QStringLiteral("NoSuchPicture")).isNull());

    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_FALSE(skin.Load(empty.path()));
    EXPECT_FALSE(skin.Loaded());
    EXPECT_TRUE(skin.Image(kPicMainBackground).isNull());
    EXPECT_TRUE(skin.Text(5000).isEmpty());
    EXPECT_FALSE(skin.Load(empty.path() + QStringLiteral("/absent")));
    EXPECT_FALSE(skin.Load(QString()));
}

TEST_F(SkinLibraryTest, OnlyNumberedPicturesAndCleanTextsLoad) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage small(3, 2, QImage::Format_RGB32);
    small.fill(Qt::red);
    ASSERT_TRUE(small.save(dir.filePath(QStringLiteral("12.png"))));
    ASSERT_TRUE(small.save(dir.filePath(QStringLiteral("65536.png"))));  // out of range
    ASSERT_TRUE(small.save(dir.filePath(QStringLiteral("1x2.png"))));
    WriteFile(dir.filePath(QStringLiteral("13.png")), "not a picture at all");
    WriteFile(dir.filePath(QStringLiteral("texts.txt")), "7 seven\n8 bad \\q\n9 nine\\tend\n");
    CSkinLibrary skin;
    ASSERT_TRUE(skin.Load(dir.path()));
    EXPECT_EQ(skin.Image(12).size(), QSize(3, 2));
    EXPECT_TRUE(skin.Image(13).isNull());
    EXPECT_TRUE(skin.Image(1).isNull());
    EXPECT_EQ(skin.Text(7), QStringLiteral("seven"));
    EXPECT_TRUE(skin.Text(8).isEmpty());
    EXPECT_EQ(skin.Text(9), QStringLiteral("nine\tend"));
}

TEST_F(SkinLibraryTest, WorkingDirectoryPicturesWinOverThePack) {
    CSkinLibrary skin;
    ASSERT_TRUE(skin.Load(PackFolder()));
    QTemporaryDir here;
    ASSERT_TRUE(here.isValid());
    QImage own(40, 30, QImage::Format_RGB32);
    own.fill(Qt::green);
    ASSERT_TRUE(own.save(here.filePath(QStringLiteral("VdoLoss.bmp")), "BMP"));
    QImage png(20, 10, QImage::Format_RGB32);
    png.fill(Qt::blue);
    ASSERT_TRUE(png.save(here.filePath(QStringLiteral("VdoLoss.png"))));
    ASSERT_TRUE(png.save(here.filePath(QStringLiteral("ComMark.png"))));
    ASSERT_TRUE(QDir::setCurrent(here.path()));
    EXPECT_EQ(skin.NamedPicture(QStringLiteral("VdoLoss")).size(), QSize(40, 30));  // .bmp first
    EXPECT_EQ(skin.NamedPicture(QStringLiteral("ComMark")).size(), QSize(20, 10));
    // Names never leave the folders.
    EXPECT_TRUE(skin.NamedPicture(QStringLiteral("../VdoLoss")).isNull());
    EXPECT_TRUE(skin.NamedPicture(QString()).isNull());
    QFile::remove(here.filePath(QStringLiteral("ComMark.png")));
    EXPECT_EQ(skin.NamedPicture(QStringLiteral("ComMark")).width(), kNamedPictureWidth);
}

TEST_F(SkinLibraryTest, DefaultFolderPrefersTheVariableThenFindsTheBuildTree) {
    qputenv("TAVIRO_SKIN", "/somewhere/skin");
    EXPECT_EQ(CSkinLibrary::DefaultFolder(), QStringLiteral("/somewhere/skin"));
    qunsetenv("TAVIRO_SKIN");
    // This test runs from <build>/tests/platform/ui; the pack lies in <build>/skin.
    const QString expected =
        QDir(qEnvironmentVariable("TAVIRO_BINARY_DIR")).filePath(QStringLiteral("skin"));
    EXPECT_EQ(QDir(CSkinLibrary::DefaultFolder()).canonicalPath(), QDir(expected).canonicalPath());
}

TEST_F(SkinLibraryTest, ProcessWideLibraryIsOne) {
    EXPECT_EQ(&Skin(), &Skin());
}

}  // namespace
}  // namespace taviro::platform::ui
