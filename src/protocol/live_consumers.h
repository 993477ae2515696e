// The consumers of the live stream that the connection's owner keeps: the audio output and
// the channel decoders. The live service tells them when live view starts and is paused,
// and drives them in the live-stop order (audio drained and stopped first, then every
// channel decoder drained, stopped and destroyed).
//
// Threads: LiveStarting on the receive thread (after the login) or the thread that asks
// for live view; it must not wait. The others on the thread that stops live view (the
// connection's worker), where waiting is allowed.
#pragma once

namespace taviro::protocol {

class ILiveConsumers {
  public:
    virtual ~ILiveConsumers() = default;
    // The live request goes out: decoders and the audio output are to be ready.
    virtual void LiveStarting() = 0;
    // The live view is paused (frames are dropped) or resumes.
    virtual void SetFrozen(bool frozen) = 0;
    // Waits until the audio queue holds at most 2 blocks, then stops the audio output.
    virtual void DrainAndStopAudio() = 0;
    // For each channel decoder: waits until its queue holds at most 2 frames, stops it and
    // destroys it.
    virtual void DrainAndStopDecoders() = 0;
};

}  // namespace taviro::protocol
