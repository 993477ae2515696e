#include "platform/ui/screen_saver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

#include "platform/trace.h"

namespace taviro::platform::ui {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";

bool ServiceRunning(const QDBusConnection& bus) {
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    return registered.isValid() && registered.value();
}

}  // namespace

CScreenSaverInhibitor::CScreenSaverInhibitor(const QString& application) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!ServiceRunning(bus))
        return;
    QDBusInterface saver(kService, kPath, kInterface, bus);
    const QDBusReply<std::uint32_t> cookie =
        saver.call("Inhibit", application, QStringLiteral("watching live video"));
    if (cookie.isValid())
        m_cookie = cookie.value();
    else
        Trace("screen saver: inhibit refused\n");
}

CScreenSaverInhibitor::~CScreenSaverInhibitor() {
    if (!m_cookie)
        return;
    QDBusInterface saver(kService, kPath, kInterface, QDBusConnection::sessionBus());
    saver.call("UnInhibit", *m_cookie);
}

}  // namespace taviro::platform::ui
