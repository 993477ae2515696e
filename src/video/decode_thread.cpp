#include "video/decode_thread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/heap_tuning.h"

namespace taviro::video {

static_assert(stream::kQueuedTailPadding >= platform::kH264InputPadding);

namespace {

using namespace std::chrono_literals;

// Entries waiting, this one included, from which dependent frames are dropped until the
// next key frame (a count of more than 100 with the list's two placeholders).
constexpr std::size_t kBackPressureBacklog = 99;
// A decoder that keeps asking to be called again, or to be reset, must not hold the
// channel forever: after this many attempts the frame is given up.
constexpr int kMaxCallAgain = 64;
constexpr int kMaxResets = 2;
// An idle decoder thread sleeps on its queue's event; Stop() wakes it, so the wait only
// bounds how long a lost wake-up could hold it.
constexpr auto kIdleWait = 2s;

}  // namespace

CDecodeThread::CDecodeThread(int channel, std::shared_ptr<stream::CVideoQueue> queue,
                             CChannelViews& views, IDecodeEnvironment& environment,
                             platform::H264DecoderFactory decoders, std::uint32_t format,
                             platform::IMessageSink* sink, DecodeStats* stats)
    : m_channel(channel),
      m_queue(std::move(queue)),
      m_views(views),
      m_environment(environment),
      m_decoders(std::move(decoders)),
      m_format(format),
      m_sink(sink),
      m_pStats(stats ? stats : &m_ownStats) {}

CDecodeThread::~CDecodeThread() {
    Stop();
}

void CDecodeThread::Start() {
    if (m_thread.joinable() || !m_queue) {
        return;
    }
    m_bStop = false;
    m_running = true;
    m_thread = std::thread(&CDecodeThread::Thread_Decode, this);
}

void CDecodeThread::Stop() {
    m_bStop = true;
    if (m_queue) {
        m_queue->Wake();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CDecodeThread::Thread_Decode() {
    // The decoder is made with the first frame to decode: a channel no pane shows costs
    // a sleeping thread and nothing more.
    m_decoder.reset();
    m_decoderOpened = false;
    m_bSkip = true;
    m_bParamsSent = false;
    m_lastGeneration = 0;
    m_lastWidth = 352;
    m_lastHeight = 240;

    auto lastFrame = std::chrono::steady_clock::now();
    for (;;) {
        auto taken = m_queue->Next(
            m_bStop, std::min<std::chrono::milliseconds>(kIdleWait, m_liveIdle), 1ms, true);
        if (!taken) {
            if (m_bStop.load()) {
                break;
            }
            // Live view: a channel that got no frame for a while is on no pane shown (or
            // lost its video). Its decoder and picture pool (several megabytes) go, and the
            // next key frame opens one again. Playback keeps its decoder: a pause must not
            // cost the frames up to the next key frame.
            if (m_decoderOpened && m_views.Mode() == ViewMode::Live &&
                std::chrono::steady_clock::now() - lastFrame >= m_liveIdle) {
                CloseIdleDecoder();
            }
            platform::ReturnFreeHeapIfAsked();
            continue;
        }
        lastFrame = std::chrono::steady_clock::now();
        const std::uint16_t ticket = taken->entry.PaceTicket();
        ProcessEntry(std::move(*taken));
        if (ticket != 0) {
            m_environment.Handled(ticket);
        }
        ++m_pStats->taken;  // counted once handled, so a watcher sees the outcome with it
        m_queue->ResetEvent();
    }

    m_decoder.reset();
    {
        ChannelView& view = m_views.Channel(m_channel);
        std::lock_guard lock(view.lock);
        view.audioIcon = -1;
    }
    m_keyFrame = {};
    m_running = false;
}

void CDecodeThread::CloseIdleDecoder() {
    m_decoder.reset();
    m_decoderOpened = false;
    // The next stream starts at a key frame with parameter sets of its own.
    m_bParamsSent = false;
    m_bSkip = true;
    std::vector<std::uint8_t>().swap(m_keyFrame);
    // Its last picture (a megabyte in RGB) goes too: shown again after so long, it would
    // be a still of the past in live view. The pane is blank until the next key frame.
    platform::PictureRef old;
    {
        ChannelView& view = m_views.Channel(m_channel);
        std::lock_guard lock(view.lock);
        old = std::exchange(view.frame, nullptr);
    }
    old.reset();
    ++m_pStats->idleCloses;
    platform::ReturnFreeHeap();
}

void CDecodeThread::ProcessEntry(stream::CVideoQueue::Taken taken) {
    const stream::QueuedFrame& frame = taken.entry;
    const stream::FrameInfo info = frame.Info();
    const auto payload = frame.DecodeBytes();
    const ViewMode mode = m_views.Mode();
    const int width = info.width;
    const int height = info.height;
    auto drop = [&] { ++m_pStats->dropped; };

    // Drop rule: video loss and covert channels show no picture in live view.
    if (mode == ViewMode::Live && m_environment.LiveDropsChannel(m_channel)) {
        m_bParamsSent = false;
        drop();
        return;
    }
    // Clock of the channel: the frame time the recorder put in the header (live), or the
    // frame's own time (playback).
    const std::int64_t clock =
        mode == ViewMode::Live ? static_cast<std::int32_t>(frame.Header().Reserved2())
        : (mode == ViewMode::RemotePlayback || mode == ViewMode::LocalPlayback)
            ? info.seconds
            : m_environment.PlaybackTime(mode);
    {
        ChannelView& view = m_views.Channel(m_channel);
        std::lock_guard lock(view.lock);
        view.clock = clock;
    }

    std::span<const std::uint8_t> input;
    bool prefixed = false;
    bool padded = false;  // zeros follow the input: the decoder may read it in place
    // Stream change. A new size within one generation is handled like a new stream but
    // keeps the generation, so the frames after the next key frame are not thrown away too.
    if (static_cast<std::int64_t>(info.generation) != m_lastGeneration) {
        m_lastGeneration = info.generation;
        m_lastWidth = width;
        m_lastHeight = height;
        m_bParamsSent = false;
    } else if (width != m_lastWidth || height != m_lastHeight) {
        m_lastWidth = width;
        m_lastHeight = height;
        m_bParamsSent = false;
    }
    if (m_bParamsSent) {
        if (payload.size() > kPictureBufferSize) {
            drop();
            return;
        }
        input = payload;  // read in place: the entry stays ours until this function returns
        padded = frame.DecodeBytesPadded();
    } else {
        // Resynchronisation: only a key frame can start a stream.
        if (info.kind != 0) {
            m_bSkip = true;
            drop();
            return;
        }
        m_bSkip = false;
        const std::size_t prefix = WriteParameterSets(
            static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
            std::span<std::uint8_t, kParamSetBufferSize>(m_paramSets));
        if (prefix == 0 || prefix + payload.size() > kPictureBufferSize ||
            platform::PackedPictureBytes(width, height, m_format) > kPictureBufferSize) {
            drop();  // no decodable size, or a picture larger than any buffer holds
            return;
        }
        m_keyFrame.assign(m_paramSets.begin(),
                          m_paramSets.begin() + static_cast<std::ptrdiff_t>(prefix));
        m_keyFrame.insert(m_keyFrame.end(), payload.begin(), payload.end());
        const std::size_t joined = m_keyFrame.size();
        m_keyFrame.resize(joined + platform::kH264InputPadding, 0);
        input = std::span<const std::uint8_t>(m_keyFrame).first(joined);
        padded = true;
        m_bParamsSent = true;
        prefixed = true;
    }
    if (prefixed) {
        ChannelView& view = m_views.Channel(m_channel);
        std::lock_guard lock(view.lock);
        view.width = width;
        view.height = height;
    }
    // A new stream whose first picture is not shown leaves a cleared picture of the new size
    // in the pane, nothing of the old stream. (Shown, the picture replaces the old one
    // anyway, so the clearing is only done when it is needed.)
    const auto clearPane = [&] {
        if (!prefixed) {
            return;
        }
        platform::PictureRef old;
        platform::PictureRef cleared =
            std::make_shared<platform::CPackedPicture>(width, height, m_format);
        ChannelView& view = m_views.Channel(m_channel);
        std::lock_guard lock(view.lock);
        old = std::exchange(view.frame, std::move(cleared));
        view.doubleLines = false;
    };

    // Back-pressure, then the kind decides.
    if (taken.backlog >= kBackPressureBacklog) {
        m_bSkip = true;
    }
    if (info.kind == 0) {
        m_bSkip = false;
    } else if (info.kind > 2 || m_bSkip) {
        drop();
        return;
    }

    // Timed around the decoder alone: the statistics show what decoding costs, not the
    // waits around it.
    platform::PictureRef picture;
    const auto decodeStart = std::chrono::steady_clock::now();
    const bool decoded = Decode(input, padded, picture);
    const auto decodeTime = std::chrono::steady_clock::now() - decodeStart;
    m_pStats->decodeNanos.fetch_add(
        static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(decodeTime).count()),
        std::memory_order_relaxed);
    m_pStats->decodeCalls.fetch_add(1, std::memory_order_relaxed);
    if (!decoded) {
        clearPane();
        drop();
        return;
    }
    ++m_pStats->decoded;
    if (frame.DisplayExempt() && frame.Reverse()) {
        clearPane();
        return;  // a backward or stepped playback frame that is not shown
    }
    // Remote playback's pictures are shown at their moment, here where they are handed
    // over: the receive thread never waits for them.
    const std::uint16_t ticket = frame.PaceTicket();
    if (ticket != 0 && !m_environment.BeforeShow(ticket, info, m_bStop)) {
        return;  // a button or the stop discarded it: the pane keeps what it shows
    }
    // Interlaced heights are shown line-doubled unless the channel is deinterlaced.
    const bool doubleLines =
        (picture->height == 480 || picture->height == 576) && !m_environment.Deinterlace(m_channel);
    ShowPicture(info, width, height, std::move(picture), doubleLines);
}

bool CDecodeThread::Decode(std::span<const std::uint8_t> input, bool padded,
                           platform::PictureRef& picture) {
    if (!m_decoderOpened) {
        // A decoder in the chosen format, once. Without one the thread still takes and
        // drops its entries, so the stream and the other channels go on.
        m_decoderOpened = true;
        m_decoder = m_decoders ? m_decoders(m_format) : nullptr;
        if (!m_decoder && m_sink) {
            m_sink->ShowMessageBox("H.264 Decoder Init Error !");
        }
    }
    int resets = 0;
    for (int attempt = 0; attempt < kMaxCallAgain && m_decoder; ++attempt) {
        const int result =
            padded ? m_decoder->DecodePadded(input, picture) : m_decoder->Decode(input, picture);
        if (result == platform::kH264Picture || result == platform::kH264PictureDamaged) {
            return picture != nullptr && picture->width > 0 && picture->height > 0;
        }
        picture.reset();
        if (result == platform::kH264CallAgain) {
            continue;
        }
        if (result == platform::kH264Reset && resets < kMaxResets) {
            // The instance broke: the old one is closed before its successor opens.
            ++resets;
            m_decoder.reset();
            m_decoder = m_decoders(m_format);
            continue;
        }
        return false;
    }
    return false;
}

void CDecodeThread::ShowPicture(const stream::FrameInfo& info, int width, int height,
                                platform::PictureRef picture, bool doubleLines) {
    const ViewMode mode = m_views.Mode();
    std::string title;
    if (mode == ViewMode::Live) {
        title = m_environment.LiveTitle(m_channel);
    } else {
        const auto* begin = reinterpret_cast<const char*>(info.title.data());
        title.assign(begin, strnlen(begin, info.title.size()));
    }

    ChannelView& view = m_views.Channel(m_channel);
    {
        std::lock_guard lock(view.lock);
        view.shownMillis =
            static_cast<std::int64_t>(info.seconds) * 1000 + info.microseconds / 1000;
        if (view.shown == 0) {
            view.firstMillis = view.shownMillis;
        }
        ++view.shown;
        m_pStats->shown.fetch_add(1, std::memory_order_relaxed);
        // What the labels tell; the painter writes them (pane_texts.h).
        view.labelMode = mode == ViewMode::Idle ? ViewMode::Live : mode;
        view.title = std::move(title);
        ++view.decodedCount;

        // Hand the picture over by reference; the view's last one is let go after the lock.
        std::swap(view.frame, picture);
        view.doubleLines = doubleLines;
        view.width = width;
        view.height = height;
        m_views.MarkPicture(m_channel);
        if (IPictureListener* listener = m_views.Listener()) {
            listener->OnPicture(m_channel);
        }
    }
}

}  // namespace taviro::video
