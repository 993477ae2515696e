#include "video/live_pipeline.h"

#include <thread>

#include "platform/h264_decoder.h"
#include "platform/trace.h"

namespace taviro::video {

CLivePipeline::CLivePipeline(CChannelViews& views, std::uint32_t format,
                             platform::IMessageSink* sink)
    : m_views(views),
      m_frames(m_state, m_slots),
      m_decoders(m_slots, m_views, *this, platform::H264Library(), format, sink) {
    m_views.SetViewMode(ViewMode::Live);
}

CLivePipeline::~CLivePipeline() {
    // The session is not touched here: it may be gone already. Its owner detaches the
    // pipeline (or ends the session's threads) before either is destroyed.
    StopAudio();
    m_decoders.DrainAndStop(std::chrono::milliseconds(0));
}

void CLivePipeline::Attach(protocol::CRecorderSession& session) {
    m_session.store(&session);
    session.SetStreamReceiver(this);
    session.SetLiveConsumers(this);
}

void CLivePipeline::Detach() {
    if (auto* session = m_session.exchange(nullptr)) {
        session->SetStreamReceiver(nullptr);
        session->SetLiveConsumers(nullptr);
    }
}

void CLivePipeline::StartDecoders(protocol::ChannelMask channels) {
    m_decoders.Start(channels);
}

void CLivePipeline::StopDecoders(std::chrono::milliseconds drainLimit) {
    m_decoders.DrainAndStop(drainLimit);
}

void CLivePipeline::ChangeFormat(std::uint32_t format) {
    if (format == m_decoders.Format())
        return;
    const protocol::ChannelMask running = m_decoders.Running();
    m_decoders.DrainAndStop(std::chrono::milliseconds(0));
    m_decoders.SetFormat(format);
    // The pictures kept so far are in the old format; panes show idle until new ones come.
    m_views.ClearHasDecoded();
    m_decoders.Start(running);
}

void CLivePipeline::SetDeinterlace(int channel, bool on) {
    if (channel >= 0 && channel < protocol::kMaxChannels)
        m_deinterlace[static_cast<std::size_t>(channel)].store(on);
}

void CLivePipeline::OnStreamPiece(std::uint16_t command, const protocol::PacketHeader& header,
                                  std::span<const std::uint8_t> piece) {
    if (auto* session = m_session.load())
        m_state.SetProductType(session->ProductType());
    m_frames.OnStreamPiece(command, header, piece);
}

void CLivePipeline::OnChannelInfo(std::span<const std::uint8_t> payload) {
    if (auto* session = m_session.load())
        m_state.SetProductType(session->ProductType());
    const auto info = m_frames.OnLiveChannelInfo(payload);
    if (info.accepted)
        m_views.SetAvailableMask(info.available);
}

void CLivePipeline::DrainAndStopDecoders() {
    m_decoders.DrainAndStop();
    m_state.SetLiveOn(false);
}

void CLivePipeline::StartAudio(int audioBuf, platform::ISoundOut* device) {
    StopAudio();
    m_audioSelection.Reset();
    if (auto* session = m_session.load())
        session->SetAudioChannelMask(0);
    if (!device)
        return;
    auto queue = std::make_shared<stream::CAudioQueue>();
    m_audio = std::make_unique<audio::CAudioThread>(queue, *device, audioBuf);
    m_slots.AttachAudio(std::move(queue));
}

void CLivePipeline::StopAudio() {
    if (!m_audio)
        return;
    platform::Trace("StopAudioThread...\n");
    // Out of the slot first, so the receive thread queues nothing more for a thread that is
    // about to end.
    m_slots.DetachAudio();
    m_audio->Stop();
    m_audio.reset();
}

void CLivePipeline::DrainAndStopAudio() {
    if (const auto queue = m_slots.Audio()) {
        // Let the audio thread take what arrived, but never wait long for it.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (queue->Count() > 2 && std::chrono::steady_clock::now() < limit && m_audio &&
               m_audio->Running())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    StopAudio();
}

std::string CLivePipeline::LiveTitle(int channel) {
    auto* session = m_session.load();
    return session ? session->Title(channel) : std::string();
}

bool CLivePipeline::Deinterlace(int channel) {
    return channel >= 0 && channel < protocol::kMaxChannels &&
           m_deinterlace[static_cast<std::size_t>(channel)].load();
}

}  // namespace taviro::video
