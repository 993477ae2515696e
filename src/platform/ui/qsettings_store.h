// The local settings on the desktop: ISettingsStore over QSettings (organisation "Orvo",
// application "TAVIRO"). A store path such as "LocalSetup/DrawMode" is the registry-like key;
// the value inside it is named after the last component, so the QSettings key is
// "LocalSetup/DrawMode/DrawMode".
//
// QSettings keeps its values in an INI file on this platform, which would hand a number back
// as text. So that a value keeps its type as a registry value does, a 32-bit word is written
// as the text "dword:" + 8 hex digits and a text as "sz:" + the text; bytes are written as a
// QByteArray, which the file keeps as such. A plain text without either tag (an entry made by
// hand) reads as a text. Reading a value under another type gives nothing.
//
// Thread: the GUI thread (the settings are read and written by the main window only).
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "platform/settings_store.h"

namespace taviro::platform::ui {

class CQSettingsStore final : public ISettingsStore {
  public:
    // The user's settings of the client.
    CQSettingsStore();
    // An INI file of its own (tests, portable runs).
    explicit CQSettingsStore(const QString& iniFile);

    [[nodiscard]] std::optional<std::uint32_t> GetInt(std::string_view path) const override;
    [[nodiscard]] std::optional<std::string> GetString(std::string_view path) const override;
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> GetBytes(
        std::string_view path) const override;

    bool SetInt(std::string_view path, std::uint32_t value) override;
    bool SetString(std::string_view path, std::string_view value) override;
    bool SetBytes(std::string_view path, std::span<const std::uint8_t> value) override;

    // Writes pending changes to the file; false when the file could not be written.
    bool Sync();

    // "LocalSetup/Opacity/01" → "LocalSetup/Opacity/01/01"; empty for an unusable path.
    static QString KeyOf(std::string_view path);

  private:
    bool Put(std::string_view path, const QVariant& value);

    std::unique_ptr<QSettings> m_settings;
};

}  // namespace taviro::platform::ui
