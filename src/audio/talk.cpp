#include "audio/talk.h"

#include <algorithm>
#include <array>
#include <optional>

#include "platform/trace.h"
#include "protocol/session_messages.h"

namespace taviro::audio {

using platform::Trace;

namespace {

// How long the send thread waits for room on the socket before it looks at its stop flag
// again, while the recorder is not reading.
constexpr std::chrono::milliseconds kSendableSlice{50};

}  // namespace

platform::SoundFormat TalkCaptureFormat() {
    platform::SoundFormat format;
    format.channels = 2;
    format.framesPerSecond = 8000;
    format.bitsPerSample = 16;
    return format;
}

// --- CAudioMikeThread --------------------------------------------------------------------

CAudioMikeThread::CAudioMikeThread(protocol::CRecorderSession& transport,
                                   platform::ISoundIn* capture)
    : m_session(transport), m_pCapture(capture) {
    m_pending.reserve(kTalkBufferBytes);
    if (m_pCapture != nullptr) {
        const bool started =
            m_pCapture->Start(TalkCaptureFormat(), kTalkFramesPerBuffer,
                              [this](std::span<const std::uint8_t> pcm) { OnCapture(pcm); });
        m_bCapturing = started;
        if (!started) {
            Trace("SoundIn...start failed...capture off\n");
        }
    }
    m_sendThread = std::thread(&CAudioMikeThread::Thread_Send, this);
}

void CAudioMikeThread::Stop() {
    if (m_bStopped.exchange(true)) {
        return;
    }
    {
        std::lock_guard lock(m_wakeLock);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_sendThread.joinable()) {
        m_sendThread.join();
    }
    // The device goes after the sender: buffers captured meanwhile only join the list that
    // is freed next.
    if (m_pCapture != nullptr && m_bCapturing.exchange(false)) {
        m_pCapture->Stop();
    }
    {
        std::lock_guard lock(m_listLock);
        m_list.clear();
    }
    Trace("Destroy...CAudioMikeThread\n");
}

std::size_t CAudioMikeThread::Queued() const {
    std::lock_guard lock(m_listLock);
    return m_list.size();
}

std::vector<std::uint64_t> CAudioMikeThread::QueuedBuffers() const {
    std::lock_guard lock(m_listLock);
    std::vector<std::uint64_t> numbers;
    numbers.reserve(m_list.size());
    for (const Entry& e : m_list) {
        numbers.push_back(e.number);
    }
    return numbers;
}

TalkStats CAudioMikeThread::Stats() const {
    TalkStats stats;
    stats.captured = m_nCaptured.load();
    stats.sent = m_nSent.load();
    stats.sendFailed = m_nSendFailed.load();
    stats.capturing = m_bCapturing.load();
    std::lock_guard lock(m_listLock);
    stats.dropped = m_nDropped;
    return stats;
}

void CAudioMikeThread::OnCapture(std::span<const std::uint8_t> pcm) {
    // Devices are asked for 8,192-byte buffers; one that delivers other sizes is collected
    // into whole buffers, so every message carries exactly one buffer's codes.
    std::lock_guard lock(m_encodeLock);
    std::size_t offset = 0;
    while (offset < pcm.size()) {
        const std::size_t take = std::min(kTalkBufferBytes - m_pending.size(), pcm.size() - offset);
        m_pending.insert(m_pending.end(), pcm.begin() + static_cast<std::ptrdiff_t>(offset),
                         pcm.begin() + static_cast<std::ptrdiff_t>(offset + take));
        offset += take;
        if (m_pending.size() == kTalkBufferBytes) {
            EncodeBuffer();
        }
    }
}

void CAudioMikeThread::EncodeBuffer() {
    std::array<std::int16_t, kTalkSamplesPerBuffer> samples{};
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<unsigned>(m_pending[2 * i]);
        const auto hi = static_cast<unsigned>(m_pending[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    m_pending.clear();
    Entry entry;
    entry.number = m_nNextNumber++;
    entry.bytes.resize(kTalkPayloadBytes);
    m_encoder.Encode(samples, entry.bytes);
    m_nCaptured.fetch_add(1);
    Append(std::move(entry));
}

void CAudioMikeThread::Append(Entry entry) {
    std::lock_guard lock(m_listLock);
    if (m_list.size() >= kMaxTalkQueue) {
        // The network does not keep up: the oldest sound is the least worth sending.
        m_list.pop_front();
        ++m_nDropped;
    }
    m_list.push_back(std::move(entry));
}

void CAudioMikeThread::Thread_Send() {
    while (!m_bStop.load()) {
        bool waiting = false;
        {
            std::lock_guard lock(m_listLock);
            waiting = !m_list.empty();
        }
        if (waiting) {
            // A recorder that stops reading must not hold this thread inside a send, or
            // stopping would wait for the send limit: only send when the socket has room.
            if (!m_session.WaitSendable(kSendableSlice)) {
                continue;
            }
            std::optional<Entry> head;
            {
                std::lock_guard lock(m_listLock);
                if (!m_list.empty()) {
                    head = std::move(m_list.front());
                    m_list.pop_front();
                }
            }
            if (head) {
                if (m_session.SendNow(protocol::msg::A_LISTEN_DATA, head->bytes, true)) {
                    m_nSent.fetch_add(1);
                } else {
                    m_nSendFailed.fetch_add(1);
                }
            }
        }
        std::unique_lock lock(m_wakeLock);
        m_wake.wait_for(lock, kTalkSendInterval, [this] { return m_bStop.load(); });
    }
    Trace("AudioMikeThread end...\n");
}

// --- CTalkButton -------------------------------------------------------------------------

CTalkButton::CTalkButton(platform::IMessageSink& owner, Clock clock)
    : m_owner(owner), m_clock(std::move(clock)) {
    if (!m_clock) {
        m_clock = [] { return std::chrono::steady_clock::now(); };
    }
}

CTalkButton::~CTalkButton() {
    DestroyTalk();
}

MikePress CTalkButton::Press(protocol::CClientSession* session, bool soundOutputPresent) {
    if (session == nullptr || !session->Login().HelloAccepted()) {
        return MikePress::Ignored;
    }
    if (session->Login().Hello().account != 0) {
        m_owner.Notify(15, 0);
        return MikePress::NotAllowed;
    }
    if (Talking()) {
        StopTalking(session);
        return MikePress::Stopped;
    }
    if (!soundOutputPresent) {
        return MikePress::NoOutputDevice;
    }
    const auto now = m_clock();
    if (m_bRequested && now - m_lastRequest < kTalkRequestGuard) {
        return MikePress::TooSoon;
    }
    m_bRequested = true;
    m_lastRequest = now;
    session->Talk().RequestTalk();
    return MikePress::Requested;
}

bool CTalkButton::OnTalkStarted(protocol::CClientSession& session,
                                std::unique_ptr<platform::ISoundIn> capture) {
    if (m_talk) {
        return false;  // a repeated acknowledgement; the running talk goes on
    }
    m_capture = std::move(capture);
    m_talk = std::make_unique<CAudioMikeThread>(session.Transport(), m_capture.get());
    session.Talk().SetTalking(true);
    SetMikeLamp(true);
    return true;
}

void CTalkButton::OnTalkStopped(protocol::CClientSession* session) {
    DestroyTalk();
    if (session != nullptr) {
        session->Talk().SetTalking(false);
    }
    SetMikeLamp(false);
}

void CTalkButton::StopTalking(protocol::CClientSession* session) {
    if (m_talk && session != nullptr) {
        session->Talk().StopTalkRequest();
    }
    OnTalkStopped(session);
}

void CTalkButton::DestroyTalk() {
    if (m_talk) {
        m_talk->Stop();
        m_lastStats = m_talk->Stats();
        m_talk.reset();
    }
    m_capture.reset();
}

void CTalkButton::SetMikeLamp(bool on) {
    m_owner.Post(platform::Window::Main, platform::WM_CONTROL_STATE, protocol::kCtlMike,
                 on ? platform::ControlState::kPressed : platform::ControlState::kReleased);
}

}  // namespace taviro::audio
