// Time conversions between the recorder's seconds (its wall clock counted as if UTC) and the
// calendar fields the user sees and types. Whatever the client's zone, fields typed by the
// user must reach the recorder as those same fields read as UTC.
#include "protocol/recorder_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace taviro::protocol {
namespace {

constexpr RecorderTime k20101011Noon = 1286798400;  // 2010-10-11 12:00:00 UTC

// Sets TZ for one test and puts the previous value back afterwards.
class ZoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            m_saved = tz;
    }
    void TearDown() override {
        if (m_saved) {
            setenv("TZ", m_saved->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    static bool DaylightSavingNow() {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        return tm.tm_isdst > 0;
    }
    // The user's fields of `t` (read as UTC) must come back as `t`.
    static void ExpectRoundTrip(RecorderTime t, const ZoneOffset& offset) {
        UserTime u;
        ASSERT_TRUE(GetTime_tToUsertime(t, &u));
        EXPECT_EQ(ToRecorderTime(u, offset), t)
            << u.year << "-" << u.month + 1 << "-" << u.day + 1 << " " << u.hour << ":" << u.minute
            << ":" << u.second << " in " << std::getenv("TZ");
    }
    // Noon of every day of 2010: never inside a daylight-saving gap, covers every season.
    static void ExpectNoonsOf2010RoundTrip(const ZoneOffset& offset) {
        const RecorderTime jan1Noon = 1262347200;  // 2010-01-01 12:00:00
        for (int d = 0; d < 365; ++d)
            ExpectRoundTrip(jan1Noon + d * 86400, offset);
    }

    std::optional<std::string> m_saved;
};

TEST(UserTimeTest, EpochBreaksDownToTheFirstOfJanuary1970) {
    UserTime u{1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(GetTime_tToUsertime(0, &u));
    EXPECT_EQ(u, (UserTime{1970, 0, 0, 0, 0, 0}));
}

TEST(UserTimeTest, FieldsAreZeroBasedMonthAndDay) {
    UserTime u;
    ASSERT_TRUE(GetTime_tToUsertime(k20101011Noon, &u));
    EXPECT_EQ(u, (UserTime{2010, 9, 10, 12, 0, 0}));
    ASSERT_TRUE(GetTime_tToUsertime(951868799, &u));  // 2000-02-29 23:59:59
    EXPECT_EQ(u, (UserTime{2000, 1, 28, 23, 59, 59}));
    ASSERT_TRUE(GetTime_tToUsertime(std::numeric_limits<RecorderTime>::max(), &u));
    EXPECT_EQ(u, (UserTime{2038, 0, 18, 3, 14, 7}));
    ASSERT_TRUE(GetTime_tToUsertime(1293839999, &u));  // 2010-12-31 23:59:59
    EXPECT_EQ(u, (UserTime{2010, 11, 30, 23, 59, 59}));
}

TEST_F(ZoneTest, BreakDownIgnoresTheClientZone) {
    UseZone("JST-9");
    UserTime u;
    ASSERT_TRUE(GetTime_tToUsertime(k20101011Noon, &u));
    EXPECT_EQ(u, (UserTime{2010, 9, 10, 12, 0, 0}));
    UseZone("EST5EDT,M3.2.0,M11.1.0");
    ASSERT_TRUE(GetTime_tToUsertime(k20101011Noon, &u));
    EXPECT_EQ(u, (UserTime{2010, 9, 10, 12, 0, 0}));
}

TEST(UserTimeTest, NegativeTimesLeaveTheOutputAsItWas) {
    const UserTime before{2001, 2, 3, 4, 5, 6};
    for (RecorderTime t : {-1, -86400, std::numeric_limits<RecorderTime>::min()}) {
        UserTime u = before;
        EXPECT_FALSE(GetTime_tToUsertime(t, &u));
        EXPECT_EQ(u, before) << t;
    }
    EXPECT_FALSE(GetTime_tToUsertime(5, nullptr));
}

TEST(ZoneOffsetTest, SplitSharesTheSignOfTheOffset) {
    EXPECT_EQ(ZoneOffset::FromSeconds(32400), (ZoneOffset{9, 0, 0}));
    EXPECT_EQ(ZoneOffset::FromSeconds(19800), (ZoneOffset{5, 30, 0}));
    EXPECT_EQ(ZoneOffset::FromSeconds(-19800), (ZoneOffset{-5, -30, 0}));
    EXPECT_EQ(ZoneOffset::FromSeconds(-19815), (ZoneOffset{-5, -30, -15}));
    EXPECT_EQ(ZoneOffset::FromSeconds(-1800), (ZoneOffset{0, -30, 0}));
    EXPECT_EQ(ZoneOffset::FromSeconds(0), (ZoneOffset{0, 0, 0}));
    for (std::int64_t s = -50400; s <= 50400; s += 15) {
        const auto z = ZoneOffset::FromSeconds(s);
        EXPECT_EQ(z.TotalSeconds(), s);
        EXPECT_LT(std::abs(z.minutes), 60);
        EXPECT_LT(std::abs(z.seconds), 60);
        if (s > 0) {
            EXPECT_TRUE(z.hours >= 0 && z.minutes >= 0 && z.seconds >= 0) << s;
        }
        if (s < 0) {
            EXPECT_TRUE(z.hours <= 0 && z.minutes <= 0 && z.seconds <= 0) << s;
        }
    }
}

TEST_F(ZoneTest, UtcPlusNineSendsTheTypedFieldsAsUtc) {
    UseZone("JST-9");
    const ZoneOffset offset = ComputeZoneOffset();
    EXPECT_EQ(offset, (ZoneOffset{9, 0, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 10, 12, 0, 0}, offset), k20101011Noon);
    ExpectRoundTrip(0, offset);
    ExpectRoundTrip(std::numeric_limits<RecorderTime>::max(), offset);
    for (std::int64_t t = 0; t < std::numeric_limits<RecorderTime>::max(); t += 9999991) {
        ExpectRoundTrip(static_cast<RecorderTime>(t), offset);
    }
}

TEST_F(ZoneTest, UtcItself) {
    UseZone("UTC0");
    const ZoneOffset offset = ComputeZoneOffset();
    EXPECT_EQ(offset, (ZoneOffset{0, 0, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 10, 12, 0, 0}, offset), k20101011Noon);
    ExpectNoonsOf2010RoundTrip(offset);
}

TEST_F(ZoneTest, CentralEuropeKeepsTheStandardOffsetAndAddsDaylightSavingBack) {
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const ZoneOffset offset = ComputeZoneOffset();
    EXPECT_EQ(offset, (ZoneOffset{1, 0, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 10, 12, 0, 0}, offset), k20101011Noon);
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 6, 14, 12, 0, 0}, offset), 1279195200);  // summer
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 0, 14, 12, 0, 0}, offset), 1263556800);  // winter
    // 02:30 on the last Sunday of October happens twice locally; either reading must
    // still give the typed fields.
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 30, 2, 30, 0}, offset), 1288492200);
    ExpectNoonsOf2010RoundTrip(offset);
}

TEST_F(ZoneTest, SouthernZoneWithDaylightSavingAroundNewYear) {
    UseZone("AEST-10AEDT,M10.1.0,M4.1.0/3");
    const ZoneOffset offset = ComputeZoneOffset();
    EXPECT_EQ(offset, (ZoneOffset{10, 0, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 0, 14, 12, 0, 0}, offset), 1263556800);  // summer
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 6, 14, 12, 0, 0}, offset), 1279195200);  // winter
    ExpectNoonsOf2010RoundTrip(offset);
}

TEST_F(ZoneTest, StandardOffsetEvenWhileDaylightSavingIsInEffect) {
    // Daylight saving is in effect in one of these two zones on any day of the year, so
    // one of them always measures its offset in summer.
    bool sawSummer = false;
    const std::pair<const char*, ZoneOffset> zones[] = {
        {"CET-1CEST,M3.5.0,M10.5.0/3", {1, 0, 0}},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", {10, 0, 0}},
    };
    for (const auto& [tz, standard] : zones) {
        UseZone(tz);
        sawSummer = sawSummer || DaylightSavingNow();
        EXPECT_EQ(ComputeZoneOffset(), standard) << tz;
    }
    EXPECT_TRUE(sawSummer);
}

TEST_F(ZoneTest, NegativeWholeHourZone) {
    UseZone("EST5EDT,M3.2.0,M11.1.0");
    const ZoneOffset offset = ComputeZoneOffset();
    EXPECT_EQ(offset, (ZoneOffset{-5, 0, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 10, 12, 0, 0}, offset), k20101011Noon);
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 6, 14, 12, 0, 0}, offset), 1279195200);
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 0, 14, 12, 0, 0}, offset), 1263556800);
    ExpectNoonsOf2010RoundTrip(offset);
}

TEST_F(ZoneTest, HalfHourZonesBothWays) {
    UseZone("IST-5:30");
    const ZoneOffset east = ComputeZoneOffset();
    EXPECT_EQ(east, (ZoneOffset{5, 30, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 10, 12, 0, 0}, east), k20101011Noon);
    ExpectNoonsOf2010RoundTrip(east);
    ExpectRoundTrip(0, east);

    UseZone("ABC5:30");  // 5 h 30 min west of UTC
    const ZoneOffset west = ComputeZoneOffset();
    EXPECT_EQ(west, (ZoneOffset{-5, -30, 0}));
    EXPECT_EQ(ToRecorderTime(UserTime{2010, 9, 10, 12, 0, 0}, west), k20101011Noon);
    ExpectNoonsOf2010RoundTrip(west);
    ExpectRoundTrip(std::numeric_limits<RecorderTime>::max(), west);
}

TEST_F(ZoneTest, OffsetsWithSeconds) {
    UseZone("XYZ-5:30:15");
    EXPECT_EQ(ComputeZoneOffset(), (ZoneOffset{5, 30, 15}));
    ExpectNoonsOf2010RoundTrip(ComputeZoneOffset());
    UseZone("XYZ5:30:15");
    EXPECT_EQ(ComputeZoneOffset(), (ZoneOffset{-5, -30, -15}));
    ExpectNoonsOf2010RoundTrip(ComputeZoneOffset());
}

TEST_F(ZoneTest, ProcessOffsetIsMeasuredOnceAndKept) {
    const ZoneOffset first = ProcessZoneOffset();
    UseZone(first == ZoneOffset{9, 0, 0} ? "EST5" : "JST-9");
    EXPECT_EQ(ProcessZoneOffset(), first);
    EXPECT_EQ(&ProcessZoneOffset(), &ProcessZoneOffset());
}

TEST(LocalClockTest, NowPlusTheOffset) {
    const ZoneOffset jst{9, 0, 0};
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr)) + 32400;
    const std::int64_t got = LocalWallClockNow(jst);
    const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr)) + 32400;
    EXPECT_GE(got, before);
    EXPECT_LE(got, after);
    const std::int64_t west = LocalWallClockNow(ZoneOffset{-5, -30, 0});
    EXPECT_NEAR(static_cast<double>(west - got), -(32400.0 + 19800.0), 2.0);
}

}  // namespace
}  // namespace taviro::protocol
