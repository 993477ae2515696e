// The recorder's log reply from arbitrary bytes: splitting never reads past the reply or
// keeps more than 2,500 records, and every view's rows, every record's detail rows and play
// target stay within their limits (cells of at most 127 characters, rows newest first).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "../fuzz_check.h"
#include "logs/remote_log.h"
#include "logs/remote_log_details.h"

namespace logs = taviro::logs;

namespace {

std::string Text(int id) {
    return "text " + std::to_string(id);
}

void CheckCells(const logs::LogCells& cells) {
    for (const std::string& cell : cells)
        TAVIRO_FUZZ_CHECK(cell.size() <= logs::kLogCellLimit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const logs::RemoteLogParse parse = logs::ParseRemoteLog(std::span(data, size));
    TAVIRO_FUZZ_CHECK(parse.records.size() <= logs::kRemoteLogMaxRecords);
    TAVIRO_FUZZ_CHECK(parse.error.empty() == !parse.records.empty());
    if (!parse.records.empty()) {
        TAVIRO_FUZZ_CHECK(parse.recordSize >= logs::kRemoteLogMinRecordSize);
        TAVIRO_FUZZ_CHECK((parse.records.size() + parse.droppedRecords) * parse.recordSize +
                              parse.trailingBytes ==
                          size);
    }

    // The first input byte picks the date order and the session state.
    const std::uint8_t pick = size > 0 ? data[0] : 0;
    for (const bool forPrint : {false, true}) {
        const logs::LogListContext context{Text, pick % 3, (pick & 0x4) != 0, forPrint};
        for (const logs::LogView view : logs::kLogViews) {
            const auto rows = logs::BuildLogRows(parse.records, view, context);
            TAVIRO_FUZZ_CHECK(rows.size() <= parse.records.size());
            for (std::size_t i = 0; i < rows.size(); ++i) {
                TAVIRO_FUZZ_CHECK(rows[i].record < parse.records.size());
                TAVIRO_FUZZ_CHECK(i == 0 || rows[i].record < rows[i - 1].record);
                CheckCells(rows[i].cells);
            }
        }
    }
    const logs::LogListContext context{Text, pick % 3, true, false};
    for (const logs::RemoteLogRecord& record : parse.records) {
        const auto details = logs::DetailRows(record, context);
        TAVIRO_FUZZ_CHECK(!details.empty());
        for (const logs::LogCells& row : details)
            CheckCells(row);
        (void)logs::MotionAreaOf(record);
        const auto target = logs::PlayTarget(record);
        TAVIRO_FUZZ_CHECK(!target || (target->channelMask == record.param && record.param != 0));
    }
    return 0;
}
