// The consumers of the live stream that the main window owns: the audio output and the
// channel decoders. The session drives them in the live-stop order (audio drained and
// stopped first, then every channel decoder drained, stopped and destroyed) and tells them
// when the live view is paused. Called on the main window's thread only.
#pragma once

namespace taviro::protocol {

class ILiveConsumers {
  public:
    virtual ~ILiveConsumers() = default;
    // The live view is paused (frames are dropped) or resumes.
    virtual void SetFrozen(bool frozen) = 0;
    // Waits until the audio queue holds at most 2 blocks, then stops the audio output.
    virtual void DrainAndStopAudio() = 0;
    // For each channel decoder: waits until its queue holds at most 2 frames, stops it and
    // destroys it.
    virtual void DrainAndStopDecoders() = 0;
};

}  // namespace taviro::protocol
