// Checking backup pairs: the structure of both files (magics, sizes, block and entry
// bounds, every record's length and back-link, the trailers, the chain of split pairs) and
// the watermark checksum of every frame that carries one. The verdict per pair is "intact",
// "altered frames at ..." or "damaged: ...".
//
// Threads: pure functions over files; any thread (the archive window runs them on a
// worker).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace taviro::archive {

enum class Verdict { Intact, Altered, Damaged };

struct PairVerdict {
    std::filesystem::path idx;
    std::filesystem::path vid;
    Verdict verdict = Verdict::Intact;
    std::string problem;                   // Damaged: the first fault found
    std::vector<std::uint32_t> alteredAt;  // Altered: frame times (seconds), at most 100
    std::uint64_t alteredFrames = 0;
    std::uint64_t videoFrames = 0;
    std::uint64_t checkedFrames = 0;  // frames that carry a checksum
    // "intact", "altered frames at 2010-10-12T08:00:04, ..." or "damaged: ...".
    [[nodiscard]] std::string Text() const;
};

// One pair (the .vid beside the .idx by name). `cancel` stops between records.
PairVerdict VerifyPair(const std::filesystem::path& idx, const std::atomic<bool>* cancel = nullptr);
// Every pair of `folder` (any signature), in name order, with the split chains checked
// across them.
std::vector<PairVerdict> VerifyFolder(const std::filesystem::path& folder,
                                      const std::atomic<bool>* cancel = nullptr);

}  // namespace taviro::archive
