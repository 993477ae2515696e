// The rights rule and the records the recorder pushes about itself: exact offsets, exact
// lengths, and the channel computations built on them.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/byte_order.h"
#include "protocol/crc32.h"
#include "protocol/device_records.h"
#include "protocol/rights.h"

namespace taviro::protocol {
namespace {

RightsContext Context(std::uint8_t major, std::uint8_t account, std::size_t slot = 3) {
    RightsContext c;
    c.productMajor = major;
    c.account = account;
    c.userSlot = slot;
    c.liveOn = true;
    return c;
}

TEST(Rights, OldRecordersDecideByAccountLevel) {
    struct Row {
        Feature feature;
        std::vector<std::uint8_t> allowedAccounts;
    };
    const Row rows[] = {
        {Feature::RecordOnOff, {0}}, {Feature::SearchPlayback, {0, 2}}, {Feature::WebSetup, {0}},
        {Feature::Talk, {0}},        {Feature::CovertVisible, {0}},
    };
    for (const auto& row : rows) {
        for (std::uint8_t account = 0; account < 5; ++account) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(row.feature) << " account "
                                            << static_cast<int>(account));
            auto c = Context(0, account);
            // The tables say yes to everything: on these recorders they must not count.
            for (auto& r : c.tables)
                r.fill(1);
            const bool expected = std::find(row.allowedAccounts.begin(), row.allowedAccounts.end(),
                                            account) != row.allowedAccounts.end();
            EXPECT_EQ(MayUse(row.feature, c), expected);
            c.tables = {};
            EXPECT_EQ(MayUse(row.feature, c), expected);
        }
    }
}

TEST(Rights, NewerRecordersDecideByTheUsersRow) {
    struct Row {
        Feature feature;
        std::size_t row;
    };
    const Row rows[] = {{Feature::RecordOnOff, 0}, {Feature::SearchPlayback, 2},
                        {Feature::WebSetup, 1},    {Feature::FirmwareUpgrade, 1},
                        {Feature::Ptz, 4},         {Feature::CovertVisible, 5}};
    for (const int majorValue : {1, 2, 7}) {
        const auto major = static_cast<std::uint8_t>(majorValue);
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << "major " << static_cast<int>(major) << " feature "
                                            << static_cast<int>(row.feature));
            auto c = Context(major, 0);
            EXPECT_FALSE(MayUse(row.feature, c)) << "account 0 alone is not enough";
            c.tables[row.row][3] = 1;
            EXPECT_TRUE(MayUse(row.feature, c));
            c.tables[row.row][3] = 2;  // only 1 means allowed
            EXPECT_FALSE(MayUse(row.feature, c));
            c.tables[row.row][3] = 0;
            c.tables[row.row][4] = 1;  // another user's right
            EXPECT_FALSE(MayUse(row.feature, c));
            c.tables[row.row][3] = 1;
            c.userSlot.reset();  // no user list named this user yet
            EXPECT_FALSE(MayUse(row.feature, c));
        }
    }
}

TEST(Rights, FirmwareTalkAndPtzSpecialCases) {
    // Firmware upgrade goes by row 1 on old recorders too.
    auto old = Context(0, 0);
    EXPECT_FALSE(MayUse(Feature::FirmwareUpgrade, old));
    old.tables[1][3] = 1;
    EXPECT_TRUE(MayUse(Feature::FirmwareUpgrade, old));
    // PTZ: always on old recorders, but only with live view on.
    auto ptz = Context(0, 9);
    EXPECT_TRUE(MayUse(Feature::Ptz, ptz));
    ptz.liveOn = false;
    EXPECT_FALSE(MayUse(Feature::Ptz, ptz));
    auto ptzNew = Context(1, 0);
    ptzNew.tables[4][3] = 1;
    ptzNew.liveOn = false;
    EXPECT_FALSE(MayUse(Feature::Ptz, ptzNew));
    // Talk goes by account 0 on every recorder, whatever the tables say.
    for (const int major : {0, 1, 3}) {
        auto c = Context(static_cast<std::uint8_t>(major), 0);
        EXPECT_TRUE(MayUse(Feature::Talk, c));
        c.account = 1;
        for (auto& r : c.tables)
            r.fill(1);
        EXPECT_FALSE(MayUse(Feature::Talk, c));
    }
    // A slot outside the tables grants nothing.
    auto wild = Context(1, 0, kUserSlots);
    for (auto& r : wild.tables)
        r.fill(1);
    EXPECT_FALSE(MayUse(Feature::RecordOnOff, wild));
    EXPECT_TRUE(UsesLegacyRightsApplication(0, 5));
    EXPECT_TRUE(UsesLegacyRightsApplication(1, 0));
    EXPECT_FALSE(UsesLegacyRightsApplication(1, 1));
    EXPECT_FALSE(UsesLegacyRightsApplication(2, 0));
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> p(size);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return p;
}

TEST(DeviceRecords, DbChangeFieldsSitAtTheirOffsets) {
    auto p = Pattern(kDbChangeSize);
    StoreBE32(p.data(), 0x01020304);
    StoreBE32(p.data() + 540, 0xA0B0C0D0);
    StoreBE32(p.data() + 544, 0x00000011);
    const auto d = ParseDbChange(p);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->number, 0x01020304u);
    for (std::size_t n = 0; n < 16; ++n) {
        EXPECT_EQ(d->covert[n], p[4 + n]);
        EXPECT_EQ(d->titles[n][0], p[20 + 32 * n]);
        EXPECT_EQ(d->titles[n][31], p[20 + 32 * n + 31]);
    }
    EXPECT_EQ(d->archivePass[0], p[532]);
    EXPECT_EQ(d->archivePass[7], p[539]);
    EXPECT_EQ(d->values[0], 0xA0B0C0D0u);
    EXPECT_EQ(d->values[1], 0x11u);
    for (const std::size_t size : {0u, 595u, 597u, 4u}) {
        EXPECT_FALSE(ParseDbChange(Pattern(size))) << size;
    }
}

TEST(DeviceRecords, RightRecordsOfBothSizes) {
    auto p = Pattern(kRightChangeSize);
    const auto r = ParseRightChange(p);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->recordSlots, 8u);
    EXPECT_EQ(r->firstClientSlot, 0u);
    EXPECT_EQ(r->keptSlots, 6u);
    EXPECT_EQ(r->rows[0][0], p[0]);
    EXPECT_EQ(r->rows[8][7], p[8 * 8 + 7]);
    EXPECT_EQ(r->names[0][0], p[72]);
    EXPECT_EQ(r->names[7][31], p[72 + 7 * 32 + 31]);
    EXPECT_EQ(r->passwords[0][0], p[328]);
    EXPECT_EQ(r->passwords[7][31], p[583]);

    auto q = Pattern(kRightChange2Size);
    const auto r2 = ParseRightChange2(q);
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->recordSlots, 50u);
    EXPECT_EQ(r2->firstClientSlot, 6u);
    EXPECT_EQ(r2->keptSlots, 21u);
    EXPECT_EQ(r2->rows[3][49], q[3 * 50 + 49]);
    EXPECT_EQ(r2->rows[8][0], q[400]);
    EXPECT_EQ(r2->names[0][0], q[450]);
    EXPECT_EQ(r2->names[49][31], q[450 + 49 * 32 + 31]);
    EXPECT_EQ(r2->passwords[0][0], q[2050]);
    EXPECT_EQ(r2->passwords[49][31], q[3649]);

    EXPECT_FALSE(ParseRightChange(Pattern(583)));
    EXPECT_FALSE(ParseRightChange(Pattern(kRightChange2Size)));
    EXPECT_FALSE(ParseRightChange2(Pattern(kRightChangeSize)));
    EXPECT_FALSE(ParseRightChange2(Pattern(3651)));
}

TEST(DeviceRecords, UserMatchingIgnoresCaseAndStopsAtTheComparedSlots) {
    std::vector<std::uint8_t> p(kRightChangeSize);
    auto name = [&](std::size_t slot, std::string_view text) {
        std::copy(text.begin(), text.end(), p.begin() + 72 + static_cast<long>(slot * 32));
    };
    name(2, "Guest");
    name(5, "OPERATOR");
    name(7, "late");
    const auto r = ParseRightChange(p);
    ASSERT_TRUE(r);
    EXPECT_EQ(MatchUser(*r, "operator"), 5u);
    EXPECT_EQ(MatchUser(*r, "gUEST"), 2u);
    EXPECT_EQ(MatchUser(*r, "LATE"), 7u) << "all eight names are compared";
    EXPECT_FALSE(MatchUser(*r, "guests"));
    EXPECT_FALSE(MatchUser(*r, "gues"));

    std::vector<std::uint8_t> q(kRightChange2Size);
    std::string_view late = "far";
    std::copy(late.begin(), late.end(), q.begin() + 450 + 21 * 32);
    std::string_view near = "near";
    std::copy(near.begin(), near.end(), q.begin() + 450 + 20 * 32);
    const auto r2 = ParseRightChange2(q);
    ASSERT_TRUE(r2);
    EXPECT_EQ(MatchUser(*r2, "NEAR"), 20u);
    EXPECT_FALSE(MatchUser(*r2, "far")) << "slots past the 21 the client keeps are not compared";
}

TEST(DeviceRecords, StoredRecordsNeedTheirExactLength) {
    EXPECT_TRUE(ParseStored<kLivePermissionSize>(Pattern(928)));
    EXPECT_FALSE(ParseStored<kLivePermissionSize>(Pattern(927)));
    EXPECT_TRUE(ParseStored<kCamInfoSize>(Pattern(16)));
    EXPECT_FALSE(ParseStored<kCamInfoSize>(Pattern(17)));
    EXPECT_FALSE(ParseStored<kSysEtcInfoSize>(Pattern(319)));
    EXPECT_FALSE(ParseStored<kSysEtcInfoExSize>(Pattern(3201)));
    auto dst = Pattern(kDstInfoSize);
    StoreBE32(dst.data(), 0x11223344);
    const auto d = ParseDstInfo(dst);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->firstWord, 0x11223344u);
    EXPECT_EQ(d->raw[1203], dst[1203]);
    EXPECT_FALSE(ParseDstInfo(Pattern(1203)));
}

TEST(DeviceRecords, RecordingStateAfterEachAnswer) {
    EXPECT_TRUE(RecordingAfterRecOnAck(49));
    EXPECT_TRUE(RecordingAfterRecOnAck(51));
    EXPECT_FALSE(RecordingAfterRecOnAck(50));
    EXPECT_FALSE(RecordingAfterRecOnAck(0));
    EXPECT_FALSE(RecordingAfterRecOffAck(50));
    EXPECT_FALSE(RecordingAfterRecOffAck(52));
    EXPECT_TRUE(RecordingAfterRecOffAck(49));
    EXPECT_TRUE(RecordingAfterRecOffAck(51));
    std::vector<std::uint8_t> s(16);
    StoreBE32(s.data(), 0xFFFFFFFF);  // word 0 is not looked at
    StoreBE32(s.data() + 4, 5);
    EXPECT_EQ(ParseRecStatus(s), true);
    StoreBE32(s.data() + 4, 6);
    EXPECT_EQ(ParseRecStatus(s), false);
    StoreBE32(s.data() + 4, 0x80000000u);  // unsigned: a large number is not recording
    EXPECT_EQ(ParseRecStatus(s), false);
    EXPECT_FALSE(ParseRecStatus(std::vector<std::uint8_t>(12)));
    EXPECT_FALSE(ParseLeadingWord(std::vector<std::uint8_t>(3)));
    EXPECT_EQ(ParseLeadingWord(std::vector<std::uint8_t>{0, 0, 0, 51, 9, 9}), 51u);
}

TEST(DeviceRecords, HiddenChannelsAndLiveChannelInfo) {
    std::array<std::uint8_t, kMaxChannels> covert{};
    covert[1] = 1;
    covert[9] = 1;  // beyond an 8-channel recorder
    LivePermission permission;
    permission.fill(1);
    permission[2 * 16 + 3] = 0;  // user slot 2 may not watch channel 3
    EXPECT_EQ(ComputeHidden(covert, permission, 2, 8, false), 0b1010u);
    EXPECT_EQ(ComputeHidden(covert, permission, 2, 8, true), 0b1000u);
    EXPECT_EQ(ComputeHidden(covert, permission, 2, 16, false), 0b10'0000'1010u);
    EXPECT_EQ(ComputeHidden(covert, permission, 0, 16, true), 0u);
    // A slot past the record has no live permission at all.
    EXPECT_EQ(ComputeHidden(covert, permission, 58, 4, true), 0xFu);

    // Channel 1 hidden: only channel 0 stays available, both keep their video loss.
    auto s = ApplyLiveChannelInfo(0x00030003, 0b10, 0xFFFF);
    EXPECT_EQ(s.available, 0x1u);
    EXPECT_EQ(s.videoLoss, 0x3u);
    // Video loss only where the stream slot exists.
    s = ApplyLiveChannelInfo(0x00040007, 0, 0x3);
    EXPECT_EQ(s.available, 0x7u);
    EXPECT_EQ(s.videoLoss, 0u);
    s = ApplyLiveChannelInfo(0x00040007, 0, 0xF);
    EXPECT_EQ(s.videoLoss, 0x4u);
}

TEST(DeviceRecords, DatabaseAssemblyChecksTheCrc) {
    const auto database = Pattern(70'000);
    std::vector<std::uint8_t> unit(4);
    StoreBE32(unit.data(), Crc32(database));
    unit.insert(unit.end(), database.begin(), database.end());

    CDatabaseAssembly a;
    const std::span<const std::uint8_t> all(unit);
    EXPECT_EQ(a.Add(all.first(60'000), false), CDatabaseAssembly::Result::Partial);
    EXPECT_EQ(a.Add(all.subspan(60'000), true), CDatabaseAssembly::Result::Good);
    EXPECT_EQ(a.Database(), database);

    auto bad = unit;
    bad[100] ^= 1;
    EXPECT_EQ(a.Add(bad, true), CDatabaseAssembly::Result::BadCrc);
    EXPECT_EQ(a.Database(), database) << "a bad unit keeps the old database";
    EXPECT_EQ(a.Add(std::vector<std::uint8_t>{1, 2}, true), CDatabaseAssembly::Result::BadCrc);
    // After a bad unit the next one starts from scratch.
    EXPECT_EQ(a.Add(unit, true), CDatabaseAssembly::Result::Good);

    const std::vector<std::uint8_t> piece(65'535, 0);
    CDatabaseAssembly big;
    for (std::size_t total = 0; total <= kDatabaseAssemblyLimit; total += piece.size()) {
        EXPECT_EQ(big.Add(piece, false), CDatabaseAssembly::Result::Partial);
    }
    EXPECT_EQ(big.Add(piece, true), CDatabaseAssembly::Result::TooLarge);
    // The empty database is a valid unit of its own.
    std::vector<std::uint8_t> empty(4);
    StoreBE32(empty.data(), Crc32({}));
    EXPECT_EQ(big.Add(empty, true), CDatabaseAssembly::Result::Good);
    EXPECT_TRUE(big.Database().empty());
}

TEST(DeviceRecords, DatabaseUpdateCarriesItsCrcAndFitsOneMessage) {
    const auto database = Pattern(1000);
    const auto unit = BuildDatabaseUpdate(database);
    ASSERT_EQ(unit.size(), 1004u);
    EXPECT_EQ(LoadBE32(unit.data()), Crc32(database));
    EXPECT_TRUE(std::equal(database.begin(), database.end(), unit.begin() + 4));
    const auto huge = BuildDatabaseUpdate(Pattern(70'000));
    ASSERT_EQ(huge.size(), kDatabaseUnitLimit);
    EXPECT_EQ(LoadBE32(huge.data()), Crc32(std::span<const std::uint8_t>(huge).subspan(4)));
}

}  // namespace
}  // namespace taviro::protocol
