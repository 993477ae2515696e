// The recorder's own log: the reply to the log request is a run of fixed-size big-endian
// records (power, recording, setup, client and event happenings). This file splits such a
// reply into records and turns them into the rows of the seven list views and of printed
// pages; remote_log_details.h decodes a setup record's changed items.
//
// Thread: the search window calls everything here on the user-interface thread, after the
// completion message of the reply. Nothing keeps state between calls: records are copied out
// of the reply (which may be reused at once) and rows own their texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/texts.h"

namespace taviro::logs {

inline constexpr std::size_t kRemoteLogKeptBytes = 200;     // of each record, the rest dropped
inline constexpr std::size_t kRemoteLogMinRecordSize = 24;  // the six leading words
inline constexpr std::size_t kRemoteLogMaxRecords = 2500;   // the search window's table
inline constexpr std::size_t kRemoteLogDetailSize = 128;
inline constexpr std::size_t kRemoteLogShortTextSize = 32;
inline constexpr std::size_t kRemoteLogParamsSize = 16;
inline constexpr std::size_t kLogCellLimit = 127;  // characters of one list cell

struct RemoteLogRecord {
    std::int32_t number = 0;  // sequence number, listed as "%05d"
    std::int32_t size = 0;    // this record's own size field (only the first one counts)
    std::uint32_t kind = 0;   // bit set, see KindOf
    std::uint32_t subType = 0;
    std::int32_t time = 0;    // seconds since 1970; negative times are listed as 0
    std::uint32_t param = 0;  // camera number (setup) or channel set (events)
    // The three byte fields exactly as received; setup records carry binary blocks in
    // `detail` behind its text.
    std::array<std::uint8_t, kRemoteLogDetailSize> detail{};
    std::array<std::uint8_t, kRemoteLogShortTextSize> shortText{};
    std::array<std::uint8_t, kRemoteLogParamsSize> params{};

    // Text up to the first NUL; a field without one ends at its width.
    [[nodiscard]] std::string DetailText() const;
    [[nodiscard]] std::string ShortText() const;

    // The kept 200 bytes, big-endian words (the recorder's layout; tests and seeds).
    [[nodiscard]] std::array<std::uint8_t, kRemoteLogKeptBytes> Encode() const;
    static RemoteLogRecord Decode(std::span<const std::uint8_t, kRemoteLogKeptBytes> bytes);
};

struct RemoteLogParse {
    std::vector<RemoteLogRecord> records;  // in reply order (oldest first)
    std::size_t recordSize = 0;            // from the first record; 0 when refused
    std::size_t droppedRecords = 0;        // whole records past the 2,500 kept
    std::size_t trailingBytes = 0;         // bytes after the last whole record, ignored
    std::string error;                     // why nothing was taken; empty otherwise
};

// Splits a complete reply. The record size comes from the first record: a size below 24
// (zero and negative included) or larger than the reply refuses the whole reply, since every
// record after the first would be misaligned. Each record keeps min(size, 200) bytes and
// reads the rest as zeros.
RemoteLogParse ParseRemoteLog(std::span<const std::uint8_t> reply);

enum class RemoteLogKind { Power, Record, Operation, Client, Event };
// The lowest set bit of kind bits 0..4; nullopt for a record of no known kind (never listed).
std::optional<RemoteLogKind> KindOf(const RemoteLogRecord& record);
// The lowest set bit of `subType`; nullopt when no bit is set.
std::optional<int> SubTypeOf(const RemoteLogRecord& record);

// Setup sub-types the list shows only while logged in (the per-camera and schedule ones).
inline constexpr int kFirstLoggedInSubType = 13;
inline constexpr int kLastSetupSubType = 23;
inline constexpr int kArchiveSubType = 9;

enum class LogView { All, Power, Record, Operation, Client, Event, Archive };
inline constexpr std::array<LogView, 7> kLogViews = {
    LogView::All,    LogView::Power, LogView::Record, LogView::Operation,
    LogView::Client, LogView::Event, LogView::Archive};
inline constexpr int kLogPrintButton = 480;

struct LogViewInfo {
    int pageButton;            // 450..456
    const char* label;         // the page button's caption
    const char* documentName;  // of printed pages
    int detailsButton;         // 0 when the view has none
    int playButton;            // 0 when the view has none
};
const LogViewInfo& InfoOf(LogView view);
std::optional<LogView> LogViewFromPageButton(int id);

struct LogListContext {
    platform::TextLookup text;  // the skin's string table
    int dateOrder = 0;          // 0 year first, 1 month first, 2 day first
    bool loggedIn = false;      // the recorder accepted the greeting
    bool forPrint = false;      // printed pages spell one setup text differently
};

using LogCells = std::array<std::string, 5>;

struct LogRow {
    std::size_t record = 0;  // index into the records the rows were built from
    LogCells cells;          // each at most kLogCellLimit characters
    // Channels the row concerns, bit n = channel n + 1, for a channel filter: an event's
    // channel set, or the camera of a per-camera setup record; 0 for rows of no channel.
    std::uint32_t channelMask = 0;
    bool canDetails = false;  // the view has a Details button and the record has details
    bool canPlay = false;     // the view has a Play button and the record has a play target
};

// Whether `view` lists `record` (kind, the Archive view's sub-type, the logged-in rule).
bool ShowsRecord(LogView view, const RemoteLogRecord& record, bool loggedIn);
// The third column; empty for a sub-type without a text.
std::string SubTypeText(const RemoteLogRecord& record, const LogListContext& context);
// The five cells of a record's row.
LogCells RecordCells(const RemoteLogRecord& record, const LogListContext& context);
std::uint32_t ChannelMaskOf(const RemoteLogRecord& record);
// Rows newest first (the reply lists the oldest first).
std::vector<LogRow> BuildLogRows(std::span<const RemoteLogRecord> records, LogView view,
                                 const LogListContext& context);

// Setup records whose changes the detail view decodes: sub-types 4, 9 and 13..23.
bool HasDetails(const RemoteLogRecord& record);

struct PlayStart {
    std::uint32_t channelMask = 0;
    std::uint32_t start = 0;  // seconds since 1970
};
// Where the Play button starts remote playback: alarm, motion and video-loss events. An
// event without channels has nothing to play and a negative time starts at 0.
std::optional<PlayStart> PlayTarget(const RemoteLogRecord& record);

// The text part of `detail`. Setup records of sub-types 13..23 keep binary blocks from byte
// 64 on, so their text ends there even without a NUL.
std::string DetailTextShown(const RemoteLogRecord& record);

// Text helpers shared with the detail decoding.
std::string ClipCell(std::string text);  // cut to kLogCellLimit at a UTF-8 boundary
std::string ChannelList(std::uint32_t mask, const char* format);  // format per channel

}  // namespace taviro::logs
