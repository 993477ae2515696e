#include "lists/csv.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace taviro::lists {

namespace fs = std::filesystem;

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        if (c == '"') {
            out.push_back('"');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    if (fields.size() == 1 && fields[0].empty()) {
        return "\"\"\r\n";
    }
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line.push_back(',');
        }
        line += CsvField(fields[i]);
    }
    line += "\r\n";
    return line;
}

std::string CsvText(const std::vector<std::string>& header,
                    const std::vector<std::vector<std::string>>& rows) {
    std::string text;
    if (!header.empty()) {
        text += CsvRecord(header);
    }
    for (const auto& row : rows) {
        text += CsvRecord(row);
    }
    return text;
}

namespace {

void SetError(std::string* error, const std::string& what, const fs::path& path, int code) {
    if (error != nullptr) {
        *error = what + " " + path.string() + ": " + std::strerror(code);
    }
}

// Writes `text` to `path` and makes it durable before the rename makes it visible. Every
// step is checked; on failure the file may exist partly written and the caller removes it.
bool WriteWhole(const fs::path& path, const std::string& text, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        SetError(error, "cannot create", path, errno);
        return false;
    }
    // A failed call that left errno at 0 still counts as a failure.
    const auto failure = [] { return errno != 0 ? errno : EIO; };
    int code = 0;
    errno = 0;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
        code = failure();
    }
    if (code == 0 && std::fflush(f) != 0) {
        code = failure();
    }
    // Without the sync a crash after the rename could leave an empty file under the name.
    if (code == 0 && ::fsync(::fileno(f)) != 0) {
        code = failure();
    }
    if (std::fclose(f) != 0 && code == 0) {
        code = failure();
    }
    if (code != 0) {
        SetError(error, "cannot write", path, code);
        return false;
    }
    return true;
}

}  // namespace

bool WriteCsvFile(const fs::path& file, const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& rows, std::string* error) {
    // Beside the target, so the rename stays on one file system; the process id keeps two
    // clients saving to the same folder apart.
    fs::path temp = file;
    temp += ".part" + std::to_string(::getpid());
    if (!WriteWhole(temp, CsvText(header, rows), error)) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    std::error_code ec;
    fs::rename(temp, file, ec);
    if (ec) {
        SetError(error, "cannot rename to", file, ec.value());
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace taviro::lists
