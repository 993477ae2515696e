#include "stream/stream_state.h"

namespace taviro::stream {

void CStreamState::SetLiveFrozen(bool frozen) {
    if (m_bLiveFrozen.exchange(frozen) != frozen) {
        NewGeneration();
    }
}

int CStreamState::SelectAudioIfNone(int channel) {
    int expected = -1;
    if (m_nSelectedAudio.compare_exchange_strong(expected, channel)) {
        return channel;
    }
    return expected;
}

bool CStreamState::DropLiveFrame(int channel) const {
    if (!LiveOn()) {
        return false;
    }
    return protocol::HasChannel(VideoLossSet() | CovertChannels(), channel);
}

}  // namespace taviro::stream
