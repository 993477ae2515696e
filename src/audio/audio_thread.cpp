#include "audio/audio_thread.h"

#include <algorithm>
#include <cstring>

#include "platform/trace.h"

namespace taviro::audio {

namespace {

// How long an idle audio thread sleeps between looks at its stop flag; Stop() wakes it at
// once, so this only bounds a lost wake-up.
constexpr std::chrono::milliseconds kEventWait{2000};
constexpr std::chrono::milliseconds kAfterFirstChunk{100};

}  // namespace

std::size_t ChunkBlocks(int audioBuf) {
    return static_cast<std::size_t>(4 * std::clamp(audioBuf, 0, kMaxAudioBuf) + 32);
}

platform::SoundFormat RecorderSoundFormat() {
    return platform::SoundFormat{2, 8000, 16};
}

CAudioThread::CAudioThread(std::shared_ptr<stream::CAudioQueue> queue, platform::ISoundOut& device,
                           int audioBuf, HearGate gate)
    : m_queue(std::move(queue)),
      m_device(device),
      m_gate(std::move(gate)),
      m_nBlocks(ChunkBlocks(audioBuf)) {
    m_device.Open(RecorderSoundFormat(), m_nBlocks * kSamplesPerBlock * 2);
    m_bRunning.store(true);
    m_thread = std::thread([this] { Run(); });
}

CAudioThread::~CAudioThread() {
    Stop();
}

void CAudioThread::Stop() {
    m_bStop.store(true);
    if (m_queue)
        m_queue->Wake();
    if (m_thread.joinable()) {
        m_thread.join();
        m_device.Stop();
    }
}

void CAudioThread::Run() {
    const std::size_t collectBytes = stream::kAudioBlockSize * m_nBlocks;
    std::vector<std::uint8_t> collect(collectBytes);
    std::vector<std::int16_t> samples(kSamplesPerBlock * m_nBlocks);
    std::vector<std::uint8_t> pcm(samples.size() * 2);
    CG726Decoder decoder;
    std::size_t p = 0;
    bool first = true;
    platform::Trace("AudioThread...start...\n");
    while (!m_bStop.load()) {
        // Sleeps on the queue's event until a block comes or Stop() wakes it.
        auto taken = m_queue->Next(m_bStop, kEventWait, std::chrono::milliseconds(0));
        if (!taken)
            break;
        if (m_bMuted.load()) {
            m_nEntriesDropped.fetch_add(1);
            p = 0;
            m_queue->ResetEvent();
            continue;
        }
        // A chunk is written as soon as it is full, so it waits for the moment of its first
        // block only: the blocks after it have usually arrived already (the recorder sends
        // ahead of the screen), and the chunk then starts with its picture.
        if (p == 0 && taken->entry.paceTicket != 0 && m_gate && !m_gate(taken->entry, m_bStop)) {
            m_nEntriesDropped.fetch_add(1);
            m_queue->ResetEvent();
            continue;
        }
        std::memcpy(collect.data() + p, taken->entry.bytes.data(), stream::kAudioBlockSize);
        p += stream::kAudioBlockSize;
        if (p == collectBytes) {
            decoder.Decode(collect, samples);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                const auto v = static_cast<std::uint16_t>(samples[i]);
                pcm[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
                pcm[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            }
            if (m_device.Write(pcm))
                m_nChunks.fetch_add(1);
            else
                m_nDropped.fetch_add(1);
            if (first) {
                first = false;
                std::this_thread::sleep_for(kAfterFirstChunk);
            }
            const int counter = m_nChunkCounter.load() + 1;
            m_nChunkCounter.store(counter > 1000 ? 100 : counter);
            p = 0;
        }
        m_queue->ResetEvent();
    }
    m_bRunning.store(false);
}

}  // namespace taviro::audio
