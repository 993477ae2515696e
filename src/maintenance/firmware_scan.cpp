#include "maintenance/firmware_scan.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/trace.h"
#include "protocol/byte_order.h"

namespace taviro::maintenance {

namespace {

using platform::Trace;

constexpr std::size_t kSlotsOlder = 5;
constexpr std::size_t kSlotsNewer = 6;
constexpr std::array<std::size_t, kSlotsOlder> kOlderComponents = {0, 3, 4, 5, 6};
constexpr std::array<std::size_t, kSlotsNewer> kNewerComponents = {0, 3, 4, 2, 5, 6};

constexpr std::string_view kBootMark = "VBoot";
constexpr std::size_t kPrefix = 64;  // the second boot layout starts after this many bytes
constexpr std::size_t kBootImageName = 15;
constexpr std::size_t kComponentHeader = 64;

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days from 1970-01-01 to the first of `month` (1..12) of `year` in the proleptic
// Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A decimal number at `pos` of `text` (leading blanks skipped, as the image's date pads a
// one-digit day with a blank); it stops at the first non-digit. At most 9 digits.
std::optional<std::int64_t> NumberAt(std::span<const std::uint8_t> text, std::size_t pos) {
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (++digits > 9) {
            return std::nullopt;
        }
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return value;
}

// The text of a fixed field: up to its first NUL, at most `width` bytes, never beyond `head`.
std::string_view FieldText(std::span<const std::uint8_t> head, std::size_t offset,
                           std::size_t width) {
    if (offset >= head.size()) {
        return {};
    }
    const std::size_t avail = std::min(width, head.size() - offset);
    const char* begin = reinterpret_cast<const char*>(head.data() + offset);
    const void* nul = std::memchr(begin, 0, avail);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin) : avail;
    return {begin, length};
}

bool HasAt(std::span<const std::uint8_t> head, std::size_t offset, std::string_view mark) {
    return head.size() >= offset + mark.size() &&
           std::memcmp(head.data() + offset, mark.data(), mark.size()) == 0;
}

// Firmware names are only matched when the recorder listed a non-empty one: a zero entry
// means "no such component", never "a component with an empty name".
bool NameMatches(std::string_view name, const std::string& firmName) {
    return !firmName.empty() && name == firmName;
}

std::optional<FwImage> BootImage(std::span<const std::uint8_t> head, std::size_t base,
                                 std::size_t nameWidth, const protocol::HelloAck& hello) {
    if (head.size() < base + kBootImageName) {
        return std::nullopt;
    }
    if (!NameMatches(FieldText(head, base + 4, nameWidth), hello.FirmwareName(0))) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> version = ParseBootDate(head.subspan(base));
    if (!version) {
        return std::nullopt;
    }
    FwImage image;
    image.slot = 0;
    image.component = 0;
    image.version = *version;
    std::memcpy(image.imageName.data(), head.data() + base, kBootImageName);
    return image;
}

std::optional<FwImage> ComponentImage(std::span<const std::uint8_t> head,
                                      const protocol::HelloAck& hello) {
    if (head.size() < kComponentHeader) {
        return std::nullopt;
    }
    const std::string_view name = FieldText(head, 32, kFwImageNameSize);
    for (std::size_t k = 0; k < protocol::kFirmwareEntries; ++k) {
        if (!NameMatches(name, hello.FirmwareName(k))) {
            continue;
        }
        const std::optional<std::size_t> slot = ComponentToSlot(k, IsNewerKind(hello));
        if (!slot) {
            return std::nullopt;  // the first equal name decides, even without a slot
        }
        FwImage image;
        image.slot = *slot;
        image.component = static_cast<std::uint8_t>(k);
        image.version = protocol::LoadBE32(head.data() + 8);
        std::memcpy(image.imageName.data(), head.data() + 32, kFwImageNameSize);
        return image;
    }
    return std::nullopt;
}

// Reads up to kFwExamineBytes of a file; an unreadable or empty file gives nothing.
std::optional<std::vector<std::uint8_t>> ReadHead(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> head(kFwExamineBytes);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    const std::streamsize got = file.gcount();
    if (got <= 0 || file.bad()) {
        return std::nullopt;
    }
    head.resize(static_cast<std::size_t>(got));
    return head;
}

}  // namespace

std::size_t SlotCount(const protocol::HelloAck& hello) {
    return IsNewerKind(hello) ? kSlotsNewer : kSlotsOlder;
}

std::optional<std::size_t> SlotToComponent(std::size_t slot, bool newerKind) {
    const std::span<const std::size_t> table = newerKind
                                                   ? std::span<const std::size_t>(kNewerComponents)
                                                   : std::span<const std::size_t>(kOlderComponents);
    if (slot >= table.size()) {
        Trace("GetIdxToType...Error... nIdx : %zu, nType : %d\n", slot, -1);
        return std::nullopt;
    }
    return table[slot];
}

std::optional<std::size_t> ComponentToSlot(std::size_t component, bool newerKind) {
    const std::span<const std::size_t> table = newerKind
                                                   ? std::span<const std::size_t>(kNewerComponents)
                                                   : std::span<const std::size_t>(kOlderComponents);
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        if (table[slot] == component) {
            return slot;
        }
    }
    Trace("GetTypeToIdx...Error... nIdx : %d, nType : %zu\n", -1, component);
    return std::nullopt;
}

std::optional<std::uint32_t> ParseBootDate(std::span<const std::uint8_t> text) {
    if (text.empty()) {
        Trace("can't find < ( >...\n");
        return std::nullopt;  // (and an empty span may have no address to search)
    }
    // The date is part of a text: nothing after its terminator belongs to it.
    if (const void* nul = std::memchr(text.data(), 0, text.size()); nul != nullptr) {
        text = text.first(
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - text.data()));
    }
    const void* open = text.empty() ? nullptr : std::memchr(text.data(), '(', text.size());
    if (open == nullptr) {
        Trace("can't find < ( >...\n");
        return std::nullopt;
    }
    const std::span<const std::uint8_t> date = text.subspan(
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(open) - text.data()));
    std::optional<std::int64_t> month;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (HasAt(date, 1, kMonths[m])) {
            month = static_cast<std::int64_t>(m) + 1;
            break;
        }
    }
    if (!month) {
        Trace("can't find month!\n");
        return std::nullopt;
    }
    const auto day = NumberAt(date, 5);
    const auto year = NumberAt(date, 8);
    const auto hour = NumberAt(date, 15);
    const auto minute = NumberAt(date, 18);
    const auto second = NumberAt(date, 21);
    if (!day || !year || !hour || !minute || !second) {
        return std::nullopt;
    }
    // Days past the month's end carry over into the next month, as a calendar conversion
    // that normalises its fields does.
    const std::int64_t seconds =
        (DaysFromCivil(*year, *month) + *day - 1) * 86400 + *hour * 3600 + *minute * 60 + *second;
    if (seconds < 0 || seconds > 0xFFFFFFFFll) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(seconds);
}

FwUpdateRequest BuildFwUpdateRequest(std::uint32_t version, std::uint8_t component,
                                     std::span<const std::uint8_t> imageName) {
    FwUpdateRequest request{};
    protocol::StoreBE32(request.data() + 4, version);
    request[16] = component;
    std::memcpy(request.data() + 21, imageName.data(),
                std::min(imageName.size(), kFwImageNameSize));
    return request;
}

std::optional<FwImage> ExamineImage(std::span<const std::uint8_t> head,
                                    const protocol::HelloAck& hello) {
    head = head.first(std::min(head.size(), kFwExamineBytes));
    if (HasAt(head, 3, kBootMark)) {
        return BootImage(head, 0, 11, hello);
    }
    if (HasAt(head, kPrefix + 3, kBootMark)) {
        return BootImage(head, kPrefix, 10, hello);
    }
    return ComponentImage(head, hello);
}

std::size_t UpgradeScan::Candidates() const {
    return static_cast<std::size_t>(
        std::count_if(upgradeSlots.begin(), upgradeSlots.end(),
                      [](const UpgradeSlot& s) { return s.bCandidate; }));
}

bool OfferImage(UpgradeScan& scan, const FwImage& image, const std::filesystem::path& path,
                const protocol::HelloAck& hello) {
    if (image.slot >= scan.slotCount || image.component >= protocol::kFirmwareEntries) {
        return false;
    }
    const auto running = static_cast<std::uint32_t>(hello.FirmVer[image.component]);
    UpgradeSlot& slot = scan.upgradeSlots[image.slot];
    if (image.version <= running || image.version <= slot.version) {
        return false;
    }
    slot.bCandidate = true;
    slot.path = path;
    slot.version = image.version;
    slot.component = image.component;
    slot.request = BuildFwUpdateRequest(image.version, image.component, image.imageName);
    ++scan.accepted;
    return true;
}

UpgradeScan ScanUpgradeFolder(const std::filesystem::path& folder,
                              const protocol::HelloAck& hello) {
    UpgradeScan scan;
    scan.slotCount = SlotCount(hello);
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& path : files) {
        const auto head = ReadHead(path);
        if (!head) {
            continue;
        }
        if (const auto image = ExamineImage(*head, hello)) {
            OfferImage(scan, *image, path, hello);
        }
    }
    return scan;
}

UpgradeScan ScanAndNotify(const std::filesystem::path& folder, const protocol::HelloAck& hello,
                          platform::IMessageSink& sink) {
    UpgradeScan scan = ScanUpgradeFolder(folder, hello);
    sink.Notify(11, scan.Candidates() > 0 ? 0 : 1);
    return scan;
}

}  // namespace taviro::maintenance
