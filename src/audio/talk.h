// Two-way audio: the operator's microphone, encoded and sent to the recorder while a talk
// session is open.
//
// CAudioMikeThread is the talk object. It starts the capture device (16-bit, 2 channels,
// 8,000 frames per second, 2,048-frame buffers of 8,192 bytes), encodes every captured
// buffer into 1,536 bytes of 3-bit G.726 codes and keeps them in an outgoing list of at most
// 200 entries (the oldest is dropped when the network cannot keep up). Its send thread sends
// the head of the list as one A_LISTEN_DATA message with lastFragment set, at most one every
// 100 ms. Three threads meet in it: the capture device's thread appends, the send thread
// takes, the owner's thread creates and destroys. The list has a lock; flags are atomic.
//
// CTalkButton is the "Mike" button's logic without the window (one thread: its owner's worker): the
// account check, the 2-second guard between talk requests, and the talk object's life from
// protocol::WM_TALK_STARTED to protocol::WM_TALK_STOPPED or the button. It owns the talk object and
// its capture device; both must go (OnTalkStopped) before the session they send on is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "audio/g726.h"
#include "platform/message_sink.h"
#include "platform/sound_device.h"
#include "protocol/client_session.h"

namespace taviro::audio {

inline constexpr std::size_t kTalkFramesPerBuffer = 2048;
inline constexpr std::size_t kTalkBufferBytes = kTalkFramesPerBuffer * 4;  // 16-bit stereo
inline constexpr std::size_t kTalkSamplesPerBuffer = kTalkBufferBytes / 2;
inline constexpr std::size_t kTalkPayloadBytes =
    kTalkSamplesPerBuffer / kCodesPerGroup * kBytesPerGroup;  // 1,536
inline constexpr std::size_t kMaxTalkQueue = 200;
inline constexpr std::chrono::milliseconds kTalkSendInterval{100};
// A new talk request is sent at most once in this time.
inline constexpr std::chrono::milliseconds kTalkRequestGuard{2000};

// The capture format the recorders expect.
platform::SoundFormat TalkCaptureFormat();

struct TalkStats {
    std::uint64_t captured = 0;    // whole 8,192-byte buffers encoded
    std::uint64_t sent = 0;        // A_LISTEN_DATA messages that went out
    std::uint64_t dropped = 0;     // encoded buffers dropped because the list was full
    std::uint64_t sendFailed = 0;  // messages the socket did not take
    bool capturing = false;
};

class CAudioMikeThread {
  public:
    // Starts capture on `capture` (which must outlive this object; null: no capture) and
    // the send thread. A device that does not start leaves the object without capture:
    // nothing is ever sent, the session is untouched.
    CAudioMikeThread(protocol::CRecorderSession& transport, platform::ISoundIn* capture);
    ~CAudioMikeThread() { Stop(); }
    CAudioMikeThread(const CAudioMikeThread&) = delete;
    CAudioMikeThread& operator=(const CAudioMikeThread&) = delete;

    // Stops the send thread (waiting for it; a stalled network holds it for at most one
    // bounded wait), then the capture device, then frees what is still queued. Idempotent;
    // the owner's thread.
    void Stop();

    [[nodiscard]] bool Capturing() const { return m_bCapturing.load(); }
    [[nodiscard]] std::size_t Queued() const;
    // The capture numbers (0 = first buffer captured) of the queued entries, oldest first.
    [[nodiscard]] std::vector<std::uint64_t> QueuedBuffers() const;
    [[nodiscard]] TalkStats Stats() const;

  private:
    struct Entry {
        std::uint64_t number = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Capture device thread: collects bytes into whole buffers and encodes each one.
    void OnCapture(std::span<const std::uint8_t> pcm);
    void EncodeBuffer();
    void Append(Entry entry);
    void Thread_Send();

    protocol::CRecorderSession& m_session;
    platform::ISoundIn* m_pCapture;

    std::mutex m_encodeLock;  // the encoder and the partial buffer (one device thread)
    CG726Encoder m_encoder;
    std::vector<std::uint8_t> m_pending;
    std::uint64_t m_nNextNumber = 0;

    mutable std::mutex m_listLock;  // the outgoing list and its counters
    std::deque<Entry> m_list;
    std::uint64_t m_nDropped = 0;

    std::mutex m_wakeLock;  // the send thread's pause and the stop flag's changes
    std::condition_variable m_wake;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bStopped{false};
    std::atomic<bool> m_bCapturing{false};
    std::atomic<std::uint64_t> m_nCaptured{0};
    std::atomic<std::uint64_t> m_nSent{0};
    std::atomic<std::uint64_t> m_nSendFailed{0};
    std::thread m_sendThread;
};

// What a press of "Mike" did.
enum class MikePress {
    Ignored,         // no session, or its login answer not accepted yet
    NotAllowed,      // the account may not talk: (15, 0) posted
    Stopped,         // talking: stopped
    Requested,       // A_LISTEN_REQ sent
    TooSoon,         // within 2 seconds of the last request: nothing sent
    NoOutputDevice,  // no sound output device: nothing sent
};

class CTalkButton {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `clock` defaults to the steady clock; tests inject their own.
    explicit CTalkButton(platform::IMessageSink& owner, Clock clock = {});
    // Destroys a talk object still running (without a request: the session's own shutdown
    // sends the stop when talk is the service that runs).
    ~CTalkButton();
    CTalkButton(const CTalkButton&) = delete;
    CTalkButton& operator=(const CTalkButton&) = delete;

    // The "Mike" button (control 376).
    MikePress Press(protocol::CClientSession* session, bool soundOutputPresent);
    // protocol::WM_TALK_STARTED: creates the talk object on `session` with `capture`, sets the
    // session's talk flag and lights "Mike". False (nothing changes) when one runs already.
    bool OnTalkStarted(protocol::CClientSession& session,
                       std::unique_ptr<platform::ISoundIn> capture);
    // protocol::WM_TALK_STOPPED, and before the session is destroyed (disconnect, quit): destroys
    // the talk object, clears the talk flag and unlights "Mike". Sends nothing.
    void OnTalkStopped(protocol::CClientSession* session);
    // Stop talking: A_LISTEN_STOP_REQ when a talk object exists, which is then destroyed;
    // in all cases the talk flag is cleared and "Mike" unlit.
    void StopTalking(protocol::CClientSession* session);
    // The connection is closing: the talk object and its device go (their threads joined),
    // while the talk flag stays for the shutdown, which sends the stop request itself.
    void ReleaseTalkObject() { DestroyTalk(); }

    [[nodiscard]] bool Talking() const { return m_talk != nullptr; }
    [[nodiscard]] const CAudioMikeThread* Talk() const { return m_talk.get(); }
    // What the last destroyed talk object had done.
    [[nodiscard]] TalkStats LastStats() const { return m_lastStats; }

  private:
    void DestroyTalk();
    void SetMikeLamp(bool on);

    platform::IMessageSink& m_owner;
    Clock m_clock;
    bool m_bRequested = false;
    std::chrono::steady_clock::time_point m_lastRequest{};
    TalkStats m_lastStats;
    // The device outlives the talk object that reads it: declared first, destroyed last.
    std::unique_ptr<platform::ISoundIn> m_capture;
    std::unique_ptr<CAudioMikeThread> m_talk;
};

}  // namespace taviro::audio
