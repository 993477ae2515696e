// The one road from logic to the user interface. Worker threads never call window code:
// they post (window, message, wParam, lParam) here, and the user interface picks the
// messages up on its own thread (the Qt event loop in the desktop client, a queue in the
// command-line client, a recording list in tests).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace taviro::platform {

// The two messages every window understands; the others belong to the features that post
// them (session_messages.h of the protocol, the recordings' messages.h, and so on). The
// numbers stay those of the original desktop program's windows, so traces and popups line up
// with recorder documentation; the features' numbers do not overlap these.
enum WindowMessage : std::uint32_t {
    WM_RECORDER_NOTIFY = 0x5226,  // lParam = category * 65536 + code; wParam = popup parent
    WM_CONTROL_STATE = 0x5400,    // wParam = control id, lParam = ControlState
};

enum ControlState : std::int64_t {
    kReleased = 0,  // button shown up / lamp off
    kPressed = 1,   // button shown down / lamp on
    kEnabled = 2,
    kDisabled = 3,
};

// Window the message is meant for.
enum class Window : std::uint32_t {
    Main = 0,
    Search = 1,
    Backup = 2,
    EventList = 3,
    Archive = 4,
    Firmware = 5,
    Ptz = 6,
};

// Bytes a message carries to its window (a finished reply). Shared and immutable: the
// poster never touches them again, so the window reads them without a lock.
using MessageData = std::shared_ptr<const std::vector<std::uint8_t>>;

struct PostedMessage {
    Window window = Window::Main;
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    // Set instead of a message number for a message box request.
    std::optional<std::string> messageBox;
    // The connection that posted it (0: no connection's). A window drops the messages of a
    // connection that has ended, so nothing of an old connection reaches a new one.
    std::uint32_t generation = 0;
    MessageData data;
};

constexpr std::int64_t NotifyParam(int category, int code) {
    return static_cast<std::int64_t>(category) * 65536 + code;
}
constexpr int NotifyCategory(std::int64_t lParam) {
    return static_cast<int>(lParam / 65536);
}
constexpr int NotifyCode(std::int64_t lParam) {
    return static_cast<int>(lParam % 65536);
}

// Thread-safe: any thread may post at any time. Implementations must not block the poster
// for long and must never run window code on the poster's thread.
class IMessageSink {
  public:
    virtual ~IMessageSink() = default;
    // Hands one message on; every other operation below is a form of it.
    virtual void Deliver(PostedMessage message) = 0;

    void Post(Window window, std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
        Deliver(PostedMessage{window, message, wParam, lParam, std::nullopt, 0, nullptr});
    }
    // A message with bytes for its window (see MessageData).
    void PostData(Window window, std::uint32_t message, std::uint64_t wParam, MessageData data) {
        Deliver(PostedMessage{window, message, wParam, 0, std::nullopt, 0, std::move(data)});
    }
    // A message box on the user interface's thread with this text.
    void ShowMessageBox(std::string text) {
        Deliver(PostedMessage{Window::Main, 0, 0, 0, std::move(text), 0, nullptr});
    }
    void Notify(int category, int code, Window parent = Window::Main) {
        Post(Window::Main, WM_RECORDER_NOTIFY, static_cast<std::uint64_t>(parent),
             NotifyParam(category, code));
    }
};

// Drops everything; for the fuzz harness and benchmarks.
class CNullSink final : public IMessageSink {
  public:
    void Deliver(PostedMessage) override {}
};

// Stamps every message of one connection with its generation and hands it on to the
// window's sink. Thread-safe as its target is; the target must outlive it.
class CGenerationSink final : public IMessageSink {
  public:
    CGenerationSink(IMessageSink& target, std::uint32_t generation)
        : m_target(target), m_generation(generation) {}
    void Deliver(PostedMessage message) override {
        message.generation = m_generation;
        m_target.Deliver(std::move(message));
    }
    [[nodiscard]] std::uint32_t Generation() const { return m_generation; }

  private:
    IMessageSink& m_target;
    const std::uint32_t m_generation;
};

// A queue of posted messages that one consumer thread takes from in order. Used by the
// command-line client as its "main window" loop and by tests, which also read the history.
class CQueueSink : public IMessageSink {
  public:
    void Deliver(PostedMessage message) override;

    // Next message not yet taken, waiting up to `timeout`.
    std::optional<PostedMessage> Take(std::chrono::milliseconds timeout);
    // Every message ever posted, in order (a copy).
    std::vector<PostedMessage> History() const;
    // Waits until some posted message satisfies `match`; true when one did in time.
    bool WaitFor(const std::function<bool(const PostedMessage&)>& match,
                 std::chrono::milliseconds timeout) const;
    // The notifications (category, code) posted so far, in order.
    std::vector<std::pair<int, int>> Notifications() const;

  private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::deque<PostedMessage> m_pending;
    std::vector<PostedMessage> m_history;
};

}  // namespace taviro::platform
