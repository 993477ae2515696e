// What the log and status service tells the search window's information pages.
#pragma once

#include <cstdint>

namespace taviro::logs {

inline constexpr std::uint32_t WM_RECORDER_LOG_DONE = 0x523A;
inline constexpr std::uint32_t WM_RECORDER_SYSINFO_DONE = 0x523B;
inline constexpr std::uint32_t WM_RECORDER_STATUS_DONE = 0x523C;

}  // namespace taviro::logs
