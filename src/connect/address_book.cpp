#include "connect/address_book.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <utility>

#include "platform/storage.h"
#include "protocol/byte_order.h"

namespace taviro::connect {

namespace {

using protocol::CByteReader;
using protocol::CByteWriter;

// Keep one byte for the terminator the readers of this file rely on.
std::string_view FieldText(std::string_view text) {
    return text.substr(0, std::min(text.size(), kBookTextWidth - 1));
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::size_t RecordOffset(std::size_t slot) {
    return kBookHeaderSize + slot * kBookEntrySize;
}

template <std::size_t N>
std::vector<std::uint8_t> ToVector(const std::array<std::uint8_t, N>& a) {
    return {a.begin(), a.end()};
}

std::vector<std::uint8_t> ReadImage(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    // Never more than a full book: anything after record 100 is not part of it.
    std::vector<std::uint8_t> image(kBookMaxFileSize);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    image.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return image;
}

bool ApplyWrites(const std::filesystem::path& file, const std::vector<BookWrite>& writes) {
    if (file.has_parent_path() && !platform::EnsureFolder(file.parent_path())) {
        return false;
    }
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) {
        // Absent: create it, then reopen for positioned writes.
        std::ofstream create(file, std::ios::binary);
        if (!create) {
            return false;
        }
        create.close();
        out.open(file, std::ios::binary | std::ios::in | std::ios::out);
        if (!out) {
            return false;
        }
    }
    for (const BookWrite& w : writes) {
        out.seekp(static_cast<std::streamoff>(w.offset));
        out.write(reinterpret_cast<const char*>(w.bytes.data()),
                  static_cast<std::streamsize>(w.bytes.size()));
    }
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

std::array<std::uint8_t, kBookHeaderSize> AddressBookHeader::Encode() const {
    std::array<std::uint8_t, kBookHeaderSize> out{};
    CByteWriter w(out);
    w.LE32(full);
    w.LE32(nextSlot);
    return out;
}

AddressBookHeader AddressBookHeader::Decode(std::span<const std::uint8_t> bytes) {
    CByteReader r(bytes);
    AddressBookHeader h;
    h.full = r.LE32();
    h.nextSlot = r.LE32();
    if (!r.Ok()) {
        return {};
    }
    return h;
}

std::array<std::uint8_t, kBookEntrySize> AddressBookEntry::Encode() const {
    std::array<std::uint8_t, kBookEntrySize> out{};
    CByteWriter w(out);
    w.Text(FieldText(address), kBookTextWidth);
    w.LE32(static_cast<std::uint32_t>(port));
    w.LE32(lastUsed);
    w.LE32(slot);
    w.Text(FieldText(description), kBookTextWidth);
    return out;
}

AddressBookEntry AddressBookEntry::Decode(std::span<const std::uint8_t> bytes) {
    // Pad to a whole record so a short one yields what it holds and zeros for the rest.
    std::array<std::uint8_t, kBookEntrySize> record{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    CByteReader r(record);
    AddressBookEntry e;
    e.address = r.Text(kBookTextWidth);
    e.port = static_cast<std::int32_t>(r.LE32());
    e.lastUsed = r.LE32();
    e.slot = r.LE32();
    e.description = r.Text(kBookTextWidth);
    return e;
}

std::filesystem::path AddressBookPath(const std::filesystem::path& storageFolder) {
    return storageFolder / "Log" / kAddressBookFileName;
}

void SortAddressBook(AddressBook& book) {
    // The exchange sort the address book dialog has always shown: order among equal times
    // follows from exactly this sequence of swaps, so it is kept rather than std::sort.
    for (std::size_t p = 0; p + 1 < kBookSlots; ++p) {
        for (std::size_t q = p + 1; q < kBookSlots; ++q) {
            if (book[p].lastUsed < book[q].lastUsed) {
                std::swap(book[p], book[q]);
            }
        }
    }
}

int ParseAddressBook(std::span<const std::uint8_t> image, AddressBook& book) {
    book.fill(AddressBookEntry{});
    int count = 0;
    if (image.size() > kBookHeaderSize) {
        CByteReader r(image);
        r.Skip(kBookHeaderSize);
        std::array<std::uint8_t, kBookEntrySize> record{};
        while (count < static_cast<int>(kBookSlots) && r.Bytes(record)) {
            book[static_cast<std::size_t>(count)] = AddressBookEntry::Decode(record);
            ++count;
        }
    }
    SortAddressBook(book);
    return count;
}

std::vector<BookWrite> PlanRecordConnection(std::span<const std::uint8_t> image,
                                            std::string_view address, std::int32_t port,
                                            std::string_view description, std::uint32_t now) {
    AddressBookEntry entry;
    entry.address = std::string(FieldText(address));
    entry.port = port;
    entry.description = std::string(FieldText(description));
    entry.lastUsed = now;

    const AddressBookHeader header = AddressBookHeader::Decode(image);
    const std::size_t usable = std::min(image.size(), kBookMaxFileSize);
    const std::size_t records =
        usable > kBookHeaderSize ? (usable - kBookHeaderSize) / kBookEntrySize : 0;

    std::vector<BookWrite> writes;
    for (std::size_t i = 0; i < records; ++i) {
        const AddressBookEntry old =
            AddressBookEntry::Decode(image.subspan(RecordOffset(i), kBookEntrySize));
        if (old.port == port && EqualIgnoringCase(old.address, entry.address)) {
            entry.slot = static_cast<std::uint32_t>(i);
            writes.push_back({RecordOffset(i), ToVector(entry.Encode())});
            return writes;
        }
    }

    if (header.full == 0 && header.nextSlot < kBookSlots) {
        entry.slot = header.nextSlot;
        writes.push_back({RecordOffset(header.nextSlot), ToVector(entry.Encode())});
        AddressBookHeader next;
        if (header.nextSlot >= kBookSlots - 1) {
            next.full = 1;
            next.nextSlot = 0;
        } else {
            next.full = 0;
            next.nextSlot = header.nextSlot + 1;
        }
        writes.push_back({0, ToVector(next.Encode())});
        return writes;
    }

    // Full: replace the least recently used record. Starting from "now" means a record
    // stamped in the future is never picked; slot 0 is the fall-back.
    std::uint32_t oldest = now;
    std::size_t candidate = 0;
    for (std::size_t i = 0; i < records; ++i) {
        const std::uint32_t used = protocol::LoadLE32(image.data() + RecordOffset(i) + 264);
        if (used < oldest) {
            oldest = used;
            candidate = i;
        }
    }
    entry.slot = static_cast<std::uint32_t>(candidate);
    writes.push_back({RecordOffset(candidate), ToVector(entry.Encode())});
    if (header.full == 0) {
        // A nextSlot past the last slot: the book is full in all but the header.
        writes.push_back({0, ToVector(AddressBookHeader{1, 0}.Encode())});
    }
    return writes;
}

std::vector<BookWrite> PlanRewriteAddressBook(const AddressBook& book) {
    std::vector<BookWrite> writes;
    AddressBookHeader header{1, 0};
    for (std::size_t i = 0; i < kBookSlots; ++i) {
        writes.push_back({RecordOffset(i), ToVector(book[i].Encode())});
        if (book[i].Empty()) {
            header = {0, static_cast<std::uint32_t>(i)};
            break;
        }
    }
    writes.push_back({0, ToVector(header.Encode())});
    return writes;
}

int LoadAddressBook(const std::filesystem::path& file, AddressBook& book) {
    const std::vector<std::uint8_t> image = ReadImage(file);
    return ParseAddressBook(image, book);
}

bool RecordConnection(const std::filesystem::path& file, std::string_view address,
                      std::int32_t port, std::string_view description, std::uint32_t now) {
    const std::vector<std::uint8_t> image = ReadImage(file);
    return ApplyWrites(file, PlanRecordConnection(image, address, port, description, now));
}

bool RewriteAddressBook(const std::filesystem::path& file, const AddressBook& book) {
    return ApplyWrites(file, PlanRewriteAddressBook(book));
}

}  // namespace taviro::connect
