// The client's own log file from arbitrary bytes: parsing never reads past the bytes,
// never lists more records than fit in them or in the ring, and every record it lists
// survives an encode/decode round trip.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "../fuzz_check.h"
#include "logs/local_log.h"

namespace logs = taviro::logs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const logs::LocalLogContents contents = logs::ParseLocalLog(std::span(data, size));

    const std::size_t usable = std::min(size, logs::kLocalLogMaxFileSize);
    const std::size_t fit = usable >= logs::kLocalLogHeaderSize
                                ? (usable - logs::kLocalLogHeaderSize) / logs::kLocalLogRecordSize
                                : 0;
    TAVIRO_FUZZ_CHECK(contents.records.size() <= fit);
    TAVIRO_FUZZ_CHECK(contents.records.size() <= logs::kLocalLogSlots);

    for (const logs::LocalLogRecord& record : contents.records) {
        TAVIRO_FUZZ_CHECK(record.detail.size() <= 128);
        TAVIRO_FUZZ_CHECK(record.shortText.size() <= 32);
        TAVIRO_FUZZ_CHECK(record.detail.find('\0') == std::string::npos);
        TAVIRO_FUZZ_CHECK(record.shortText.find('\0') == std::string::npos);

        const auto bytes = record.Encode();
        const logs::LocalLogRecord back = logs::LocalLogRecord::Decode(bytes);
        TAVIRO_FUZZ_CHECK(back.number == record.number && back.size == record.size);
        TAVIRO_FUZZ_CHECK(back.kind == record.kind && back.subType == record.subType);
        TAVIRO_FUZZ_CHECK(back.time == record.time && back.param == record.param);
        TAVIRO_FUZZ_CHECK(back.detail == record.detail && back.shortText == record.shortText);
    }
    return 0;
}
