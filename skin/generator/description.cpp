#include "description.h"

#include <charconv>
#include <sstream>

namespace taviro::skin {
namespace {

constexpr int kMaxSide = 4096;

// Splits a line into words; a double-quoted stretch (after '=') stays one word.
bool Words(const std::string& line, std::vector<std::string>& words) {
    std::string word;
    bool quoted = false;
    bool any = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word.push_back(c);
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ' ' || c == '\t') {
            if (any || !word.empty())
                words.push_back(word);
            word.clear();
            any = false;
        } else if (c == '#' && word.empty() && !any) {
            break;  // a comment to the end of the line
        } else {
            word.push_back(c);
        }
    }
    if (quoted)
        return false;
    if (any || !word.empty())
        words.push_back(word);
    return true;
}

bool ParseInt(const std::string& s, int& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

int Entry::IntKey(const std::string& k, int fallback) const {
    int v = 0;
    const auto it = keys.find(k);
    return it != keys.end() && ParseInt(it->second, v) ? v : fallback;
}

bool ParseDescription(const std::string& content, const std::string& file, std::vector<Entry>& out,
                      std::string& error) {
    std::istringstream in(content);
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> words;
        const auto fail = [&](const std::string& why) {
            error = file + ":" + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        if (!Words(line, words))
            return fail("unclosed quote");
        if (words.empty())
            continue;
        if (words.size() < 3)
            return fail("want <number|name> <kind> <W>x<H>");
        Entry e;
        e.file = file;
        e.line = lineNumber;
        int number = 0;
        if (ParseInt(words[0], number)) {
            if (number < 0 || number > 65535)
                return fail("picture number out of range");
            e.number = number;
        } else {
            e.name = words[0];
        }
        e.kind = words[1];
        const std::size_t x = words[2].find('x');
        if (x == std::string::npos || !ParseInt(words[2].substr(0, x), e.width) ||
            !ParseInt(words[2].substr(x + 1), e.height) || e.width <= 0 || e.height <= 0 ||
            e.width > kMaxSide || e.height > kMaxSide)
            return fail("bad size '" + words[2] + "'");
        for (std::size_t i = 3; i < words.size(); ++i) {
            const std::size_t eq = words[i].find('=');
            if (eq == std::string::npos || eq == 0)
                return fail("want key=value, got '" + words[i] + "'");
            e.keys[words[i].substr(0, eq)] = words[i].substr(eq + 1);
        }
        out.push_back(std::move(e));
    }
    return true;
}

}  // namespace taviro::skin
