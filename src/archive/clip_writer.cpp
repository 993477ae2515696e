#include "archive/clip_writer.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "protocol/byte_order.h"
#include "protocol/recorder_time.h"
#include "stream/stream_frames.h"

namespace taviro::archive {

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
// A hostile recording that changes size at every key frame cannot make thousands of files.
constexpr int kMaxPartsPerChannel = 100;
// MP4 keeps the step between two frames in 32 bits of 1/90,000 s (6.6 hours); after a
// longer gap a channel goes on in a new file, in either container.
constexpr std::int64_t kMaxGap = std::int64_t{6} * 3600 * 1'000'000;
// The recorder stamps an audio header with the block's time: whole seconds at 24, where a
// video header has the frame's, and microseconds at 36. A time further than this from the
// last video frame read is not believed, and the block takes that frame's time instead.
constexpr std::size_t kAudioSecondsOffset = 24;
constexpr std::size_t kAudioMicrosOffset = 36;
constexpr std::int64_t kAudioTimeSlack = 2 * kMicrosPerSecond;
// Sound blocks kept for a file that has not opened yet (25 a second).
constexpr std::size_t kMaxWaitingSound = 256;

std::string PrintableTitle(const std::array<std::uint8_t, stream::kTitleSize>& raw, int channel) {
    std::string title;
    for (const std::uint8_t c : raw) {
        if (c == 0) {
            break;
        }
        // Metadata is UTF-8; the recorder's text is in whatever code page its menu used.
        title.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    while (!title.empty() && title.back() == ' ') {
        title.pop_back();
    }
    return title.empty() ? "CH" + std::to_string(channel + 1) : title;
}

std::string IsoTime(std::int64_t seconds) {
    protocol::UserTime t;
    if (seconds < 0 || seconds > INT32_MAX ||
        !protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(seconds), &t)) {
        return "1970-01-01T00:00:00Z";
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month + 1,
                  t.day + 1, t.hour, t.minute, t.second);
    return text;
}

// "HH:MM:SS.mmm" of a recorded time, for notes.
std::string ClockText(std::int64_t micros) {
    const std::int64_t seconds = micros / kMicrosPerSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(seconds / 3600 % 24),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                  static_cast<int>(micros % kMicrosPerSecond / 1000));
    return text;
}

// A free name beside `path` for the file a clip replaces, kept until the clip is done.
fs::path AsideName(const fs::path& path) {
    const fs::path base = path.parent_path() / ("." + path.filename().string() + ".replaced");
    fs::path name = base;
    std::error_code ec;
    for (int n = 1; fs::exists(fs::symlink_status(name, ec)); ++n) {
        name = base.string() + std::to_string(n);
    }
    return name;
}

// Gives every file (temporary name, final name) its final name, or none: a file under a
// final name is moved aside first and removed only once every file has its name. After a
// failure the files are back under their temporary names and the moved ones under their own.
bool Publish(const std::vector<std::pair<fs::path, fs::path>>& files, std::string* error) {
    std::error_code ec;
    for (const auto& file : files) {
        const auto status = fs::symlink_status(file.second, ec);
        if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status)) {
            *error = file.second.string() + " exists and is not a file";
            return false;
        }
    }
    std::vector<std::pair<fs::path, fs::path>> asides;  // final name, where its file went
    std::size_t renamed = 0;
    const auto undo = [&] {
        std::error_code ignored;
        while (renamed > 0) {
            --renamed;
            fs::rename(files[renamed].second, files[renamed].first, ignored);
        }
        for (auto it = asides.rbegin(); it != asides.rend(); ++it) {
            fs::rename(it->second, it->first, ignored);
        }
    };
    for (const auto& file : files) {
        if (!fs::exists(fs::symlink_status(file.second, ec))) {
            continue;
        }
        const fs::path aside = AsideName(file.second);
        fs::rename(file.second, aside, ec);
        if (ec) {
            *error = "cannot move " + file.second.string() + " aside: " + ec.message();
            undo();
            return false;
        }
        asides.emplace_back(file.second, aside);
    }
    for (; renamed < files.size(); ++renamed) {
        fs::rename(files[renamed].first, files[renamed].second, ec);
        if (ec) {
            *error = "cannot rename " + files[renamed].first.string() + " to " +
                     files[renamed].second.string() + ": " + ec.message();
            undo();
            return false;
        }
    }
    for (const auto& moved : asides) {
        fs::remove(moved.second, ec);
    }
    return true;
}

}  // namespace

std::string ClipFileName(int channel, int part, ExportFormat format) {
    char name[16];
    std::snprintf(name, sizeof name, "ch%02d", channel + 1);
    return std::string(name) + (part > 1 ? "_" + std::to_string(part) : "") +
           (format == ExportFormat::Mkv ? ".mkv" : ".mp4");
}

CClipWriter::CClipWriter(ClipSetup setup)
    : m_setup(std::move(setup)),
      m_nFromMicros(std::int64_t{m_setup.from} * kMicrosPerSecond),
      m_nToMicros(std::int64_t{m_setup.to} * kMicrosPerSecond) {
    m_setup.channels &= 0xFFFFu;
    if (m_setup.soundChannels) {
        for (int c = 0; c < 16; ++c) {
            m_channels[static_cast<std::size_t>(c)].hasSound =
                ((*m_setup.soundChannels >> c) & 1u) != 0;
        }
    }
}

CClipWriter::~CClipWriter() {
    if (!m_bDone) {
        RemoveTemporaries();
    }
}

bool CClipWriter::Fail(std::string error) {
    if (m_result.error.empty()) {
        m_result.error = std::move(error);
    }
    return false;
}

void CClipWriter::ForgetLead(Channel& state) {
    state.needKey = true;
    state.waiting.clear();
    state.waitingBytes = 0;
}

void CClipWriter::LeaveOut(Channel& state) {
    ++m_result.framesLeftOut;
    state.needKey = true;
    if (!state.started) {
        ++state.skippedBeforeKey;
        // The frames kept from before the start cannot be followed on from any more.
        state.waiting.clear();
        state.waitingBytes = 0;
    }
}

bool CClipWriter::Video(const VidRecord& record, const PayloadFn& payload) {
    if (Failed()) {
        return false;
    }
    const stream::StreamFrameHeader& h = record.video;
    const std::int64_t micros = std::int64_t{h.encoder.seconds} * kMicrosPerSecond +
                                std::clamp<std::int32_t>(h.encoder.microseconds, 0, 999'999);
    m_nLastVideoMicros = micros;
    const int channel = h.encoder.channel & 0x0F;
    if (((m_setup.channels >> channel) & 1u) == 0 || h.encoder.seconds < 0 ||
        micros >= m_nToMicros || micros < m_nFromMicros - kMaxLeadMicros || h.displayExempt == 1) {
        return true;
    }
    Channel& state = m_channels[static_cast<std::size_t>(channel)];
    const bool key = h.encoder.kind == stream::kKeyFrame;
    const bool lead = micros < m_nFromMicros;
    const bool usable = h.encoder.kind <= stream::kDependentFrame2 && record.accepted &&
                        micros > state.lastMicros &&
                        record.payloadLength <= stream::kReassemblySize;
    if (lead && state.started) {
        // An earlier frame after the range's own began (a clock set back, overlapping
        // blocks): the frames taken stay, this one is left out.
        ++m_result.framesLeftOut;
        return true;
    }
    if (lead) {
        // Before the start only the frames from the latest key frame on are kept: they are
        // decoded, not shown, so the picture at the start is whole.
        if (!usable || (!key && state.needKey)) {
            ForgetLead(state);
            return true;
        }
        if (key) {
            state.waiting.clear();
            state.waitingBytes = 0;
        }
    } else if (!usable || (state.needKey && !key)) {
        LeaveOut(state);
        return true;
    }
    const auto bytes = payload ? payload() : std::nullopt;
    // The encoded size says how much of the payload is the picture, as for the decoder.
    Frame frame{
        bytes ? ToLengthPrefixed(bytes->first(std::min<std::size_t>(h.encoder.size, bytes->size())))
              : std::vector<std::uint8_t>{},
        micros, key, h};
    if (frame.sample.empty()) {
        if (lead) {
            ForgetLead(state);
        } else {
            LeaveOut(state);
        }
        return true;
    }
    if (lead) {
        if (state.waitingBytes + frame.sample.size() > kMaxLeadBytes) {
            // A key-frame interval too long to hold: the file starts at a later key frame.
            ForgetLead(state);
            return true;
        }
        state.waitingBytes += frame.sample.size();
        state.lastMicros = micros;
        state.needKey = false;
        state.waiting.push_back(std::move(frame));
        return true;
    }
    return TakeFrame(state, channel, std::move(frame));
}

bool CClipWriter::TakeFrame(Channel& state, int channel, Frame frame) {
    m_nLatestMicros = std::max(m_nLatestMicros, frame.micros);
    m_nBytesTaken += frame.sample.size();
    if (state.muxer) {
        const int width = frame.header.encoder.Width();
        const int height = frame.header.encoder.Height();
        const bool resized = state.muxer->Width() != width || state.muxer->Height() != height;
        if (resized || frame.micros - state.lastMicros > kMaxGap) {
            if (!frame.key) {
                LeaveOut(state);
                return true;
            }
            if (!FinishPart(state)) {
                return false;
            }
            if (!OpenPart(state, channel, frame, 0)) {
                return false;
            }
        }
        return !state.muxer || Write(state, frame);
    }
    if (state.parts > 0) {
        // A later part whose file could not be opened (too many parts): left out.
        LeaveOut(state);
        return true;
    }
    if (!state.started) {
        state.started = true;
        state.firstTaken = frame.micros;
    }
    state.lastMicros = frame.micros;
    state.needKey = false;
    state.waitingBytes += frame.sample.size();
    state.waiting.push_back(std::move(frame));
    // Without word of its sound the file waits for it, a while at most.
    const bool ready = m_setup.soundChannels || state.hasSound ||
                       state.waiting.back().micros - state.firstTaken >= kSoundWait ||
                       state.waitingBytes > kMaxLeadBytes;
    return !ready || FlushWaiting(state, channel);
}

bool CClipWriter::FlushWaiting(Channel& state, int channel) {
    if (state.waiting.empty()) {
        return true;
    }
    const Frame& first = state.waiting.front();
    if (!OpenPart(state, channel, first, std::max<std::int64_t>(0, m_nFromMicros - first.micros))) {
        return false;
    }
    std::vector<Frame> frames = std::move(state.waiting);
    state.waiting.clear();
    state.waitingBytes = 0;
    for (Frame& frame : frames) {
        if (state.muxer && (frame.header.encoder.Width() != state.muxer->Width() ||
                            frame.header.encoder.Height() != state.muxer->Height())) {
            // The picture size changed among the frames held: the new size starts its own
            // file at its key frame (a part of lead-in frames alone is no file).
            if (!frame.key) {
                LeaveOut(state);
                continue;
            }
            if (!FinishPart(state) || !OpenPart(state, channel, frame, 0)) {
                return false;
            }
        }
        if (!state.muxer || (state.needKey && !frame.key)) {
            LeaveOut(state);  // no file, or what it builds on was left out
        } else if (!Write(state, frame)) {
            return false;
        }
    }
    std::vector<Sound> sound = std::move(state.sound);
    state.sound.clear();
    for (const Sound& block : sound) {
        if (state.muxer &&
            !state.muxer->WriteAudio(block.samples, block.micros - state.startMicros)) {
            return Fail(state.muxer->Error());
        }
    }
    return true;
}

bool CClipWriter::Write(Channel& state, Frame& frame) {
    switch (state.muxer->WriteVideo(frame.sample, frame.micros - state.startMicros, frame.key)) {
        case CExportMuxer::Put::Written: {
            state.lastMicros = frame.micros;
            state.needKey = false;
            ExportedFile& file = state.open.file;
            if (frame.micros < m_nFromMicros) {
                ++file.leadFrames;
            } else {
                if (file.frames == 0) {
                    file.firstMicros = frame.micros;
                }
                ++file.frames;
                file.lastMicros = frame.micros;
            }
            return true;
        }
        case CExportMuxer::Put::Skipped:
            LeaveOut(state);
            return true;
        case CExportMuxer::Put::Failed:
            break;
    }
    return Fail(state.muxer->Error());
}

bool CClipWriter::Audio(const VidRecord& record, const PayloadFn& payload) {
    if (Failed()) {
        return false;
    }
    const protocol::ChannelMask mask = record.audio.channelMask & protocol::kAllChannels;
    const protocol::ChannelMask wanted = mask & m_setup.channels;
    if (wanted == 0 || record.payloadLength == 0 ||
        record.payloadLength > stream::kAudioBlockSize * 16 || m_nLastVideoMicros < 0) {
        return true;
    }
    const std::uint32_t seconds = protocol::LoadBE32(record.raw.data() + kAudioSecondsOffset);
    const std::uint32_t fraction = protocol::LoadBE32(record.raw.data() + kAudioMicrosOffset);
    std::int64_t micros = std::int64_t{seconds} * kMicrosPerSecond + fraction;
    if (fraction >= kMicrosPerSecond || micros < m_nLastVideoMicros - kAudioTimeSlack ||
        micros > m_nLastVideoMicros + kAudioTimeSlack) {
        micros = m_nLastVideoMicros;
    }
    if (micros < m_nFromMicros || micros >= m_nToMicros) {
        return true;
    }
    const auto bytes = payload ? payload() : std::nullopt;
    if (!bytes) {
        return true;
    }
    m_nBytesTaken += bytes->size();
    for (int c = 0; c < 16; ++c) {
        if ((wanted & (1u << c)) == 0) {
            continue;
        }
        const auto selection = stream::SelectAudioBlock(mask, c);
        if (!selection || (selection->index + 1) * stream::kAudioBlockSize > bytes->size()) {
            continue;
        }
        Channel& state = m_channels[static_cast<std::size_t>(c)];
        state.decoder.Decode(
            bytes->subspan(selection->index * stream::kAudioBlockSize, stream::kAudioBlockSize),
            m_pcm);
        const bool heardFirst = !state.hasSound;
        state.hasSound = true;
        if (state.muxer) {
            if (!state.muxer->WriteAudio(m_pcm, micros - state.startMicros)) {
                return Fail(state.muxer->Error());
            }
            continue;
        }
        if (state.sound.size() < kMaxWaitingSound) {
            Sound block;
            block.micros = micros;
            std::copy(m_pcm.begin(), m_pcm.end(), block.samples.begin());
            state.sound.push_back(block);
        }
        // The file waited for its sound: it opens now, with a sound track.
        if (heardFirst && state.started && state.parts == 0 && !FlushWaiting(state, c)) {
            return false;
        }
    }
    return true;
}

bool CClipWriter::OpenPart(Channel& state, int channel, const Frame& first, std::int64_t lead) {
    if (state.parts >= kMaxPartsPerChannel) {
        return true;  // no file: the channel's frames from here on are left out
    }
    ++state.parts;
    const stream::StreamFrameHeader& h = first.header;
    const std::string name =
        m_setup.name ? m_setup.name(channel, state.parts) : "ch" + std::to_string(channel + 1);
    Part part;
    part.file.path = m_setup.folder / name;
    part.temp = m_setup.folder / ("." + name + ".part");
    part.file.channel = channel;
    part.file.width = h.encoder.Width();
    part.file.height = h.encoder.Height();
    part.file.title = PrintableTitle(stream::PlaybackTitle(h), channel);

    MuxerSetup setup;
    setup.path = part.temp;
    setup.format = m_setup.format;
    setup.width = part.file.width;
    setup.height = part.file.height;
    setup.audio = state.hasSound;
    setup.title = part.file.title;
    // The file's start is where it is shown from: the range's start after a lead-in.
    setup.creationTime =
        IsoTime(lead > 0 ? std::int64_t{m_setup.from} : std::int64_t{h.encoder.seconds});
    setup.leadMicros = lead;
    if (state.hasSound && m_setup.format == ExportFormat::Mp4 && !Mp4AudioAvailable() &&
        !m_bAudioNoted) {
        m_bAudioNoted = true;
        m_result.notes.push_back(
            "sound left out: this FFmpeg has no AAC encoder (export to .mkv to keep it)");
    }
    std::string error;
    state.muxer = CExportMuxer::Create(setup, &error);
    if (!state.muxer) {
        return Fail(error);
    }
    part.file.audio = state.muxer->HasAudio();
    state.open = std::move(part);
    state.startMicros = first.micros;
    return true;
}

bool CClipWriter::FinishPart(Channel& state) {
    if (state.open.file.frames == 0) {
        // Nothing of it was shown (its frames were all left out): no file, and its name
        // is free for the next part.
        state.muxer->Abort();
        state.muxer.reset();
        --state.parts;
        return true;
    }
    std::string error;
    if (!state.muxer->Finish(&error)) {
        return Fail(error);
    }
    Part part = std::move(state.open);
    ExportedFile& file = part.file;
    file.start = static_cast<std::uint32_t>(file.firstMicros / kMicrosPerSecond);
    // The muxer's duration runs from the file's first frame, the lead-in included.
    const std::int64_t shown =
        state.muxer->DurationMicros() - (file.firstMicros - state.startMicros);
    file.duration = static_cast<double>(std::max<std::int64_t>(0, shown)) / kMicrosPerSecond;
    file.audioSamples = state.muxer->AudioSamples();
    state.finished.push_back(std::move(part));
    state.muxer.reset();
    return true;
}

ExportResult CClipWriter::Finish(bool cancelled) {
    if (m_bDone) {
        return m_result;
    }
    bool good = !Failed();
    if (good && cancelled) {
        m_result.cancelled = true;
        good = Fail("cancelled");
    }
    for (std::size_t c = 0; good && c < m_channels.size(); ++c) {
        Channel& state = m_channels[c];
        if (!state.muxer && state.started && state.parts == 0) {
            good = FlushWaiting(state, static_cast<int>(c));
        }
        if (good && state.muxer) {
            good = FinishPart(state);
        }
    }
    std::vector<std::pair<fs::path, fs::path>> names;
    for (const Channel& state : m_channels) {
        for (const Part& part : state.finished) {
            names.emplace_back(part.temp, part.file.path);
        }
    }
    if (good && names.empty()) {
        good = Fail(m_result.framesLeftOut == 0
                        ? "nothing of the channels was recorded in the range"
                        : "none of the " + std::to_string(m_result.framesLeftOut) +
                              " frames of the channels in the range could be written");
    }
    std::string error;
    if (good && !Publish(names, &error)) {
        good = Fail(error);
    }
    if (!good) {
        RemoveTemporaries();
        m_bDone = true;
        return m_result;
    }
    for (std::size_t c = 0; c < m_channels.size(); ++c) {
        const Channel& state = m_channels[c];
        for (const Part& part : state.finished) {
            m_result.files.push_back(part.file);
        }
        if (state.skippedBeforeKey > 0 && !state.finished.empty() &&
            state.finished.front().file.firstMicros > m_nFromMicros) {
            m_result.notes.push_back("channel " + std::to_string(c + 1) +
                                     " has no key frame at or before the start: it starts at " +
                                     ClockText(state.finished.front().file.firstMicros) +
                                     ", its first key frame");
        }
    }
    if (m_result.framesLeftOut > 0) {
        m_result.notes.push_back(std::to_string(m_result.framesLeftOut) +
                                 " frames in the range were left out (before a key frame, "
                                 "damaged, out of order or of a size the reader does not take)");
    }
    m_result.ok = true;
    m_bDone = true;
    return m_result;
}

void CClipWriter::Abort(std::string reason) {
    if (!m_bDone) {
        Fail(std::move(reason));
        RemoveTemporaries();
        m_bDone = true;
    }
}

void CClipWriter::RemoveTemporaries() {
    for (Channel& state : m_channels) {
        if (state.muxer) {
            state.muxer->Abort();
            state.muxer.reset();
        }
        for (const Part& part : state.finished) {
            std::error_code ec;
            fs::remove(part.temp, ec);
        }
        state.finished.clear();
        state.waiting.clear();
        state.sound.clear();
    }
}

}  // namespace taviro::archive
