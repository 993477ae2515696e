#include "maintenance/web_setup.h"

#include <arpa/inet.h>

#include <cstdio>

namespace taviro::maintenance {

namespace {

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

// A program with the address as its one argument, or in place of "%s".
std::optional<BrowserCommand> CommandFor(std::string_view entry, std::string_view url) {
    auto words = SplitWords(entry);
    if (words.empty())
        return std::nullopt;
    BrowserCommand command{words.front(), {}};
    bool placed = false;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "%s") {
            command.arguments.emplace_back(url);
            placed = true;
        } else {
            command.arguments.push_back(words[i]);
        }
    }
    if (!placed)
        command.arguments.emplace_back(url);
    return command;
}

}  // namespace

std::optional<std::string> WebSetupUrl(std::string_view address, std::uint16_t webPort,
                                       const std::array<std::uint8_t, 8>& key) {
    const std::string text(address);
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return std::nullopt;
    const std::uint32_t host = ntohl(parsed.s_addr);
    char buffer[96];
    int n = std::snprintf(
        buffer, sizeof buffer, "http://%u.%u.%u.%u:%u/webdb/webdb.cgi?key=", (host >> 24) & 0xFFu,
        (host >> 16) & 0xFFu, (host >> 8) & 0xFFu, host & 0xFFu, static_cast<unsigned>(webPort));
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return std::nullopt;
    std::string url(buffer, static_cast<std::size_t>(n));
    for (const std::uint8_t b : key) {
        n = std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned>(b));
        url.append(buffer, static_cast<std::size_t>(n));
    }
    return url;
}

std::vector<BrowserCommand> BrowserCommands(std::string_view url, std::string_view chosen,
                                            const char* browserVariable) {
    std::vector<BrowserCommand> commands;
    if (auto c = CommandFor(chosen, url))
        commands.push_back(std::move(*c));
    if (browserVariable != nullptr) {
        std::string_view rest(browserVariable);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            if (auto c = CommandFor(rest.substr(0, colon), url))
                commands.push_back(std::move(*c));
            if (colon == std::string_view::npos)
                break;
            rest.remove_prefix(colon + 1);
        }
    }
    commands.push_back(BrowserCommand{"xdg-open", {std::string(url)}});
    return commands;
}

bool OpenWebSetup(const std::vector<BrowserCommand>& commands,
                  platform::IProcessLauncher& launcher) {
    for (const auto& command : commands) {
        if (launcher.Start(command.program, command.arguments))
            return true;
    }
    return false;
}

}  // namespace taviro::maintenance
