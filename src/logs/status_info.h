// The two information pages of the search window without their widgets: the system page
// (what the client knows of the recorder from the connect values and the login answer)
// and the status page (the recorder's STATUS_INFO answer: disk sizes, disk devices and
// each channel's recording mode). Both are rows of three cells; the command-line client
// prints the same rows as name/value pairs.
//
// Pure functions over bytes the recorder sent; every read is bounded by the answer.
// Threads: any.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/texts.h"
#include "protocol/hello.h"

namespace taviro::logs {

inline constexpr std::size_t kStatusInfoSize = 56;
inline constexpr std::size_t kShortStatusSize = 16;

struct StatusInfo {
    std::uint32_t reserved0 = 0;
    std::uint32_t reserved1 = 0;
    std::uint32_t diskTotal = 0;  // megabytes
    std::uint32_t diskPart = 0;   // megabytes
    std::array<std::uint8_t, 4> groupAPresent{};
    std::array<std::uint8_t, 4> groupAValue{};
    std::array<std::uint8_t, 4> groupAState{};
    std::array<std::uint8_t, 2> groupBPresent{};
    std::array<std::uint8_t, 2> groupBValue{};
    std::array<std::uint8_t, 2> groupBState{};
    std::array<std::uint8_t, 16> recordMode{};
    // The answer was exactly 16 bytes: only the disk and channel rows are shown.
    bool shortForm = false;
};

// The first 56 bytes of an answer; missing bytes read as 0.
StatusInfo ParseStatusInfo(std::span<const std::uint8_t> reply);

// A size in megabytes as the page shows it: "%5d MByte" below 1024, else whole gigabytes
// "%5d GByte" below 1024 of them, else "%6.2f TByte" from the whole gigabytes.
std::string SizeText(std::uint32_t megabytes);

// One row of an information page: a label and two values.
struct InfoRow {
    std::string label;
    std::string value;
    std::string extra;
};

// The status page for a recorder of `channels` channels (16 without a session).
std::vector<InfoRow> StatusRows(const StatusInfo& status, int channels,
                                const platform::TextLookup& text);

// What the system page is built from.
struct SystemFacts {
    std::string address;
    int port = 0;
    std::string description;
    protocol::HelloAck hello;
};
std::vector<InfoRow> SystemRows(const SystemFacts& facts, const platform::TextLookup& text);

}  // namespace taviro::logs
