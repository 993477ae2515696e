// Keeps the desktop's screen saver away while the main window lives: live video is watched,
// not typed at. Asks the session's org.freedesktop.ScreenSaver service to inhibit itself and
// releases the inhibition when destroyed, so nothing persists after the program ends.
// Without a session bus or such a service (a bare X server, Xvfb) it does nothing.
//
// Thread: the GUI thread. Owner: the main window.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace taviro::platform::ui {

class CScreenSaverInhibitor {
  public:
    explicit CScreenSaverInhibitor(const QString& application);
    ~CScreenSaverInhibitor();
    CScreenSaverInhibitor(const CScreenSaverInhibitor&) = delete;
    CScreenSaverInhibitor& operator=(const CScreenSaverInhibitor&) = delete;

    [[nodiscard]] bool Active() const { return m_cookie.has_value(); }

  private:
    std::optional<std::uint32_t> m_cookie;
};

}  // namespace taviro::platform::ui
