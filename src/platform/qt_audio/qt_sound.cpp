#include "platform/qt_audio/qt_sound.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <vector>

namespace taviro::platform {

namespace {

QAudioFormat ToQt(const SoundFormat& format) {
    QAudioFormat f;
    f.setSampleRate(format.framesPerSecond);
    f.setChannelCount(format.channels);
    f.setSampleFormat(QAudioFormat::Int16);
    return f;
}

// The sink's pull end. Sound servers take data in bursts (hundreds of milliseconds at a
// time), but the source must be read at the pace the sound is heard: a ring's cursors and
// restart checks are about where the listener is. So a 10 ms timer reads the source at the
// nominal rate into a FIFO, and the sink's reads are served from the FIFO, which starts with
// kPrefill of silence to cover the bursts.
class CPacedDevice final : public QIODevice {
  public:
    static constexpr std::chrono::milliseconds kPrefill{500};

    CPacedDevice(IPcmSource& source, const SoundFormat& format)
        : m_source(source),
          m_frameBytes(static_cast<std::size_t>(format.BytesPerFrame())),
          m_bytesPerSecond(static_cast<std::int64_t>(format.BytesPerSecond())) {
        m_fifo.assign(Align(static_cast<std::size_t>(m_bytesPerSecond * kPrefill.count() / 1000)),
                      0);
        m_start = std::chrono::steady_clock::now();
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Feed(); });
        m_timer.start(10);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return static_cast<qint64>(m_fifo.size()) + QIODevice::bytesAvailable();
    }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        Feed();
        const std::size_t want = Align(static_cast<std::size_t>(std::max<qint64>(maxSize, 0)));
        const std::size_t n = std::min(want, m_fifo.size());
        std::copy_n(m_fifo.begin(), n, reinterpret_cast<std::uint8_t*>(data));
        m_fifo.erase(m_fifo.begin(), m_fifo.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<qint64>(n);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    std::size_t Align(std::size_t bytes) const { return bytes - bytes % m_frameBytes; }
    void Feed() {
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - m_start)
                                 .count();
        const auto due = Align(static_cast<std::size_t>(elapsed * m_bytesPerSecond / 1'000'000));
        if (due <= m_produced)
            return;
        const std::size_t n = due - m_produced;
        const std::size_t at = m_fifo.size();
        m_fifo.resize(at + n);
        m_source.Read(std::span(m_fifo.data() + at, n));
        m_produced = due;
        if (at + n > 0)
            emit readyRead();
    }

    IPcmSource& m_source;
    std::size_t m_frameBytes;
    std::int64_t m_bytesPerSecond;
    std::vector<std::uint8_t> m_fifo;
    std::size_t m_produced = 0;
    std::chrono::steady_clock::time_point m_start;
    QTimer m_timer;
};

// Runs a call on `object`'s thread and waits for it.
template <typename F>
void RunOn(QObject* object, F&& f) {
    QMetaObject::invokeMethod(object, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

}  // namespace

bool SoundOutputPresent() {
    return !QMediaDevices::audioOutputs().isEmpty();
}

bool SoundInputPresent() {
    return !QMediaDevices::audioInputs().isEmpty();
}

struct CQtSoundOut::Worker : QObject {
    std::unique_ptr<CPacedDevice> device;
    std::unique_ptr<QAudioSink> sink;

    bool Open(const SoundFormat& format, IPcmSource& source) {
        const QAudioDevice out = QMediaDevices::defaultAudioOutput();
        if (out.isNull())
            return false;
        device = std::make_unique<CPacedDevice>(source, format);
        device->open(QIODevice::ReadOnly);
        sink = std::make_unique<QAudioSink>(out, ToQt(format));
        // Ask for 100 ms in the sink; the server may take more, the FIFO covers that.
        sink->setBufferSize(format.BytesPerSecond() / 10);
        sink->start(device.get());
        return sink->error() == QAudio::NoError;
    }
    void Close() {
        if (sink)
            sink->stop();
        sink.reset();
        device.reset();
    }
};

CQtSoundOut::CQtSoundOut() = default;

CQtSoundOut::~CQtSoundOut() {
    Stop();
}

bool CQtSoundOut::Start(const SoundFormat& format, IPcmSource& source) {
    Stop();
    if (!format.Valid())
        return false;
    m_thread = std::make_unique<QThread>();
    m_worker = std::make_unique<Worker>();
    m_worker->moveToThread(m_thread.get());
    m_thread->start();
    bool ok = false;
    RunOn(m_worker.get(), [this, &ok, format, &source] { ok = m_worker->Open(format, source); });
    if (!ok) {
        Stop();
        return false;
    }
    Apply();
    return true;
}

void CQtSoundOut::SetVolume(double linear0to1) {
    m_volume.store(std::clamp(linear0to1, 0.0, 1.0));
    Apply();
}

void CQtSoundOut::SetMuted(bool muted) {
    m_bMuted.store(muted);
    Apply();
}

void CQtSoundOut::Apply() {
    if (!m_worker)
        return;
    RunOn(m_worker.get(), [this] {
        if (m_worker->sink)
            m_worker->sink->setVolume(m_bMuted.load() ? 0.0 : m_volume.load());
    });
}

void CQtSoundOut::Stop() {
    if (!m_thread)
        return;
    RunOn(m_worker.get(), [this] { m_worker->Close(); });
    m_thread->quit();
    m_thread->wait();
    m_worker.reset();
    m_thread.reset();
}

struct CQtSoundIn::Worker : QObject {
    std::unique_ptr<QAudioSource> source;
    QIODevice* io = nullptr;  // owned by `source`
    std::vector<std::uint8_t> pending;
    std::size_t bufferBytes = 0;
    Buffer onBuffer;

    bool Open(const SoundFormat& format, std::size_t framesPerBuffer, Buffer callback) {
        const QAudioDevice in = QMediaDevices::defaultAudioInput();
        if (in.isNull())
            return false;
        onBuffer = std::move(callback);
        bufferBytes = framesPerBuffer * static_cast<std::size_t>(format.BytesPerFrame());
        source = std::make_unique<QAudioSource>(in, ToQt(format));
        source->setBufferSize(static_cast<qsizetype>(bufferBytes * 2));
        io = source->start();
        if (!io)
            return false;
        QObject::connect(io, &QIODevice::readyRead, this, [this] { Drain(); });
        return true;
    }
    void Drain() {
        const QByteArray bytes = io->readAll();
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        std::size_t at = 0;
        while (pending.size() - at >= bufferBytes) {
            onBuffer(std::span<const std::uint8_t>(pending.data() + at, bufferBytes));
            at += bufferBytes;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void Close() {
        if (source)
            source->stop();
        source.reset();
        io = nullptr;
        pending.clear();
    }
};

CQtSoundIn::CQtSoundIn() = default;

CQtSoundIn::~CQtSoundIn() {
    Stop();
}

bool CQtSoundIn::Start(const SoundFormat& format, std::size_t framesPerBuffer, Buffer onBuffer) {
    Stop();
    if (!format.Valid() || framesPerBuffer == 0 || !onBuffer)
        return false;
    m_thread = std::make_unique<QThread>();
    m_worker = std::make_unique<Worker>();
    m_worker->moveToThread(m_thread.get());
    m_thread->start();
    bool ok = false;
    RunOn(m_worker.get(), [this, &ok, format, framesPerBuffer, cb = std::move(onBuffer)]() mutable {
        ok = m_worker->Open(format, framesPerBuffer, std::move(cb));
    });
    if (!ok) {
        Stop();
        return false;
    }
    return true;
}

void CQtSoundIn::Stop() {
    if (!m_thread)
        return;
    RunOn(m_worker.get(), [this] { m_worker->Close(); });
    m_thread->quit();
    m_thread->wait();
    m_worker.reset();
    m_thread.reset();
}

}  // namespace taviro::platform
