// The command-line client's PDF files: a list laid out by the printing module and drawn
// through Qt, without a screen (Qt's offscreen platform). Builds without the desktop
// client's Qt libraries have no PDF output and say so.
// Thread: the command's main thread.
#pragma once

#include <string>

#include "lists/print_layout.h"

namespace taviro::cli {

// Writes `document` to `file` (replaced only when complete). False with `error` set when
// the list is empty, the file cannot be written or this build has no PDF output.
bool WritePdf(const lists::PrintDocument& document, const std::string& file, std::string* error);

}  // namespace taviro::cli
