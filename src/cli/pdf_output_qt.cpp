#include <QString>

#include "cli/offscreen_app.h"
#include "cli/pdf_output.h"
#include "lists/ui/print_document.h"

namespace taviro::cli {

bool WritePdf(const lists::PrintDocument& document, const std::string& file, std::string* error) {
    const auto app = MakeOffscreenApp();
    QString message;
    const bool ok = lists::ui::PrintToPdf(document, QString::fromStdString(file), &message);
    if (!ok && error != nullptr)
        *error = message.toStdString();
    return ok;
}

}  // namespace taviro::cli
