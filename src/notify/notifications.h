// The notification popups of the main window as data: which lines a (category, code) pair
// shows, which buttons it offers and what confirming (or cancelling) it sets off. The
// session, the dialogs and the main window itself post WM_RECORDER_NOTIFY with the pair;
// the window turns it into one skinned popup at a time. Nothing here touches a window or
// the session; the presenter in app/ui runs the follow-ups through callbacks.
//
// Thread: the main window's (GUI) thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace taviro::notify {

// Button sets of the popup: confirm and cancel, or a single button in one of two skins.
enum class NotifyButtons : int { kConfirmCancel = 0, kSingle = 1, kSingleAlt = 2 };

// What confirming a popup sets off.
enum class NotifyFollowUp {
    kNone,
    kOpenSearch,          // open the remote search dialog (as its button)
    kResendDatabase,      // DB_UPDATE_REQ again
    kRebootIfLoggedIn,    // REBOOT_REQ when a session is logged in
    kStartFirmware,       // start the firmware upgrade
    kInitArchive,         // DB_INIT_REQ when a session is logged in
    kArchiveInitDecision  // recording: ask again with (14, 0) or refuse with (15, 0)
};

// What cancelling a popup sets off.
enum class NotifyCancelAction {
    kNone,
    kDiscardPendingSearch  // drop the pending search selection and the calendar/list buffers
};

// One line of a popup: a skin text by number, or a text already made (`literal`). A made
// line keeps the number of the skin text it was made from, so callers can tell its origin.
struct NotificationLine {
    std::optional<int> text;
    std::optional<std::string> literal;

    bool operator==(const NotificationLine&) const = default;
};

struct NotificationSpec {
    std::vector<NotificationLine> lines;  // one to three in practice
    NotifyButtons buttons = NotifyButtons::kSingle;
    NotifyFollowUp onConfirm = NotifyFollowUp::kNone;
    NotifyCancelAction onCancel = NotifyCancelAction::kNone;
};

// Skin text by number; empty when missing.
using TextLookup = std::function<std::string(int)>;

// What the table depends on besides the pair.
struct NotificationContext {
    // Category 4: the search window's selection is waiting and not yet marked as used.
    bool pendingSearchSelection = false;
    // Categories 6 (code 5) and 13: needed and available size in megabytes, when known.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> transferSizes;
    // Category 19: the four numbers of the program version.
    std::array<std::uint16_t, 4> version{};
    // Labels and formats of the made lines; an empty lookup gives empty labels.
    TextLookup text;
    // Categories 0 to 3: the recorder the connection was made to ("host:port"), named on
    // a line of its own so that the operator knows which one failed; empty: no such line.
    std::string recorder;
};

// Skin texts the size lines are made from.
inline constexpr int kTextNeededSize = 5840;
inline constexpr int kTextAvailableSize = 5841;

// The popup for (category, code); nullopt for a pair that shows nothing.
std::optional<NotificationSpec> BuildNotification(int category, int code,
                                                  const NotificationContext& ctx);

// The text a line shows: its literal, else the skin text.
std::string LineText(const NotificationLine& line, const TextLookup& text);

// A skin text used as a printf format for one number: only a single floating conversion
// (%f, %e, %g with flags, width and precision) and "%%" are accepted, since the text comes
// from outside the program. nullopt for anything else.
std::optional<std::string> FormatSkinNumber(std::string_view format, double value);

// The state of the session the follow-ups depend on, read when the popup is confirmed.
struct SessionFacts {
    bool loggedIn = false;
    bool recording = false;
    bool mayInitArchive = false;  // the rights allow initialising the archive
};

// The concrete step of a confirmed follow-up.
enum class FollowUpAction {
    kNothing,
    kOpenSearch,
    kSendDatabase,  // DB_UPDATE_REQ
    kSendReboot,    // REBOOT_REQ
    kStartFirmware,
    kSendArchiveInit,    // DB_INIT_REQ
    kNotifyInitArchive,  // post (14, 0)
    kNotifyRefused,      // post (15, 0)
};

FollowUpAction ResolveFollowUp(NotifyFollowUp followUp, const SessionFacts& facts);

// At most one popup at a time. A disconnect notification (category 2) tears the session
// down before anything else, whether or not a popup is open; every notification that
// arrives while one is open is dropped.
class CNotificationGate {
  public:
    struct Decision {
        bool disconnect = false;  // run the disconnect now
        bool present = false;     // build and show the popup
    };

    // A notification arrived.
    [[nodiscard]] Decision Arrive(int category) const;
    // The popup is shown / closed.
    void Open() { m_bOpen = true; }
    void Close() { m_bOpen = false; }
    [[nodiscard]] bool IsOpen() const { return m_bOpen; }

  private:
    bool m_bOpen = false;
};

inline constexpr int kCategoryDisconnect = 2;

// Category 0 with this code: the connection could not be opened because the recorder's
// host name is unknown (code 0: no socket).
inline constexpr int kNoteUnknownHost = 1;

// The client's own notes (no skin text): no sound output device for live audio, and a
// command that needs a recorder while none is connected.
inline constexpr int kCategoryClient = 20;
inline constexpr int kNoteNoSoundDevice = 0;
inline constexpr int kNoteNotConnected = 1;

// Notes about the connection itself (failed, no answer, refused, ended): they never block
// the window, and a connection that comes back closes them.
[[nodiscard]] constexpr bool IsConnectionNote(int category) {
    return category >= 0 && category <= 3;
}

}  // namespace taviro::notify
