// The local settings over the key-value store: defaults from the branding file, the exact
// paths and types written, and what is made of values the client cannot use.
#include "app/local_setup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace taviro::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

class LocalSetupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* home = std::getenv("HOME"))
            m_home = home;
        setenv("HOME", "/home/operator", 1);
    }
    void TearDown() override {
        if (m_home) {
            setenv("HOME", m_home->c_str(), 1);
        } else {
            unsetenv("HOME");
        }
    }
    std::optional<std::string> m_home;
    platform::CMemorySettingsStore m_store;
    Branding m_branding;
};

TEST_F(LocalSetupTest, NothingStoredAndNoBrandingGivesTheDefaults) {
    const LocalSetup setup = LoadLocalSetup(m_store, m_branding);
    EXPECT_EQ(setup.drawMode, 0);
    EXPECT_EQ(setup.dateFormat, 0);
    EXPECT_EQ(setup.saveFormat, 0);
    EXPECT_EQ(setup.location, "/home/operator/TAVIRO");
    for (std::uint8_t a : setup.opacity)
        EXPECT_EQ(a, 255);
    for (std::uint8_t depth : setup.audioBuffer)
        EXPECT_EQ(depth, 2);
    for (std::size_t ch = 0; ch < kDeinterlaceCount; ++ch)
        EXPECT_FALSE(setup.DeinterlaceOn(ch));
    EXPECT_EQ(setup.hourSystem, 1);
    EXPECT_EQ(setup.watermark, 0);
    EXPECT_TRUE(m_store.Values().empty());  // reading writes nothing
}

TEST_F(LocalSetupTest, BrandingDefaultsAreComparedUpperCased) {
    EXPECT_EQ(DateFormatFromBranding("dd-mm-yyyy"), 2);
    EXPECT_EQ(DateFormatFromBranding("Mm-Dd-YYYY"), 1);
    EXPECT_EQ(DateFormatFromBranding("YYYY-MM-DD"), 0);
    EXPECT_EQ(DateFormatFromBranding("DD.MM.YYYY"), 0);
    EXPECT_EQ(DrawModeFromBranding("rgb"), 1);
    EXPECT_EQ(DrawModeFromBranding("YUV"), 0);
    EXPECT_EQ(DrawModeFromBranding("RGB "), 0);

    m_branding.dateFormat = "dd-mm-yyyy";
    m_branding.drawMode = "Rgb";
    m_branding.folderName = "Brand";
    const LocalSetup setup = LoadLocalSetup(m_store, m_branding);
    EXPECT_EQ(setup.dateFormat, 2);
    EXPECT_EQ(setup.drawMode, 1);
    EXPECT_EQ(setup.location, "/home/operator/Brand");
}

TEST_F(LocalSetupTest, SaveWritesEveryValueUnderItsPathAndType) {
    LocalSetup setup = DefaultLocalSetup(m_branding);
    setup.drawMode = 1;
    setup.dateFormat = 2;
    setup.saveFormat = 2;
    setup.location = "/srv/video";
    for (std::size_t i = 0; i < kOpacityCount; ++i)
        setup.opacity[i] = static_cast<std::uint8_t>(100 + i);
    setup.audioBuffer = {1, 5, 8};
    setup.deinterlace[0] = 1;
    setup.deinterlace[15] = 1;
    setup.hourSystem = 0;
    setup.watermark = 1;
    setup.reconnect = 0;
    setup.drawModeChosen = 1;
    ASSERT_TRUE(SaveLocalSetup(m_store, setup));

    const auto& values = m_store.Values();
    EXPECT_EQ(values.size(), 5u + 1u + 8u + 3u + 16u + 1u + 1u);
    auto dword = [&](const char* key) { return std::get<std::uint32_t>(values.at(key)); };
    auto bytes = [&](const char* key) { return std::get<Bytes>(values.at(key)); };
    EXPECT_EQ(dword("LocalSetup/DrawMode"), 1u);
    EXPECT_EQ(dword("LocalSetup/DateFormat"), 2u);
    EXPECT_EQ(dword("LocalSetup/SaveFormat"), 2u);
    EXPECT_EQ(dword("LocalSetup/HourSystem"), 0u);
    EXPECT_EQ(dword("LocalSetup/Watermark"), 1u);
    EXPECT_EQ(dword("Reconnect/Enabled"), 0u);
    EXPECT_EQ(dword("Renderer/Chosen"), 1u);
    EXPECT_EQ(std::get<std::string>(values.at("LocalSetup/Location")), "/srv/video");
    EXPECT_EQ(bytes("LocalSetup/Opacity/01"), Bytes{100});
    EXPECT_EQ(bytes("LocalSetup/Opacity/08"), Bytes{107});
    EXPECT_EQ(values.count("LocalSetup/Opacity/09"), 0u);  // the popup's is not kept
    EXPECT_EQ(bytes("LocalSetup/AudioBuf/01"), Bytes{1});
    EXPECT_EQ(bytes("LocalSetup/AudioBuf/03"), Bytes{8});
    EXPECT_EQ(bytes("LocalSetup/Deinterlace/01"), Bytes{1});
    EXPECT_EQ(bytes("LocalSetup/Deinterlace/02"), Bytes{0});
    EXPECT_EQ(bytes("LocalSetup/Deinterlace/16"), Bytes{1});

    LocalSetup expected = setup;
    expected.opacity[opacity::kPopup] = 255;  // opaque again at the next start
    EXPECT_EQ(LoadLocalSetup(m_store, m_branding), expected);
}

TEST_F(LocalSetupTest, StoredOpacityReachesItsWindowButNotThePopup) {
    m_store.SetBytes(setup_key::Opacity(opacity::kConnect), Bytes{128});
    const LocalSetup setup = LoadLocalSetup(m_store, m_branding);
    EXPECT_EQ(setup.opacity[opacity::kConnect], 128);
    EXPECT_EQ(setup.opacity[opacity::kRemoteSearch], 255);
    EXPECT_EQ(setup.opacity[opacity::kPopup], 255);
}

TEST_F(LocalSetupTest, WordsOutOfRangeOrOfTheWrongTypeTakeTheirDefault) {
    m_branding.drawMode = "RGB";
    m_branding.dateFormat = "MM-DD-YYYY";
    m_store.SetInt(setup_key::kDrawMode, 2);
    m_store.SetInt(setup_key::kDateFormat, 0xFFFFFFFFu);
    m_store.SetString(setup_key::kSaveFormat, "1");
    m_store.SetInt(setup_key::kHourSystem, 2);
    m_store.SetBytes(setup_key::kWatermark, Bytes{1, 0, 0, 0});
    const LocalSetup setup = LoadLocalSetup(m_store, m_branding);
    EXPECT_EQ(setup.drawMode, 1);
    EXPECT_EQ(setup.dateFormat, 1);
    EXPECT_EQ(setup.saveFormat, 0);
    EXPECT_EQ(setup.hourSystem, 1);
    EXPECT_EQ(setup.watermark, 0);

    m_store.SetInt(setup_key::kDrawMode, 0);
    m_store.SetInt(setup_key::kDateFormat, 2);
    EXPECT_EQ(LoadLocalSetup(m_store, m_branding).drawMode, 0);  // stored beats branding
    EXPECT_EQ(LoadLocalSetup(m_store, m_branding).dateFormat, 2);
}

TEST_F(LocalSetupTest, ByteValuesAreReadWithTheSizesAskedFor) {
    // Opacity and audio depth: up to 4 bytes, the first kept.
    m_store.SetBytes(setup_key::Opacity(1), Bytes{77, 1, 2, 3});
    m_store.SetBytes(setup_key::Opacity(2), Bytes{77, 1, 2, 3, 4});
    m_store.SetBytes(setup_key::Opacity(3), Bytes{});
    m_store.SetInt(setup_key::Opacity(4), 10);
    m_store.SetBytes(setup_key::AudioBuffer(0), Bytes{3, 0});
    m_store.SetBytes(setup_key::AudioBuffer(1), Bytes{200});  // beyond the depth range
    // De-interlace: exactly 1 byte, non-zero is on.
    m_store.SetBytes(setup_key::Deinterlace(0), Bytes{7});
    m_store.SetBytes(setup_key::Deinterlace(1), Bytes{1, 1});
    m_store.SetInt(setup_key::Deinterlace(2), 1);
    const LocalSetup setup = LoadLocalSetup(m_store, m_branding);
    EXPECT_EQ(setup.opacity[1], 77);
    EXPECT_EQ(setup.opacity[2], 255);
    EXPECT_EQ(setup.opacity[3], 255);
    EXPECT_EQ(setup.opacity[4], 255);
    EXPECT_EQ(setup.audioBuffer[0], 3);
    EXPECT_EQ(setup.audioBuffer[1], 2);
    EXPECT_EQ(setup.deinterlace[0], 1);
    EXPECT_FALSE(setup.DeinterlaceOn(1));
    EXPECT_FALSE(setup.DeinterlaceOn(2));
    EXPECT_FALSE(setup.DeinterlaceOn(16));  // no such channel
}

TEST_F(LocalSetupTest, UnusableLocationsAreNeitherReadNorWritten) {
    const std::string longest = "/" + std::string(kLocationMax - 1, 'd');
    for (const std::string& bad : {std::string(), std::string("relative/dir"),
                                   std::string("/with\0nul", 9), longest + "d"}) {
        m_store.SetString(setup_key::kLocation, bad);
        EXPECT_EQ(LoadLocalSetup(m_store, m_branding).location, "/home/operator/TAVIRO");
    }
    m_store.SetString(setup_key::kLocation, longest);
    EXPECT_EQ(LoadLocalSetup(m_store, m_branding).location, longest);

    LocalSetup setup = DefaultLocalSetup(m_branding);
    setup.location = "relative";
    EXPECT_FALSE(SaveLocalSetup(m_store, setup));
    EXPECT_EQ(m_store.GetString(setup_key::kLocation), longest);  // the stored one stays
    EXPECT_EQ(m_store.GetInt(setup_key::kHourSystem), 1u);        // the rest is written
}

TEST_F(LocalSetupTest, AFailingStoreIsReportedToTheCallerOnly) {
    m_store.SetFailWrites(true);
    EXPECT_FALSE(SaveLocalSetup(m_store, DefaultLocalSetup(m_branding)));
    EXPECT_TRUE(m_store.Values().empty());
}

TEST(SettingsStoreTest, AValueReadUnderAnotherTypeIsAbsentAndWritesReplaceTheType) {
    platform::CMemorySettingsStore store;
    EXPECT_TRUE(store.SetInt("LocalSetup/DrawMode", 1));
    EXPECT_FALSE(store.GetString("LocalSetup/DrawMode"));
    EXPECT_FALSE(store.GetBytes("LocalSetup/DrawMode"));
    EXPECT_TRUE(store.SetString("LocalSetup/DrawMode", "x"));
    EXPECT_FALSE(store.GetInt("LocalSetup/DrawMode"));
    EXPECT_EQ(store.GetString("LocalSetup/DrawMode"), "x");
    EXPECT_FALSE(store.SetInt("", 1));
    EXPECT_TRUE(store.Erase("LocalSetup/DrawMode"));
    EXPECT_FALSE(store.Erase("LocalSetup/DrawMode"));
    EXPECT_TRUE(store.Values().empty());
}

}  // namespace
}  // namespace taviro::app
