// The address book file from arbitrary bytes: loading never lists more records than fit,
// and recording or rewriting only ever writes whole records inside a 100-entry book.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "../fuzz_check.h"
#include "connect/address_book.h"

namespace connect = taviro::connect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> image(data, size);
    connect::AddressBook book;
    const int count = connect::ParseAddressBook(image, book);
    TAVIRO_FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= connect::kBookSlots);
    for (std::size_t i = 1; i < connect::kBookSlots; ++i) {
        TAVIRO_FUZZ_CHECK(book[i - 1].lastUsed >= book[i].lastUsed);
    }
    for (const connect::AddressBookEntry& e : book) {
        TAVIRO_FUZZ_CHECK(e.address.size() <= connect::kBookTextWidth);
        TAVIRO_FUZZ_CHECK(e.description.size() <= connect::kBookTextWidth);
    }

    const auto checkWrites = [](const std::vector<connect::BookWrite>& writes) {
        for (const connect::BookWrite& w : writes) {
            TAVIRO_FUZZ_CHECK(w.offset + w.bytes.size() <= connect::kBookMaxFileSize);
            TAVIRO_FUZZ_CHECK(w.offset == 0 ? w.bytes.size() == connect::kBookHeaderSize
                                            : w.bytes.size() == connect::kBookEntrySize);
        }
    };
    checkWrites(connect::PlanRecordConnection(image, "Fuzz.Host", 2000, "fuzz", 1000));
    checkWrites(connect::PlanRewriteAddressBook(book));
    return 0;
}
