// The bookmark slot file "Log/BookMarkInfo.log": its exact bytes, the 64-slot limit, the
// rewrite that never changes the file's size, damaged files and two windows at once.
#include "archive/bookmarks.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace taviro::archive {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRec = kBookmarkRecordSize;

// A record laid out by hand from the field table.
Bytes Record(std::uint8_t inUse, std::uint32_t time, const std::string& name,
             const std::string& path) {
    Bytes r(kRec, 0);
    r[0] = inUse;
    for (int i = 0; i < 4; ++i)
        r[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(time >> (8 * i));
    std::memcpy(r.data() + 8, name.data(), std::min<std::size_t>(name.size(), 260));
    std::memcpy(r.data() + 268, path.data(), std::min<std::size_t>(path.size(), 260));
    return r;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Slice(const Bytes& b, std::size_t slot) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(slot * kRec),
                 b.begin() + static_cast<std::ptrdiff_t>((slot + 1) * kRec));
}

bool AllZero(const Bytes& b, std::size_t from, std::size_t to) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from),
                       b.begin() + static_cast<std::ptrdiff_t>(to),
                       [](std::uint8_t v) { return v == 0; });
}

class BookmarkFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_root = fs::temp_directory_path() /
                 ("taviro_bookmarks_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_file = m_root / "Log" / kBookmarkFileName;
    }
    void TearDown() override { fs::remove_all(m_root); }

    Bytes Read() const {
        std::ifstream in(m_file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const Bytes& b) const {
        fs::create_directories(m_file.parent_path());
        std::ofstream out(m_file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    // Both presses of Add.
    BookmarkChange AddBookmark(const CBookmarkFile& book, std::int32_t time,
                               const std::string& name) const {
        const FreeSlot free = book.FindFreeSlot();
        if (free.status != BookmarkStatus::Ok) {
            return {free.status, -1, std::nullopt, {}};
        }
        return book.Add(free.slot, time, name, "/media/backup/cam01.vid");
    }

    fs::path m_root;
    fs::path m_file;
};

TEST_F(BookmarkFileTest, FirstBookmarkHasTheExactRecordLayout) {
    CBookmarkFile book(m_file);
    EXPECT_TRUE(book.Load().empty());  // no file, no bookmarks
    EXPECT_EQ(book.FindFreeSlot().slot, 0);

    const auto added = book.Add(0, 0x11223344, "Gate", "/media/backup/cam01.vid");
    ASSERT_EQ(added.status, BookmarkStatus::Ok);  // the Log folder was created on the way
    EXPECT_EQ(added.slot, 0);

    const Bytes f = Read();
    ASSERT_EQ(f.size(), kRec);
    const Bytes head = {1, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 'G', 'a', 't', 'e'};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), f.begin()));
    EXPECT_TRUE(AllZero(f, 12, 268));
    const std::string path = "/media/backup/cam01.vid";
    EXPECT_EQ(std::string(f.begin() + 268, f.begin() + 268 + static_cast<long>(path.size())), path);
    EXPECT_TRUE(AllZero(f, 268 + path.size(), kRec));

    const Bookmark expected{0, 0x11223344, "Gate", path};
    ASSERT_EQ(book.Load(), std::vector<Bookmark>{expected});
    EXPECT_EQ(added.bookmarks, book.Load());
}

TEST_F(BookmarkFileTest, SixtyFourSlotsThenFull) {
    CBookmarkFile book(m_file);
    for (int i = 0; i < 63; ++i) {
        const auto added = AddBookmark(book, 1000 + i, "b" + std::to_string(i));
        ASSERT_EQ(added.status, BookmarkStatus::Ok) << i;
        ASSERT_EQ(added.slot, i);
    }
    EXPECT_EQ(fs::file_size(m_file), 63 * kRec);

    const auto last = AddBookmark(book, 2000, "last");
    ASSERT_EQ(last.status, BookmarkStatus::Ok);
    EXPECT_EQ(last.slot, 63);
    EXPECT_EQ(fs::file_size(m_file), 33792u);

    EXPECT_EQ(book.FindFreeSlot().status, BookmarkStatus::Full);
    // A stale first press that still holds a slot cannot overwrite either.
    const auto refused = book.Add(63, 3000, "extra", "/x.vid");
    EXPECT_EQ(refused.status, BookmarkStatus::Full);
    EXPECT_EQ(fs::file_size(m_file), 33792u);
    const auto all = book.Load();
    ASSERT_EQ(all.size(), 64u);
    EXPECT_EQ(all[63].name, "last");

    // Once one is deleted, the freed slot (63 after the move up) is taken again.
    ASSERT_EQ(book.Delete(all[10]).status, BookmarkStatus::Ok);
    EXPECT_EQ(AddBookmark(book, 4000, "again").slot, 63);
}

TEST_F(BookmarkFileTest, FreeSlotRules) {
    const Bytes used = Record(1, 5, "a", "/a.vid");
    CBookmarkFile book(m_file);

    // A record whose first four bytes are zero is free even with a time and name behind.
    Write(used + Record(0, 77, "old", "/o.vid") + used);
    EXPECT_EQ(book.FindFreeSlot().slot, 1);
    // Only the in-use byte clear but bytes 1..3 not: neither listed nor free.
    Bytes odd = Record(0, 77, "odd", "/o.vid");
    odd[2] = 9;
    Write(used + odd + used);
    EXPECT_EQ(book.FindFreeSlot().slot, 3);
    EXPECT_EQ(book.Load().size(), 2u);

    // A cut trailing record is not a bookmark; its slot is the free one and Add replaces it
    // with a whole record.
    Write(used + used + Bytes{1, 0, 0, 0, 9, 9});
    EXPECT_EQ(book.Load().size(), 2u);
    EXPECT_EQ(book.FindFreeSlot().slot, 2);
    ASSERT_EQ(book.Add(2, 6, "new", "/n.vid").status, BookmarkStatus::Ok);
    EXPECT_EQ(fs::file_size(m_file), 3 * kRec);
    EXPECT_EQ(book.Load().at(2).name, "new");

    // Past 64 records: only slots 0..63 count, never slot 64.
    Bytes big;
    for (int i = 0; i < 70; ++i)
        big = big + (i == 5 ? Bytes(kRec, 0) : used);
    Write(big);
    EXPECT_EQ(book.FindFreeSlot().slot, 5);
    big = Bytes();
    for (int i = 0; i < 64; ++i)
        big = big + used;
    Write(big + Bytes(10, 0));
    EXPECT_EQ(book.FindFreeSlot().status, BookmarkStatus::Full);
    Write(Bytes(33791, 1));  // 63 whole used records and a cut one
    EXPECT_EQ(book.FindFreeSlot().slot, 63);
}

TEST_F(BookmarkFileTest, FieldsAreReadBounded) {
    // Name and path fill their 260 bytes without a terminator.
    Write(Record(1, 9, std::string(260, 'n'), std::string(260, 'p')) +
          Record(2, 9, "in use is not 1", "/x.vid"));
    const auto list = CBookmarkFile(m_file).Load();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, std::string(259, 'n'));
    EXPECT_EQ(list[0].vidPath, std::string(259, 'p'));

    // The parser sees whole records only.
    const Bytes one = Record(1, 1, "x", "/x.vid");
    EXPECT_TRUE(ParseBookmarks(std::span(one).first(kRec - 1)).empty());
    EXPECT_EQ(ParseBookmarks(one).size(), 1u);
}

TEST_F(BookmarkFileTest, NamesAreCutOnACharacterBoundary) {
    CBookmarkFile book(m_file);
    std::string e;
    for (int i = 0; i < 130; ++i)
        e += "\xC3\xA9";  // é: 260 bytes, the 130th character would end at byte 260
    const auto added = book.Add(0, 1, e, "/x.vid");
    ASSERT_EQ(added.status, BookmarkStatus::Ok);
    EXPECT_EQ(added.bookmarks.at(0).name, e.substr(0, 258));

    const auto renamed = book.Rename(added.bookmarks[0], std::string(300, 'a'));
    ASSERT_EQ(renamed.status, BookmarkStatus::Ok);
    EXPECT_EQ(book.Load().at(0).name, std::string(259, 'a'));
    EXPECT_EQ(Read()[8 + 259], 0);  // the terminator is kept

    EXPECT_EQ(book.Add(1, 1, "", "/x.vid").status, BookmarkStatus::EmptyName);
    EXPECT_EQ(book.Add(1, 1, "x", std::string(260, 'p')).status, BookmarkStatus::BadPath);
    EXPECT_EQ(fs::file_size(m_file), kRec);
}

TEST_F(BookmarkFileTest, DeleteMovesLaterSlotsUpAndKeepsTheSize) {
    CBookmarkFile book(m_file);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(AddBookmark(book, 100 + i, "b" + std::to_string(i)).status, BookmarkStatus::Ok);
    // Two empty slots after them: the file's size is set by what it held, not by the list.
    Write(Read() + Bytes(2 * kRec, 0));
    const Bytes before = Read();

    auto list = book.Load();
    auto result = book.Delete(list[0]);
    ASSERT_EQ(result.status, BookmarkStatus::Ok);
    EXPECT_EQ(result.selectedRow, std::optional<std::size_t>(0));  // b1 moved into row 0
    const Bytes after = Read();
    ASSERT_EQ(after.size(), 5 * kRec);
    EXPECT_EQ(Slice(after, 0), Slice(before, 1));
    EXPECT_EQ(Slice(after, 1), Slice(before, 2));
    EXPECT_TRUE(AllZero(after, 2 * kRec, after.size()));
    ASSERT_EQ(result.bookmarks.size(), 2u);
    EXPECT_EQ(result.bookmarks[0].slot, 0);
    EXPECT_EQ(result.bookmarks[0].name, "b1");

    // Deleting the last row selects the new last row; deleting the only one selects none.
    result = book.Delete(result.bookmarks[1]);
    EXPECT_EQ(result.selectedRow, std::optional<std::size_t>(0));
    result = book.Delete(result.bookmarks.at(0));
    ASSERT_EQ(result.status, BookmarkStatus::Ok);
    EXPECT_EQ(result.selectedRow, std::nullopt);
    EXPECT_EQ(fs::file_size(m_file), 5 * kRec);
}

TEST_F(BookmarkFileTest, RewritesNeverShrinkOrGrowTheFile) {
    const Bytes used = Record(1, 5, "a", "/a.vid");
    // A cut record at the end: the rewrite clears it but leaves the size alone.
    Write(used + used + used + Bytes(100, 7));
    CBookmarkFile book(m_file);
    const auto renamed = book.Rename(book.Load().at(1), "renamed");
    ASSERT_EQ(renamed.status, BookmarkStatus::Ok);
    Bytes f = Read();
    ASSERT_EQ(f.size(), 3 * kRec + 100);
    EXPECT_TRUE(AllZero(f, 3 * kRec, f.size()));

    ASSERT_EQ(book.DeleteAll().status, BookmarkStatus::Ok);
    f = Read();
    EXPECT_EQ(f.size(), 3 * kRec + 100);
    EXPECT_TRUE(AllZero(f, 0, f.size()));
    EXPECT_TRUE(book.Load().empty());

    // Bytes past the 64 slots are not the table's and stay as they are.
    Write(Bytes(kBookmarkFileCapacity, 0) + Bytes{1, 2, 3});
    ASSERT_EQ(book.DeleteAll().status, BookmarkStatus::Ok);
    f = Read();
    ASSERT_EQ(f.size(), kBookmarkFileCapacity + 3);
    EXPECT_EQ(f.back(), 3);

    // No file: nothing to clear, and no file is made.
    fs::remove(m_file);
    EXPECT_EQ(book.DeleteAll().status, BookmarkStatus::Ok);
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(BookmarkFileTest, AStaleWindowNeverLosesAnotherWindowsBookmark) {
    CBookmarkFile first(m_file);
    CBookmarkFile second(m_file);

    // Both windows pressed Add before either stored its bookmark.
    const int slotA = first.FindFreeSlot().slot;
    const int slotB = second.FindFreeSlot().slot;
    ASSERT_EQ(slotA, 0);
    ASSERT_EQ(slotB, 0);
    ASSERT_EQ(first.Add(slotA, 10, "first", "/a.vid").slot, 0);
    const auto b = second.Add(slotB, 20, "second", "/b.vid");
    ASSERT_EQ(b.status, BookmarkStatus::Ok);
    EXPECT_EQ(b.slot, 1);
    ASSERT_EQ(b.bookmarks.size(), 2u);

    // The second window still shows the list from before the first one deleted "first";
    // acting on that list must not touch "second", which has moved to slot 0.
    const auto staleList = second.Load();
    ASSERT_EQ(first.Delete(staleList[0]).status, BookmarkStatus::Ok);
    EXPECT_EQ(second.Delete(staleList[1]).status, BookmarkStatus::Changed);
    EXPECT_EQ(second.Rename(staleList[1], "x").status, BookmarkStatus::Changed);
    const auto now = second.Load();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0].name, "second");
    EXPECT_EQ(now[0].slot, 0);
}

TEST_F(BookmarkFileTest, WriteFailuresAreReported) {
    const Bytes used = Record(1, 5, "a", "/a.vid");
    Write(used + used + used);

    // The file size limit stops writes past 600 bytes, for root as well: an Add at slot 3
    // fails outright and a DeleteAll writes only part of its 1,584 bytes.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{600, 600};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(100);
        CBookmarkFile book(m_file);
        int failures = 0;
        if (book.Add(3, 1, "x", "/x.vid").status != BookmarkStatus::IoError)
            failures |= 1;
        if (book.DeleteAll().status != BookmarkStatus::IoError)
            failures |= 2;
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: Add, 2: DeleteAll reported success";

    // A full device.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(CBookmarkFile("/dev/full").Add(0, 1, "x", "/x.vid").status,
                  BookmarkStatus::IoError);
    }
    // A file that cannot be created: "Log" is a file here.
    fs::remove_all(m_root / "Log");
    std::ofstream(m_root / "Log") << "not a folder";
    CBookmarkFile blocked(m_file);
    EXPECT_EQ(blocked.FindFreeSlot().status, BookmarkStatus::IoError);
    EXPECT_EQ(blocked.Add(0, 1, "x", "/x.vid").status, BookmarkStatus::IoError);
}

TEST(BookmarkTime, DateFormats) {
    const std::int32_t t = 1614834367;  // 2021-03-04 05:06:07 UTC
    EXPECT_EQ(FormatBookmarkTime(t, 0), "2021-03-04  05:06:07");
    EXPECT_EQ(FormatBookmarkTime(t, 1), "03-04-2021  05:06:07");
    EXPECT_EQ(FormatBookmarkTime(t, 2), "04-03-2021  05:06:07");
    EXPECT_EQ(FormatBookmarkTime(t, 9), "2021-03-04  05:06:07");
    EXPECT_EQ(FormatBookmarkTime(-5, 0), "1970-01-01  00:00:00");
    EXPECT_EQ(FormatBookmarkTime(INT32_MAX, 2), "19-01-2038  03:14:07");
}

}  // namespace
}  // namespace taviro::archive
