// How much slower this test runs than a plain build: tests that wait for work measured in
// wall-clock time (pictures decoded, audio written) give the work this many times longer
// under a sanitizer, instead of lowering what they expect of it.
#pragma once

namespace taviro::testing {

#if defined(__SANITIZE_THREAD__)
inline constexpr int kSanitizerSlowdown = 4;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int kSanitizerSlowdown = 2;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr int kSanitizerSlowdown = 4;
#elif __has_feature(address_sanitizer)
inline constexpr int kSanitizerSlowdown = 2;
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif

// Whether AddressSanitizer is on: some pools keep nothing under it, so that freed memory
// goes through its quarantine.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace taviro::testing
