#include <QGuiApplication>
#include <QString>
#include <memory>

#include "cli/pdf_output.h"
#include "logs/ui/print_document.h"

namespace taviro::cli {

bool WritePdf(const logs::PrintDocument& document, const std::string& file, std::string* error) {
    // Fonts need a GUI application; the offscreen platform needs no display.
    std::unique_ptr<QGuiApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 3;
        static char arg0[] = "taviro-cli";
        static char arg1[] = "-platform";
        static char arg2[] = "offscreen";
        static char* argv[] = {arg0, arg1, arg2, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    QString message;
    const bool ok = logs::ui::PrintToPdf(document, QString::fromStdString(file), &message);
    if (!ok && error != nullptr)
        *error = message.toStdString();
    return ok;
}

}  // namespace taviro::cli
