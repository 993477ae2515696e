// Remote playback from the simulated recorder over TCP, as a client sees it: the opening
// answers, credit, the elements and the speed code of their messages, positioned starts,
// steps, the end of the recordings, stop, refusals and a failing playback.
#include <gtest/gtest.h>

#include <string>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "raw_client.h"
#include "sim/h264_stream_writer.h"
#include "sim/h264_test_pattern.h"
#include "sim/playback_stream.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Bytes = std::vector<std::uint8_t>;
using protocol::LoadBE32;

protocol::RecorderTime At(std::string_view text) {
    const auto t = ParseRecorderTime(text);
    EXPECT_TRUE(t.has_value()) << text;
    return t.value_or(0);
}

Bytes Request(std::uint32_t mask, std::uint32_t kinds, protocol::RecorderTime start,
              protocol::RecorderTime end = 0) {
    Bytes b(24, 0);
    protocol::StoreBE32(b.data(), mask);
    protocol::StoreLE32(b.data() + 4, kinds);
    protocol::StoreBE32(b.data() + 16, static_cast<std::uint32_t>(start));
    protocol::StoreBE32(b.data() + 20, static_cast<std::uint32_t>(end));
    return b;
}

Bytes Word(std::uint32_t v) {
    Bytes b(4);
    protocol::StoreBE32(b.data(), v);
    return b;
}

// A whole playback element as a client reassembles it, read as a product type 3 recorder
// writes it (numeric words big-endian).
struct Element {
    Bytes bytes;
    std::vector<int> speeds;  // of each of its messages
    [[nodiscard]] bool Audio() const { return LoadBE32(bytes.data() + 16) == 0x2518F049u; }
    [[nodiscard]] int Channel() const { return static_cast<int>(LoadBE32(bytes.data() + 20)); }
    [[nodiscard]] std::int64_t Micros() const {
        return std::int64_t{LoadBE32(bytes.data() + 24)} * 1'000'000 + LoadBE32(bytes.data() + 36);
    }
    [[nodiscard]] bool Key() const { return LoadBE32(bytes.data() + 44) == 1; }
    [[nodiscard]] bool Exempt() const { return bytes[52] == 1; }
    [[nodiscard]] std::uint32_t AudioMask() const { return LoadBE32(bytes.data() + 52); }
};

// A message, or (for PLAY_DATA) the element it completes.
struct Got {
    std::uint16_t code = 0;
    Bytes payload;
    Element element;
};

class SimPlayback : public ::testing::Test {
  protected:
    static SimConfig Config() {
        SimConfig c;
        c.channels = 4;
        c.live_width = 352;
        c.live_height = 240;
        c.live_gop = 40;
        c.live_fragment_size = 3000;
        return c;
    }

    void Start(const SimConfig& config) {
        m_sim = std::make_unique<CRecorderSim>(config);
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
        ASSERT_TRUE(m_client.Login(m_sim->Port()));
    }

    // Sends PLAY_ON_REQ and expects the channel information and the acknowledgement.
    void Open(std::uint32_t mask, std::uint32_t kinds, protocol::RecorderTime start,
              protocol::RecorderTime end, std::uint32_t played) {
        ASSERT_TRUE(m_client.Send(msg::PLAY_ON_REQ, Request(mask, kinds, start, end)));
        const auto info = Next();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->code, msg::PLAY_CHANNEL_INFO);
        EXPECT_EQ(info->payload, Word(played));
        const auto ack = Next();
        ASSERT_TRUE(ack);
        EXPECT_EQ(ack->code, msg::PLAY_ON_ACK);
    }

    std::optional<Got> Next(std::chrono::milliseconds timeout = 3s) {
        Element partial;
        while (auto m = m_client.Recv(timeout)) {
            if (m->header.Command() != msg::PLAY_DATA) {
                EXPECT_TRUE(partial.bytes.empty()) << "a message inside an element";
                return Got{m->header.Command(), m->payload, {}};
            }
            partial.speeds.push_back(PlaySpeedOf(m->header.word[1]));
            partial.bytes.insert(partial.bytes.end(), m->payload.begin(), m->payload.end());
            if (m->header.LastFragment()) {
                return Got{msg::PLAY_DATA, {}, std::move(partial)};
            }
        }
        return std::nullopt;
    }

    // Everything that arrives until the recorder has been quiet for `quiet`.
    std::vector<Got> Drain(std::chrono::milliseconds quiet = 400ms) {
        std::vector<Got> out;
        while (auto g = Next(quiet)) {
            out.push_back(std::move(*g));
        }
        return out;
    }

    // Exactly `n` elements (and nothing else), every message of each with `speed`.
    std::vector<Element> Elements(std::size_t n, int speed,
                                  std::chrono::milliseconds timeout = 3s) {
        std::vector<Element> out;
        while (out.size() < n) {
            auto g = Next(timeout);
            if (!g) {
                ADD_FAILURE() << "only " << out.size() << " of " << n << " elements";
                break;
            }
            if (g->code != msg::PLAY_DATA) {
                ADD_FAILURE() << "message " << g->code << " after " << out.size() << " elements";
                break;
            }
            for (const int s : g->element.speeds) {
                EXPECT_EQ(s, speed) << "in element " << out.size();
            }
            out.push_back(std::move(g->element));
        }
        return out;
    }

    bool Grant(std::uint32_t credit) { return m_client.Send(msg::PLAY_STEP_DATA, Word(credit)); }

    std::unique_ptr<CRecorderSim> m_sim;
    CRawClient m_client;
};

TEST_F(SimPlayback, OpensWaitsForCreditAndNeverSendsBeyondIt) {
    SimConfig config = Config();
    config.audio_channels = 0x2;
    Start(config);
    // 08:00:10 is frame 864,300 of the day at 30 frames a second; the key frame before it
    // (groups of 40) is frame 864,280, 08:00:09 and 10/30 s.
    Open(0xFFFF, 0, At("2010-10-12T08:00:10"), 0, 0x000F);
    EXPECT_TRUE(m_client.StaysQuiet(300ms)) << "the acknowledgement grants nothing";

    ASSERT_TRUE(Grant(10));
    const auto first = Elements(10, 1);
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
    ASSERT_EQ(first.size(), 10u);
    const std::int64_t keyTime = std::int64_t{At("2010-10-12T08:00:09")} * 1'000'000 + 333'333;
    std::vector<int> videoChannels;
    for (const Element& e : first) {
        if (e.Audio()) {
            // Channel 2 (bit 1) has sound: one 48-byte block at its time, between the frames.
            EXPECT_EQ(e.AudioMask(), 0x2u);
            EXPECT_EQ(e.bytes.size(), 64u + 48u);
            EXPECT_GE(e.Micros(), keyTime);
            continue;
        }
        videoChannels.push_back(e.Channel());
        if (videoChannels.size() <= 4) {
            EXPECT_EQ(e.Micros(), keyTime);
            EXPECT_TRUE(e.Key());
            EXPECT_EQ(e.bytes[128 + 2] >> 6, 0) << "encoder header: key frame";
        } else {
            EXPECT_EQ(e.Micros(), keyTime + 33'333);
            EXPECT_FALSE(e.Key());
            EXPECT_EQ(e.bytes[128 + 2] >> 6, 1);
        }
        EXPECT_FALSE(e.Exempt());
    }
    ASSERT_GE(videoChannels.size(), 5u);
    EXPECT_EQ(videoChannels[0], 0);
    EXPECT_EQ(videoChannels[3], 3);
    EXPECT_EQ(videoChannels[4], 0);

    // The first frame in detail: the camera pattern of frame 864,280 as the first key
    // frame of a fresh encoder, with the title and its CRC.
    const Element& e = first[0];
    auto writer = CH264StreamWriter::Create({.width = 352, .height = 240, .gop_length = 40});
    const auto unit = writer->Write(MakeH264TestPattern(0, 864'280, 352, 240));
    ASSERT_TRUE(unit);
    EXPECT_EQ(LoadBE32(e.bytes.data() + 28), unit->bytes.size());
    EXPECT_EQ(Bytes(e.bytes.begin() + 192, e.bytes.end()), unit->bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.bytes.data() + 96)), "CH1");
    EXPECT_EQ(LoadBE32(e.bytes.data() + 92), protocol::Crc32(std::span(e.bytes).subspan(96, 32)));
    const std::uint8_t* enc = e.bytes.data() + 128;
    EXPECT_EQ(enc[4], 240 / 16);
    EXPECT_EQ(enc[5], 352 / 16);
    EXPECT_EQ(protocol::LoadLE32(enc + 20), static_cast<std::uint32_t>(keyTime / 1'000'000));
    EXPECT_EQ(protocol::LoadLE32(enc + 24), 333'333u);

    // More credit adds up; nothing goes beyond it.
    ASSERT_TRUE(Grant(48));
    ASSERT_TRUE(Grant(45));
    EXPECT_EQ(Elements(93, 1).size(), 93u);
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
}

TEST_F(SimPlayback, EveryMessageCarriesTheSpeed) {
    SimConfig config = Config();
    config.audio_channels = 0x1;
    Start(config);
    Open(0x3, 0, At("2010-10-12T08:10:00"), 0, 0x3);
    ASSERT_TRUE(Grant(20));
    EXPECT_EQ(Elements(20, 1).size(), 20u);

    // Forward while playing forward: +2, +3, and no sound at those speeds.
    for (const int speed : {2, 3}) {
        ASSERT_TRUE(m_client.Send(msg::PLAY_FORWARD));
        ASSERT_TRUE(Grant(12));
        for (const Element& e : Elements(12, speed)) {
            EXPECT_FALSE(e.Audio()) << "speed " << speed;
        }
        EXPECT_TRUE(m_client.StaysQuiet(300ms));
    }

    // Backward: -1 from where playback stands, key frames only, going back a group at a
    // time (40 frames at 30 a second); backward again: -2.
    ASSERT_TRUE(m_client.Send(msg::PLAY_BACKWARD));
    ASSERT_TRUE(Grant(4));
    const auto back = Elements(4, -1);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[0].Micros(), back[1].Micros());
    const std::int64_t group = back[0].Micros() - back[2].Micros();
    EXPECT_TRUE(group == 1'333'333 || group == 1'333'334) << group;  // 40 frames, rounded
    for (const Element& e : back) {
        EXPECT_TRUE(e.Key());
    }
    ASSERT_TRUE(m_client.Send(msg::PLAY_BACKWARD));
    ASSERT_TRUE(Grant(2));
    const auto faster = Elements(2, -2);
    ASSERT_EQ(faster.size(), 2u);
    EXPECT_LT(faster[0].Micros(), back[3].Micros());

    // Paused, nothing goes out whatever the credit.
    ASSERT_TRUE(m_client.Send(msg::PLAY_PAUSE));
    ASSERT_TRUE(Grant(50));
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
}

TEST_F(SimPlayback, PositionedRequestsStartAtTheKeyFrameAtOrBefore) {
    Start(Config());
    Open(0xF, 0, At("2010-10-12T08:00:00"), 0, 0xF);
    ASSERT_TRUE(Grant(4));
    EXPECT_EQ(Elements(4, 1).size(), 4u);

    // Forward from 08:30:01 (frame 918,030) for the channel the client shows: from frame
    // 918,000, 08:30:00.
    ASSERT_TRUE(m_client.Send(msg::PLAY_FORWARD, Request(0x2, 0, At("2010-10-12T08:30:01"))));
    ASSERT_TRUE(Grant(3));
    const auto forward = Elements(3, 1);
    ASSERT_EQ(forward.size(), 3u);
    EXPECT_EQ(forward[0].Channel(), 1);
    EXPECT_EQ(forward[0].Micros(), std::int64_t{At("2010-10-12T08:30:00")} * 1'000'000);
    EXPECT_TRUE(forward[0].Key());
    EXPECT_EQ(forward[2].Channel(), 1) << "the positioned request narrowed the channels";
    EXPECT_FALSE(forward[2].Key());

    // Backward from 08:00:02 (frame 864,060): the key frames 864,040 and 864,000, then the
    // recordings are over.
    ASSERT_TRUE(m_client.Send(msg::PLAY_BACKWARD, Request(0x1, 0, At("2010-10-12T08:00:02"))));
    ASSERT_TRUE(Grant(10));
    const auto back = Elements(2, -1);
    ASSERT_EQ(back.size(), 2u);
    const std::int64_t t0 = std::int64_t{At("2010-10-12T08:00:00")} * 1'000'000;
    EXPECT_EQ(back[0].Micros(), t0 + 1'333'333);
    EXPECT_EQ(back[1].Micros(), t0);
    const auto done = Next();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->code, msg::PLAY_ON_DONE);
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
}

TEST_F(SimPlayback, StepsSendOneFramePerChosenChannelThenFinish) {
    Start(Config());
    const std::int64_t t0 = std::int64_t{At("2010-10-12T08:00:00")} * 1'000'000;
    Open(0xF, 0, At("2010-10-12T08:00:00"), 0, 0xF);
    ASSERT_TRUE(Grant(8));  // frames 0 and 1 of each channel
    EXPECT_EQ(Elements(8, 1).size(), 8u);

    ASSERT_TRUE(m_client.Send(msg::PLAY_PAUSE));
    ASSERT_TRUE(m_client.Send(msg::PLAY_NEXT_STEP));
    ASSERT_TRUE(m_client.Send(msg::PLAY_CH_CHANGE, Word(0x5)));
    ASSERT_TRUE(Grant(1));
    auto step = Elements(2, 1);
    ASSERT_EQ(step.size(), 2u);
    EXPECT_EQ(step[0].Channel(), 0);
    EXPECT_EQ(step[1].Channel(), 2);
    for (const Element& e : step) {
        EXPECT_EQ(e.Micros(), t0 + 66'666) << "frame 2";
        EXPECT_FALSE(e.Exempt());
    }
    auto finish = Next();
    ASSERT_TRUE(finish);
    EXPECT_EQ(finish->code, msg::PLAY_DATA_FINISH);
    EXPECT_TRUE(m_client.StaysQuiet(300ms)) << "one credit is one step";

    // A step back to a dependent frame brings the frames it depends on, not to be shown.
    ASSERT_TRUE(m_client.Send(msg::PLAY_PREV_STEP));
    ASSERT_TRUE(Grant(1));
    step = Elements(4, -1);
    ASSERT_EQ(step.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(step[i].Channel(), i < 2 ? 0 : 2);
        EXPECT_EQ(step[i].Exempt(), i % 2 == 0);
        EXPECT_EQ(step[i].Key(), i % 2 == 0);
        EXPECT_EQ(step[i].Micros(), i % 2 == 0 ? t0 : t0 + 33'333);
    }
    finish = Next();
    ASSERT_TRUE(finish);
    EXPECT_EQ(finish->code, msg::PLAY_DATA_FINISH);

    // Stop: acknowledged, and nothing more is sent.
    ASSERT_TRUE(m_client.Send(msg::RPLAY_STOP));
    const auto off = Next();
    ASSERT_TRUE(off);
    EXPECT_EQ(off->code, msg::PLAY_OFF_ACK);
    ASSERT_TRUE(m_client.Send(msg::PLAY_FORWARD));
    ASSERT_TRUE(Grant(10));
    EXPECT_TRUE(m_client.StaysQuiet(300ms));
}

TEST_F(SimPlayback, DoneWhenTheRecordingsOrTheRequestEnd) {
    Start(Config());
    // Event recordings only (one event kind asked for): channels 1 and 3 (mask 0x5) until
    // 12:05:00, and no event after it. 12:04:56 is a key frame (frame 1,304,880).
    Open(0xF, 1u << 2, At("2010-10-12T12:04:56"), 0, 0xF);
    ASSERT_TRUE(Grant(1000));
    auto got = Drain();
    ASSERT_EQ(got.size(), 241u);
    for (std::size_t i = 0; i < 240; ++i) {
        ASSERT_EQ(got[i].code, msg::PLAY_DATA);
        EXPECT_EQ(got[i].element.Channel(), i % 2 == 0 ? 0 : 2);
    }
    EXPECT_EQ(got[240].code, msg::PLAY_ON_DONE);

    // An end time: one second of channel 4.
    Open(0x8, 0, At("2010-10-12T09:00:00"), At("2010-10-12T09:00:01"), 0x8);
    ASSERT_TRUE(Grant(1000));
    got = Drain();
    ASSERT_EQ(got.size(), 31u);
    EXPECT_EQ(got[29].element.Micros(),
              std::int64_t{At("2010-10-12T09:00:00")} * 1'000'000 + 966'666);
    EXPECT_EQ(got[30].code, msg::PLAY_ON_DONE);
}

TEST_F(SimPlayback, RefusalsAndAFailingPlayback) {
    SimConfig config = Config();
    config.play_fail_after = 7;
    config.play_fail_code = 86;
    Start(config);
    const struct {
        Bytes request;
        std::uint8_t reason;
    } refused[] = {
        {Request(0xF, 0, At("2011-03-05T10:30:00")), 83},   // after the last recording
        {Request(0xF0, 0, At("2010-10-12T08:00:00")), 83},  // channels the recorder lacks
        {Bytes(23, 0), 1},
    };
    for (const auto& r : refused) {
        ASSERT_TRUE(m_client.Send(msg::PLAY_ON_REQ, r.request));
        const auto nack = Next();
        ASSERT_TRUE(nack);
        EXPECT_EQ(nack->code, msg::PLAY_ON_NACK);
        EXPECT_EQ(nack->payload, (Bytes{0, 0, 0, r.reason}));
    }

    Open(0xF, 0, At("2010-10-12T08:00:00"), 0, 0xF);
    ASSERT_TRUE(Grant(100));
    EXPECT_EQ(Elements(7, 1).size(), 7u);
    const auto fail = Next();
    ASSERT_TRUE(fail);
    EXPECT_EQ(fail->code, msg::PLAY_ON_FAIL);
    EXPECT_EQ(fail->payload, (Bytes{0, 0, 0, 86}));
    EXPECT_TRUE(m_client.StaysQuiet(300ms));

    SimConfig refusing = Config();
    refusing.play_reason = 98;
    CRecorderSim sim(refusing);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    ASSERT_TRUE(client.Send(msg::PLAY_ON_REQ, Request(0xF, 0, At("2010-10-12T08:00:00"))));
    const auto nack = client.Recv();
    ASSERT_TRUE(nack);
    EXPECT_EQ(nack->header.Command(), msg::PLAY_ON_NACK);
    EXPECT_EQ(nack->payload, (Bytes{0, 0, 0, 98}));
}

TEST_F(SimPlayback, OtherProductTypesStoreTheStreamWordsLittleEndian) {
    SimConfig config = Config();
    config.product_number = 12;  // product type 5
    config.audio_channels = 0x1;
    Start(config);
    Open(0x1, 0, At("2010-10-12T08:00:00"), 0, 0x1);
    ASSERT_TRUE(Grant(3));
    const auto got = Elements(3, 1);
    ASSERT_EQ(got.size(), 3u);
    bool sawAudio = false;
    for (const Element& e : got) {
        const std::uint32_t kind = protocol::LoadLE32(e.bytes.data() + 16);
        if (kind == 0x2518F049u) {
            sawAudio = true;
            EXPECT_EQ(protocol::LoadLE32(e.bytes.data() + 52), 0x1u);
            EXPECT_EQ(protocol::LoadLE32(e.bytes.data() + 28), 48u);
            continue;
        }
        EXPECT_EQ(kind, 0x20061123u);
        EXPECT_EQ(protocol::LoadLE32(e.bytes.data() + 28), e.bytes.size() - 192);
        EXPECT_EQ(LoadBE32(e.bytes.data() + 92),
                  protocol::Crc32(std::span(e.bytes).subspan(96, 32)))
            << "the title's CRC is big-endian from every recorder";
    }
    EXPECT_TRUE(sawAudio);
}

}  // namespace
}  // namespace taviro::sim::test
