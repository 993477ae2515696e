// The skin pack's text table ("texts.txt"): numbered display texts, one per line.
//
//   # a comment line; blank lines are ignored
//   5000  Connect to a recorder
//   5840  Needed : %6.1f GByte
//
// A line is a decimal number 0..65535, at least one space or tab, then the text up to the
// end of the line (a trailing CR is dropped, so CR LF files read the same). The text may use
// the escapes \n (line break), \t (tab) and \\ (backslash); any other backslash sequence is
// an error. Texts are UTF-8; a line that is not valid UTF-8 is rejected. A line longer than
// kMaxSkinTextLine bytes is rejected. When a number appears twice, the LAST line wins (a pack
// can append corrections). A rejected line is skipped with an error; the others still load.
// Thread: any; the parser holds no state.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::platform {

inline constexpr std::size_t kMaxSkinTextLine = 1024;
inline constexpr std::size_t kMaxSkinTextFile = 1024 * 1024;
inline constexpr int kMaxSkinTextNumber = 65535;
// Errors beyond this many are counted but not kept.
inline constexpr std::size_t kMaxSkinTextErrors = 64;

struct SkinTextError {
    std::size_t line = 0;  // 1-based
    std::string reason;
};

struct SkinTexts {
    std::map<int, std::string> texts;
    std::vector<SkinTextError> errors;
    std::size_t errorCount = 0;  // all errors, also those not kept
    bool truncated = false;      // the input was longer than kMaxSkinTextFile; the rest is ignored
};

// Parses a whole file's content.
SkinTexts ParseSkinTexts(std::string_view content);

// Reads and parses a file, reading at most kMaxSkinTextFile bytes. False when the file
// cannot be opened.
bool LoadSkinTexts(const std::string& path, SkinTexts& out);

// Writes `text` in the file's escaped form (the inverse of the parser's escapes).
std::string EscapeSkinText(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace taviro::platform
