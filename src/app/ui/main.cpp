// taviro: the desktop client.
#include <QApplication>
#include <string>
#include <vector>

#include "app/ui/client_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Orvo");
    QApplication::setApplicationName("TAVIRO");
    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();  // Qt's own options removed
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    return taviro::app::ui::CClientApp(std::move(args)).Run();
}
