#include "cli/printing_sink.h"

#include <cstdio>

namespace taviro::cli {

namespace {

const char* const kGoodbyeReasons[] = {"1", "2", "3", "33", "34", "35", "36", "-2"};

}  // namespace

std::string DescribeNotification(int category, int code) {
    switch (category) {
        case 0:
            return code == 1 ? "unknown host" : "the socket could not be created";
        case 1:
            return code == 0 ? "connect failed: timed out, the recorder did not answer"
                             : "connect failed: refused";
        case 2:
            return "the connection has ended";
        case 3:
            if (code >= 0 && code < 8) {
                return std::string("the recorder said goodbye (reason ") + kGoodbyeReasons[code] +
                       ")";
            }
            return "the recorder said goodbye";
        case 4:
            return "the recorder is busy";
        case 5:
            return "the recorder refused the live or record request";
        case 6:
            return "the recorder refused the request";
        case 7:
            return "the recorder refused the archive update";
        case 12:
            return "the recorder refused talking";
        case 15:
            return "permission denied";
        default:
            return "notification";
    }
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Recorder texts are bytes, not necessarily UTF-8: escape the rest.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

void CPrintingSink::Deliver(platform::PostedMessage message) {
    if (message.messageBox) {
        if (m_json) {
            PrintLine("{\"event\":\"message\",\"text\":\"" + JsonEscape(*message.messageBox) +
                      "\"}");
        } else {
            PrintLine("message: " + *message.messageBox);
        }
    } else if (message.message == platform::WM_RECORDER_NOTIFY) {
        const int category = platform::NotifyCategory(message.lParam);
        const int code = platform::NotifyCode(message.lParam);
        if (m_json) {
            PrintLine("{\"event\":\"notify\",\"category\":" + std::to_string(category) +
                      ",\"code\":" + std::to_string(code) + "}");
        } else {
            PrintLine("notify " + std::to_string(category) + " " + std::to_string(code) + ": " +
                      DescribeNotification(category, code));
        }
    }
    CQueueSink::Deliver(std::move(message));
}

void CPrintingSink::SetRecorder(int recorder, std::string address) {
    m_recorder = recorder;
    m_address = std::move(address);
}

void CPrintingSink::PrintLine(const std::string& line) {
    std::string out;
    if (m_recorder > 0 && m_json && line.starts_with('{')) {
        out = "{\"recorder\":" + std::to_string(m_recorder) + ",\"address\":\"" +
              JsonEscape(m_address) + "\"" + (line.size() > 2 ? "," : "") + line.substr(1);
    } else if (m_recorder > 0) {
        out = "r" + std::to_string(m_recorder) + " " + m_address + "  " + line;
    } else {
        out = line;
    }
    out += '\n';
    // One call: the stream's own lock keeps the line whole against other threads.
    std::fwrite(out.data(), 1, out.size(), m_out);
    std::fflush(m_out);
}

}  // namespace taviro::cli
