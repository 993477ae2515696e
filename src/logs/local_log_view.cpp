#include "logs/local_log_view.h"

#include <bit>
#include <cstdio>
#include <optional>

#include "logs/remote_log.h"

namespace taviro::logs {

namespace {

struct KindTexts {
    std::uint32_t subTypeBits;  // the sub-type bits this kind uses
    std::array<int, 5> ids;     // per sub-type bit
};

// Per kind bit 0..3: program, connection, local playback, settings and snapshots.
constexpr std::array<KindTexts, 4> kKinds = {{
    {0x3u, {5360, 5361, 0, 0, 0}},
    {0x1Fu, {5362, 5363, 5364, 5369, 5370}},
    {0x3u, {5365, 5366, 0, 0, 0}},
    {0x3u, {5004, 5368, 0, 0, 0}},
}};

std::optional<std::size_t> KindIndex(const LocalLogRecord& record) {
    const std::uint32_t bits = record.kind & 0xFu;
    if (bits == 0)
        return std::nullopt;
    return static_cast<std::size_t>(std::countr_zero(bits));
}

}  // namespace

std::string LocalLogEventText(const LocalLogRecord& record, const platform::TextLookup& text) {
    const auto kind = KindIndex(record);
    if (!kind || !text)
        return {};
    const KindTexts& texts = kKinds[*kind];
    const std::uint32_t bits = record.subType & texts.subTypeBits;
    if (bits == 0)
        return {};
    return text(texts.ids[static_cast<std::size_t>(std::countr_zero(bits))]);
}

std::vector<LocalLogRow> BuildLocalLogRows(const LocalLogContents& contents,
                                           const LocalLogListContext& context) {
    std::vector<LocalLogRow> rows;
    rows.reserve(contents.records.size());
    for (std::size_t i = contents.records.size(); i-- > 0;) {
        const LocalLogRecord& record = contents.records[i];
        LocalLogRow row;
        row.record = i;
        char number[24];
        std::snprintf(number, sizeof number, "%04zu", i + 1);
        row.cells[0] = number;
        row.cells[1] = platform::DateTimeText(record.time, context.dateOrder);
        const auto kind = KindIndex(record);
        // An entry of no known kind still shows when it happened.
        if (kind) {
            row.cells[2] = LocalLogEventText(record, context.text);
            if (*kind == 1) {
                row.cells[3] = record.shortText;
                row.cells[4] = record.detail;
            }
        }
        for (std::string& cell : row.cells)
            cell = ClipCell(std::move(cell));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace taviro::logs
