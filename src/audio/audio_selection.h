// Which channel is heard: the "SelAudio" button's cyclic choice among the channels whose
// audio the recorder sends and that the current page shows, the re-check whenever the audio
// mask or the layout changes, a channel button choosing its own channel, and the audio icon
// each channel view draws.
//
// Threads: the main window's thread. The selection itself lives in stream::CStreamState (the
// receive thread selects the lowest channel of an element's mask while none is selected),
// so every read and write here goes through its atomics.
#pragma once

#include <optional>

#include "protocol/channel_mask.h"
#include "stream/stream_state.h"

namespace taviro::audio {

// The audio icon of a channel view.
enum class AudioIcon {
    kNone = -1,        // no audio mask at all
    kSelected = 0,     // the channel's audio is sent and heard
    kNotSelected = 1,  // the channel's audio is sent, another channel is heard
};

// The next channel after `current` (cyclically; from channel 0 when `current` is -1) that is
// in both masks; -1 when none is. A lone qualifying channel is its own next.
int NextAudioChannel(protocol::ChannelMask audio, protocol::ChannelMask shown, int current);
// `current` when it is still in both masks, else NextAudioChannel.
int RecheckAudioChannel(protocol::ChannelMask audio, protocol::ChannelMask shown, int current);
// The icon of channel `channel` (nothing for a channel without sent audio).
std::optional<AudioIcon> AudioIconOf(int channel, protocol::ChannelMask audio, int selected);

class CAudioSelection {
  public:
    explicit CAudioSelection(stream::CStreamState& state) : m_state(state) {}

    // "SelAudio": advances the selection; returns it (-1 none).
    int SelectNext(protocol::ChannelMask shown);
    // The mask of the last audio element or the page changed (call it on either; it does
    // nothing while neither changed, nor the selection behind its back). Returns the
    // selection.
    int Recheck(protocol::ChannelMask shown);
    // A channel button: selects the channel when its audio is sent. True when it did.
    bool SelectChannel(int channel);
    // Audio starting: no selection, no mask.
    void Reset();

    [[nodiscard]] int Selected() const { return m_state.SelectedAudioChannel(); }
    [[nodiscard]] std::optional<AudioIcon> Icon(int channel) const {
        return AudioIconOf(channel, m_state.LastAudioMask(), m_state.SelectedAudioChannel());
    }

  private:
    stream::CStreamState& m_state;
    std::optional<protocol::ChannelMask> m_checkedMask;
    std::optional<protocol::ChannelMask> m_checkedShown;
    // The selection the last check left. Live audio starting again clears the selection and
    // the mask on the connection's worker; when the mask is back to what it was before the
    // next check, only the selection tells that the check has work to do.
    std::optional<int> m_checkedSelected;
};

}  // namespace taviro::audio
