#include "cli/pdf_output.h"

namespace taviro::cli {

bool WritePdf(const lists::PrintDocument& /*document*/, const std::string& /*file*/,
              std::string* error) {
    if (error != nullptr)
        *error = "this taviro-cli was built without Qt: no PDF output";
    return false;
}

}  // namespace taviro::cli
