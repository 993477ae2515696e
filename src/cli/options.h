// A small command-line parser for taviro-cli: "--name value", "--name=value" and flags.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace taviro::cli {

class COptions {
  public:
    // `flags` are the options that take no value. Fails on an unknown form ("-x") or a
    // missing value; the error text says which.
    bool Parse(const std::vector<std::string>& args, const std::vector<std::string>& flags,
               std::string* error);

    [[nodiscard]] bool Has(const std::string& name) const { return m_values.count(name) != 0; }
    // The last value given for `name`.
    [[nodiscard]] std::optional<std::string> Get(const std::string& name) const;
    // Every value given for `name`, in the order given (an option that may repeat).
    [[nodiscard]] std::vector<std::string> GetAll(const std::string& name) const;
    [[nodiscard]] std::string GetOr(const std::string& name, const std::string& fallback) const;
    // A whole number within [min, max]; nullopt (with `error` set) when present but invalid.
    std::optional<long long> GetInt(const std::string& name, long long fallback, long long min,
                                    long long max, std::string* error) const;
    // A channel mask 0x1..0xFFFF in any base (0x5 or 5); `fallback` when absent, nullopt
    // (with `error` set) when present but invalid.
    std::optional<std::uint32_t> GetMask(const std::string& name, std::uint32_t fallback,
                                         std::string* error) const;
    // Names given that are not in `known`.
    [[nodiscard]] std::vector<std::string> Unknown(const std::vector<std::string>& known) const;

  private:
    std::map<std::string, std::vector<std::string>> m_values;
};

// The folder of a --save-dir: made (with its parents) when missing. nullopt when it cannot
// be made.
std::optional<std::filesystem::path> MakeFolder(const std::string& dir);

}  // namespace taviro::cli
