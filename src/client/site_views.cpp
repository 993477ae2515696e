#include "client/site_views.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "protocol/channel_mask.h"

namespace taviro::client {
namespace {

constexpr std::string_view kViewsPath = "Site/Views";
constexpr std::string_view kRecordersPath = "Site/Recorders";
constexpr std::string_view kCurrentViewPath = "Site/View";
constexpr std::size_t kMaxFieldLength = 260;  // an address or a description
constexpr std::size_t kMaxRememberedRecorders = 16;

// Tabs and line breaks separate fields and lines: a text never carries one.
std::string Clean(std::string_view text, std::size_t limit) {
    std::string out(text.substr(0, limit));
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::optional<int> Number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string EncodePane(const ViewPane& pane) {
    if (pane.recorder.empty() || pane.channel < 0)
        return {};
    return Clean(pane.recorder, kMaxFieldLength) + "/" + std::to_string(pane.channel);
}

std::optional<ViewPane> DecodePane(std::string_view text) {
    if (text.empty())
        return ViewPane{};
    const std::size_t slash = text.rfind('/');
    if (slash == std::string_view::npos || slash == 0 || slash > kMaxFieldLength)
        return std::nullopt;
    const auto channel = Number(text.substr(slash + 1), 0, protocol::kMaxChannels - 1);
    if (!channel)
        return std::nullopt;
    return ViewPane{std::string(text.substr(0, slash)), *channel};
}

std::vector<std::string_view> Lines(const std::string& text) {
    std::vector<std::string_view> lines;
    for (std::string_view line : Split(text, '\n')) {
        if (line.ends_with('\r'))
            line.remove_suffix(1);  // a file that went through a Windows editor
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::string EncodeView(const SiteView& view) {
    std::string line = Clean(view.name, kMaxViewNameLength) + "\t" + std::to_string(view.layout) +
                       "\t" + std::to_string(view.page) + "\t";
    const std::size_t panes = std::min<std::size_t>(view.panes.size(), video::kMaxPanes);
    for (std::size_t i = 0; i < panes; ++i) {
        if (i > 0)
            line += ';';
        line += EncodePane(view.panes[i]);
    }
    return line;
}

std::optional<SiteView> DecodeView(std::string_view line) {
    const auto fields = Split(line, '\t');
    if (fields.size() != 4 || fields[0].size() > kMaxViewNameLength ||
        line.find_first_of("\r\n") != std::string_view::npos)
        return std::nullopt;
    SiteView view;
    view.name = std::string(fields[0]);
    const auto layout = Number(fields[1], 0, 1000);
    const auto page = Number(fields[2], 0, video::kMaxPanes);
    if (!layout || !page || video::LayoutOrdinal(*layout) < 0)
        return std::nullopt;
    view.layout = *layout;
    view.page = *page;
    if (!fields[3].empty()) {
        const auto panes = Split(fields[3], ';');
        if (panes.size() > static_cast<std::size_t>(video::kMaxPanes))
            return std::nullopt;
        for (std::string_view text : panes) {
            auto pane = DecodePane(text);
            if (!pane)
                return std::nullopt;
            view.panes.push_back(std::move(*pane));
        }
    }
    return view;
}

std::string EncodeRecorder(const RememberedRecorder& r) {
    return Clean(r.address, kMaxFieldLength) + "\t" + std::to_string(r.port) + "\t" +
           Clean(r.user, kMaxFieldLength) + "\t" + Clean(r.description, kMaxFieldLength) + "\t" +
           std::to_string(r.channels);
}

std::optional<RememberedRecorder> DecodeRecorder(std::string_view line) {
    const auto fields = Split(line, '\t');
    if (fields.size() != 5 || fields[0].empty() ||
        line.find_first_of("\r\n") != std::string_view::npos)
        return std::nullopt;
    for (std::string_view field : fields)
        if (field.size() > kMaxFieldLength)
            return std::nullopt;
    const auto port = Number(fields[1], 1, 65535);
    const auto channels = Number(fields[4], 0, protocol::kMaxChannels);
    if (!port || !channels)
        return std::nullopt;
    return RememberedRecorder{std::string(fields[0]), *port, std::string(fields[2]),
                              std::string(fields[3]), *channels};
}

std::vector<SiteView> ReadSavedViews(const platform::ISettingsStore& settings) {
    std::vector<SiteView> views;
    const auto text = settings.GetString(kViewsPath);
    if (!text)
        return views;
    for (std::string_view line : Lines(*text)) {
        if (views.size() >= static_cast<std::size_t>(kMaxSavedViews))
            break;
        auto view = DecodeView(line);
        // A view without a name cannot be picked; two of one name: the first is kept.
        if (!view || view->name.empty() ||
            std::any_of(views.begin(), views.end(),
                        [&](const SiteView& v) { return SameName(v.name, view->name); }))
            continue;
        views.push_back(std::move(*view));
    }
    return views;
}

bool WriteSavedViews(platform::ISettingsStore& settings, std::span<const SiteView> views) {
    std::string text;
    for (const SiteView& view : views.first(std::min<std::size_t>(views.size(), kMaxSavedViews)))
        text += EncodeView(view) + "\n";
    return settings.SetString(kViewsPath, text);
}

bool SaveView(platform::ISettingsStore& settings, SiteView view) {
    view.name = Clean(view.name, kMaxViewNameLength);
    if (view.name.find_first_not_of(' ') == std::string::npos)
        return false;
    std::vector<SiteView> views = ReadSavedViews(settings);
    const auto same = std::find_if(views.begin(), views.end(),
                                   [&](const SiteView& v) { return SameName(v.name, view.name); });
    if (same != views.end())
        *same = std::move(view);
    else if (views.size() >= static_cast<std::size_t>(kMaxSavedViews))
        return false;
    else
        views.push_back(std::move(view));
    return WriteSavedViews(settings, views);
}

bool DeleteView(platform::ISettingsStore& settings, std::string_view name) {
    std::vector<SiteView> views = ReadSavedViews(settings);
    if (std::erase_if(views, [&](const SiteView& v) { return SameName(v.name, name); }) == 0)
        return false;
    return WriteSavedViews(settings, views);
}

RememberedSite ReadRememberedSite(const platform::ISettingsStore& settings) {
    RememberedSite site;
    if (const auto text = settings.GetString(kRecordersPath)) {
        for (std::string_view line : Lines(*text)) {
            if (site.recorders.size() >= kMaxRememberedRecorders)
                break;
            if (auto recorder = DecodeRecorder(line))
                site.recorders.push_back(std::move(*recorder));
        }
    }
    if (const auto text = settings.GetString(kCurrentViewPath); text && !text->empty())
        site.view = DecodeView(*text);
    return site;
}

bool WriteRememberedSite(platform::ISettingsStore& settings, const RememberedSite& site) {
    std::string recorders;
    for (std::size_t i = 0; i < site.recorders.size() && i < kMaxRememberedRecorders; ++i)
        recorders += EncodeRecorder(site.recorders[i]) + "\n";
    const bool wrote = settings.SetString(kRecordersPath, recorders);
    return settings.SetString(kCurrentViewPath, site.view ? EncodeView(*site.view) : "") && wrote;
}

SiteView CaptureView(const video::CGridLayout& layout, const video::CSiteChannels& site,
                     const RecorderKeyOf& keyOf) {
    SiteView view;
    view.layout = layout.Layout();
    view.page = layout.Page();
    const int slots = std::min(std::max(site.Count(), 0), video::kMaxPanes);
    for (int slot = 0; slot < slots; ++slot) {
        ViewPane pane;
        if (const auto channel = site.At(layout.ChannelOfSlot(slot))) {
            pane.recorder = keyOf(channel->recorderId);
            pane.channel = pane.recorder.empty() ? -1 : channel->channel;
        }
        view.panes.push_back(std::move(pane));
    }
    return view;
}

std::vector<int> ArrangementFor(const SiteView& view, const video::CSiteChannels& site,
                                const RecorderKeyOf& keyOf) {
    std::vector<int> arrangement(static_cast<std::size_t>(video::kMaxPanes), -1);
    std::vector<bool> taken(static_cast<std::size_t>(video::kMaxPanes), false);
    const std::size_t panes = std::min<std::size_t>(view.panes.size(), video::kMaxPanes);
    for (std::size_t slot = 0; slot < panes; ++slot) {
        const ViewPane& pane = view.panes[slot];
        if (pane.recorder.empty())
            continue;
        for (const video::SiteRecorder& r : site.Recorders()) {
            if (keyOf(r.id) != pane.recorder)
                continue;
            const int channel = site.GridChannel(r.id, pane.channel);
            // A channel named twice (a damaged view) stays with its first pane.
            if (channel >= 0 && !taken[static_cast<std::size_t>(channel)]) {
                arrangement[slot] = channel;
                taken[static_cast<std::size_t>(channel)] = true;
            }
            break;
        }
    }
    int next = 0;
    for (int& channel : arrangement) {
        if (channel >= 0)
            continue;
        while (taken[static_cast<std::size_t>(next)])
            ++next;
        channel = next;
        taken[static_cast<std::size_t>(next)] = true;
    }
    return arrangement;
}

}  // namespace taviro::client
