// Saving a list as comma-separated values (RFC 4180): fields quoted when they hold a comma,
// a double quote, CR or LF, quotes inside doubled, every line ended by CRLF, UTF-8 without
// a byte-order mark. Texts are written exactly as the list shows them; nothing is escaped
// for spreadsheets, so the file reads back to the same texts.
//
// Thread: any; nothing is shared. The caller owns the texts; the file belongs to the
// caller once written.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::lists {

// One field as it appears in the file.
std::string CsvField(std::string_view text);

// One record with its CRLF. A record of a single empty field is written as "" so that it
// does not read back as a blank line.
std::string CsvRecord(const std::vector<std::string>& fields);

// The whole file: the header record (left out when `header` is empty), then the rows.
std::string CsvText(const std::vector<std::string>& header,
                    const std::vector<std::vector<std::string>>& rows);

// Writes CsvText(header, rows) to `file`. The text goes to a temporary file beside it
// that is renamed over `file` only once every byte was written and flushed to disk, so a
// failure leaves any earlier `file` untouched and no partial file behind (the temporary
// is removed). On failure returns false and, when `error` is given, says why.
bool WriteCsvFile(const std::filesystem::path& file, const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& rows, std::string* error);

}  // namespace taviro::lists
