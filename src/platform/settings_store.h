// Where the local settings live: a small typed key-value store addressed by paths such as
// "LocalSetup/DrawMode" or "LocalSetup/Opacity/01". On the desktop the store is QSettings
// (organisation "Orvo", application "TAVIRO"); the paths are the registry key paths below
// the application's key, without the value name, which always repeats the last component.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace taviro::platform {

// Three value types, as the registry keeps them: a 32-bit word (DWORD), a text and a block
// of bytes. Reading a value under the wrong type gives nothing, like an absent value.
class ISettingsStore {
  public:
    virtual ~ISettingsStore() = default;

    [[nodiscard]] virtual std::optional<std::uint32_t> GetInt(std::string_view path) const = 0;
    [[nodiscard]] virtual std::optional<std::string> GetString(std::string_view path) const = 0;
    [[nodiscard]] virtual std::optional<std::vector<std::uint8_t>> GetBytes(
        std::string_view path) const = 0;

    // Each replaces whatever the path held, of any type. False when it could not be written.
    virtual bool SetInt(std::string_view path, std::uint32_t value) = 0;
    virtual bool SetString(std::string_view path, std::string_view value) = 0;
    virtual bool SetBytes(std::string_view path, std::span<const std::uint8_t> value) = 0;
};

// The store kept in memory, for tests and for runs that must not touch the user's settings.
// Used from one thread only, like the settings themselves (the main window's).
class CMemorySettingsStore final : public ISettingsStore {
  public:
    using Value = std::variant<std::uint32_t, std::string, std::vector<std::uint8_t>>;

    [[nodiscard]] std::optional<std::uint32_t> GetInt(std::string_view path) const override;
    [[nodiscard]] std::optional<std::string> GetString(std::string_view path) const override;
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> GetBytes(
        std::string_view path) const override;

    bool SetInt(std::string_view path, std::uint32_t value) override;
    bool SetString(std::string_view path, std::string_view value) override;
    bool SetBytes(std::string_view path, std::span<const std::uint8_t> value) override;

    [[nodiscard]] const std::map<std::string, Value, std::less<>>& Values() const {
        return m_values;
    }
    bool Erase(std::string_view path);
    // While set, every write fails and changes nothing (a read-only or broken store).
    void SetFailWrites(bool fail) { m_failWrites = fail; }

  private:
    bool Put(std::string_view path, Value value);

    std::map<std::string, Value, std::less<>> m_values;
    bool m_failWrites = false;
};

}  // namespace taviro::platform
