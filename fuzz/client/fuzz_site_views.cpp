// Saved views and the remembered site from arbitrary settings text: never more views,
// panes or recorders than fit, names without a separator, what is read writes back the
// same, and the arrangement a view gives always shows every channel exactly once.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "../fuzz_check.h"
#include "client/site_views.h"

namespace client = taviro::client;
namespace video = taviro::video;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    taviro::platform::CMemorySettingsStore settings;
    settings.SetString("Site/Views", text);
    settings.SetString("Site/Recorders", text);
    settings.SetString("Site/View", text);

    const auto views = client::ReadSavedViews(settings);
    TAVIRO_FUZZ_CHECK(views.size() <= static_cast<std::size_t>(client::kMaxSavedViews));
    // A row of four recorders, named as the views may name them.
    video::CSiteChannels row;
    row.Set({{1, nullptr, 4}, {2, nullptr, 16}, {3, nullptr, 0}, {4, nullptr, 8}});
    const auto keyOf = [](int id) { return "r" + std::to_string(id) + ":1"; };
    for (const client::SiteView& view : views) {
        TAVIRO_FUZZ_CHECK(!view.name.empty() && view.name.size() <= client::kMaxViewNameLength);
        TAVIRO_FUZZ_CHECK(view.name.find_first_of("\t\r\n") == std::string::npos);
        TAVIRO_FUZZ_CHECK(view.panes.size() <= static_cast<std::size_t>(video::kMaxPanes));
        TAVIRO_FUZZ_CHECK(client::DecodeView(client::EncodeView(view)) == view);
        const auto arrangement = client::ArrangementFor(view, row, keyOf);
        TAVIRO_FUZZ_CHECK(arrangement.size() == static_cast<std::size_t>(video::kMaxPanes));
        TAVIRO_FUZZ_CHECK(std::set<int>(arrangement.begin(), arrangement.end()).size() ==
                          arrangement.size());
        video::CGridLayout layout;
        TAVIRO_FUZZ_CHECK(!layout.Arrange(arrangement).ignored);
    }
    const client::RememberedSite site = client::ReadRememberedSite(settings);
    TAVIRO_FUZZ_CHECK(site.recorders.size() <= 16);
    for (const client::RememberedRecorder& r : site.recorders) {
        TAVIRO_FUZZ_CHECK(r.port > 0 && r.port <= 65535 && r.channels >= 0 && r.channels <= 16);
        TAVIRO_FUZZ_CHECK(client::DecodeRecorder(client::EncodeRecorder(r)) == r);
    }
    return 0;
}
