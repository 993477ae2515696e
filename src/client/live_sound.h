// CLiveSoundController: live view's sound as the operator steers it. The heard channel
// follows the panes shown (the recorder's audio mask and the layout decide), its icon and the
// icons of the other channels with sound are put on the panes, the next channel with sound
// is picked on a press, and our own stream's volume and mute are set on the ring live audio
// plays into; the system's master volume is never touched.
//
// Of several recorders in one window, the attached one (the selected pane's) is heard and its
// panes carry the icons; the owner turns the others' sound off (CStreamState::SetAudioHeard).
//
// Threads: the owner's (window) thread. Ownership: the sound ring is this controller's and
// must outlive every connection that plays into it (the owner destroys the connections
// first); the device and every recorder's views are the owner's and outlive it.
// Attach(nullptr) comes before the connection goes.
#pragma once

#include <memory>

#include "audio/sound_ring.h"
#include "client/connection.h"
#include "video/channel_views.h"

namespace taviro::client {

class CLiveSoundController {
  public:
    // `device`: our own sound stream (null: no sound output, and no ring).
    CLiveSoundController(video::CChannelViews& views, platform::ISoundPlayer* device,
                         double volume);

    // What live audio plays into (null without a sound output).
    [[nodiscard]] platform::ISoundOut* Output() { return m_ring.get(); }
    // The recorder heard and `views`, its panes (null: the views given at construction).
    // The icons leave the panes of the recorder attached before.
    void Attach(CConnection* connection, video::CChannelViews* views = nullptr);
    [[nodiscard]] const CConnection* Heard() const { return m_connection; }

    // The heard channel checked against the channels shown; the panes' icons follow.
    void Recheck(protocol::ChannelMask shown);
    // A pane chosen to be heard (the grid's audio channel), then the check.
    void Select(int channel, protocol::ChannelMask shown);
    // The next channel with sound among those shown (button 368).
    void SelectNext(protocol::ChannelMask shown);
    // Button 366: mute or unmute our own output; returns whether it is muted now.
    bool ToggleMute();
    [[nodiscard]] bool Muted() const { return m_muted; }
    // The volume slider, 0..1.
    void SetVolume(double volume);

  private:
    video::CChannelViews& m_ownViews;
    video::CChannelViews* m_views;  // the attached recorder's
    std::unique_ptr<audio::CSoundRing> m_ring;
    CConnection* m_connection = nullptr;
    bool m_muted = false;
};

}  // namespace taviro::client
