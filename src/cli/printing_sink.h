// The command-line client's message sink: every notification is printed as a line the
// moment it is posted (plain text, or one JSON object per line), and every message is
// also queued for the command's own loop, which plays the main window's part.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/message_sink.h"

namespace taviro::cli {

// What a notification means, in one short line for people.
std::string DescribeNotification(int category, int code);

// Escapes a text for a JSON string literal (without the quotes).
std::string JsonEscape(const std::string& text);

class CPrintingSink final : public platform::CQueueSink {
  public:
    CPrintingSink(std::FILE* out, bool json) : m_out(out), m_json(json) {}

    // Prints notifications and message boxes as they arrive, then queues them.
    void Deliver(platform::PostedMessage message) override;

    // Prints one complete line (a newline is added) under the sink's lock, so lines from
    // the session's threads and the command never mix.
    void PrintLine(const std::string& line);
    [[nodiscard]] bool Json() const { return m_json; }

  private:
    std::FILE* m_out;
    bool m_json;
    std::mutex m_printLock;
};

}  // namespace taviro::cli
