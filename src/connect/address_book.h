// The recorder address book "ConnectInfo100.log": an 8-byte header and up to 100 records of
// 532 bytes, little-endian, one per recorder the operator has connected to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::connect {

inline constexpr std::size_t kBookSlots = 100;
inline constexpr std::size_t kBookHeaderSize = 8;
inline constexpr std::size_t kBookEntrySize = 532;
inline constexpr std::size_t kBookTextWidth = 260;  // address and description fields
inline constexpr std::size_t kBookMaxFileSize = kBookHeaderSize + kBookSlots * kBookEntrySize;
inline constexpr const char* kAddressBookFileName = "ConnectInfo100.log";

struct AddressBookHeader {
    std::uint32_t full = 0;      // 1 once slot 99 has been written
    std::uint32_t nextSlot = 0;  // where the next new entry goes while not full

    [[nodiscard]] std::array<std::uint8_t, kBookHeaderSize> Encode() const;
    // A short (or empty) file reads as a new book: full 0, nextSlot 0.
    static AddressBookHeader Decode(std::span<const std::uint8_t> bytes);
};

struct AddressBookEntry {
    std::string address;  // empty: the slot is free
    std::int32_t port = 0;
    std::uint32_t lastUsed = 0;  // seconds since 1970 UTC
    std::uint32_t slot = 0;
    std::string description;

    [[nodiscard]] bool Empty() const { return address.empty(); }
    // Texts longer than 259 bytes are cut so the field keeps its terminator.
    [[nodiscard]] std::array<std::uint8_t, kBookEntrySize> Encode() const;
    // Reads one record; bytes missing from a short record read as zero.
    static AddressBookEntry Decode(std::span<const std::uint8_t> bytes);
};

using AddressBook = std::array<AddressBookEntry, kBookSlots>;

// <storage folder>/Log/ConnectInfo100.log
std::filesystem::path AddressBookPath(const std::filesystem::path& storageFolder);

// Fills `book` from a file image: records after the header into consecutive slots until a
// record is incomplete or 100 are read, the rest empty; then sorted newest first. Returns
// the number of records read.
int ParseAddressBook(std::span<const std::uint8_t> image, AddressBook& book);
// The exchange sort by lastUsed, newest first; free slots (time 0) end up last.
void SortAddressBook(AddressBook& book);

// One write of a file update: `bytes` at `offset`.
struct BookWrite {
    std::size_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// What recording a confirmed connection writes into the file whose current content is
// `image`: refreshes the entry with the same address (letter case ignored) and port, else
// fills the next free slot, else replaces the least recently used entry. Only the first 100
// records are considered; a header whose nextSlot lies past the last slot is treated as full
// and repaired.
std::vector<BookWrite> PlanRecordConnection(std::span<const std::uint8_t> image,
                                            std::string_view address, std::int32_t port,
                                            std::string_view description, std::uint32_t now);
// What rewriting the whole book writes: entries up to and including the first empty one,
// then the header.
std::vector<BookWrite> PlanRewriteAddressBook(const AddressBook& book);

// File operations. Errors are silent by design: an unreadable book is an empty book, an
// unwritable one stays as it is (the bool tells tests and callers that care).
int LoadAddressBook(const std::filesystem::path& file, AddressBook& book);
bool RecordConnection(const std::filesystem::path& file, std::string_view address,
                      std::int32_t port, std::string_view description, std::uint32_t now);
bool RewriteAddressBook(const std::filesystem::path& file, const AddressBook& book);

}  // namespace taviro::connect
