// The skin text table from arbitrary bytes: every kept text has a number in range, is
// valid UTF-8 and survives escaping and parsing again unchanged; errors stay bounded.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../fuzz_check.h"
#include "platform/skin_texts.h"

namespace platform = taviro::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const platform::SkinTexts t = platform::ParseSkinTexts(content);
    TAVIRO_FUZZ_CHECK(t.errors.size() <= platform::kMaxSkinTextErrors);
    TAVIRO_FUZZ_CHECK(t.errors.size() <= t.errorCount);
    std::string again;
    for (const auto& [number, text] : t.texts) {
        TAVIRO_FUZZ_CHECK(number >= 0 && number <= platform::kMaxSkinTextNumber);
        TAVIRO_FUZZ_CHECK(text.size() <= platform::kMaxSkinTextLine);
        TAVIRO_FUZZ_CHECK(platform::IsValidUtf8(text));
        // A text with leading blanks or a CR cannot be written back as it is; the rest can.
        if (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            continue;
        if (text.find('\r') != std::string::npos)
            continue;
        const std::string line = std::to_string(number) + " " + platform::EscapeSkinText(text);
        if (line.size() > platform::kMaxSkinTextLine)
            continue;
        again += line + "\n";
    }
    const platform::SkinTexts round = platform::ParseSkinTexts(again);
    TAVIRO_FUZZ_CHECK(round.errorCount == 0);
    for (const auto& [number, text] : round.texts)
        TAVIRO_FUZZ_CHECK(t.texts.at(number) == text);
    return 0;
}
