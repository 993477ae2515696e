// taviro: the desktop client.
#include <QApplication>
#include <optional>
#include <string>
#include <vector>

#include "app/ui/client_app.h"
#include "platform/heap_tuning.h"

int main(int argc, char** argv) {
    taviro::platform::TuneHeapForVideo();
    // Questions that need no window are answered before Qt looks for a display.
    {
        const std::vector<std::string> raw(argv + 1, argv + argc);
        if (const std::optional<int> answered = taviro::app::ui::AnswerWithoutWindow(raw))
            return *answered;
    }
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Orvo");
    QApplication::setApplicationName("TAVIRO");
    // Docks match the windows to the installed desktop entry (taviro.desktop) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("taviro"));
    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();  // Qt's own options removed
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    return taviro::app::ui::CClientApp(std::move(args)).Run();
}
