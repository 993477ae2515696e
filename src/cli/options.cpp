#include "cli/options.h"

#include <stdexcept>

#include <algorithm>
#include <charconv>

namespace taviro::cli {

bool COptions::Parse(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                     std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 3 || a.compare(0, 2, "--") != 0) {
            *error = "unexpected argument '" + a + "'";
            return false;
        }
        std::string name = a.substr(2);
        const auto eq = name.find('=');
        if (eq != std::string::npos) {
            m_values[name.substr(0, eq)].push_back(name.substr(eq + 1));
            continue;
        }
        if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
            m_values[name].push_back("1");
            continue;
        }
        if (i + 1 >= args.size()) {
            *error = "option --" + name + " needs a value";
            return false;
        }
        m_values[name].push_back(args[++i]);
    }
    return true;
}

std::optional<std::string> COptions::Get(const std::string& name) const {
    const auto it = m_values.find(name);
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second.back();
}

std::vector<std::string> COptions::GetAll(const std::string& name) const {
    const auto it = m_values.find(name);
    return it == m_values.end() ? std::vector<std::string>{} : it->second;
}

std::string COptions::GetOr(const std::string& name, const std::string& fallback) const {
    return Get(name).value_or(fallback);
}

std::optional<long long> COptions::GetInt(const std::string& name, long long fallback,
                                          long long min, long long max, std::string* error) const {
    const auto text = Get(name);
    if (!text) {
        return fallback;
    }
    long long value = 0;
    const char* end = text->data() + text->size();
    const auto [ptr, ec] = std::from_chars(text->data(), end, value);
    if (ec != std::errc() || ptr != end || value < min || value > max) {
        *error = "option --" + name + " wants a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max);
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> COptions::GetMask(const std::string& name, std::uint32_t fallback,
                                               std::string* error) const {
    const auto text = Get(name);
    if (!text) {
        return fallback;
    }
    long long value = -1;
    try {
        std::size_t used = 0;
        value = std::stoll(*text, &used, 0);
        if (used != text->size()) {
            value = -1;
        }
    } catch (const std::exception&) {
        value = -1;
    }
    if (value < 1 || value > 0xFFFF) {
        *error = "--" + name + " wants a channel mask from 0x1 to 0xFFFF";
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::filesystem::path> MakeFolder(const std::string& dir) {
    const std::filesystem::path path(dir);
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!std::filesystem::is_directory(path, ec)) {
        return std::nullopt;
    }
    return path;
}

std::vector<std::string> COptions::Unknown(const std::vector<std::string>& known) const {
    std::vector<std::string> out;
    for (const auto& [name, value] : m_values) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            out.push_back(name);
        }
    }
    return out;
}

}  // namespace taviro::cli
