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

// Window message numbers. The recorder-facing ones keep the numbers the windows of the
// original desktop program used, so traces and popups line up with recorder documentation.
enum WindowMessage : std::uint32_t {
    WM_UNCHECK_REQUEST = 0x0500,  // skinned radio button: uncheck the others of the group
    WM_SLIDER_BEGIN = 0x0D60,
    WM_SLIDER_MOVE = 0x0D61,
    WM_SLIDER_END = 0x0D62,
    WM_RECORDER_NOTIFY = 0x5226,  // lParam = category * 65536 + code; wParam = popup parent
    WM_DB_INFO = 0x5227,
    // The recorder's firmware answers, for the upgrade window; lParam = the reason code.
    WM_FW_UPDATE_ACK = 0x522A,
    WM_FW_UPDATE_NACK = 0x522B,
    WM_FW_DATA_RX_DONE = 0x522C,
    WM_FW_DATA_RX_FAIL = 0x522D,
    WM_FW_UPDATE_DONE = 0x522E,
    WM_FW_UPDATE_FAIL = 0x522F,
    WM_ARCHIVE_PLAY_AT = 0x5228,
    WM_PLAY_MONTH_READY = 0x5234,
    WM_EVENT_LIST_READY = 0x5235,
    WM_BACKUP_MONTH_READY = 0x5236,
    WM_PLAY_DAY_READY = 0x5237,
    WM_BACKUP_DAY_READY = 0x5238,
    WM_PTZ_MOVE = 0x5239,
    WM_RECORDER_LOG_DONE = 0x523A,
    WM_RECORDER_SYSINFO_DONE = 0x523B,
    WM_RECORDER_STATUS_DONE = 0x523C,
    WM_TALK_STARTED = 0x523D,
    WM_TALK_STOPPED = 0x523E,
    WM_PTZ_PRESET = 0x523F,
    WM_EVENT_PAGE_READY = 0x5240,
    WM_BACKUP_STARTED = 0x5248,
    WM_BACKUP_PROGRESS = 0x5249,
    WM_BACKUP_FINISHED = 0x524A,
    WM_PLAY_STARTED = 0x5252,
    WM_START_PLAYER = 0x5253,
    WM_SEARCH_RIGHTS = 0x5255,  // 21077: which of playback / backup remain allowed
    WM_PLAYER_INFO = 0x5256,

    // Messages of our own for what the session used to do by touching windows directly.
    WM_CONTROL_STATE = 0x5400,          // wParam = control id, lParam = ControlState
    WM_CLOSE_SESSION_DIALOGS = 0x5401,  // wParam = DialogGroup, lParam = 1 once logged in
    WM_CLEAR_CHANNEL_GRID = 0x5402,
    WM_RELEASE_SESSION = 0x5403,    // the session asks its owner to discard it (failed connect)
    WM_SESSION_LOGGED_IN = 0x5404,  // the login answer was accepted; identity is readable
    WM_CHANNEL_HIDDEN = 0x5405,     // wParam = mask of channels this user must not see
    WM_CHANNEL_AVAILABLE = 0x5406,  // wParam = channels with a picture, lParam = video-loss set
    WM_REDRAW_CHANNEL_GRID = 0x5407,
    WM_CHANNEL_GRID_MODE = 0x5408,  // wParam = GridMode, lParam = layout number (its button down)
    WM_STOP_LIVE_AUDIO = 0x5409,
    WM_CLOSE_PTZ = 0x540A,
    WM_RIGHTS_WITHDRAWN = 0x540B,   // wParam = RightsWithdrawal bits
    WM_CHANNEL_TITLES = 0x540C,     // the channel titles changed; read them from the session
    WM_CONNECTION_CLOSED = 0x540D,  // a connection's teardown has ended; wParam = its kind
    WM_PLAY_STOPPED = 0x540E,       // remote playback has stopped; its decoders are gone
    WM_BACKUP_CAPACITY = 0x540F,    // wParam = kilobytes; lParam 1 startable, 0 not, -1 refused
    WM_LOCAL_SEGMENT =
        0x5410,  // wParam = slider start << 32 | end; lParam = layout << 32 | channels
    WM_LOCAL_POSITION = 0x5411,   // wParam = the second shown
    WM_LOCAL_STATE = 0x5412,      // wParam = player mode, lParam = speed
    WM_LOCAL_STOPPED = 0x5413,    // the local player has ended
    WM_FW_PROGRESS = 0x5414,      // wParam = upgrade slot, lParam = percent sent
    WM_FW_WORKER_ENDED = 0x5415,  // wParam = upgrade slot, lParam = 0 sent, else a failure
    WM_PTZ_CHANNEL_ACK = 0x5416,  // wParam = steered channel, lParam = availability (1, 2)
    WM_SNAPSHOT_DONE = 0x5417,    // wParam = channel, lParam = 0 saved, else a failure
};

// The channel grid's modes (WM_CHANNEL_GRID_MODE).
enum GridMode : std::uint64_t { kGridNone = 0, kGridLive = 1, kGridPlayback = 2, kGridLocal = 3 };

// What the main window must stop when the recorder withdraws rights (WM_RIGHTS_WITHDRAWN).
enum RightsWithdrawal : std::uint64_t {
    kCloseSearchDialog = 1,  // the search dialog and its children
    kStopPlayback = 2,       // remote playback, if it runs
    kStopBackup = 4,         // backup, if it runs
    kDiscardSearch = 8,      // the session's search state and calendar buffers
};

enum ControlState : std::int64_t {
    kReleased = 0,  // button shown up / lamp off
    kPressed = 1,   // button shown down / lamp on
    kEnabled = 2,
    kDisabled = 3,
};

enum DialogGroup : std::uint64_t {
    kDependentDialogs = 0,  // current modeless dialog, search and playback dialog
    kRemainingDialogs = 1,  // information, PTZ and similar session windows
};

// Control ids of the main window that logic reports states for.
enum MainControl : std::uint64_t {
    kCtlMike = 376,
    kCtlConnect = 360,
    kCtlLive = 369,
    kCtlAudio = 378,
    kCtlRecord = 344,  // the record button's lamp
    // Groups of controls reported together.
    kCtlLiveButtons = 0x10000,     // the buttons that only work in live view
    kCtlChannelButtons = 0x10001,  // channel buttons 300..315
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
