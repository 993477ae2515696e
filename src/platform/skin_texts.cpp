#include "platform/skin_texts.h"

#include <cstdint>
#include <fstream>
#include <optional>

namespace taviro::platform {
namespace {

void AddError(SkinTexts& out, std::size_t line, std::string reason) {
    ++out.errorCount;
    if (out.errors.size() < kMaxSkinTextErrors)
        out.errors.push_back(SkinTextError{line, std::move(reason)});
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Undoes the escapes; nullopt on an unknown escape or a backslash at the end.
std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= text.size())
            return std::nullopt;
        const char e = text[++i];
        if (e == 'n')
            out.push_back('\n');
        else if (e == 't')
            out.push_back('\t');
        else if (e == '\\')
            out.push_back('\\');
        else
            return std::nullopt;
    }
    return out;
}

void ParseLine(std::string_view line, std::size_t number, SkinTexts& out) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > kMaxSkinTextLine) {
        AddError(out, number, "line too long");
        return;
    }
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i == line.size() || line[i] == '#')
        return;
    int value = 0;
    const std::size_t digitsStart = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        value = value * 10 + (line[i] - '0');
        if (value > kMaxSkinTextNumber) {
            AddError(out, number, "number out of range");
            return;
        }
        ++i;
    }
    if (i == digitsStart) {
        AddError(out, number, "no text number");
        return;
    }
    if (i < line.size() && !IsBlank(line[i])) {
        AddError(out, number, "no blank after the number");
        return;
    }
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    const std::string_view raw = line.substr(i);
    if (!IsValidUtf8(raw)) {
        AddError(out, number, "not UTF-8");
        return;
    }
    std::optional<std::string> text = Unescape(raw);
    if (!text) {
        AddError(out, number, "bad escape");
        return;
    }
    out.texts[value] = std::move(*text);
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        std::uint32_t least = 0;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1Fu;
            least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0Fu;
            least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07u;
            least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

SkinTexts ParseSkinTexts(std::string_view content) {
    SkinTexts out;
    if (content.size() > kMaxSkinTextFile) {
        content = content.substr(0, kMaxSkinTextFile);
        out.truncated = true;
    }
    std::size_t lineNumber = 0;
    while (!content.empty()) {
        ++lineNumber;
        const std::size_t end = content.find('\n');
        const std::string_view line = content.substr(0, end);
        ParseLine(line, lineNumber, out);
        if (end == std::string_view::npos)
            break;
        content.remove_prefix(end + 1);
    }
    return out;
}

bool LoadSkinTexts(const std::string& path, SkinTexts& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::string content(kMaxSkinTextFile + 1, '\0');
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(file.gcount()));
    out = ParseSkinTexts(content);
    return true;
}

std::string EscapeSkinText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace taviro::platform
