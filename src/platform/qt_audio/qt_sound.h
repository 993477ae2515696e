// The sound devices of the desktop client on Qt Multimedia: QAudioSink / QAudioSource on the
// default devices (PulseAudio or PipeWire on Linux).
//
// Threads and ownership: the owner (main window, command, test) creates, starts, stops and
// destroys a device; each device runs its Qt objects in its own QThread with an event loop,
// so no caller ever touches a QAudioSink or QAudioSource directly. CQtSoundOut calls the
// source's Read on that thread; CQtSoundIn calls the buffer callback on its thread. Volume
// and mute act on our stream's sink only, never on the system master volume. A
// QCoreApplication must exist while a device is used.
#pragma once

#include <atomic>
#include <memory>

#include "platform/sound_device.h"

class QThread;
class QObject;

namespace taviro::platform {

// True when the system has at least one audio output device.
bool SoundOutputPresent();
// True when the system has at least one audio input device.
bool SoundInputPresent();

class CQtSoundOut final : public ISoundPlayer {
  public:
    CQtSoundOut();
    ~CQtSoundOut() override;
    CQtSoundOut(const CQtSoundOut&) = delete;
    CQtSoundOut& operator=(const CQtSoundOut&) = delete;

    bool Start(const SoundFormat& format, IPcmSource& source) override;
    void SetVolume(double linear0to1) override;
    void SetMuted(bool muted) override;
    void Stop() override;

    struct Worker;

  private:
    void Apply();
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<Worker> m_worker;  // lives in m_thread while it runs
    std::atomic<double> m_volume{1.0};
    std::atomic<bool> m_bMuted{false};
};

class CQtSoundIn final : public ISoundIn {
  public:
    CQtSoundIn();
    ~CQtSoundIn() override;
    CQtSoundIn(const CQtSoundIn&) = delete;
    CQtSoundIn& operator=(const CQtSoundIn&) = delete;

    bool Start(const SoundFormat& format, std::size_t framesPerBuffer, Buffer onBuffer) override;
    void Stop() override;

    struct Worker;

  private:
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<Worker> m_worker;
};

}  // namespace taviro::platform
