// Views of a site: what the grid shows (layout, page, and which recorder's channel each
// pane holds) kept under a name, and the recorders and view in use at quit, brought back at
// the next start. A pane names its recorder by "host:port" (RecorderKey), never by the id
// the site gives it, so a view outlives the session that saved it and still holds when
// the recorders come back in another order, or one of them does not come back at all.
//
// Everything read from the settings file is checked: a line that does not parse is left
// out, and counts, lengths and numbers are bounded, so a damaged file gives fewer views,
// never a fault. Passwords are never kept here (the credential vault keeps those).
//
// Threads: the window's only; nothing here waits (the settings store is local).
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"
#include "video/layouts.h"
#include "video/site_channels.h"

namespace taviro::client {

inline constexpr int kMaxSavedViews = 32;
inline constexpr std::size_t kMaxViewNameLength = 64;

// One pane of a view: a recorder's channel (0-based); an empty recorder is a pane that
// holds no particular channel (it takes whatever is left over).
struct ViewPane {
    std::string recorder;  // "host:port"
    int channel = -1;
    friend bool operator==(const ViewPane&, const ViewPane&) = default;
};

struct SiteView {
    std::string name;
    int layout = video::kInitialLayout;
    int page = 0;
    std::vector<ViewPane> panes;  // by slot, up to kMaxPanes
    friend bool operator==(const SiteView&, const SiteView&) = default;
};

// A recorder of the site at quit: how to connect to it again (the password comes from the
// secret store, or the operator is asked) and how many channels its panes take meanwhile.
struct RememberedRecorder {
    std::string address;
    int port = 0;
    std::string user;
    std::string description;
    int channels = 0;  // 0: unknown (it never logged in)
    friend bool operator==(const RememberedRecorder&, const RememberedRecorder&) = default;
};

struct RememberedSite {
    std::vector<RememberedRecorder> recorders;  // in site order, up to 16
    std::optional<SiteView> view;               // the grid at quit
};

// One line of text each (tabs between the fields); names lose tabs and line breaks.
std::string EncodeView(const SiteView& view);
std::optional<SiteView> DecodeView(std::string_view line);
std::string EncodeRecorder(const RememberedRecorder& recorder);
std::optional<RememberedRecorder> DecodeRecorder(std::string_view line);

// The saved views, in the order saved ("Site/Views").
std::vector<SiteView> ReadSavedViews(const platform::ISettingsStore& settings);
bool WriteSavedViews(platform::ISettingsStore& settings, std::span<const SiteView> views);
// Saves `view` under its name (replacing a view of the same name, letter case ignored);
// false when the name is empty, kMaxSavedViews are kept already, or the store failed.
bool SaveView(platform::ISettingsStore& settings, SiteView view);
bool DeleteView(platform::ISettingsStore& settings, std::string_view name);

// The site at quit ("Site/Recorders", "Site/View").
RememberedSite ReadRememberedSite(const platform::ISettingsStore& settings);
bool WriteRememberedSite(platform::ISettingsStore& settings, const RememberedSite& site);

// Who a grid channel's recorder is: "host:port" for a recorder id ("" when unknown).
using RecorderKeyOf = std::function<std::string(int recorderId)>;

// What the grid shows now, as a view.
SiteView CaptureView(const video::CGridLayout& layout, const video::CSiteChannels& site,
                     const RecorderKeyOf& keyOf);
// The grid's arrangement (slot -> grid channel, a permutation of 0..kMaxPanes-1) that puts
// each pane of `view` on its recorder's channel where the site has it; the slots of
// recorders or channels the site lacks, and slots the view does not name, take the
// remaining channels in order.
std::vector<int> ArrangementFor(const SiteView& view, const video::CSiteChannels& site,
                                const RecorderKeyOf& keyOf);

}  // namespace taviro::client
