// What each channel pane holds between its decoder thread and the painter: the picture
// (shared with the decoder by reference, never copied on its way to the screen) and size,
// what the labels tell (the mode and camera title of the last picture), the decoded-picture
// counter and frame rate, the clock value, the icon state, and the grid-wide masks. The
// label texts themselves are made by the painter (pane_texts.h). Headless: the channel grid
// window paints from it, tests read it directly.
//
// Threads: a channel's decoder thread writes its ChannelView under that view's lock; the
// painter reads under the same lock (and reads a picture it took a reference to without
// it). Masks and modes are atomics that any thread reads.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/h264_decoder.h"
#include "protocol/channel_mask.h"

namespace taviro::video {

inline constexpr std::size_t kPictureBufferSize = 1'244'160;  // a 720 x 576 RGB picture
static_assert(kPictureBufferSize == platform::kH264PictureBufferSize);

enum class ViewMode : int { Idle = 0, Live = 1, RemotePlayback = 2, LocalPlayback = 3 };

// The OSD modes: the three of the OSD button, and the stream statistics after them.
inline constexpr int kOsdFull = 0;
inline constexpr int kOsdTitle = 1;
inline constexpr int kOsdOff = 2;
inline constexpr int kOsdStatistics = 3;
inline constexpr int kOsdModeCount = 4;

// COLORREF values (0x00BBGGRR) of the label lines.
inline constexpr std::uint32_t kColourGreen = 0x00FF00;
inline constexpr std::uint32_t kColourCyan = 0xFFFF00;

struct ChannelView {
    mutable std::mutex lock;
    // The newest picture; null until a stream's first picture. Readers copy the reference
    // under the lock and may then read the planes without it: a picture is never written
    // once it is here. With `doubleLines` (an interlaced 480- or 576-line picture of a
    // channel that is not deinterlaced) every even row is shown twice; the renderers do it
    // as they scale.
    platform::PictureRef frame;
    bool doubleLines = false;
    int width = 360;
    int height = 240;
    // The mode the last picture was shown in, which line 2 names with the frame rate; Idle
    // until the first picture (no labels).
    ViewMode labelMode = ViewMode::Idle;
    // The camera title of the last picture shown, as the recorder gave it; line 1 is it
    // fitted to the pane.
    std::string title;
    std::uint32_t decodedCount = 0;  // pictures since the last frame-rate tick
    int frameRate = 0;
    std::int64_t clock = 0;  // seconds since 1970 of the last picture (recorder time)
    // The last picture shown: its frame time in milliseconds (recorder time), and how many
    // pictures were shown since the decoders started.
    std::int64_t shownMillis = 0;
    std::uint64_t shown = 0;
    std::int64_t firstMillis = 0;  // the frame time of the first of them
    int audioIcon = -1;  // -1 none, 0 this channel is heard, 1 audio present elsewhere heard
    int integrity = -1;  // local playback: -1 unchecked, 0 no data, 1 intact, 2 tampered
    bool blocked = false;
    int paneWidth = 205;  // set by the layout; titles are fitted to it
    // The title fitted to the pane, kept by whoever makes the texts (under the lock, so also
    // through a const view): fitting measures text, so it is redone only when the title or
    // the pane width changed.
    mutable std::string fittedFrom;
    mutable int fittedWidth = -1;
    mutable std::string fitted;
};

// Called on a decoder thread, under the channel's lock, after a new picture was stored.
// Implementations only ask for a repaint of that pane; they never paint from here.
class IPictureListener {
  public:
    virtual ~IPictureListener() = default;
    virtual void OnPicture(int channel) = 0;
};

// The picture packed into one buffer the way snapshots and the command-line client store
// it: planar Y, U, V top-down, or blue, green, red rows bottom-up; with `doubleLines` each
// pair of rows shows one of them twice, as the screen does (the upper row of planar
// pictures, the lower row of RGB ones). Returns the bytes written,
// 0 when the picture is empty or larger than `capacity`. Any thread holding a reference.
std::size_t PackPicture(const platform::DecodedPicture& picture, bool doubleLines,
                        std::uint8_t* out, std::size_t capacity);

class CChannelViews {
  public:
    CChannelViews();

    ChannelView& Channel(int channel) { return m_views[Index(channel)]; }
    const ChannelView& Channel(int channel) const { return m_views[Index(channel)]; }

    void SetListener(IPictureListener* listener) { m_listener.store(listener); }
    IPictureListener* Listener() const { return m_listener.load(); }

    void SetViewMode(ViewMode mode) { m_viewMode.store(static_cast<int>(mode)); }
    [[nodiscard]] ViewMode Mode() const { return static_cast<ViewMode>(m_viewMode.load()); }
    // 0 full, 1 title only, 2 off, 3 statistics (kOsdStatistics).
    void SetOsdMode(int mode) { m_osdMode.store(mode); }
    [[nodiscard]] int OsdMode() const { return m_osdMode.load(); }

    // The channels the recorder offers; true when the mask changed.
    bool SetAvailableMask(protocol::ChannelMask mask);
    [[nodiscard]] protocol::ChannelMask AvailableMask() const { return m_available.load(); }
    [[nodiscard]] protocol::ChannelMask HasPictureMask() const { return m_hasPicture.load(); }
    [[nodiscard]] protocol::ChannelMask HasDecodedMask() const { return m_hasDecoded.load(); }
    void MarkPicture(int channel);
    // Layout and channel selections forget which panes had a picture.
    void ClearHasPicture() { m_hasPicture.store(0); }
    // Live view or playback starting forgets which channels ever decoded, and the
    // pictures shown so far.
    void ClearHasDecoded();

    // The frame-rate timer: every channel's rate becomes its pictures per second over the
    // time since the last tick, and its counter starts again. Returns the channels whose
    // line 2 changed with it (their panes are to be painted again), so a paused pane's rate
    // falls to 0 without a new picture.
    protocol::ChannelMask TickFrameRate(std::int64_t elapsedMs);

    // Width in pixels of a text in the OSD font. The headless default counts every
    // character as the label character width; the window replaces it with real metrics.
    void SetTextWidth(std::function<int(std::string_view)> widthOf);
    [[nodiscard]] int TextWidth(std::string_view text) const;
    // The label character width derived from the OSD font's height (-17 for "Arial" 13).
    [[nodiscard]] static int LabelCharWidth(int fontHeight = -17);

    // The title cut until it fits the pane width less 95 pixels, with "..." when cut.
    [[nodiscard]] std::string FitTitle(std::string_view title, int paneWidth) const;

  private:
    static std::size_t Index(int channel) {
        return (channel >= 0 && channel < protocol::kMaxChannels)
                   ? static_cast<std::size_t>(channel)
                   : 0;
    }

    std::array<ChannelView, protocol::kMaxChannels> m_views;
    std::atomic<IPictureListener*> m_listener{nullptr};
    std::atomic<int> m_viewMode{0};
    std::atomic<int> m_osdMode{0};
    std::atomic<protocol::ChannelMask> m_available{0};
    std::atomic<protocol::ChannelMask> m_hasPicture{0};
    std::atomic<protocol::ChannelMask> m_hasDecoded{0};
    mutable std::mutex m_textLock;
    std::function<int(std::string_view)> m_textWidth;
};

}  // namespace taviro::video
