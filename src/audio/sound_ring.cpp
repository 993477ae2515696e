#include "audio/sound_ring.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace taviro::audio {

namespace {

// The remote variant's forced restarts run on one schedule per process: the first period
// counts from the first remote ring, and every forced restart starts the next period.
std::atomic<std::int64_t> g_lastForcedMs{-1};

std::chrono::milliseconds SteadyNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

CSoundRing::CSoundRing(platform::ISoundPlayer* player, Options options)
    : m_player(player), m_options(std::move(options)) {
    if (m_options.remotePlayback) {
        StartForcedPeriod();
    }
}

void CSoundRing::StartForcedPeriod() {
    if (m_options.clock) {
        // A scripted clock has its own time line: the period counts from here.
        m_lastForced = Now();
    } else {
        std::int64_t expected = -1;
        g_lastForcedMs.compare_exchange_strong(expected, Now().count());
        m_lastForced = std::chrono::milliseconds(g_lastForcedMs.load());
    }
}

CSoundRing::~CSoundRing() {
    Stop();
}

std::chrono::milliseconds CSoundRing::Now() const {
    return m_options.clock ? m_options.clock() : SteadyNow();
}

bool CSoundRing::Open(const platform::SoundFormat& format, std::size_t chunkBytes) {
    Stop();
    const auto frame = static_cast<std::size_t>(format.BytesPerFrame());
    if (!format.Valid() || chunkBytes == 0 || chunkBytes % frame != 0 ||
        m_options.writeLead >= chunkBytes)
        return false;
    {
        std::lock_guard lock(m_lock);
        m_nBlock = chunkBytes;
        m_buffer.assign(kRingBlocks * chunkBytes, 0);
        m_nWrite = 0;
        m_nPlay = 0;
        m_nWriterLaps = 0;
        m_nPlayerLaps = 0;
        m_bRestartPending = true;
        m_bPlaying = false;
        m_bOpen = true;
    }
    if (m_player && !m_player->Start(format, *this)) {
        std::lock_guard lock(m_lock);
        m_bOpen = false;
        return false;
    }
    return true;
}

void CSoundRing::Stop() {
    if (m_player)
        m_player->Stop();  // no Read runs after this
    std::lock_guard lock(m_lock);
    m_bOpen = false;
    m_bPlaying = false;
}

void CSoundRing::SetVolume(double linear0to1) {
    if (m_player)
        m_player->SetVolume(linear0to1);
}

void CSoundRing::SetMuted(bool muted) {
    if (m_player)
        m_player->SetMuted(muted);
}

bool CSoundRing::Write(std::span<const std::uint8_t> pcm) {
    std::lock_guard lock(m_lock);
    if (!m_bOpen || pcm.size() != m_nBlock)
        return false;
    if (m_bRestartPending && m_options.remotePlayback) {
        std::fill(m_buffer.begin(), m_buffer.end(), std::uint8_t{0});
        m_nWrite = 0;
    }
    std::memcpy(m_buffer.data() + m_nWrite, pcm.data(), pcm.size());
    if (m_bRestartPending) {
        // Play from the block just written; after block 0 from block 15, one block of
        // older data (or silence) ahead of it.
        const std::size_t block = m_nWrite / m_nBlock;
        m_nPlay = (block == 0 ? kRingBlocks - 1 : block) * m_nBlock;
        m_bPlaying = true;
        m_bRestartPending = false;
        const auto frame = std::size_t{4};
        m_nDelay = static_cast<std::size_t>(static_cast<double>(m_nBlock) *
                                            std::clamp(m_options.restartDelayBlocks, 0.0, 1.0)) /
                   frame * frame;
    }
    m_nWrite += m_nBlock;
    if (m_nWrite == m_buffer.size()) {
        m_nWrite = 0;
        ++m_nWriterLaps;
    }
    return true;
}

void CSoundRing::Read(std::span<std::uint8_t> out) {
    std::lock_guard lock(m_lock);
    std::size_t at = 0;
    while (at < out.size()) {
        if (!m_bPlaying || m_buffer.empty()) {
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(), std::uint8_t{0});
            m_nSilent += out.size() - at;
            return;
        }
        if (m_nDelay > 0) {
            const std::size_t quiet = std::min(out.size() - at, m_nDelay);
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), quiet, std::uint8_t{0});
            m_nDelay -= quiet;
            m_nSilent += quiet;
            at += quiet;
            continue;
        }
        const std::size_t boundary = (m_nPlay / m_nBlock + 1) * m_nBlock;
        const std::size_t take = std::min(out.size() - at, boundary - m_nPlay);
        std::memcpy(out.data() + at, m_buffer.data() + m_nPlay, take);
        at += take;
        m_nPlay += take;
        if (m_nPlay == boundary) {
            const bool end = boundary == m_buffer.size();
            if (end) {
                // A buffer that does not loop stops at its end; the player's position reads 0.
                m_bPlaying = false;
                m_nPlay = 0;
            }
            OnBlockEnd(end);
        }
    }
}

void CSoundRing::MarkRestart() {
    m_bPlaying = false;
    m_nWriterLaps = 0;
    m_nPlayerLaps = 0;
    m_bRestartPending = true;
    m_nDelay = 0;
    ++m_nRestarts;
}

void CSoundRing::OnBlockEnd(bool bufferEnd) {
    if (m_bRestartPending)
        return;
    const std::size_t size = m_buffer.size();
    const std::size_t end = m_nWrite == 0 ? (kRingBlocks - 1) * m_nBlock : m_nWrite;  // E
    const std::size_t newest = (size - m_nBlock + m_nWrite) % size;                   // S
    const std::size_t play = m_nPlay;
    const std::size_t write = (m_nPlay + m_options.writeLead) % size;
    const std::int64_t p = m_nPlayerLaps;
    if (m_options.remotePlayback) {
        const std::chrono::milliseconds now = Now();
        if (now - m_lastForced > kForcedRestartPeriod) {
            m_lastForced = now;
            if (!m_options.clock)
                g_lastForcedMs.store(now.count());
            ++m_nForced;
            MarkRestart();
            return;
        }
        const std::int64_t w = m_nWriterLaps + 1;
        if (p > w || w - p > 1 || (p == w && write > end)) {
            MarkRestart();
            return;
        }
    } else {
        const std::int64_t w = m_nWriterLaps;
        if (p > w || w - p > 1 || (p == w && write > end) || newest > play) {
            MarkRestart();
            return;
        }
    }
    if (bufferEnd) {
        ++m_nPlayerLaps;
        m_nPlay = 0;
        m_bPlaying = true;
    }
}

void CSoundRing::StopAndClear() {
    std::lock_guard lock(m_lock);
    m_bPlaying = false;
    m_nPlay = 0;
    std::fill(m_buffer.begin(), m_buffer.end(), std::uint8_t{0});
    m_nWrite = 0;
    m_nWriterLaps = 0;
    m_nPlayerLaps = 0;
    m_bRestartPending = true;
}

void CSoundRing::SetRemotePlayback(bool on) {
    {
        std::lock_guard lock(m_lock);
        if (m_options.remotePlayback == on) {
            return;
        }
        m_options.remotePlayback = on;
        if (on) {
            StartForcedPeriod();  // the first forced restart is a period away, not at once
        }
    }
    StopAndClear();
}

CSoundRing::Snapshot CSoundRing::State() const {
    std::lock_guard lock(m_lock);
    Snapshot s;
    s.blockBytes = m_nBlock;
    s.writeOffset = m_nWrite;
    s.playCursor = m_nPlay;
    s.writerLaps = m_nWriterLaps;
    s.playerLaps = m_nPlayerLaps;
    s.restartPending = m_bRestartPending;
    s.playing = m_bPlaying;
    s.restarts = m_nRestarts;
    s.forcedRestarts = m_nForced;
    s.silentBytes = m_nSilent;
    return s;
}

}  // namespace taviro::audio
