#include "platform/settings_store.h"

#include <utility>

namespace taviro::platform {

namespace {

template <typename T, typename Map>
std::optional<T> Lookup(const Map& values, std::string_view path) {
    const auto it = values.find(path);
    if (it == values.end())
        return std::nullopt;
    if (const T* value = std::get_if<T>(&it->second))
        return *value;
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> CMemorySettingsStore::GetInt(std::string_view path) const {
    return Lookup<std::uint32_t>(m_values, path);
}

std::optional<std::string> CMemorySettingsStore::GetString(std::string_view path) const {
    return Lookup<std::string>(m_values, path);
}

std::optional<std::vector<std::uint8_t>> CMemorySettingsStore::GetBytes(
    std::string_view path) const {
    return Lookup<std::vector<std::uint8_t>>(m_values, path);
}

bool CMemorySettingsStore::SetInt(std::string_view path, std::uint32_t value) {
    return Put(path, value);
}

bool CMemorySettingsStore::SetString(std::string_view path, std::string_view value) {
    return Put(path, std::string(value));
}

bool CMemorySettingsStore::SetBytes(std::string_view path, std::span<const std::uint8_t> value) {
    return Put(path, std::vector<std::uint8_t>(value.begin(), value.end()));
}

bool CMemorySettingsStore::Erase(std::string_view path) {
    const auto it = m_values.find(path);
    if (it == m_values.end())
        return false;
    m_values.erase(it);
    return true;
}

bool CMemorySettingsStore::Put(std::string_view path, Value value) {
    if (m_failWrites || path.empty())
        return false;
    const auto it = m_values.find(path);
    if (it == m_values.end()) {
        m_values.emplace(std::string(path), std::move(value));
    } else {
        it->second = std::move(value);
    }
    return true;
}

}  // namespace taviro::platform
