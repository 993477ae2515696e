#include "logs/remote_log.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace taviro::logs {

namespace {

constexpr std::size_t kDetailOffset = 24;
constexpr std::size_t kShortTextOffset = 152;
constexpr std::size_t kParamsOffset = 184;
// Setup records of sub-types 13..23 hold their old and new values from this byte of
// `detail` on; the text in front of them is shorter.
constexpr std::size_t kSetupBlocksOffset = 64;

std::uint32_t BE32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
void PutBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
std::string FieldText(const std::uint8_t* p, std::size_t width) {
    const auto* end = std::find(p, p + width, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
}

std::string Format(const char* format, int value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Sub-type texts by kind: string-table ids per sub-type bit, 0 where the bit has none.
constexpr std::array<int, 3> kPowerTexts = {5110, 5111, 5112};
constexpr std::array<int, 5> kRecordTexts = {5113, 5114, 5115, 5116, 5117};
constexpr std::array<int, 8> kClientTexts = {5122, 5123, 5124, 5125, 5126, 5127, 5128, 5129};
constexpr std::array<int, 5> kEventTexts = {5130, 5131, 5132, 5133, 5134};
// Setup bits 0..16; 13 is the per-camera name text below.
constexpr std::array<int, 17> kOperationTexts = {5118, 5119, 5120, 5121, 5121, 5585,
                                                 5890, 5090, 5891, 5585, 5362, 5363,
                                                 5364, 0,    5680, 5209, 5681};

template <std::size_t N>
std::string TableText(const std::array<int, N>& table, int bit, const platform::TextLookup& text) {
    if (bit < 0 || static_cast<std::size_t>(bit) >= N || table[static_cast<std::size_t>(bit)] == 0)
        return {};
    return text ? text(table[static_cast<std::size_t>(bit)]) : std::string();
}

std::string OperationText(const RemoteLogRecord& record, int bit, const LogListContext& context) {
    const int camera = static_cast<int>(record.param);
    switch (bit) {
        case 13:
            return Format(" Cam%02d Name", camera);
        case 17:
            return Format(" Cam%02d Rec", camera);
        case 18:
            return Format(" Cam%02d Frame", camera);
        case 19:
            return Format(" Cam%02d Event", camera);
        case 20:
            // The list keeps the recorder's own spelling; printed pages correct it.
            return Format(context.forPrint ? " Cam%02d Action" : " Cam%02d Actione", camera);
        case 21:
            return " Rec Schedule Set";
        case 22:
            return " Rec Holiday Set";
        case 23:
            return " Rec Time Set";
        default:
            return TableText(kOperationTexts, bit, context.text);
    }
}

bool IsPerCameraSetup(int bit) {
    return bit == 13 || (bit >= 17 && bit <= 20);
}

constexpr std::array<LogViewInfo, 7> kViewInfo = {{
    {450, "All", "Remote Log All", 481, 482},
    {451, "Power", "Remote Log Power", 0, 0},
    {452, "Record", "Remote Log Record", 0, 0},
    {453, "Operation", "Remote Log Operation", 482, 0},
    {454, "Client", "Remote Log Client", 0, 0},
    {455, "Event", "Remote Log Event", 0, 482},
    {456, "Archive", "Remote Log Archive", 482, 0},
}};

}  // namespace

std::string RemoteLogRecord::DetailText() const {
    return FieldText(detail.data(), detail.size());
}

std::string RemoteLogRecord::ShortText() const {
    return FieldText(shortText.data(), shortText.size());
}

std::array<std::uint8_t, kRemoteLogKeptBytes> RemoteLogRecord::Encode() const {
    std::array<std::uint8_t, kRemoteLogKeptBytes> out{};
    PutBE32(out.data() + 0, static_cast<std::uint32_t>(number));
    PutBE32(out.data() + 4, static_cast<std::uint32_t>(size));
    PutBE32(out.data() + 8, kind);
    PutBE32(out.data() + 12, subType);
    PutBE32(out.data() + 16, static_cast<std::uint32_t>(time));
    PutBE32(out.data() + 20, param);
    std::memcpy(out.data() + kDetailOffset, detail.data(), detail.size());
    std::memcpy(out.data() + kShortTextOffset, shortText.data(), shortText.size());
    std::memcpy(out.data() + kParamsOffset, params.data(), params.size());
    return out;
}

RemoteLogRecord RemoteLogRecord::Decode(std::span<const std::uint8_t, kRemoteLogKeptBytes> b) {
    RemoteLogRecord r;
    r.number = static_cast<std::int32_t>(BE32(b.data() + 0));
    r.size = static_cast<std::int32_t>(BE32(b.data() + 4));
    r.kind = BE32(b.data() + 8);
    r.subType = BE32(b.data() + 12);
    r.time = static_cast<std::int32_t>(BE32(b.data() + 16));
    r.param = BE32(b.data() + 20);
    std::memcpy(r.detail.data(), b.data() + kDetailOffset, r.detail.size());
    std::memcpy(r.shortText.data(), b.data() + kShortTextOffset, r.shortText.size());
    std::memcpy(r.params.data(), b.data() + kParamsOffset, r.params.size());
    return r;
}

RemoteLogParse ParseRemoteLog(std::span<const std::uint8_t> reply) {
    RemoteLogParse out;
    if (reply.size() < 8) {
        out.error = reply.empty() ? "the log is empty" : "the log is shorter than one record";
        return out;
    }
    const auto size = static_cast<std::int32_t>(BE32(reply.data() + 4));
    if (size < static_cast<std::int32_t>(kRemoteLogMinRecordSize)) {
        out.error = "the log's record size " + std::to_string(size) + " is too small";
        return out;
    }
    const auto recordSize = static_cast<std::size_t>(size);
    const std::size_t whole = reply.size() / recordSize;
    if (whole == 0) {
        out.error = "the log is shorter than one record of " + std::to_string(size) + " bytes";
        return out;
    }
    out.recordSize = recordSize;
    out.trailingBytes = reply.size() - whole * recordSize;
    const std::size_t kept = std::min(whole, kRemoteLogMaxRecords);
    out.droppedRecords = whole - kept;
    const std::size_t copied = std::min(recordSize, kRemoteLogKeptBytes);
    out.records.reserve(kept);
    std::array<std::uint8_t, kRemoteLogKeptBytes> block{};
    for (std::size_t i = 0; i < kept; ++i) {
        block.fill(0);
        std::memcpy(block.data(), reply.data() + i * recordSize, copied);
        out.records.push_back(RemoteLogRecord::Decode(block));
    }
    return out;
}

std::optional<RemoteLogKind> KindOf(const RemoteLogRecord& record) {
    const std::uint32_t bits = record.kind & 0x1Fu;
    if (bits == 0)
        return std::nullopt;
    return static_cast<RemoteLogKind>(std::countr_zero(bits));
}

std::optional<int> SubTypeOf(const RemoteLogRecord& record) {
    if (record.subType == 0)
        return std::nullopt;
    return std::countr_zero(record.subType);
}

const LogViewInfo& InfoOf(LogView view) {
    return kViewInfo[static_cast<std::size_t>(view)];
}

std::optional<LogView> LogViewFromPageButton(int id) {
    for (const LogView view : kLogViews) {
        if (InfoOf(view).pageButton == id)
            return view;
    }
    return std::nullopt;
}

bool ShowsRecord(LogView view, const RemoteLogRecord& record, bool loggedIn) {
    const auto kind = KindOf(record);
    if (!kind)
        return false;
    const auto bit = SubTypeOf(record);
    if (*kind == RemoteLogKind::Operation && !loggedIn && bit && *bit >= kFirstLoggedInSubType &&
        *bit <= kLastSetupSubType)
        return false;
    switch (view) {
        case LogView::All:
            return true;
        case LogView::Power:
            return *kind == RemoteLogKind::Power;
        case LogView::Record:
            return *kind == RemoteLogKind::Record;
        case LogView::Operation:
            return *kind == RemoteLogKind::Operation;
        case LogView::Client:
            return *kind == RemoteLogKind::Client;
        case LogView::Event:
            return *kind == RemoteLogKind::Event;
        case LogView::Archive:
            // The record's sub-type (its lowest bit) decides, as for its text and details.
            return loggedIn && *kind == RemoteLogKind::Operation && bit == kArchiveSubType;
    }
    return false;
}

std::string SubTypeText(const RemoteLogRecord& record, const LogListContext& context) {
    const auto kind = KindOf(record);
    const auto bit = SubTypeOf(record);
    if (!kind || !bit)
        return {};
    switch (*kind) {
        case RemoteLogKind::Power:
            return TableText(kPowerTexts, *bit, context.text);
        case RemoteLogKind::Record:
            return TableText(kRecordTexts, *bit, context.text);
        case RemoteLogKind::Operation:
            return OperationText(record, *bit, context);
        case RemoteLogKind::Client:
            return TableText(kClientTexts, *bit, context.text);
        case RemoteLogKind::Event:
            return TableText(kEventTexts, *bit, context.text);
    }
    return {};
}

std::string DetailTextShown(const RemoteLogRecord& record) {
    const auto bit = SubTypeOf(record);
    if (KindOf(record) == RemoteLogKind::Operation && bit && *bit >= kFirstLoggedInSubType &&
        *bit <= kLastSetupSubType)
        return FieldText(record.detail.data(), kSetupBlocksOffset);
    return record.DetailText();
}

std::string ClipCell(std::string text) {
    if (text.size() <= kLogCellLimit)
        return text;
    std::size_t cut = kLogCellLimit;
    // Step back over UTF-8 continuation bytes so no character is cut in half.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0u) == 0x80u)
        --cut;
    text.resize(cut);
    return text;
}

std::string ChannelList(std::uint32_t mask, const char* format) {
    std::string out;
    for (int channel = 0; channel < 32; ++channel) {
        if ((mask >> channel) & 1u)
            out += Format(format, channel + 1);
    }
    return out;
}

LogCells RecordCells(const RemoteLogRecord& record, const LogListContext& context) {
    LogCells cells;
    cells[0] = Format("%05d", record.number);
    cells[1] = platform::DateTimeText(record.time, context.dateOrder);
    cells[2] = SubTypeText(record, context);
    cells[3] = record.ShortText();
    const auto kind = KindOf(record);
    const auto bit = SubTypeOf(record);
    if (kind) {
        switch (*kind) {
            case RemoteLogKind::Power:
                if (bit == 1)
                    cells[4] = record.DetailText();
                break;
            case RemoteLogKind::Record:
            case RemoteLogKind::Client:
                cells[4] = record.DetailText();
                break;
            case RemoteLogKind::Operation:
                // Factory reset and clock records carry no readable text.
                if (bit != 2 && bit != 8)
                    cells[4] = DetailTextShown(record);
                break;
            case RemoteLogKind::Event:
                cells[4] = ChannelList(record.param, "%02d ");
                break;
        }
    }
    for (std::string& cell : cells)
        cell = ClipCell(std::move(cell));
    return cells;
}

std::uint32_t ChannelMaskOf(const RemoteLogRecord& record) {
    const auto kind = KindOf(record);
    if (kind == RemoteLogKind::Event)
        return record.param;
    const auto bit = SubTypeOf(record);
    // A per-camera setup record names one of the recorder's 16 cameras; another number is
    // damaged and concerns no channel.
    if (kind == RemoteLogKind::Operation && bit && IsPerCameraSetup(*bit) && record.param >= 1 &&
        record.param <= 16)
        return 1u << (record.param - 1);
    return 0;
}

std::vector<LogRow> BuildLogRows(std::span<const RemoteLogRecord> records, LogView view,
                                 const LogListContext& context) {
    std::vector<LogRow> rows;
    const LogViewInfo& info = InfoOf(view);
    for (std::size_t i = records.size(); i-- > 0;) {
        const RemoteLogRecord& record = records[i];
        if (!ShowsRecord(view, record, context.loggedIn))
            continue;
        LogRow row;
        row.record = i;
        row.cells = RecordCells(record, context);
        row.channelMask = ChannelMaskOf(record);
        row.canDetails = info.detailsButton != 0 && HasDetails(record);
        row.canPlay = info.playButton != 0 && PlayTarget(record).has_value();
        rows.push_back(std::move(row));
    }
    return rows;
}

bool HasDetails(const RemoteLogRecord& record) {
    if (KindOf(record) != RemoteLogKind::Operation)
        return false;
    const auto bit = SubTypeOf(record);
    return bit && (*bit == 4 || *bit == kArchiveSubType ||
                   (*bit >= kFirstLoggedInSubType && *bit <= kLastSetupSubType));
}

std::optional<PlayStart> PlayTarget(const RemoteLogRecord& record) {
    const auto bit = SubTypeOf(record);
    if (KindOf(record) != RemoteLogKind::Event || !bit || *bit > 2 || record.param == 0)
        return std::nullopt;
    return PlayStart{record.param, static_cast<std::uint32_t>(std::max(record.time, 0))};
}

}  // namespace taviro::logs
