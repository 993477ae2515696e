// The record converters swap exactly the listed numeric fields: a record filled with
// distinct bytes shows each swapped word reversed and every other byte where it was.
#include "protocol/record_order.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

namespace taviro::protocol {
namespace {

struct Case {
    const char* name;
    std::function<void(std::span<std::uint8_t>)> convert;
    std::size_t size;
    std::vector<std::size_t> words;
    int reversed64 = -1;
};

std::vector<std::size_t> Range(std::size_t from, std::size_t count) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < count; ++i)
        out.push_back(from + 4 * i);
    return out;
}

TEST(RecordOrderTest, EachConverterTouchesExactlyItsFields) {
    std::vector<std::size_t> index = Range(16, 8);
    for (auto o : Range(80, 16))
        index.push_back(o);
    for (auto o : Range(144, 16))
        index.push_back(o);
    const Case cases[] = {
        {"frame header", FrameHeaderToHost, 64, Range(16, 10)},
        {"video frame header", VideoFrameHeaderToHost, 192, {16, 20, 24, 28, 32, 36, 40, 80, 84}},
        {"index block", IndexBlockSwap, 256, index},
        {"second entry", SecondEntrySwap, 8, {0, 4}},
        {"backup file header", BackupFileHeaderSwap, 64, {16, 20, 32, 36}, 24},
        {"backup record", BackupRecordSwap, 40, Range(16, 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> record(c.size);
        for (std::size_t i = 0; i < record.size(); ++i)
            record[i] = static_cast<std::uint8_t>(i);
        c.convert(record);
        std::vector<std::uint8_t> expected(c.size);
        for (std::size_t i = 0; i < expected.size(); ++i)
            expected[i] = static_cast<std::uint8_t>(i);
        for (std::size_t w : c.words) {
            for (std::size_t k = 0; k < 4; ++k)
                expected[w + k] = static_cast<std::uint8_t>(w + 3 - k);
        }
        if (c.reversed64 >= 0) {
            const auto at = static_cast<std::size_t>(c.reversed64);
            for (std::size_t k = 0; k < 8; ++k)
                expected[at + k] = static_cast<std::uint8_t>(at + 7 - k);
        }
        EXPECT_EQ(record, expected);
        // The first 16 bytes are bytes or text in every record but the index entry.
        if (c.size > 16 && c.words.front() >= 16) {
            for (std::size_t i = 0; i < 16; ++i)
                EXPECT_EQ(record[i], i);
        }
        // Converting twice gives the record back.
        c.convert(record);
        for (std::size_t i = 0; i < record.size(); ++i)
            ASSERT_EQ(record[i], static_cast<std::uint8_t>(i));
    }
}

TEST(RecordOrderTest, ShortRecordsAreNeverWrittenPast) {
    std::vector<std::uint8_t> storage(300);
    for (std::size_t i = 0; i < storage.size(); ++i)
        storage[i] = static_cast<std::uint8_t>(i);
    const auto original = storage;
    // Views that end inside a field: the field that does not fit whole stays as it was,
    // and nothing after the view changes.
    FrameHeaderToHost(std::span(storage).first(30));  // word 28 does not fit
    EXPECT_EQ(storage[28], original[28]);
    EXPECT_EQ(storage[29], original[29]);
    EXPECT_EQ(storage[16], original[19]);  // word 16 fits and is swapped
    BackupFileHeaderSwap(
        std::span(storage).subspan(100, 30));  // the 64-bit field at 24 does not fit
    EXPECT_EQ(storage[124], original[124]);
    for (std::size_t i = 130; i < storage.size(); ++i)
        ASSERT_EQ(storage[i], original[i]);
}

}  // namespace
}  // namespace taviro::protocol
