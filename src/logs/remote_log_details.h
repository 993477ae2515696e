// What changed in a setup record of the recorder's log, for the detail view opened from the
// All, Operation and Archive lists. Sub-type 4 names changed setup items in bit sets of
// `params`; sub-type 9 describes an archive copy in `params`; sub-types 13..23 carry the old
// and the new values of one setting as two 32-byte blocks inside `detail` (bytes 64..95 and
// 96..127), laid out alike, and a row is shown per item that differs.
//
// Thread: the user-interface thread, like the lists. Pure functions over one record; the
// returned rows own their texts.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "logs/remote_log.h"

namespace taviro::logs {

inline constexpr std::size_t kSetupBlockSize = 32;
inline constexpr std::size_t kSetupOldBlockOffset = 64;  // in `detail`
inline constexpr std::size_t kSetupNewBlockOffset = 96;
inline constexpr int kMotionAreaSubType = 15;

enum class DetailView {
    None,        // the record has no details (the Details button stays disabled)
    Changes,     // the detail list of DetailRows
    MotionArea,  // sub-type 15: its own view of the two grids (MotionAreaOf), or DetailRows
};
DetailView DetailViewFor(const RemoteLogRecord& record);

// The detail list: the record's own row (number, time, sub-type text, short text, detail
// text) and then one row per changed item, each with an empty first cell. A record without
// details gives its own row only. Every cell holds at most kLogCellLimit characters.
std::vector<LogCells> DetailRows(const RemoteLogRecord& record, const LogListContext& context);

// The motion area of sub-type 15: 16 lines of 16 cells, each line two big-endian bytes of a
// block, bit 15 the leftmost cell.
struct MotionAreaGrid {
    static constexpr int kLines = 16;
    static constexpr int kColumns = 16;
    std::array<std::uint16_t, kLines> lines{};
    // False outside the grid.
    [[nodiscard]] bool Cell(int line, int column) const;
};
struct MotionAreaChange {
    MotionAreaGrid before;
    MotionAreaGrid after;
};
MotionAreaChange MotionAreaOf(const RemoteLogRecord& record);

}  // namespace taviro::logs
