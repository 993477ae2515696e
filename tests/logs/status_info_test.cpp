// The system and status pages: size texts at their edges, the short and the full status,
// the devices, the channel rows and the firmware rows.
#include <gtest/gtest.h>

#include <vector>

#include "logs/status_info.h"
#include "protocol/byte_order.h"

namespace taviro::logs {
namespace {

std::string Texts(int n) {
    return "T" + std::to_string(n);
}

std::vector<std::uint8_t> Status(std::uint32_t total, std::uint32_t part) {
    std::vector<std::uint8_t> s(kStatusInfoSize, 0);
    protocol::StoreBE32(s.data() + 8, total);
    protocol::StoreBE32(s.data() + 12, part);
    return s;
}

TEST(StatusInfo, SizeTextsAtTheirEdges) {
    EXPECT_EQ(SizeText(0), "    0 MByte");
    EXPECT_EQ(SizeText(1023), " 1023 MByte");
    EXPECT_EQ(SizeText(1024), "    1 GByte");
    EXPECT_EQ(SizeText(1'048'575), " 1023 GByte");
    EXPECT_EQ(SizeText(1'048'576), "  1.00 TByte");
    EXPECT_EQ(SizeText(2'000'000), "  1.91 TByte") << "1953 whole gigabytes / 1024";
    EXPECT_EQ(SizeText(0xFFFFFFFFu), "4096.00 TByte");
}

TEST(StatusInfo, FullAndShortStatusPages) {
    auto full = Status(1'000'000, 2'000'000);  // part above total: an unsigned wrap
    full[16] = 1;                              // group A device 0 present, value 42, state 1
    full[20] = 42;
    full[24] = 1;
    full[18] = 1;  // device 2 present, value 0, state 3 (no word for it)
    full[26] = 3;
    full[29] = 1;  // group B device 1, state 2
    full[37] = 2;
    for (int ch = 0; ch < 5; ++ch)
        full[40 + static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>(ch);
    const auto rows = StatusRows(ParseStatusInfo(full), 4, Texts);
    ASSERT_GE(rows.size(), 9u);
    EXPECT_EQ(rows[0].label, "T5135");
    EXPECT_EQ(rows[0].value, "  976 GByte");
    EXPECT_EQ(rows[1].value, "4095.05 TByte") << "(1,000,000 - 2,000,000) mod 2^32";
    EXPECT_EQ(rows[2].value, "  1.91 TByte");
    EXPECT_TRUE(rows[3].label.empty());
    // A 4-channel recorder shows four channel rows.
    EXPECT_EQ(rows[4].label, "T5152 01");
    EXPECT_EQ(rows[4].value, "T5144");
    EXPECT_EQ(rows[5].value, "Continuous Recording");
    EXPECT_EQ(rows[6].value, "Event Recording");
    EXPECT_EQ(rows[7].value, "Event Recording");
    EXPECT_TRUE(rows[8].label.empty());
    const std::vector<std::vector<std::string>> devices = {
        {"T58801", "T5870", "42 T5871"}, {"", "T5837", "T5873"},
        {"T58803", "T5870", "T5872"},    {"", "T5837", "3"},
        {"T58802", "T5870", "T5872"},    {"", "T5837", "T5874"}};
    ASSERT_EQ(rows.size(), 9u + devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const InfoRow& r = rows[9 + i];
        EXPECT_EQ((std::vector<std::string>{r.label, r.value, r.extra}), devices[i]) << i;
    }

    // A 16-byte answer: disk and channel rows only, every channel without recording, even
    // where a longer answer would have had modes.
    auto shortForm = Status(1023, 0);
    shortForm.resize(kShortStatusSize);
    const auto shortRows = StatusRows(ParseStatusInfo(shortForm), 16, Texts);
    ASSERT_EQ(shortRows.size(), 4u + 16u);
    for (std::size_t ch = 0; ch < 16; ++ch)
        EXPECT_EQ(shortRows[4 + ch].value, "T5144");
    // Any other length reads what is there; the mode above 3 shows its number.
    auto odd = Status(1, 0);
    odd.resize(41);
    odd[40] = 4;
    EXPECT_EQ(StatusRows(ParseStatusInfo(odd), 1, Texts)[4].value, "Mode 4");
}

TEST(StatusInfo, SystemPageFromTheLoginAnswer) {
    SystemFacts facts;
    facts.address = "192.168.1.20";
    facts.port = 9010;
    facts.description = "Gate";
    facts.hello.mac_address = {0x00, 0x1c, 0xab, 0x10, 0x2f, 0xee};
    for (std::size_t k = 0; k < 7; ++k) {
        const std::string name = "fw" + std::to_string(k);
        std::copy(name.begin(), name.end(), facts.hello.FirmName[k].begin());
        facts.hello.FirmVer[k] = 1286870400 + static_cast<std::int32_t>(k) * 60;
    }
    facts.hello.FirmVer[5] = -5;  // a negative time is taken as 0
    facts.hello.product_major_ver = 0;
    facts.hello.product_minor_ver = 1;
    auto rows = SystemRows(facts, Texts);
    ASSERT_EQ(rows.size(), 5u + 5u) << "no sub-firmware row for major 0, minor 1";
    EXPECT_EQ(rows[1].value, "9010");
    EXPECT_EQ(rows[3].value, "00:1C:AB:10:2F:EE");
    EXPECT_EQ(rows[5].label, "T5146");
    EXPECT_EQ(rows[5].value, "2010  1012  0800");
    EXPECT_EQ(rows[5].extra, "fw0");
    EXPECT_EQ(rows[6].extra, "fw3");
    EXPECT_EQ(rows[7].extra, "fw4");
    EXPECT_EQ(rows[8].label, "T5150");
    EXPECT_EQ(rows[8].value, "1970  0101  0000");
    EXPECT_EQ(rows[9].extra, "fw6");
    facts.hello.product_minor_ver = 2;
    rows = SystemRows(facts, Texts);
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[8].label, "T5149");
    EXPECT_EQ(rows[8].extra, "fw2");
}

}  // namespace
}  // namespace taviro::logs
