// The audio side of one connection's live view: the heard channel ("SelAudio", the
// re-checks, the icons) and the audio output thread on consumer slot 16, started with live
// view when a sound device exists and stopped, drained first, when live view stops.
//
// Threads: Start, Stop and DrainAndStop on one thread at a time (the connection's worker);
// Selection() on the window thread (see CAudioSelection); Running() from any thread. The
// stream state, the slots and the device are the owner's and outlive this object.
#pragma once

#include <atomic>
#include <memory>

#include "audio/audio_selection.h"
#include "audio/audio_thread.h"
#include "platform/sound_device.h"
#include "stream/consumer_slots.h"
#include "stream/stream_state.h"

namespace taviro::audio {

class CLiveAudio {
  public:
    CLiveAudio(stream::CStreamState& state, stream::CConsumerSlots& consumerSlots)
        : m_state(state), m_slots(consumerSlots), m_selection(state) {}
    ~CLiveAudio() { Stop(); }
    CLiveAudio(const CLiveAudio&) = delete;
    CLiveAudio& operator=(const CLiveAudio&) = delete;

    // Live view starting: stops any running output, sets the heard channel to `heard`
    // (-1: none yet, the first element's lowest channel is taken), then, when `device` is
    // given, starts the audio thread with chunks of 4 x audioBuf + 32 blocks written to
    // `device`. No device: no audio thread.
    void Start(int audioBuf, platform::ISoundOut* device, int heard = -1);
    // Stops the audio thread now and empties slot 16.
    void Stop();
    // Lets the thread take what has arrived (at most 1 s), then stops it.
    void DrainAndStop();

    CAudioSelection& Selection() { return m_selection; }
    // Started and not stopped since (with an audio thread or, without a device, none).
    [[nodiscard]] bool Running() const { return m_bRunning.load(); }
    // The running audio thread, or null (the owner's thread only).
    CAudioThread* Thread() { return m_thread.get(); }

  private:
    stream::CStreamState& m_state;
    stream::CConsumerSlots& m_slots;
    CAudioSelection m_selection;
    std::unique_ptr<CAudioThread> m_thread;
    std::atomic<bool> m_bRunning{false};
};

}  // namespace taviro::audio
