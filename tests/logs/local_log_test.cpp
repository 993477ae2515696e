// The local log ring file "Log/m7400.log": its exact bytes, the wrap after 2,500 entries,
// the order the viewer lists, concurrent writers, and damaged or cut files.
#include "logs/local_log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace taviro::logs {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t LE32At(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void PutLE32At(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::string TextAt(const Bytes& b, std::size_t at, std::size_t width) {
    std::string s(reinterpret_cast<const char*>(b.data() + at), width);
    return s.substr(0, s.find('\0'));
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void WriteFile(const fs::path& p, const Bytes& b) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A record as the file holds it, built by hand.
Bytes RecordBytes(std::uint32_t number, std::uint32_t kind, std::uint32_t sub, std::uint32_t time,
                  const std::string& detail, const std::string& shortText) {
    Bytes r(kLocalLogRecordSize, 0);
    PutLE32At(r, 0, number);
    PutLE32At(r, 4, 184);
    PutLE32At(r, 8, kind);
    PutLE32At(r, 12, sub);
    PutLE32At(r, 16, time);
    std::memcpy(r.data() + 24, detail.data(), std::min<std::size_t>(detail.size(), 128));
    std::memcpy(r.data() + 152, shortText.data(), std::min<std::size_t>(shortText.size(), 32));
    return r;
}

// A whole file: header, then `count` records whose detail text is "slot N".
Bytes FileBytes(std::uint32_t full, std::uint32_t next, std::size_t count) {
    Bytes f(kLocalLogHeaderSize, 0);
    PutLE32At(f, 0, full);
    PutLE32At(f, 4, next);
    for (std::size_t i = 0; i < count; ++i) {
        const auto r =
            RecordBytes(static_cast<std::uint32_t>(i), 2, 1, 1000 + static_cast<std::uint32_t>(i),
                        "slot " + std::to_string(i), "u");
        f.insert(f.end(), r.begin(), r.end());
    }
    return f;
}

class LocalLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_root = fs::temp_directory_path() /
                 ("taviro_local_log_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }
    fs::path LogFile() const { return m_root / "Log" / "m7400.log"; }

    fs::path m_root;
};

TEST_F(LocalLogTest, FirstEntryHasTheExactFileLayout) {
    CLocalLog log(m_root);
    EXPECT_EQ(log.FilePath(), LogFile());
    log.SetFixedTimeForTest(0x11223344u);
    ASSERT_TRUE(log.WriteLocalLog(184, 2, 1, "admin", "192.168.0.10"));

    const Bytes f = ReadFile(LogFile());
    ASSERT_EQ(f.size(), 8u + 184u);
    const Bytes header = {0, 0, 0, 0, 1, 0, 0, 0};  // not full, next slot 1
    EXPECT_TRUE(std::equal(header.begin(), header.end(), f.begin()));
    const std::size_t r = 8;
    const Bytes fixed = {0,    0,    0,    0,     // number: slot 0
                         0xB8, 0,    0,    0,     // size 184
                         2,    0,    0,    0,     // kind
                         1,    0,    0,    0,     // sub-type
                         0x44, 0x33, 0x22, 0x11,  // time
                         0,    0,    0,    0};    // param
    EXPECT_TRUE(std::equal(fixed.begin(), fixed.end(), f.begin() + r));
    EXPECT_EQ(TextAt(f, r + 24, 128), "192.168.0.10");
    EXPECT_EQ(TextAt(f, r + 152, 32), "admin");
    // Both text fields are zero-filled to their ends.
    for (std::size_t i = r + 24 + 12; i < r + 152; ++i)
        ASSERT_EQ(f[i], 0) << i;
    for (std::size_t i = r + 152 + 5; i < r + 184; ++i)
        ASSERT_EQ(f[i], 0) << i;
}

TEST_F(LocalLogTest, EntriesGoToConsecutiveSlots) {
    CLocalLog log(m_root);
    log.SetFixedTimeForTest(7);
    ASSERT_TRUE(log.WriteLocalLog(184, 1, 1));
    ASSERT_TRUE(log.WriteLocalLog(184, 8, 2));
    ASSERT_TRUE(log.WriteLocalLog(184, 2, 4, "user", "10.0.0.1"));
    const Bytes f = ReadFile(LogFile());
    ASSERT_EQ(f.size(), 8u + 3u * 184u);
    EXPECT_EQ(LE32At(f, 0), 0u);
    EXPECT_EQ(LE32At(f, 4), 3u);
    for (std::uint32_t slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(LE32At(f, 8 + 184 * slot), slot);
        EXPECT_EQ(LE32At(f, 8 + 184 * slot + 4), 184u);
    }
    EXPECT_EQ(LE32At(f, 8 + 184 + 8), 8u);
    EXPECT_EQ(LE32At(f, 8 + 184 + 12), 2u);
    // Program start carries no texts.
    EXPECT_EQ(TextAt(f, 8 + 24, 128), "");
    EXPECT_EQ(TextAt(f, 8 + 152, 32), "");

    const auto c = ReadLocalLog(LogFile());
    EXPECT_FALSE(c.full);
    EXPECT_EQ(c.nextSlot, 3u);
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[2].shortText, "user");
    EXPECT_EQ(c.records[2].detail, "10.0.0.1");
    EXPECT_EQ(c.records[2].kind, 2u);
    EXPECT_EQ(c.records[2].subType, 4u);
    EXPECT_EQ(c.records[0].time, 7u);
    EXPECT_EQ(c.records[0].param, 0u);
}

TEST_F(LocalLogTest, TimeIsTheLocalWallClockOfEachEntry) {
    CLocalLog log(m_root);
    const auto before = LocalWallClockSeconds(static_cast<std::int64_t>(std::time(nullptr)));
    ASSERT_TRUE(log.WriteLocalLog(184, 1, 1));
    const auto after = LocalWallClockSeconds(static_cast<std::int64_t>(std::time(nullptr)));
    const auto c = ReadLocalLog(LogFile());
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_GE(static_cast<std::int64_t>(c.records[0].time), before);
    EXPECT_LE(static_cast<std::int64_t>(c.records[0].time), after);
}

// The offset is the one in force at each moment: winter and summer differ by an hour.
TEST(LocalWallClockTest, FollowsDaylightSaving) {
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    const std::int64_t winter = 1705320000;  // 2024-01-15 12:00:00 UTC
    const std::int64_t summer = 1721044800;  // 2024-07-15 12:00:00 UTC
    EXPECT_EQ(LocalWallClockSeconds(winter), winter + 3600);
    EXPECT_EQ(LocalWallClockSeconds(summer), summer + 7200);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    EXPECT_EQ(LocalWallClockSeconds(summer), summer);
    if (saved)
        ::setenv("TZ", savedZone.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST_F(LocalLogTest, RingWrapsAfter2500EntriesAndListsSlotZeroAsNewest) {
    CLocalLog log(m_root);
    log.SetFixedTimeForTest(1);
    for (int i = 0; i < 2499; ++i) {
        ASSERT_TRUE(log.WriteLocalLog(184, 2, 1, "u", "entry " + std::to_string(i)));
    }
    Bytes f = ReadFile(LogFile());
    EXPECT_EQ(LE32At(f, 0), 0u);
    EXPECT_EQ(LE32At(f, 4), 2499u);

    // The 2,500th entry fills slot 2499 and marks the ring full.
    ASSERT_TRUE(log.WriteLocalLog(184, 2, 1, "u", "entry 2499"));
    f = ReadFile(LogFile());
    ASSERT_EQ(f.size(), kLocalLogMaxFileSize);
    EXPECT_EQ(f.size(), 460008u);
    EXPECT_EQ(LE32At(f, 0), 1u);
    EXPECT_EQ(LE32At(f, 4), 0u);
    EXPECT_EQ(LE32At(f, 8 + 184 * 2499), 2499u);
    EXPECT_EQ(TextAt(f, 8 + 184 * 2499 + 24, 128), "entry 2499");

    // The 2,501st overwrites slot 0; the file does not grow.
    ASSERT_TRUE(log.WriteLocalLog(184, 2, 2, "u", "entry 2500"));
    f = ReadFile(LogFile());
    ASSERT_EQ(f.size(), 460008u);
    EXPECT_EQ(LE32At(f, 0), 1u);
    EXPECT_EQ(LE32At(f, 4), 1u);
    EXPECT_EQ(LE32At(f, 8), 0u);
    EXPECT_EQ(TextAt(f, 8 + 24, 128), "entry 2500");

    const auto c = ParseLocalLog(f);
    EXPECT_TRUE(c.full);
    EXPECT_EQ(c.nextSlot, 1u);
    ASSERT_EQ(c.records.size(), 2500u);
    EXPECT_EQ(c.records.front().detail, "entry 1");  // oldest: slot 1
    EXPECT_EQ(c.records.front().number, 1u);
    EXPECT_EQ(c.records[2498].detail, "entry 2499");
    EXPECT_EQ(c.records.back().detail, "entry 2500");  // newest: slot 0
    EXPECT_EQ(c.records.back().number, 0u);
    EXPECT_EQ(c.records.back().subType, 2u);
}

TEST_F(LocalLogTest, FullRingIsListedFromTheNextSlotOn) {
    const Bytes f = FileBytes(1, 10, kLocalLogSlots);
    const auto c = ParseLocalLog(f);
    ASSERT_EQ(c.records.size(), 2500u);
    EXPECT_EQ(c.records[0].detail, "slot 10");
    EXPECT_EQ(c.records[2489].detail, "slot 2499");
    EXPECT_EQ(c.records[2490].detail, "slot 0");
    EXPECT_EQ(c.records[2499].detail, "slot 9");
}

TEST_F(LocalLogTest, MissingFileListsNothingAndTheNextEntryCreatesIt) {
    EXPECT_TRUE(ReadLocalLog(LogFile()).records.empty());
    EXPECT_FALSE(fs::exists(LogFile()));  // reading does not create it
    CLocalLog log(m_root);
    ASSERT_TRUE(log.WriteLocalLog(184, 1, 1));
    EXPECT_TRUE(fs::exists(LogFile()));
    EXPECT_EQ(ReadLocalLog(LogFile()).records.size(), 1u);
}

TEST_F(LocalLogTest, LogFolderIsCreatedOnDemand) {
    const fs::path nested = m_root / "not" / "yet" / "there";
    CLocalLog log(nested);
    EXPECT_FALSE(fs::exists(nested));
    ASSERT_TRUE(log.WriteLocalLog(184, 1, 1));
    EXPECT_TRUE(fs::is_directory(nested / "Log"));
    EXPECT_TRUE(fs::exists(nested / "Log" / "m7400.log"));
}

TEST_F(LocalLogTest, PlayerModeWritesNothing) {
    CLocalLog log(m_root, true);
    EXPECT_FALSE(log.WriteLocalLog(184, 1, 1, "user", "address"));
    EXPECT_FALSE(fs::exists(m_root / "Log"));
}

TEST_F(LocalLogTest, UnwritablePlaceIsSilent) {
    // The storage "folder" is a plain file: the entry is lost, nothing else happens.
    const fs::path notAFolder = m_root / "file";
    WriteFile(notAFolder, Bytes{1, 2, 3});
    CLocalLog log(notAFolder);
    EXPECT_FALSE(log.WriteLocalLog(184, 1, 1));
    EXPECT_EQ(ReadFile(notAFolder), (Bytes{1, 2, 3}));
}

TEST_F(LocalLogTest, TextsLongerThanTheirFieldsAreCut) {
    CLocalLog log(m_root);
    const std::string user(40, 'U');
    const std::string address(200, 'A');
    ASSERT_TRUE(log.WriteLocalLog(184, 2, 1, user, address));
    ASSERT_TRUE(log.WriteLocalLog(184, 2, 2, "next", "second"));
    const Bytes f = ReadFile(LogFile());
    ASSERT_EQ(f.size(), 8u + 2u * 184u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data() + 8 + 24), 128),
              std::string(128, 'A'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data() + 8 + 152), 32),
              std::string(32, 'U'));
    // The second record starts where it should, untouched by the long texts.
    EXPECT_EQ(LE32At(f, 8 + 184), 1u);
    EXPECT_EQ(LE32At(f, 8 + 184 + 4), 184u);
    const auto c = ParseLocalLog(f);
    ASSERT_EQ(c.records.size(), 2u);
    EXPECT_EQ(c.records[0].shortText, std::string(32, 'U'));
    EXPECT_EQ(c.records[0].detail, std::string(128, 'A'));
    EXPECT_EQ(c.records[1].shortText, "next");
}

TEST_F(LocalLogTest, ConcurrentWritersLoseNoEntry) {
    CLocalLog log(m_root);
    constexpr int kThreads = 8;
    constexpr int kEach = 100;
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string text = "t" + std::to_string(t) + "-" + std::to_string(i);
                if (!log.WriteLocalLog(184, 4, 1, text, text))
                    failed.fetch_add(1);
            }
        });
    }
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(failed.load(), 0);
    const auto c = ReadLocalLog(LogFile());
    EXPECT_EQ(c.nextSlot, static_cast<std::uint32_t>(kThreads * kEach));
    ASSERT_EQ(c.records.size(), static_cast<std::size_t>(kThreads * kEach));
    std::set<std::string> texts;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        EXPECT_EQ(c.records[i].number, i);
        EXPECT_EQ(c.records[i].shortText, c.records[i].detail);
        texts.insert(c.records[i].shortText);
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(LocalLogTest, TwoLogObjectsOnOneFileLoseNoEntry) {
    // As two windows or two programs writing the same file.
    CLocalLog a(m_root);
    CLocalLog b(m_root);
    std::thread ta([&] {
        for (int i = 0; i < 100; ++i)
            a.WriteLocalLog(184, 1, 1, "a" + std::to_string(i));
    });
    std::thread tb([&] {
        for (int i = 0; i < 100; ++i)
            b.WriteLocalLog(184, 1, 2, "b" + std::to_string(i));
    });
    ta.join();
    tb.join();
    const auto c = ReadLocalLog(LogFile());
    ASSERT_EQ(c.records.size(), 200u);
    std::set<std::string> texts;
    for (const auto& r : c.records)
        texts.insert(r.shortText);
    EXPECT_EQ(texts.size(), 200u);
}

TEST_F(LocalLogTest, DamagedHeaderNeverWritesPastTheRing) {
    for (std::uint32_t next : {2500u, 2501u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        for (std::uint32_t full : {0u, 1u}) {
            WriteFile(LogFile(), FileBytes(full, next, 3));
            CLocalLog log(m_root);
            ASSERT_TRUE(log.WriteLocalLog(184, 1, 1, "after", "damage"));
            // Checked before reading: a write past the ring leaves a huge sparse file.
            ASSERT_LE(fs::file_size(LogFile()), kLocalLogMaxFileSize) << next;
            const Bytes f = ReadFile(LogFile());
            const std::uint32_t nowNext = LE32At(f, 4);
            EXPECT_LT(nowNext, kLocalLogSlots) << next;
            // The entry landed inside the ring, in the slot before the new next slot.
            const std::uint32_t slot = nowNext == 0 ? kLocalLogSlots - 1 : nowNext - 1;
            ASSERT_GE(f.size(), 8u + 184u * (slot + 1u));
            EXPECT_EQ(TextAt(f, 8 + 184 * slot + 152, 32), "after") << next;
            EXPECT_EQ(LE32At(f, 8 + 184 * slot), slot);
            fs::remove(LogFile());
        }
    }
}

TEST_F(LocalLogTest, HeaderOfAFileShorterThanEightBytes) {
    WriteFile(LogFile(), Bytes{5, 0, 0});
    CLocalLog log(m_root);
    ASSERT_TRUE(log.WriteLocalLog(184, 1, 1, "x"));
    ASSERT_LE(fs::file_size(LogFile()), kLocalLogMaxFileSize);
    const Bytes f = ReadFile(LogFile());
    EXPECT_LT(LE32At(f, 4), kLocalLogSlots);
}

TEST(ParseLocalLogTest, TooShortInputsGiveAnEmptyList) {
    for (std::size_t size : {0u, 1u, 7u, 8u, 100u, 191u}) {
        Bytes b(size, 0x01);
        const auto c = ParseLocalLog(b);
        EXPECT_TRUE(c.records.empty()) << size;
    }
}

TEST(ParseLocalLogTest, CutFileGivesTheWholeRecordsItHolds) {
    Bytes f = FileBytes(0, 5, 5);
    f.resize(8 + 184 * 3 + 100);  // three records and a piece of the fourth
    const auto c = ParseLocalLog(f);
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[2].detail, "slot 2");

    Bytes g = FileBytes(1, 2, kLocalLogSlots);
    g.resize(8 + 184 * 4);  // claims a full ring but holds 4 records
    const auto d = ParseLocalLog(g);
    ASSERT_EQ(d.records.size(), 4u);
    EXPECT_EQ(d.records[0].detail, "slot 2");
    EXPECT_EQ(d.records[3].detail, "slot 1");
}

TEST(ParseLocalLogTest, NextSlotBeyondTheRecordsIsClamped) {
    for (std::uint32_t full : {0u, 1u}) {
        const auto c = ParseLocalLog(FileBytes(full, 0xFFFFFFFFu, 6));
        ASSERT_EQ(c.records.size(), 6u) << full;
        EXPECT_EQ(c.records[0].detail, "slot 0");
    }
}

TEST(ParseLocalLogTest, InputLongerThanTheRingReadsOnlyTheRing) {
    // A full ring whose next slot is 5, with one more record's bytes after slot 2499.
    Bytes f = FileBytes(1, 5, kLocalLogSlots);
    const auto extra = RecordBytes(2500, 1, 1, 0, "beyond", "");
    f.insert(f.end(), extra.begin(), extra.end());
    const auto c = ParseLocalLog(f);
    ASSERT_EQ(c.records.size(), 2500u);
    EXPECT_EQ(c.records.front().detail, "slot 5");
    EXPECT_EQ(c.records.back().detail, "slot 4");
    for (const auto& r : c.records)
        EXPECT_NE(r.detail, "beyond");

    fs::path p =
        fs::temp_directory_path() / ("taviro_local_log_long_" + std::to_string(::getpid()));
    WriteFile(p / "m7400.log", f);
    EXPECT_EQ(ReadLocalLog(p / "m7400.log").records.size(), 2500u);
    fs::remove_all(p);
}

TEST(ParseLocalLogTest, UnterminatedTextsStayInsideTheirFields) {
    Bytes f = FileBytes(0, 1, 1);
    std::memset(f.data() + 8 + 24, 'D', 128);
    std::memset(f.data() + 8 + 152, 'S', 32);
    const auto c = ParseLocalLog(f);
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.records[0].detail, std::string(128, 'D'));
    EXPECT_EQ(c.records[0].shortText, std::string(32, 'S'));
}

TEST(ParseLocalLogTest, GarbageNeverCrashes) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 200; ++round) {
        const std::size_t size = rng() % 4 == 0 ? rng() % 470000 : rng() % 4000;
        Bytes b(size);
        for (auto& x : b)
            x = static_cast<std::uint8_t>(rng());
        if (size >= 16 && rng() % 2 == 0)
            PutLE32At(b, 12, 184);  // get past the size check
        if (size >= 8 && rng() % 2 == 0)
            PutLE32At(b, 0, 1);
        const auto c = ParseLocalLog(b);
        EXPECT_LE(c.records.size(), static_cast<std::size_t>(kLocalLogSlots));
        if (size >= 8) {
            EXPECT_LE(c.records.size(), (size - 8) / 184);
        }
    }
}

TEST(LocalLogRecordTest, EncodeAndDecodeAgree) {
    LocalLogRecord r;
    r.number = 2499;
    r.kind = 8;
    r.subType = 2;
    r.time = 0xFEDCBA98u;
    r.param = 0;
    r.detail = "C:/snapshots";
    r.shortText = "operator";
    const auto bytes = r.Encode();
    const Bytes asVector(bytes.begin(), bytes.end());
    EXPECT_EQ(asVector, RecordBytes(2499, 8, 2, 0xFEDCBA98u, "C:/snapshots", "operator"));
    const auto back = LocalLogRecord::Decode(bytes);
    EXPECT_EQ(back.number, r.number);
    EXPECT_EQ(back.size, 184u);
    EXPECT_EQ(back.kind, r.kind);
    EXPECT_EQ(back.subType, r.subType);
    EXPECT_EQ(back.time, r.time);
    EXPECT_EQ(back.detail, r.detail);
    EXPECT_EQ(back.shortText, r.shortText);
}

}  // namespace
}  // namespace taviro::logs
