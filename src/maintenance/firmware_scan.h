// Firmware images in the storage folder's "Upgrade" sub-folder, matched against the
// firmware list of the recorder's login answer. For every upgrade slot the newest image
// that is newer than what the recorder runs becomes the slot's candidate, with the 56-byte
// FW_UPDATE_REQ payload that announces it.
//
// Image kinds (from the first 256 bytes of a file; every check is bounded by the bytes
// actually read, so a short file fails the checks it is too short for):
//   - boot image: "VBoot" at bytes 3..7, name at bytes 4..14, a build date "(Mon dd yyyy -
//     hh:mm:ss)" in the text from byte 0; always component 0;
//   - boot image behind a 64-byte prefix: the same shifted by 64 (name of at most 10
//     characters);
//   - component image: a 64-byte header, big-endian version at 8, 32-byte name at 32,
//     matched with the recorder's component names.
//
// Pure functions without Qt; any thread. The scan reads files (the caller keeps it off the
// window thread).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "platform/message_sink.h"
#include "protocol/hello.h"

namespace taviro::maintenance {

inline constexpr std::size_t kFwUpdateRequestSize = 56;
inline constexpr std::size_t kFwImageNameSize = 32;
inline constexpr std::size_t kFwExamineBytes = 256;
// The window always draws this many rows; rows without a slot stay disabled.
inline constexpr std::size_t kFwRows = 7;
inline constexpr std::size_t kFwMaxSlots = 6;
inline constexpr int kFwRowLabelText = 5180;  // + row

using FwUpdateRequest = std::array<std::uint8_t, kFwUpdateRequestSize>;

// 6 slots for a recorder of the newer kind (product_major_ver != 0 or product_minor_ver > 1),
// else 5.
std::size_t SlotCount(const protocol::HelloAck& hello);
// The component a slot upgrades, or nullopt (slot outside the kind's table).
std::optional<std::size_t> SlotToComponent(std::size_t slot, bool newerKind);
// The slot of a component, or nullopt (the component has no slot on this kind).
std::optional<std::size_t> ComponentToSlot(std::size_t component, bool newerKind);
inline bool IsNewerKind(const protocol::HelloAck& hello) {
    return hello.product_major_ver != 0 || hello.product_minor_ver > 1;
}

// The build date of a boot image in `text` (bounded by its size and its first NUL):
// "(" then a month name "Jan".."Dec", day at +5, year at +8, hour at +15, minute at +18,
// second at +21 from the "(", as seconds since 1970 read as UTC. Days past the month's
// end carry over (February 30 is March 2). nullopt when anything is missing or the time
// does not fit 32 unsigned bits.
std::optional<std::uint32_t> ParseBootDate(std::span<const std::uint8_t> text);

// The 56-byte payload: version (big-endian) at 4, component at 16, image name at 21.
FwUpdateRequest BuildFwUpdateRequest(std::uint32_t version, std::uint8_t component,
                                     std::span<const std::uint8_t> imageName);

// What one image offers.
struct FwImage {
    std::size_t slot = 0;
    std::uint8_t component = 0;
    std::uint32_t version = 0;
    std::array<std::uint8_t, kFwImageNameSize> imageName{};  // zero-padded
};

// Examines the first bytes of a file (at most kFwExamineBytes are looked at). nullopt when
// it is no image of this recorder (unknown kind, name not in the firmware list, no slot,
// bad date). Does not compare versions. An empty firmware name never matches.
std::optional<FwImage> ExamineImage(std::span<const std::uint8_t> head,
                                    const protocol::HelloAck& hello);

struct UpgradeSlot {
    bool bCandidate = false;
    std::filesystem::path path;
    std::uint32_t version = 0;
    std::uint8_t component = 0;
    FwUpdateRequest request{};
};

struct UpgradeScan {
    std::size_t slotCount = 0;
    std::array<UpgradeSlot, kFwMaxSlots> upgradeSlots{};
    std::size_t accepted = 0;  // files accepted (a file replaced by a newer one counts too)
    [[nodiscard]] std::size_t Candidates() const;
};

// Offers one examined image to the scan: taken when its version is newer (unsigned) than
// both what the recorder runs and what the slot already holds.
bool OfferImage(UpgradeScan& scan, const FwImage& image, const std::filesystem::path& path,
                const protocol::HelloAck& hello);

// Every regular file of `folder` (in name order, so ties keep the same winner), examined
// and offered. An unreadable or empty file is skipped. A missing folder gives no slots.
UpgradeScan ScanUpgradeFolder(const std::filesystem::path& folder, const protocol::HelloAck& hello);

// The command's scan: ScanUpgradeFolder, then notification (11, 0) when at least one
// candidate was found, (11, 1) when none. Reads the disk: run it off the window thread.
UpgradeScan ScanAndNotify(const std::filesystem::path& folder, const protocol::HelloAck& hello,
                          platform::IMessageSink& sink);

}  // namespace taviro::maintenance
