// The command-line client's message sink: every notification is printed as a line the
// moment it is posted (plain text, or one JSON object per line), and every message is
// also queued for the command's own loop, which plays the main window's part.
#pragma once

#include <cstdio>
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

    // Prints one complete line (a newline is added) in one write, so lines from the
    // session's threads, the command and the sinks of other recorders never mix.
    void PrintLine(const std::string& line);
    [[nodiscard]] bool Json() const { return m_json; }

    // With several recorders, every line says which one it is about: a JSON object gets
    // "recorder":N (its place on the command line, from 1) and "address":"HOST:PORT" first,
    // a text line the prefix "rN HOST:PORT  ". Set before the connection is made.
    void SetRecorder(int recorder, std::string address);
    [[nodiscard]] bool Tagged() const { return m_recorder > 0; }

  private:
    std::FILE* m_out;
    bool m_json;
    int m_recorder = 0;
    std::string m_address;
};

}  // namespace taviro::cli
