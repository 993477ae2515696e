#include "grid_decode_support.h"

#include <chrono>
#include <memory>
#include <thread>

#include "platform/h264_decoder_ffmpeg.h"
#include "sim/h264_stream_writer.h"
#include "video/decode_thread.h"

namespace taviro::video::ui::testing {

namespace {

class PlainEnvironment final : public IDecodeEnvironment {
  public:
    explicit PlainEnvironment(bool deinterlace) : m_deinterlace(deinterlace) {}
    bool LiveDropsChannel(int) override { return false; }
    std::string LiveTitle(int) override { return "CAM"; }
    std::int64_t PlaybackTime(ViewMode) override { return 0; }
    bool Deinterlace(int) override { return m_deinterlace; }

  private:
    const bool m_deinterlace;
};

}  // namespace

bool DecodeIntoView(CChannelViews& views, int channel, std::uint32_t format,
                    const sim::YuvPicture& picture, bool deinterlace) {
    sim::H264StreamOptions options;
    options.width = picture.width;
    options.height = picture.height;
    auto writer = sim::CH264StreamWriter::Create(options);
    if (!writer)
        return false;
    const auto unit = writer->Write(picture);
    if (!unit)
        return false;
    stream::FrameInfo info;
    info.channel = static_cast<std::uint8_t>(channel);
    info.kind = 0;
    info.width = static_cast<std::uint16_t>(unit->width);
    info.height = static_cast<std::uint16_t>(unit->height);
    info.generation = 1;
    info.payloadLength = static_cast<std::uint32_t>(unit->bytes.size());
    info.size = info.payloadLength;
    auto frame =
        stream::QueuedFrame::Make(info, protocol::PacketHeader::Make(18, 0, true), unit->bytes);
    if (!frame)
        return false;
    PlainEnvironment environment(deinterlace);
    auto queue = std::make_shared<stream::CVideoQueue>();
    CDecodeThread thread(channel, queue, views, environment, platform::FfmpegH264Decoders(),
                         format);
    thread.Start();
    queue->Put(std::move(*frame));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (thread.Stats().taken < 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    thread.Stop();
    return thread.Stats().decoded == 1;
}

}  // namespace taviro::video::ui::testing
