// The settings store over a real INI file: values keep their types across a reopening, a
// value read under another type gives nothing, and the local settings go through intact.
#include "platform/ui/qsettings_store.h"

#include <gtest/gtest.h>

#include <QSettings>

#include "support/temp_folder_test.h"

namespace taviro::platform::ui {
namespace {

class QSettingsStoreTest : public taviro::testing::CTempFolderTest {
  protected:
    QSettingsStoreTest() : CTempFolderTest("taviro-qsettings-") {}
    void SetUp() override {
        CTempFolderTest::SetUp();
        std::filesystem::create_directories(m_root);
        m_ini = QString::fromStdString((m_root / "TAVIRO.ini").string());
    }
    QString m_ini;
};

TEST_F(QSettingsStoreTest, ValuesKeepTheirTypesAcrossReopening) {
    const std::vector<std::uint8_t> bytes = {0x00, 0xFF, 0x80, 0x0A};
    {
        CQSettingsStore store(m_ini);
        EXPECT_TRUE(store.SetInt("LocalSetup/DrawMode", 1));
        EXPECT_TRUE(store.SetInt("IPSetup/ServerIP/Port", 0xFFFFFFFFu));
        EXPECT_TRUE(store.SetString("LocalSetup/Location", "/home/op/a, b; \"c\" = d"));
        EXPECT_TRUE(store.SetString("IPSetup/ServerIP/IP", "dword:00000001"));
        EXPECT_TRUE(store.SetString("Empty", ""));
        EXPECT_TRUE(store.SetBytes("LocalSetup/Opacity/01", bytes));
        EXPECT_TRUE(store.SetBytes("LocalSetup/Opacity/02", {}));
        EXPECT_TRUE(store.Sync());
    }
    CQSettingsStore store(m_ini);
    EXPECT_EQ(store.GetInt("LocalSetup/DrawMode"), 1u);
    EXPECT_EQ(store.GetInt("IPSetup/ServerIP/Port"), 0xFFFFFFFFu);
    EXPECT_EQ(store.GetString("LocalSetup/Location"), "/home/op/a, b; \"c\" = d");
    // A text that looks like a tagged number stays a text.
    EXPECT_EQ(store.GetString("IPSetup/ServerIP/IP"), "dword:00000001");
    EXPECT_FALSE(store.GetInt("IPSetup/ServerIP/IP"));
    EXPECT_EQ(store.GetString("Empty"), "");
    EXPECT_EQ(store.GetBytes("LocalSetup/Opacity/01"), bytes);
    EXPECT_EQ(store.GetBytes("LocalSetup/Opacity/02"), std::vector<std::uint8_t>{});

    // The keys are laid out like the registry: the value repeats the key's last component.
    QSettings raw(m_ini, QSettings::IniFormat);
    EXPECT_TRUE(raw.contains("LocalSetup/DrawMode/DrawMode"));
    EXPECT_TRUE(raw.contains("LocalSetup/Opacity/01/01"));
    EXPECT_TRUE(raw.contains("IPSetup/ServerIP/Port/Port"));
}

TEST_F(QSettingsStoreTest, AnotherTypeAbsentValuesAndBadPathsGiveNothing) {
    CQSettingsStore store(m_ini);
    store.SetInt("A/Int", 7);
    store.SetString("A/Text", "7");
    const std::uint8_t one[] = {7};
    store.SetBytes("A/Bytes", one);
    EXPECT_FALSE(store.GetString("A/Int"));
    EXPECT_FALSE(store.GetBytes("A/Int"));
    EXPECT_FALSE(store.GetInt("A/Text"));
    EXPECT_FALSE(store.GetBytes("A/Text"));
    EXPECT_FALSE(store.GetInt("A/Bytes"));
    EXPECT_FALSE(store.GetString("A/Bytes"));
    EXPECT_FALSE(store.GetInt("A/Missing"));

    // Writing another type replaces the value.
    store.SetString("A/Int", "now text");
    EXPECT_FALSE(store.GetInt("A/Int"));
    EXPECT_EQ(store.GetString("A/Int"), "now text");

    for (const char* bad : {"", "/A", "A/", "A//B", "A\\B"}) {
        EXPECT_FALSE(store.SetInt(bad, 1)) << bad;
        EXPECT_FALSE(store.GetInt(bad)) << bad;
    }
}

TEST_F(QSettingsStoreTest, HandEditedAndDamagedEntries) {
    {
        QSettings raw(m_ini, QSettings::IniFormat);
        raw.setValue("LocalSetup/Location/Location", "/plain/text");
        raw.setValue("LocalSetup/DrawMode/DrawMode", "dword:xyz");
        raw.setValue("LocalSetup/DateFormat/DateFormat", "dword:000000011");
        raw.setValue("LocalSetup/SaveFormat/SaveFormat", 2);
    }
    CQSettingsStore store(m_ini);
    EXPECT_EQ(store.GetString("LocalSetup/Location"), "/plain/text");
    EXPECT_FALSE(store.GetInt("LocalSetup/DrawMode"));
    EXPECT_FALSE(store.GetString("LocalSetup/DrawMode"));
    EXPECT_FALSE(store.GetInt("LocalSetup/DateFormat"));
    // A bare number in the file is no tagged word.
    EXPECT_FALSE(store.GetInt("LocalSetup/SaveFormat"));
}

}  // namespace
}  // namespace taviro::platform::ui
