#include "archive/bookmarks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/storage.h"
#include "protocol/byte_order.h"

namespace taviro::archive {

namespace {

constexpr std::size_t kTimeOffset = 4;
constexpr std::size_t kNameOffset = 8;
constexpr std::size_t kPathOffset = 268;
constexpr std::size_t kSlots = static_cast<std::size_t>(kBookmarkSlots);

// The 64-slot table of the list page: the file's whole records, zeros elsewhere.
using Table = std::vector<std::uint8_t>;

std::uint8_t* RecordAt(Table& table, std::size_t slot) {
    return table.data() + slot * kBookmarkRecordSize;
}

// A text field up to its terminator; without one it ends one byte short of the field, as if
// the last byte were the terminator, so nothing longer than we would write ever comes back.
std::string FieldText(const std::uint8_t* field) {
    const auto* end = std::find(field, field + kBookmarkMaxText, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(field), static_cast<std::size_t>(end - field));
}

// A name as it will read back: up to the first NUL and at most 259 bytes, cut before a
// UTF-8 character that would not fit whole.
std::string_view CutName(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (text.size() <= kBookmarkMaxText) {
        return text;
    }
    std::size_t cut = kBookmarkMaxText;
    // text[cut] is the first byte left out; while it continues a character, that character
    // began before the cut. A character has at most three continuation bytes.
    for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
         ++i) {
        --cut;
    }
    return text.substr(0, cut);
}

void PutText(std::uint8_t* field, std::string_view text) {
    std::memset(field, 0, kBookmarkTextWidth);
    std::memcpy(field, text.data(), std::min(text.size(), kBookmarkMaxText));
}

// The bookmark held by a whole record, or nothing when its in-use byte is not 1.
std::optional<Bookmark> DecodeRecord(const std::uint8_t* record, std::size_t slot) {
    if (record[0] != 1) {
        return std::nullopt;
    }
    Bookmark b;
    b.slot = static_cast<int>(slot);
    b.time = static_cast<std::int32_t>(protocol::LoadLE32(record + kTimeOffset));
    b.name = FieldText(record + kNameOffset);
    b.vidPath = FieldText(record + kPathOffset);
    return b;
}

bool FirstWordZero(const std::uint8_t* record) {
    return record[0] == 0 && record[1] == 0 && record[2] == 0 && record[3] == 0;
}

// What the file held when it was read: its first bytes (never more than 64 records) and its
// size, which may be larger.
struct Snapshot {
    std::vector<std::uint8_t> image;
    std::size_t size = 0;

    [[nodiscard]] std::size_t WholeRecords() const {
        return std::min(image.size() / kBookmarkRecordSize, kSlots);
    }
    [[nodiscard]] Table MakeTable() const {
        Table table(kBookmarkFileCapacity, 0);
        std::copy_n(image.begin(), WholeRecords() * kBookmarkRecordSize, table.begin());
        return table;
    }
};

// The slot the first press of Add takes: the first whole record starting with four zero
// bytes, else the record where the file ends (a cut trailing record is overwritten). Nothing
// when the file covers all 64 slots.
std::optional<std::size_t> FirstFreeSlot(const Snapshot& file) {
    const std::size_t whole = file.WholeRecords();
    for (std::size_t slot = 0; slot < whole; ++slot) {
        if (FirstWordZero(file.image.data() + slot * kBookmarkRecordSize)) {
            return slot;
        }
    }
    if (file.size >= kBookmarkFileCapacity) {
        return std::nullopt;
    }
    return file.size / kBookmarkRecordSize;  // below 64 by the test above
}

// Whether `slot` is still free. Past the end only the slot where the file ends counts, so the
// file never gets a gap of records nobody wrote.
bool SlotFree(const Snapshot& file, int slot) {
    if (slot < 0 || slot >= kBookmarkSlots) {
        return false;
    }
    const auto s = static_cast<std::size_t>(slot);
    const std::size_t whole = file.WholeRecords();
    if (s < whole) {
        return FirstWordZero(file.image.data() + s * kBookmarkRecordSize);
    }
    return s == whole;
}

// Whether the table still holds `expected` in its slot.
bool Holds(const Table& table, const Bookmark& expected) {
    if (expected.slot < 0 || expected.slot >= kBookmarkSlots) {
        return false;
    }
    const auto slot = static_cast<std::size_t>(expected.slot);
    const auto found = DecodeRecord(table.data() + slot * kBookmarkRecordSize, slot);
    return found && *found == expected;
}

// An open descriptor; the advisory lock goes with it when it is closed.
class CFile {
  public:
    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // False with errno set when the file cannot be opened.
    bool Open(const std::filesystem::path& file, int flags) {
        do {
            m_fd = ::open(file.c_str(), flags | O_CLOEXEC, 0644);
        } while (m_fd < 0 && errno == EINTR);
        return m_fd >= 0;
    }
    bool Lock(int operation) {
        int rc = 0;
        do {
            rc = ::flock(m_fd, operation);
        } while (rc != 0 && errno == EINTR);
        return rc == 0;
    }
    // Reads the file's size and at most 64 records of it; false on a read error or when the
    // file delivers fewer bytes than its size promised.
    bool Read(Snapshot& out) {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || st.st_size < 0) {
            return false;
        }
        out.size = static_cast<std::size_t>(st.st_size);
        out.image.assign(std::min(out.size, kBookmarkFileCapacity), 0);
        std::size_t got = 0;
        while (got < out.image.size()) {
            const ssize_t n = ::pread(m_fd, out.image.data() + got, out.image.size() - got,
                                      static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        const bool whole = got == out.image.size();
        out.image.resize(got);
        return whole;
    }
    // Writes all of `data` at `offset`; a short write that cannot be finished (a full disk,
    // the file size limit, an I/O error) is a failure.
    bool Write(const std::uint8_t* data, std::size_t size, std::size_t offset) {
        while (size > 0) {
            const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Some file systems report a failed write only when the file is closed.
    bool Close() {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }

  private:
    int m_fd = -1;
};

// The common part of Rename, Delete and DeleteAll: reads the file under the lock, lets
// `change` edit the table (it returns Ok to have the table written) and writes the table
// back over the file's old extent.
template <typename Change>
BookmarkChange RewriteWith(const std::filesystem::path& path, BookmarkStatus whenMissing,
                           Change&& change) {
    BookmarkChange result;
    CFile file;
    if (!file.Open(path, O_RDWR)) {
        result.status = errno == ENOENT ? whenMissing : BookmarkStatus::IoError;
        return result;
    }
    Snapshot snapshot;
    if (!file.Lock(LOCK_EX) || !file.Read(snapshot)) {
        // Writing back a table read only in part would drop the bookmarks not read.
        result.status = BookmarkStatus::IoError;
        return result;
    }
    Table table = snapshot.MakeTable();
    result.status = change(table, result);
    if (result.status != BookmarkStatus::Ok) {
        result.bookmarks = ParseBookmarks(table);
        return result;
    }
    // Slots go back from slot 0 for as long as they start inside the old file. The last one
    // is cut at the old end: it can only be a cut record, which the table holds as zeros.
    const std::size_t extent = std::min(snapshot.size, kBookmarkFileCapacity);
    if (!file.Write(table.data(), extent, 0) || !file.Close()) {
        result.status = BookmarkStatus::IoError;
        result.selectedRow.reset();
        result.bookmarks = ParseBookmarks(snapshot.image);
        return result;
    }
    result.bookmarks = ParseBookmarks(table);
    return result;
}

}  // namespace

std::vector<Bookmark> ParseBookmarks(std::span<const std::uint8_t> image) {
    std::vector<Bookmark> out;
    const std::size_t whole = std::min(image.size() / kBookmarkRecordSize, kSlots);
    for (std::size_t slot = 0; slot < whole; ++slot) {
        if (auto b = DecodeRecord(image.data() + slot * kBookmarkRecordSize, slot)) {
            out.push_back(std::move(*b));
        }
    }
    return out;
}

std::string FormatBookmarkTime(std::int32_t time, int dateFormat) {
    const std::time_t t = time < 0 ? 0 : static_cast<std::time_t>(time);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    const int year = tm.tm_year + 1900;
    const int month = tm.tm_mon + 1;
    char text[96];
    switch (dateFormat) {
        case 1:
            std::snprintf(text, sizeof text, "%02d-%02d-%04d  %02d:%02d:%02d", month, tm.tm_mday,
                          year, tm.tm_hour, tm.tm_min, tm.tm_sec);
            break;
        case 2:
            std::snprintf(text, sizeof text, "%02d-%02d-%04d  %02d:%02d:%02d", tm.tm_mday, month,
                          year, tm.tm_hour, tm.tm_min, tm.tm_sec);
            break;
        default:
            std::snprintf(text, sizeof text, "%04d-%02d-%02d  %02d:%02d:%02d", year, month,
                          tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
            break;
    }
    return text;
}

CBookmarkFile::CBookmarkFile(std::filesystem::path file) : m_file(std::move(file)) {}

std::vector<Bookmark> CBookmarkFile::Load() const {
    CFile file;
    if (!file.Open(m_file, O_RDONLY)) {
        return {};
    }
    // Without the lock (a file system that has none) the list may catch a write half done;
    // that is still better than no list, and no change relies on it.
    file.Lock(LOCK_SH);
    Snapshot snapshot;
    file.Read(snapshot);  // a read error lists what arrived
    return ParseBookmarks(snapshot.image);
}

FreeSlot CBookmarkFile::FindFreeSlot() const {
    CFile file;
    if (!file.Open(m_file, O_RDONLY)) {
        if (errno == ENOENT) {
            return {BookmarkStatus::Ok, 0};
        }
        return {BookmarkStatus::IoError, -1};
    }
    file.Lock(LOCK_SH);
    Snapshot snapshot;
    if (!file.Read(snapshot)) {
        return {BookmarkStatus::IoError, -1};
    }
    const auto slot = FirstFreeSlot(snapshot);
    if (!slot) {
        return {BookmarkStatus::Full, -1};
    }
    return {BookmarkStatus::Ok, static_cast<int>(*slot)};
}

BookmarkChange CBookmarkFile::Add(int slot, std::int32_t time, std::string_view name,
                                  std::string_view vidPath) const {
    BookmarkChange result;
    name = CutName(name);
    if (name.empty()) {
        result.status = BookmarkStatus::EmptyName;
        return result;
    }
    // A cut path would name another file; better no bookmark than one that opens nothing.
    if (vidPath.size() > kBookmarkMaxText || vidPath.find('\0') != std::string_view::npos) {
        result.status = BookmarkStatus::BadPath;
        return result;
    }
    result.status = BookmarkStatus::IoError;
    if (m_file.has_parent_path() && !platform::EnsureFolder(m_file.parent_path())) {
        return result;
    }
    CFile file;
    Snapshot snapshot;
    if (!file.Open(m_file, O_RDWR | O_CREAT) || !file.Lock(LOCK_EX) || !file.Read(snapshot)) {
        return result;
    }
    Table table = snapshot.MakeTable();
    // The slot found at the first press may have been taken since by another window.
    std::optional<std::size_t> target;
    if (SlotFree(snapshot, slot)) {
        target = static_cast<std::size_t>(slot);
    } else {
        target = FirstFreeSlot(snapshot);
    }
    if (!target) {
        result.status = BookmarkStatus::Full;
        result.bookmarks = ParseBookmarks(table);
        return result;
    }

    std::uint8_t* record = RecordAt(table, *target);
    std::memset(record, 0, kBookmarkRecordSize);
    record[0] = 1;
    protocol::StoreLE32(record + kTimeOffset, static_cast<std::uint32_t>(time));
    PutText(record + kNameOffset, name);
    PutText(record + kPathOffset, vidPath);
    if (!file.Write(record, kBookmarkRecordSize, *target * kBookmarkRecordSize) || !file.Close()) {
        result.bookmarks = ParseBookmarks(snapshot.image);
        return result;
    }
    result.status = BookmarkStatus::Ok;
    result.slot = static_cast<int>(*target);
    result.bookmarks = ParseBookmarks(table);
    return result;
}

BookmarkChange CBookmarkFile::Rename(const Bookmark& bookmark, std::string_view newName) const {
    const std::string_view name = CutName(newName);
    return RewriteWith(m_file, BookmarkStatus::Changed, [&](Table& table, BookmarkChange&) {
        if (!Holds(table, bookmark)) {
            return BookmarkStatus::Changed;
        }
        PutText(RecordAt(table, static_cast<std::size_t>(bookmark.slot)) + kNameOffset, name);
        return BookmarkStatus::Ok;
    });
}

BookmarkChange CBookmarkFile::Delete(const Bookmark& bookmark) const {
    return RewriteWith(m_file, BookmarkStatus::Changed, [&](Table& table, BookmarkChange& out) {
        if (!Holds(table, bookmark)) {
            return BookmarkStatus::Changed;
        }
        const auto slot = static_cast<std::size_t>(bookmark.slot);
        // Its list row: the bookmarks listed before it.
        std::size_t row = 0;
        for (std::size_t s = 0; s < slot; ++s) {
            if (RecordAt(table, s)[0] == 1) {
                ++row;
            }
        }
        std::memmove(RecordAt(table, slot), RecordAt(table, slot + 1),
                     (kSlots - 1 - slot) * kBookmarkRecordSize);
        std::memset(RecordAt(table, kSlots - 1), 0, kBookmarkRecordSize);
        std::size_t rows = 0;
        for (std::size_t s = 0; s < kSlots; ++s) {
            if (RecordAt(table, s)[0] == 1) {
                ++rows;
            }
        }
        if (rows > 0) {
            out.selectedRow = std::min(row, rows - 1);
        }
        return BookmarkStatus::Ok;
    });
}

BookmarkChange CBookmarkFile::DeleteAll() const {
    return RewriteWith(m_file, BookmarkStatus::Ok, [](Table& table, BookmarkChange&) {
        std::fill(table.begin(), table.end(), std::uint8_t{0});
        return BookmarkStatus::Ok;
    });
}

}  // namespace taviro::archive
