// The bookmark file "<storage folder>/Log/BookMarkInfo.log": up to 64 slots of 528 bytes, one
// bookmark (a frame time in a backup .vid file) per slot. A missing file holds no bookmarks.
//
// Record layout (little-endian):
//   0    1 byte   in use (1; 0 = free)
//   1    3 bytes  zero
//   4    4 bytes  bookmark time: the frame time, seconds since 1970 counted as UTC
//   8    260      name, NUL-terminated
//   268  260      full path of the .vid file, NUL-terminated
//
// A slot is free for a new bookmark when the first four bytes of its record are zero or when
// the file ends before it; only records whose in-use byte is 1 are listed. A trailing record
// the file holds only part of (a cut write) is treated as absent: it is never listed, its slot
// counts as free, and the table of the list page holds zeros there.
//
// Every change (Add, Rename, Delete, DeleteAll) reads the file afresh under an exclusive
// advisory lock and applies itself to what it read, so a window with a stale list never
// overwrites a bookmark another window or process wrote meanwhile; Rename and Delete name
// the bookmark they mean and refuse when its slot holds something else by now.
//
// Rewrites (Rename, Delete, DeleteAll) write the 64-slot table from slot 0 up to the file's
// size before the rewrite: the file never shrinks and a rewrite never makes it grow.
//
// Threads: meant for the window thread. The object holds only the path and every call opens,
// locks and closes the file, so calls from several threads or processes are safe. Each call
// reads at most 33,792 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::archive {

inline constexpr int kBookmarkSlots = 64;
inline constexpr std::size_t kBookmarkRecordSize = 528;
inline constexpr std::size_t kBookmarkFileCapacity =
    std::size_t{kBookmarkSlots} * kBookmarkRecordSize;  // 33,792
inline constexpr std::size_t kBookmarkTextWidth = 260;  // name and path fields
// Longest name or path stored: one byte of each field stays for the terminator.
inline constexpr std::size_t kBookmarkMaxText = kBookmarkTextWidth - 1;
inline constexpr const char* kBookmarkFileName = "BookMarkInfo.log";

struct Bookmark {
    int slot = -1;
    std::int32_t time = 0;
    std::string name;     // UTF-8 bytes, at most 259
    std::string vidPath;  // at most 259 bytes

    bool operator==(const Bookmark&) const = default;
};

enum class BookmarkStatus {
    Ok,
    Full,       // all 64 slots hold records: the window posts notification (18, 0)
    EmptyName,  // Add without a name: nothing is stored
    BadPath,    // the .vid path is longer than 259 bytes or holds a NUL: nothing is stored
    Changed,    // the slot no longer holds the bookmark the caller named: nothing is changed
    IoError,    // the file could not be created, read, locked or fully written
};

// The first press of Add: where the bookmark would go.
struct FreeSlot {
    BookmarkStatus status = BookmarkStatus::Ok;  // Ok, Full or IoError
    int slot = -1;                               // 0..63 when Ok
};

// What a change did and what the file holds afterwards.
struct BookmarkChange {
    BookmarkStatus status = BookmarkStatus::Ok;
    int slot = -1;  // Add: the slot written
    // Delete: the list row to select afterwards (the row that moved into the deleted one's
    // place, else the last row; none when the list is empty).
    std::optional<std::size_t> selectedRow;
    // The bookmarks in slot order as the file holds them after the call (when nothing was
    // changed: as it was read). Empty when the file could not be read.
    std::vector<Bookmark> bookmarks;
};

class CBookmarkFile {
  public:
    // `file` is the full path, normally <storage folder>/Log/BookMarkInfo.log.
    explicit CBookmarkFile(std::filesystem::path file);

    [[nodiscard]] const std::filesystem::path& FilePath() const { return m_file; }

    // The bookmarks in slot order; a missing or unreadable file lists none.
    [[nodiscard]] std::vector<Bookmark> Load() const;

    // The first free slot: the first of slots 0..63 whose record starts with four zero bytes,
    // else the slot where the file ends; Full when the file already covers all 64 slots.
    [[nodiscard]] FreeSlot FindFreeSlot() const;

    // The second press of Add. Stores the bookmark in `slot` (from FindFreeSlot) when that
    // slot is still free, else in the first slot free now (Full when there is none). Creates
    // the Log folder and the file when missing. The name is cut to 259 bytes on a character
    // boundary; an empty name stores nothing.
    BookmarkChange Add(int slot, std::int32_t time, std::string_view name,
                       std::string_view vidPath) const;

    // Save of the edit field: gives `bookmark` (as listed, slot included) the new name, cut
    // like Add's, and rewrites the file. Changed when that slot holds something else now. An
    // empty name is stored as it is: the bookmark keeps its time and file.
    BookmarkChange Rename(const Bookmark& bookmark, std::string_view newName) const;

    // Removes `bookmark` (as listed): the slots after it move one up, slot 63 is cleared and
    // the file is rewritten. Changed when that slot holds something else now.
    BookmarkChange Delete(const Bookmark& bookmark) const;

    // Clears every slot and rewrites the file (which keeps its size). A missing file stays
    // missing.
    BookmarkChange DeleteAll() const;

  private:
    std::filesystem::path m_file;
};

// The bookmarks listed from a file image: records whose in-use byte is 1 among the first 64
// whole records, in slot order. Never reads past `image`; text fields without a terminator
// are cut at 259 bytes.
std::vector<Bookmark> ParseBookmarks(std::span<const std::uint8_t> image);

// The time column of the list, by the date-format setting (two blanks before the time):
//   0  "YYYY-MM-DD  hh:mm:ss"  (and any value other than 1 or 2)
//   1  "MM-DD-YYYY  hh:mm:ss"
//   2  "DD-MM-YYYY  hh:mm:ss"
// The time is shown as stored, without a time-zone correction; negative times show as 0.
std::string FormatBookmarkTime(std::int32_t time, int dateFormat);

}  // namespace taviro::archive
