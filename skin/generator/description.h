// The skin description: one picture per entry line.
//
//   <number|Name>  <kind>  <W>x<H>  [key=value ...]
//
// Values with spaces are written in double quotes (label="Full screen"). Lines starting
// with '#' and blank lines are ignored. See skin/README.md for the kinds and keys.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace taviro::skin {

struct Entry {
    std::string file;  // where it came from, for messages
    int line = 0;
    std::optional<int> number;  // a numbered picture ...
    std::string name;           // ... or a named one ("ComMark")
    std::string kind;
    int width = 0;  // one frame's width for strips
    int height = 0;
    std::map<std::string, std::string> keys;

    std::string Key(const std::string& k, const std::string& fallback = {}) const {
        const auto it = keys.find(k);
        return it == keys.end() ? fallback : it->second;
    }
    int IntKey(const std::string& k, int fallback) const;
    std::string Id() const { return number ? std::to_string(*number) : name; }
};

// Parses one description file's content; false with `error` set on the first bad line.
bool ParseDescription(const std::string& content, const std::string& file, std::vector<Entry>& out,
                      std::string& error);

}  // namespace taviro::skin
