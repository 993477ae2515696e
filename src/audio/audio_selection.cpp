#include "audio/audio_selection.h"

namespace taviro::audio {

namespace {

bool InMask(protocol::ChannelMask mask, int channel) {
    return channel >= 0 && channel < protocol::kMaxChannels &&
           (mask >> static_cast<unsigned>(channel) & 1u) != 0;
}

}  // namespace

int NextAudioChannel(protocol::ChannelMask audio, protocol::ChannelMask shown, int current) {
    const protocol::ChannelMask both = audio & shown;
    const int start = (current >= 0 && current < protocol::kMaxChannels) ? current + 1 : 0;
    for (int i = 0; i < protocol::kMaxChannels; ++i) {
        const int channel = (start + i) % protocol::kMaxChannels;
        if (InMask(both, channel))
            return channel;
    }
    return -1;
}

int RecheckAudioChannel(protocol::ChannelMask audio, protocol::ChannelMask shown, int current) {
    if (InMask(audio & shown, current))
        return current;
    return NextAudioChannel(audio, shown, current);
}

std::optional<AudioIcon> AudioIconOf(int channel, protocol::ChannelMask audio, int selected) {
    if (audio == 0)
        return AudioIcon::kNone;
    if (!InMask(audio, channel))
        return std::nullopt;
    return channel == selected ? AudioIcon::kSelected : AudioIcon::kNotSelected;
}

int CAudioSelection::SelectNext(protocol::ChannelMask shown) {
    const int next =
        NextAudioChannel(m_state.LastAudioMask(), shown, m_state.SelectedAudioChannel());
    m_state.SetSelectedAudioChannel(next);
    m_checkedMask = m_state.LastAudioMask();
    m_checkedShown = shown;
    m_checkedSelected = next;
    return next;
}

int CAudioSelection::Recheck(protocol::ChannelMask shown) {
    const protocol::ChannelMask mask = m_state.LastAudioMask();
    const int selected = m_state.SelectedAudioChannel();
    if (m_checkedMask == mask && m_checkedShown == shown && m_checkedSelected == selected)
        return selected;
    m_checkedMask = mask;
    m_checkedShown = shown;
    const int kept = RecheckAudioChannel(mask, shown, selected);
    m_state.SetSelectedAudioChannel(kept);
    m_checkedSelected = kept;
    return kept;
}

bool CAudioSelection::SelectChannel(int channel) {
    if (!InMask(m_state.LastAudioMask(), channel))
        return false;
    m_state.SetSelectedAudioChannel(channel);
    m_checkedSelected.reset();  // the next check looks at it against the panes shown
    return true;
}

void CAudioSelection::Reset() {
    m_state.SetSelectedAudioChannel(-1);
    m_state.SetLastAudioMask(0);
    m_checkedMask.reset();
    m_checkedShown.reset();
    m_checkedSelected.reset();
}

}  // namespace taviro::audio
