#include "platform/texts.h"

#include <cstdio>
#include <map>
#include <memory>

#include "platform/skin_texts.h"

namespace taviro::platform {

// The default pack's texts.txt, generated into the build (builtin_texts.cpp).
extern const char* const kBuiltInTextsFile;

namespace {

const std::map<int, std::string>& BuiltInTable() {
    static const std::map<int, std::string> table = ParseSkinTexts(kBuiltInTextsFile).texts;
    return table;
}

}  // namespace

const std::string& BuiltInText(int number) {
    static const std::string empty;
    const auto& table = BuiltInTable();
    const auto it = table.find(number);
    return it == table.end() ? empty : it->second;
}

TextLookup BuiltInTexts() {
    return [](int number) { return BuiltInText(number); };
}

TextLookup TextsFromFolder(const std::string& folder) {
    auto loaded = std::make_shared<SkinTexts>();
    if (folder.empty() || !LoadSkinTexts(folder + "/texts.txt", *loaded) || loaded->texts.empty()) {
        return BuiltInTexts();
    }
    return [loaded](int number) {
        const auto it = loaded->texts.find(number);
        return it == loaded->texts.end() ? std::string() : it->second;
    };
}

CivilTime CivilFromSeconds(std::int64_t seconds) {
    if (seconds < 0) {
        seconds = 0;
    }
    // Days to civil date (proleptic Gregorian), valid far beyond any 32-bit time.
    std::int64_t days = seconds / 86400;
    const std::int64_t rest = seconds % 86400;
    days += 719468;
    const std::int64_t era = days / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

std::string DateTimeText(std::int64_t seconds, int order) {
    const CivilTime t = CivilFromSeconds(seconds);
    char text[48];
    if (order == 1) {
        std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d", t.month, t.day, t.year,
                      t.hour, t.minute, t.second);
    } else if (order == 2) {
        std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d", t.day, t.month, t.year,
                      t.hour, t.minute, t.second);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
    }
    return text;
}

std::string IsoDateTimeText(std::int64_t seconds) {
    const CivilTime t = CivilFromSeconds(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

}  // namespace taviro::platform
