#include "connect/address_book.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace connect = taviro::connect;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    b[at + 2] = static_cast<std::uint8_t>(v >> 16);
    b[at + 3] = static_cast<std::uint8_t>(v >> 24);
}

void PutText(Bytes& b, std::size_t at, const std::string& s) {
    std::memcpy(b.data() + at, s.data(), s.size());
}

// One record laid out by hand from the field table.
Bytes Record(const std::string& address, std::uint32_t port, std::uint32_t lastUsed,
             std::uint32_t slot, const std::string& description) {
    Bytes b(532, 0);
    PutText(b, 0, address);
    Put32(b, 260, port);
    Put32(b, 264, lastUsed);
    Put32(b, 268, slot);
    PutText(b, 272, description);
    return b;
}

Bytes HeaderBytes(std::uint32_t full, std::uint32_t next) {
    Bytes b(8, 0);
    Put32(b, 0, full);
    Put32(b, 4, next);
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BookFile : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("taviro_book_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        m_file = connect::AddressBookPath(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    Bytes Read() const {
        std::ifstream in(m_file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const Bytes& b) const {
        fs::create_directories(m_file.parent_path());
        std::ofstream out(m_file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

    fs::path m_dir;
    fs::path m_file;
};

}  // namespace

TEST(AddressBookRecord, EncodesEveryFieldAtItsOffset) {
    connect::AddressBookEntry e{"nvr.example", -5, 0x01020304u, 7, "front door"};
    const auto bytes = e.Encode();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()),
              Record("nvr.example", 0xFFFFFFFBu, 0x01020304u, 7, "front door"));

    const connect::AddressBookEntry back = connect::AddressBookEntry::Decode(bytes);
    EXPECT_EQ(back.address, "nvr.example");
    EXPECT_EQ(back.port, -5);
    EXPECT_EQ(back.lastUsed, 0x01020304u);
    EXPECT_EQ(back.slot, 7u);
    EXPECT_EQ(back.description, "front door");

    const auto header = connect::AddressBookHeader{1, 42}.Encode();
    EXPECT_EQ(Bytes(header.begin(), header.end()), HeaderBytes(1, 42));
}

TEST(AddressBookRecord, OverlongTextsKeepTheirTerminatorAndShortRecordsReadAsZero) {
    connect::AddressBookEntry e{std::string(300, 'a'), 1, 2, 3, std::string(400, 'd')};
    const auto bytes = e.Encode();
    EXPECT_EQ(bytes[258], 'a');
    EXPECT_EQ(bytes[259], 0);
    EXPECT_EQ(bytes[530], 'd');
    EXPECT_EQ(bytes[531], 0);

    // An unterminated field stops at its end, not in the next field.
    Bytes raw = Record("", 9, 0, 0, "");
    std::memset(raw.data(), 'x', 260);
    EXPECT_EQ(connect::AddressBookEntry::Decode(raw).address, std::string(260, 'x'));

    const Bytes whole = Record("host", 2000, 0x12345678u, 1, "desc");
    const Bytes cut(whole.begin(), whole.begin() + 266);
    const connect::AddressBookEntry partial = connect::AddressBookEntry::Decode(cut);
    EXPECT_EQ(partial.address, "host");
    EXPECT_EQ(partial.port, 2000);
    EXPECT_EQ(partial.lastUsed, 0x5678u);  // only its two low bytes were there
    EXPECT_EQ(partial.description, "");

    EXPECT_EQ(connect::AddressBookHeader::Decode(Bytes{1, 0, 0}).full, 0u);
}

TEST(AddressBookLoad, SortsNewestFirstAndCountsWholeRecords) {
    const Bytes image = HeaderBytes(0, 3) + Record("a", 1, 10, 0, "") + Record("b", 2, 30, 1, "") +
                        Record("c", 3, 20, 2, "") + Bytes(100, 0xAB);  // torn 4th record
    connect::AddressBook book;
    EXPECT_EQ(connect::ParseAddressBook(image, book), 3);
    EXPECT_EQ(book[0].address, "b");
    EXPECT_EQ(book[1].address, "c");
    EXPECT_EQ(book[2].address, "a");
    EXPECT_TRUE(book[3].Empty());
    EXPECT_EQ(book[99].lastUsed, 0u);
}

TEST(AddressBookLoad, ExchangeSortOrderAmongEqualTimes) {
    // With equal times the exchange sort is not stable: p=0 swaps with the newer "z", then
    // the displaced "x" ties with "y" and is left where it is.
    connect::AddressBook book;
    book[0] = {"x", 1, 5, 0, ""};
    book[1] = {"y", 1, 5, 1, ""};
    book[2] = {"z", 1, 9, 2, ""};
    connect::SortAddressBook(book);
    EXPECT_EQ(book[0].address, "z");
    EXPECT_EQ(book[1].address, "y");
    EXPECT_EQ(book[2].address, "x");
}

TEST(AddressBookLoad, DamagedImagesNeverOverrun) {
    connect::AddressBook book;
    EXPECT_EQ(connect::ParseAddressBook(Bytes{}, book), 0);
    EXPECT_EQ(connect::ParseAddressBook(Bytes(7, 0xFF), book), 0);
    EXPECT_EQ(connect::ParseAddressBook(Bytes(8 + 531, 0x41), book), 0);
    // Longer than a full book: only 100 records are taken.
    Bytes big = HeaderBytes(1, 0);
    for (int i = 0; i < 105; ++i) {
        big = big + Record("h" + std::to_string(i), 1, static_cast<std::uint32_t>(i + 1), 0, "");
    }
    EXPECT_EQ(connect::ParseAddressBook(big, book), 100);
    EXPECT_EQ(book[0].address, "h99");
    EXPECT_EQ(book[99].address, "h0");
}

TEST_F(BookFile, MissingFileIsAnEmptyBook) {
    connect::AddressBook book;
    book[0].address = "stale";
    EXPECT_EQ(connect::LoadAddressBook(m_file, book), 0);
    EXPECT_TRUE(book[0].Empty());
}

TEST_F(BookFile, FirstRecordCreatesFolderAndFileByteForByte) {
    ASSERT_TRUE(connect::RecordConnection(m_file, "NVR.local", 2000, "lobby", 1000));
    EXPECT_EQ(Read(), HeaderBytes(0, 1) + Record("NVR.local", 2000, 1000, 0, "lobby"));

    ASSERT_TRUE(connect::RecordConnection(m_file, "10.0.0.2", 8000, "", 1001));
    EXPECT_EQ(Read(), HeaderBytes(0, 2) + Record("NVR.local", 2000, 1000, 0, "lobby") +
                          Record("10.0.0.2", 8000, 1001, 1, ""));
}

TEST_F(BookFile, SameAddressIgnoringCaseAndSamePortRefreshesOneEntry) {
    ASSERT_TRUE(connect::RecordConnection(m_file, "NVR.LOCAL", 2000, "old", 1000));
    ASSERT_TRUE(connect::RecordConnection(m_file, "nvr.local", 2000, "new", 2000));
    EXPECT_EQ(Read(), HeaderBytes(0, 1) + Record("nvr.local", 2000, 2000, 0, "new"));

    // Another port is another recorder.
    ASSERT_TRUE(connect::RecordConnection(m_file, "nvr.local", 2001, "", 3000));
    connect::AddressBook book;
    EXPECT_EQ(connect::LoadAddressBook(m_file, book), 2);
    EXPECT_EQ(book[0].port, 2001);
    EXPECT_EQ(book[1].port, 2000);
}

TEST_F(BookFile, HundredthEntryFillsTheBookAndTheNextReplacesTheOldest) {
    for (std::uint32_t i = 0; i < 100; ++i) {
        // Slot 37 is the least recently used one.
        const std::uint32_t when = i == 37 ? 50 : 1000 + i;
        ASSERT_TRUE(connect::RecordConnection(m_file, "rec" + std::to_string(i), 2000, "", when));
    }
    Bytes file = Read();
    ASSERT_EQ(file.size(), 8u + 100 * 532);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), HeaderBytes(1, 0));

    ASSERT_TRUE(connect::RecordConnection(m_file, "rec100", 2000, "new", 5000));
    file = Read();
    ASSERT_EQ(file.size(), 8u + 100 * 532);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), HeaderBytes(1, 0));
    const std::size_t at = 8 + 37 * 532;
    EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(at + 532)),
              Record("rec100", 2000, 5000, 37, "new"));

    // Nothing older than "now": slot 0 is the fall-back.
    ASSERT_TRUE(connect::RecordConnection(m_file, "rec101", 2000, "", 40));
    connect::AddressBook book;
    ASSERT_EQ(connect::LoadAddressBook(m_file, book), 100);
    EXPECT_EQ(connect::AddressBookEntry::Decode(std::span(file = Read()).subspan(8, 532)).address,
              "rec101");
}

TEST(AddressBookPlan, DamagedHeadersStayInsideTheBook) {
    // nextSlot far past the end: treated as full, header repaired.
    const Bytes image = HeaderBytes(0, 0xFFFFFFFFu) + Record("a", 1, 10, 0, "");
    const auto writes = connect::PlanRecordConnection(image, "b", 1, "", 100);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].offset, 8u);
    EXPECT_EQ(writes[1].offset, 0u);
    EXPECT_EQ(writes[1].bytes, HeaderBytes(1, 0));

    // nextSlot 99 in a short file: written at slot 99, then full.
    const auto last = connect::PlanRecordConnection(HeaderBytes(0, 99), "c", 1, "", 100);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].offset, 8u + 99 * 532);
    EXPECT_EQ(last[1].bytes, HeaderBytes(1, 0));
}

TEST_F(BookFile, RewriteStopsAfterFirstEmptyEntryAndNeverShortens) {
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(connect::RecordConnection(m_file, "r" + std::to_string(i), 1, "", 10 + i));
    }
    connect::AddressBook book;
    ASSERT_EQ(connect::LoadAddressBook(m_file, book), 3);  // r2, r1, r0
    // Deleting r1 moves the later entries up by one slot.
    book[1] = book[2];
    book[2] = {};
    ASSERT_TRUE(connect::RewriteAddressBook(m_file, book));
    EXPECT_EQ(Read(), HeaderBytes(0, 2) + Record("r2", 1, 12, 2, "") + Record("r0", 1, 10, 0, "") +
                          Bytes(532, 0));

    // A full array: every record written, header full.
    for (std::size_t i = 0; i < connect::kBookSlots; ++i) {
        book[i] = {"x" + std::to_string(i), 1, 1, static_cast<std::uint32_t>(i), ""};
    }
    ASSERT_TRUE(connect::RewriteAddressBook(m_file, book));
    Bytes file = Read();
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), HeaderBytes(1, 0));

    // Deleting everything: one empty record, header 0/0, the rest of the file stays.
    ASSERT_TRUE(connect::RewriteAddressBook(m_file, connect::AddressBook{}));
    file = Read();
    ASSERT_EQ(file.size(), 8u + 100 * 532);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8 + 532), HeaderBytes(0, 0) + Bytes(532, 0));
    EXPECT_EQ(connect::AddressBookEntry::Decode(std::span(file).subspan(8 + 532, 532)).address,
              "x1");
}

TEST_F(BookFile, UnwritableBookIsLeftAlone) {
    // The "file" is a folder: nothing can be recorded, nothing crashes.
    fs::create_directories(m_file);
    EXPECT_FALSE(connect::RecordConnection(m_file, "a", 1, "", 1));
    connect::AddressBook book;
    EXPECT_EQ(connect::LoadAddressBook(m_file, book), 0);
}
