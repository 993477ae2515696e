// A small command-line parser for taviro-cli: "--name value", "--name=value" and flags.
#pragma once

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
    [[nodiscard]] std::optional<std::string> Get(const std::string& name) const;
    [[nodiscard]] std::string GetOr(const std::string& name, const std::string& fallback) const;
    // A whole number within [min, max]; nullopt (with `error` set) when present but invalid.
    std::optional<long long> GetInt(const std::string& name, long long fallback, long long min,
                                    long long max, std::string* error) const;
    // Names given that are not in `known`.
    [[nodiscard]] std::vector<std::string> Unknown(const std::vector<std::string>& known) const;

  private:
    std::map<std::string, std::string> m_values;
};

}  // namespace taviro::cli
