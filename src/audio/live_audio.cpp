#include "audio/live_audio.h"

#include <chrono>
#include <thread>

#include "platform/trace.h"

namespace taviro::audio {

void CLiveAudio::Start(int audioBuf, platform::ISoundOut* device, int heard) {
    Stop();
    // The shared state only (the selection's own caches are the window thread's, and they
    // notice the cleared mask). Set before the slot is attached: no element is heard on
    // another channel first.
    m_state.SetSelectedAudioChannel(heard);
    m_state.SetLastAudioMask(0);
    if (device == nullptr) {
        // Started all the same: a later live start keeps the heard channel.
        m_bRunning = true;
        return;
    }
    auto queue = std::make_shared<stream::CAudioQueue>();
    // Remote playback's blocks wait for their pictures; the pacing is looked up per block,
    // as playback may start and end while the thread runs.
    stream::CStreamState& state = m_state;
    m_thread = std::make_unique<CAudioThread>(
        queue, *device, audioBuf,
        [&state](const stream::HeardBlock& block, const std::atomic<bool>& stop) {
            stream::IPlayPacing* pacing = state.PlayPacing();
            return pacing == nullptr ||
                   pacing->BeforeHear(block.paceTicket, block.seconds, block.microseconds, stop);
        });
    m_slots.AttachAudio(std::move(queue));
    m_bRunning = true;
}

void CLiveAudio::Stop() {
    if (!m_thread) {
        m_bRunning = false;
        return;
    }
    platform::Trace("StopAudioThread...\n");
    // Out of the slot first, so the receive thread queues nothing more for a thread that is
    // about to end.
    m_slots.DetachAudio();
    m_thread->Stop();
    m_thread.reset();
    m_bRunning = false;
}

void CLiveAudio::DrainAndStop() {
    if (const auto queue = m_slots.Audio()) {
        // Let the audio thread take what arrived, but never wait long for it.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (queue->Count() > 2 && std::chrono::steady_clock::now() < limit && m_thread &&
               m_thread->Running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    Stop();
}

}  // namespace taviro::audio
