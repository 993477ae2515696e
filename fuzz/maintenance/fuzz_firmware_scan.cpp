// A firmware image's first bytes examined against a login answer: any bytes give an image
// or nothing, never a read past what was given; an image lands in a slot the recorder's
// kind has, for the component that slot upgrades, and its 56-byte request carries its
// version and component and nothing in the zero fields.
//
// Input: byte 0 selects the login answer: bit 0 set and 768 more bytes: those bytes as the
// answer; otherwise a built-in answer with the firmware names "Boot-v1.2.3", (none),
// "KERNEL", "APP", "FS", "UI", "LOGO", of the newer kind when bit 1 is set. The rest is the
// image's head as read from the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "../fuzz_check.h"
#include "maintenance/firmware_scan.h"
#include "protocol/byte_order.h"
#include "protocol/hello.h"

using namespace taviro;

namespace {

protocol::HelloAck BuiltInHello(bool newerKind) {
    protocol::HelloAck h;
    h.product_major_ver = newerKind ? 1 : 0;
    const char* names[] = {"Boot-v1.2.3", "", "KERNEL", "APP", "FS", "UI", "LOGO"};
    for (std::size_t k = 0; k < std::size(names); ++k) {
        std::strncpy(h.FirmName[k].data(), names[k], h.FirmName[k].size());
        h.FirmVer[k] = 1000;
    }
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::span<const std::uint8_t> head(data + 1, size - 1);
    protocol::HelloAck hello = BuiltInHello((data[0] & 2) != 0);
    if ((data[0] & 1) != 0 && head.size() >= protocol::kHelloAckSize) {
        const auto parsed = protocol::HelloAck::Parse(head.first(protocol::kHelloAckSize));
        TAVIRO_FUZZ_CHECK(parsed.has_value());
        hello = *parsed;
        head = head.subspan(protocol::kHelloAckSize);
    }
    // Exactly the bytes read: a copy of the right size, so a read past it is caught.
    const std::vector<std::uint8_t> copy(head.begin(), head.end());
    (void)maintenance::ParseBootDate(copy);
    const auto image = maintenance::ExamineImage(copy, hello);
    if (!image) {
        return 0;
    }
    const bool newer = maintenance::IsNewerKind(hello);
    TAVIRO_FUZZ_CHECK(image->slot < maintenance::SlotCount(hello));
    TAVIRO_FUZZ_CHECK(maintenance::SlotToComponent(image->slot, newer) == image->component);
    TAVIRO_FUZZ_CHECK(!hello.FirmwareName(image->component).empty());

    maintenance::UpgradeScan scan;
    scan.slotCount = maintenance::SlotCount(hello);
    const bool taken = maintenance::OfferImage(scan, *image, "image", hello);
    TAVIRO_FUZZ_CHECK(
        taken == (image->version > static_cast<std::uint32_t>(hello.FirmVer[image->component])));
    if (taken) {
        const auto& request = scan.upgradeSlots[image->slot].request;
        TAVIRO_FUZZ_CHECK(protocol::LoadBE32(request.data()) == 0);
        TAVIRO_FUZZ_CHECK(protocol::LoadBE32(request.data() + 4) == image->version);
        TAVIRO_FUZZ_CHECK(request[16] == image->component);
        TAVIRO_FUZZ_CHECK(request[20] == 0 && request[53] == 0 && request[55] == 0);
        // The same image again is not newer than itself.
        TAVIRO_FUZZ_CHECK(!maintenance::OfferImage(scan, *image, "again", hello));
    }
    return 0;
}
