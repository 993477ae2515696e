// CSite: the recorders of one window, up to 16, each a CRecorderLink with its own
// connection, reconnect and channel views; nothing of one is shared with another. The site
// keeps them in the order the user added them (recorder 1, 2, ...), refuses a recorder that
// is already there or one too many, routes every posted message to the link whose
// connection posted it, and ends them all together: a quit closes every connection on its
// own worker at once, so several recorders take no longer than the slowest one.
//
// Threads: the owner's (window) thread only; nothing here waits except Quit().
// Ownership: the site owns its links; the views each link decodes into are the caller's and
// outlive the site's use of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/recorder_link.h"

namespace taviro::client {

inline constexpr int kMaxRecorders = 16;

// "host:port" as the site tells recorders apart: the host as given, lower case.
std::string RecorderKey(const RecorderTarget& target);

class CSite {
  public:
    // `makeContext` gives the context of a new link; its argument is the link's id, which
    // stays the same while the link is in the site (its place in the list may change).
    using ContextFactory = std::function<RecorderLinkContext(int id)>;
    CSite(ContextFactory makeContext, std::chrono::milliseconds reconnectUnit);
    ~CSite();
    CSite(const CSite&) = delete;
    CSite& operator=(const CSite&) = delete;

    struct AddResult {
        int id = -1;        // the new link's id; -1 when refused
        std::string error;  // why it was refused, for the user
    };
    // Adds a recorder and starts its connection, decoding into `views`. Refused when the
    // same host and port are in the site already or kMaxRecorders are; a link of that host
    // and port left idle (disconnected, refused, unreachable, held) connects afresh in its
    // place, keeping its id.
    AddResult Add(const RecorderTarget& target, video::CChannelViews& views, std::uint32_t format);
    // Adds a recorder without connecting it (its password is not known yet); refused as Add.
    AddResult Hold(const RecorderTarget& target, video::CChannelViews& views);
    // Takes out a link of the same host and port that has no connection and waits for none
    // (disconnected, refused, unreachable), so that adding it again connects it afresh.
    void ForgetIdle(const RecorderTarget& target);

    [[nodiscard]] int Count() const { return static_cast<int>(m_links.size()); }
    // By place (0-based, the order added) and by id; null when there is none.
    [[nodiscard]] CRecorderLink* At(int index);
    [[nodiscard]] const CRecorderLink* At(int index) const;
    [[nodiscard]] CRecorderLink* Find(int id);
    [[nodiscard]] const CRecorderLink* Find(int id) const;
    [[nodiscard]] int IndexOf(int id) const;
    [[nodiscard]] int IdAt(int index) const;
    // Taken out by the user, its connection not ended yet.
    [[nodiscard]] bool Leaving(int id) const;
    // The first recorder not taken out, -1 for none.
    [[nodiscard]] int FirstStaying() const;
    // The link whose current connection has this generation, or null.
    [[nodiscard]] CRecorderLink* Owner(std::uint32_t generation);
    [[nodiscard]] int OwnerId(std::uint32_t generation) const;
    // Whether any link still has a connection (one closing included).
    [[nodiscard]] bool AnyConnection() const;

    // The user takes one recorder out: its connection closes with no reconnect after it,
    // and it leaves the site once the connection has ended. A recorder without a
    // connection (waiting to come back) leaves at once.
    void Remove(int id);
    void RemoveAll();
    // Every connection closes (the Connect button, a popup of an ended connection); the
    // recorders stay, and one whose connection was lost comes back as after any loss.
    void DisconnectAll();

    // --- posted messages ---
    // Whether the window is to see `message`: messages of no connection (generation 0)
    // always, a connection's only when its link accepts it. `id` is set to the link's id
    // (-1 for generation 0 or a message nobody owns).
    bool Accept(const platform::PostedMessage& message, int& id);
    // After the owner has seen an accepted message: the link acts on it. True when that
    // link's connection has ended with it; a link taken out then leaves the site.
    bool Act(const platform::PostedMessage& message, int id, bool quitting);

    // Every link's reconnect clock and pending audio.
    void Tick(CReconnectController::Clock::time_point now);
    // Quit: every connection starts closing on its own worker (false: there were none).
    bool BeginQuit();
    // Quit and wait: every close begins first, then each is waited for.
    void Quit();
    void ChangeFormat(std::uint32_t format);

  private:
    struct Entry {
        int id = 0;
        std::unique_ptr<CRecorderLink> link;
        bool leaving = false;  // taken out by the user; goes when its connection has gone
    };
    void DropLeft();
    // The idle link of the target's host and port, or null.
    [[nodiscard]] Entry* Idle(const RecorderTarget& target);
    // Why the target cannot join ("" when it can).
    [[nodiscard]] std::string Refusal(const RecorderTarget& target) const;
    Entry& NewEntry();

    ContextFactory m_makeContext;
    std::chrono::milliseconds m_reconnectUnit;
    std::vector<Entry> m_links;
    int m_nextId = 1;
};

}  // namespace taviro::client
