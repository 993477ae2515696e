#include "logs/remote_log_details.h"

#include <cstdio>
#include <span>
#include <string>

namespace taviro::logs {

namespace {

// A row label or value text: a string-table id, or a fixed text where the id is 0.
struct Label {
    int id = 0;
    const char* literal = nullptr;
};

std::string TextOf(const Label& label, const LogListContext& context) {
    if (label.id != 0)
        return context.text ? context.text(label.id) : std::string();
    return label.literal != nullptr ? label.literal : "";
}

std::string Format(const char* format, int value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::int32_t BE32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
        (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]));
}
std::uint16_t BE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

LogCells Row(std::string label, std::string value) {
    return {std::string(), std::move(label), std::move(value), std::string(), std::string()};
}

// --- Sub-type 4: bit sets of changed setup items, one group per byte --------------------

struct SetupGroup {
    int groupId;
    std::array<Label, 8> items;  // per bit; an empty label marks a bit without an item
};

constexpr std::array<SetupGroup, 6> kSetupGroups = {{
    {5893, {{{5660}, {5661}, {5452}, {5662}, {5663}, {5895}, {}, {}}}},
    {5026, {{{5680}, {5208}, {5130}, {5131}, {5209}, {5132}, {5210}, {5681}}}},
    {5894, {{{5700}, {5880}, {5861}, {}, {5489}, {5703}, {5704}, {5834}}}},
    {5857, {{{5896}, {5897}, {5713}, {5013}, {}, {}, {}, {}}}},
    {5451, {{{5730}, {5898}, {5731}, {5732}, {5733}, {}, {}, {}}}},
    {5026,
     {{{0, " Global"},
       {0, " Frame"},
       {0, " Event"},
       {0, " Action"},
       {0, " Schedule"},
       {0, " Holiday"},
       {0, " Time"},
       {0, " Duration"}}}},
}};

void AddSetupItems(const RemoteLogRecord& record, const LogListContext& context,
                   std::vector<LogCells>& rows) {
    for (std::size_t byte = 0; byte < kSetupGroups.size(); ++byte) {
        const SetupGroup& group = kSetupGroups[byte];
        for (std::size_t bit = 0; bit < 8; ++bit) {
            const Label& item = group.items[bit];
            // A bit the recorder sets without an item behind it names nothing to show.
            if (((record.params[byte] >> bit) & 1u) == 0 || (item.id == 0 && !item.literal))
                continue;
            rows.push_back(Row(context.text ? context.text(group.groupId) : std::string(),
                               TextOf(item, context)));
        }
    }
}

// --- Sub-type 9: an archive copy ---------------------------------------------------------

std::string MediumText(std::uint8_t medium) {
    static constexpr std::array<const char*, 10> kMedia = {
        " CD-R",   " CD-RW",     " DVD-R",          " DVD+R",   " DVD-RW",
        " DVD+RW", " DVD+RW DL", " Removable Disk", " Unknown", " PC"};
    return medium < kMedia.size() ? kMedia[medium] : " Unknown";
}

void AddArchive(const RemoteLogRecord& record, const LogListContext& context,
                std::vector<LogCells>& rows) {
    const auto& p = record.params;
    const auto label = [&](int id) { return context.text ? context.text(id) : std::string(); };
    rows.push_back(Row(label(5899), MediumText(p[0])));
    rows.push_back(Row(label(5492), p[1] == 1 ? " AVI" : " Exclusive"));
    // DateTimeText shows a negative time as 1970-01-01 00:00:00.
    rows.push_back(Row(label(5420), " " + platform::DateTimeText(BE32(&p[8]), context.dateOrder)));
    rows.push_back(Row(label(5421), " " + platform::DateTimeText(BE32(&p[12]), context.dateOrder)));
    if (p[2] != 0)
        rows.push_back(Row(label(5152), ChannelList(p[2], " %02d")));
    if (p[3] != 0)
        rows.push_back(Row(label(5152), ChannelList(std::uint32_t{p[3]} << 8, " %02d")));
}

// --- Sub-types 13..23: old and new blocks of one setting ----------------------------------

enum class Value : std::uint8_t {
    OnOff,            // 5344 set / 5340 clear
    EnabledDisabled,  // 5693 set / 5692 clear
    Number,           // "%d"
    Seconds,          // "%d s"
    Resolution,       // 0 D1, 1 2CIF, other 4CIF
    VideoInput,       // 0 id 5932, 1 id 5874, other id 5933
    RecordMode,       // 0 none, 1 continuous, 2 event, 3 both
    DateFormat,       // the three date orders
    InputType,        // 0 off, 1 normally open, 2 normally closed
    UtcOffset,        // signed hours
    DateTime,         // 4 bytes, big-endian seconds since 1970
    Date,             // 4 bytes, the day only
    Channels,         // 2 bytes, big-endian, bit n = channel n + 1
};

constexpr std::size_t WidthOf(Value value) {
    switch (value) {
        case Value::Channels:
            return 2;
        case Value::DateTime:
        case Value::Date:
            return 4;
        default:
            return 1;
    }
}

struct Item {
    std::uint8_t offset;  // in each block
    Value value;
    Label label;
};

template <std::size_t N>
constexpr bool FitsBlock(const std::array<Item, N>& items) {
    for (const Item& item : items) {
        if (item.offset + WidthOf(item.value) > kSetupBlockSize)
            return false;
    }
    return true;
}

// 13: a camera's settings (" Cam%02d Name").
constexpr std::array<Item, 11> kCameraItems = {{
    {0, Value::OnOff, {5461}},
    {1, Value::OnOff, {5462}},
    {2, Value::VideoInput, {5466}},
    {3, Value::EnabledDisabled, {5920}},
    {4, Value::Resolution, {5921}},
    {5, Value::Number, {5923}},
    {6, Value::Number, {5924}},
    {7, Value::Resolution, {5925}},
    {8, Value::Number, {5926}},
    {9, Value::Number, {5927}},
    {10, Value::Channels, {5030}},
}};
// 14: motion detection.
constexpr std::array<Item, 5> kMotionItems = {{
    {0, Value::OnOff, {5680}},
    {1, Value::Number, {0, "Sensitivity"}},
    {2, Value::Number, {0, "Minimum blocks"}},
    {3, Value::Seconds, {0, "Dwell time"}},
    {4, Value::Channels, {5040}},
}};
// 16: the sensor (alarm) inputs.
constexpr std::array<Item, 4> kSensorItems = {{
    {0, Value::InputType, {0, "Input type"}},
    {1, Value::Seconds, {0, "Alarm output"}},
    {2, Value::OnOff, {0, "Buzzer"}},
    {4, Value::Channels, {0, "Linked cameras"}},
}};
// 17: a camera's recording.
constexpr std::array<Item, 5> kCameraRecordItems = {{
    {0, Value::EnabledDisabled, {5920}},
    {1, Value::Resolution, {5921}},
    {2, Value::Number, {5923}},
    {3, Value::Number, {5924}},
    {4, Value::OnOff, {5045}},
}};
// 18: a camera's frame rates.
constexpr std::array<Item, 2> kCameraFrameItems = {{
    {0, Value::Number, {5923}},
    {1, Value::Number, {5926}},
}};
// 19: a camera's event recording.
constexpr std::array<Item, 6> kCameraEventItems = {{
    {0, Value::OnOff, {5043}},
    {1, Value::OnOff, {5042}},
    {2, Value::OnOff, {5044}},
    {3, Value::Resolution, {5925}},
    {4, Value::Number, {5926}},
    {5, Value::Number, {5927}},
}};
// 20: what a camera's event sets off.
constexpr std::array<Item, 5> kCameraActionItems = {{
    {0, Value::Seconds, {5208}},
    {1, Value::Seconds, {5210}},
    {2, Value::OnOff, {0, "Alarm output"}},
    {3, Value::OnOff, {0, "Buzzer"}},
    {4, Value::OnOff, {0, "Notify clients"}},
}};
// 21: the weekly recording schedule, one recording mode per day.
constexpr std::array<Item, 8> kScheduleItems = {{
    {0, Value::OnOff, {0, "Schedule"}},
    {1, Value::RecordMode, {0, "Sunday"}},
    {2, Value::RecordMode, {0, "Monday"}},
    {3, Value::RecordMode, {0, "Tuesday"}},
    {4, Value::RecordMode, {0, "Wednesday"}},
    {5, Value::RecordMode, {0, "Thursday"}},
    {6, Value::RecordMode, {0, "Friday"}},
    {7, Value::RecordMode, {0, "Saturday"}},
}};
// 22: holidays and how they record.
constexpr std::array<Item, 6> kHolidayItems = {{
    {0, Value::OnOff, {0, "Holidays"}},
    {1, Value::RecordMode, {0, "Holiday recording"}},
    {4, Value::Date, {0, "Holiday 1"}},
    {8, Value::Date, {0, "Holiday 2"}},
    {12, Value::Date, {0, "Holiday 3"}},
    {16, Value::Date, {0, "Holiday 4"}},
}};
// 23: the recorder's clock.
constexpr std::array<Item, 4> kTimeItems = {{
    {0, Value::DateTime, {5037}},
    {4, Value::UtcOffset, {0, "Time zone"}},
    {5, Value::OnOff, {0, "Daylight saving"}},
    {6, Value::DateFormat, {5102}},
}};

static_assert(FitsBlock(kCameraItems) && FitsBlock(kMotionItems) && FitsBlock(kSensorItems) &&
              FitsBlock(kCameraRecordItems) && FitsBlock(kCameraFrameItems) &&
              FitsBlock(kCameraEventItems) && FitsBlock(kCameraActionItems) &&
              FitsBlock(kScheduleItems) && FitsBlock(kHolidayItems) && FitsBlock(kTimeItems));

std::span<const Item> ItemsOf(int subType) {
    switch (subType) {
        case 13:
            return kCameraItems;
        case 14:
            return kMotionItems;
        case 16:
            return kSensorItems;
        case 17:
            return kCameraRecordItems;
        case 18:
            return kCameraFrameItems;
        case 19:
            return kCameraEventItems;
        case 20:
            return kCameraActionItems;
        case 21:
            return kScheduleItems;
        case 22:
            return kHolidayItems;
        case 23:
            return kTimeItems;
        default:
            return {};
    }
}

std::string ChoiceText(std::uint8_t v, std::span<const Label> choices,
                       const LogListContext& context) {
    return v < choices.size() ? TextOf(choices[v], context) : Format("%d", v);
}

// "1,2,16": channels 1-based, joined by commas.
std::string JoinedChannels(std::uint16_t mask) {
    std::string out;
    for (int channel = 0; channel < 16; ++channel) {
        if ((mask >> channel) & 1u) {
            if (!out.empty())
                out += ',';
            out += std::to_string(channel + 1);
        }
    }
    return out;
}

std::string ValueText(Value value, const std::uint8_t* p, const LogListContext& context) {
    const std::uint8_t v = p[0];
    switch (value) {
        case Value::OnOff:
            return TextOf({v != 0 ? 5344 : 5340}, context);
        case Value::EnabledDisabled:
            return TextOf({v != 0 ? 5693 : 5692}, context);
        case Value::Number:
            return Format("%d", v);
        case Value::Seconds:
            return Format("%d s", v);
        case Value::Resolution:
            return v == 0 ? "D1" : v == 1 ? "2CIF" : "4CIF";
        case Value::VideoInput:
            return TextOf({v == 0 ? 5932 : v == 1 ? 5874 : 5933}, context);
        case Value::RecordMode: {
            static constexpr std::array<Label, 4> kModes = {
                {{5049}, {5046}, {5047}, {0, "Continuous and event"}}};
            return ChoiceText(v, kModes, context);
        }
        case Value::DateFormat: {
            static constexpr std::array<Label, 3> kOrders = {
                {{0, "YYYY-MM-DD"}, {0, "MM-DD-YYYY"}, {0, "DD-MM-YYYY"}}};
            return ChoiceText(v, kOrders, context);
        }
        case Value::InputType: {
            static constexpr std::array<Label, 3> kTypes = {
                {{0, "Off"}, {0, "Normally open"}, {0, "Normally closed"}}};
            return ChoiceText(v, kTypes, context);
        }
        case Value::UtcOffset:
            return Format("UTC%+d", static_cast<std::int8_t>(v));
        case Value::DateTime:
            return platform::DateTimeText(BE32(p), context.dateOrder);
        case Value::Date:
            return platform::DateTimeText(BE32(p), context.dateOrder).substr(0, 10);
        case Value::Channels:
            return JoinedChannels(BE16(p));
    }
    return {};
}

bool Differs(Value value, const std::uint8_t* before, const std::uint8_t* after) {
    // A switch changes only when its truth does: 1 and 2 both read as on.
    if (value == Value::OnOff || value == Value::EnabledDisabled)
        return (before[0] != 0) != (after[0] != 0);
    for (std::size_t i = 0; i < WidthOf(value); ++i) {
        if (before[i] != after[i])
            return true;
    }
    return false;
}

void AddChangedItems(const RemoteLogRecord& record, std::span<const Item> items,
                     const LogListContext& context, std::vector<LogCells>& rows) {
    const std::uint8_t* before = record.detail.data() + kSetupOldBlockOffset;
    const std::uint8_t* after = record.detail.data() + kSetupNewBlockOffset;
    for (const Item& item : items) {
        const std::uint8_t* old = before + item.offset;
        const std::uint8_t* now = after + item.offset;
        if (!Differs(item.value, old, now))
            continue;
        const std::string label = TextOf(item.label, context);
        const std::string oldText = ValueText(item.value, old, context);
        const std::string newText = ValueText(item.value, now, context);
        if (item.value == Value::Channels) {
            // Channel lists can be long: old and new get a row each.
            rows.push_back(Row(label, " " + oldText + " "));
            rows.push_back(Row(std::string(), " --> " + newText));
        } else {
            rows.push_back(Row(label, " " + oldText + " --> " + newText));
        }
    }
}

std::string AreaLine(std::uint16_t line) {
    std::string out(MotionAreaGrid::kColumns, '.');
    for (int column = 0; column < MotionAreaGrid::kColumns; ++column) {
        if ((line >> (15 - column)) & 1u)
            out[static_cast<std::size_t>(column)] = '#';
    }
    return out;
}

void AddMotionArea(const RemoteLogRecord& record, std::vector<LogCells>& rows) {
    const MotionAreaChange change = MotionAreaOf(record);
    for (std::size_t i = 0; i < change.before.lines.size(); ++i) {
        const std::uint16_t old = change.before.lines[i];
        const std::uint16_t now = change.after.lines[i];
        if (old != now) {
            rows.push_back(Row(Format("Area row %02d", static_cast<int>(i) + 1),
                               " " + AreaLine(old) + " --> " + AreaLine(now)));
        }
    }
}

}  // namespace

DetailView DetailViewFor(const RemoteLogRecord& record) {
    if (!HasDetails(record))
        return DetailView::None;
    return SubTypeOf(record) == kMotionAreaSubType ? DetailView::MotionArea : DetailView::Changes;
}

bool MotionAreaGrid::Cell(int line, int column) const {
    if (line < 0 || line >= kLines || column < 0 || column >= kColumns)
        return false;
    return ((lines[static_cast<std::size_t>(line)] >> (15 - column)) & 1u) != 0;
}

MotionAreaChange MotionAreaOf(const RemoteLogRecord& record) {
    MotionAreaChange change;
    for (std::size_t i = 0; i < MotionAreaGrid::kLines; ++i) {
        change.before.lines[i] = BE16(record.detail.data() + kSetupOldBlockOffset + 2 * i);
        change.after.lines[i] = BE16(record.detail.data() + kSetupNewBlockOffset + 2 * i);
    }
    return change;
}

std::vector<LogCells> DetailRows(const RemoteLogRecord& record, const LogListContext& context) {
    std::vector<LogCells> rows;
    LogCells first = RecordCells(record, context);
    first[4] = DetailTextShown(record);
    rows.push_back(std::move(first));
    if (HasDetails(record)) {
        const int bit = *SubTypeOf(record);
        if (bit == 4)
            AddSetupItems(record, context, rows);
        else if (bit == kArchiveSubType)
            AddArchive(record, context, rows);
        else if (bit == kMotionAreaSubType)
            AddMotionArea(record, rows);
        else
            AddChangedItems(record, ItemsOf(bit), context, rows);
    }
    for (LogCells& row : rows) {
        for (std::string& cell : row)
            cell = ClipCell(std::move(cell));
    }
    return rows;
}

}  // namespace taviro::logs
