// What the recorder panel and the title strip say of each recorder of the site: its name,
// where its connection is (connecting, live, lost and coming back, refused ...), whether
// it records, and its channels with their titles and video loss. Made from the links when
// asked (about once a second); nothing is kept.
//
// Threads: the site's owner's (window) thread.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "client/recorder_link.h"
#include "client/site.h"

namespace taviro::client {

enum class RecorderStatus {
    kConnecting,    // connecting or logging in, at the user's request
    kLive,          // logged in, live view running
    kConnected,     // logged in, live view off (playback, or stopped)
    kComingBack,    // lost: waiting for the next attempt, or an attempt runs
    kRefused,       // the recorder refused the log-in or said goodbye
    kUnreachable,   // the connection could not be made (no answer, refused by the network)
    kDisconnected,  // no connection: the user's disconnect, an attempt cancelled
    kClosing,       // the connection is being taken down
};

struct RecorderChannelRow {
    int channel = 0;  // 0-based
    std::string title;
    bool videoLoss = false;
    bool hidden = false;  // this user must not see it
};

struct RecorderRow {
    int id = -1;
    int place = 0;        // 1-based, the order added
    std::string name;     // the description given, else host:port
    std::string address;  // host:port
    RecorderStatus status = RecorderStatus::kDisconnected;
    std::string statusText;
    bool recording = false;
    std::vector<RecorderChannelRow> channels;  // once logged in
};

// How a recorder is named: the description given, else host:port (also while it has no
// connection); empty before the first connect.
std::string RecorderLabel(const CRecorderLink& link);
// One recorder's row (`place` 1-based); its channels only with `channels` (reading them
// takes the session's locks once per channel).
RecorderRow MakeRecorderRow(const CRecorderLink& link, int id, int place,
                            CReconnectController::Clock::time_point now, bool channels = true);
// Every recorder of the site, in order.
std::vector<RecorderRow> SiteRows(const CSite& site, CReconnectController::Clock::time_point now,
                                  bool channels = true);

}  // namespace taviro::client
