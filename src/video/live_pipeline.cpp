#include "video/live_pipeline.h"

#include <utility>

namespace taviro::video {

CLivePipeline::CLivePipeline(CChannelViews& views, stream::CStreamState& state,
                             stream::CConsumerSlots& slots, std::uint32_t format,
                             platform::IMessageSink* sink, TitleSource titles,
                             platform::H264DecoderFactory decoders)
    : m_views(views),
      m_state(state),
      m_titles(std::move(titles)),
      m_decoders(slots, m_views, *this, std::move(decoders), format, sink) {
    m_views.SetViewMode(ViewMode::Live);
}

CLivePipeline::~CLivePipeline() {
    m_decoders.DrainAndStop(std::chrono::milliseconds(0));
}

void CLivePipeline::StartDecoders(protocol::ChannelMask channels) {
    m_decoders.Start(channels);
}

void CLivePipeline::StopDecoders(std::chrono::milliseconds drainLimit) {
    m_decoders.DrainAndStop(drainLimit);
    m_state.SetLiveOn(false);
}

bool CLivePipeline::ChangeFormat(std::uint32_t format) {
    if (format == m_decoders.Format())
        return false;
    const protocol::ChannelMask running = m_decoders.Running();
    m_decoders.DrainAndStop(std::chrono::milliseconds(0));
    m_decoders.SetFormat(format);
    // The pictures kept so far are in the old format; panes show idle until new ones come.
    m_views.ClearHasDecoded();
    m_decoders.Start(running);
    return true;
}

void CLivePipeline::SetDeinterlace(int channel, bool on) {
    if (channel >= 0 && channel < protocol::kMaxChannels)
        m_deinterlace[static_cast<std::size_t>(channel)].store(on);
}

bool CLivePipeline::Deinterlace(int channel) {
    return channel >= 0 && channel < protocol::kMaxChannels &&
           m_deinterlace[static_cast<std::size_t>(channel)].load();
}

}  // namespace taviro::video
