// Costs on the receive and send paths: checksums, header coding, one message through a
// socket pair and back, and the catalogue lookups every trace line makes.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "protocol/packet_header.h"
#include "protocol/refusals.h"
#include "protocol/wire.h"

namespace {

using namespace taviro::protocol;
namespace platform = taviro::platform;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    return out;
}

void BM_Crc32(benchmark::State& state) {
    const auto data = Pattern(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32(data));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(1024)->Arg(1024 * 1024);

void BM_HeaderEncode(benchmark::State& state) {
    std::uint16_t code = 0;
    for (auto _ : state) {
        const auto bytes = PacketHeader::Make(code, 1024, (code & 1) != 0).ToNetwork();
        benchmark::DoNotOptimize(bytes);
        code = static_cast<std::uint16_t>((code + 1) & 0x1FF);
    }
}
BENCHMARK(BM_HeaderEncode);

void BM_HeaderDecode(benchmark::State& state) {
    std::array<std::array<std::uint8_t, kHeaderSize>, 64> headers{};
    for (std::size_t i = 0; i < headers.size(); ++i) {
        headers[i] = PacketHeader::Make(static_cast<std::uint16_t>(i * 8),
                                        static_cast<std::uint16_t>(i * 100))
                         .ToNetwork();
    }
    std::size_t i = 0;
    for (auto _ : state) {
        const PacketHeader h = PacketHeader::FromNetwork(headers[i].data());
        benchmark::DoNotOptimize(h.Command());
        benchmark::DoNotOptimize(h.Length());
        benchmark::DoNotOptimize(h.LastFragment());
        i = (i + 1) % headers.size();
    }
}
BENCHMARK(BM_HeaderDecode);

// One message of the given payload size sent with SendPacket; a reader thread takes it in
// with RecvExact (header, then payload) and answers with a bare header, which the sender
// reads back. Each iteration is one full round trip.
void BM_SendRecvRoundTrip(benchmark::State& state) {
    const auto payloadSize = static_cast<std::size_t>(state.range(0));
    auto pair = platform::MakeSocketPair();
    if (!pair) {
        state.SkipWithError("socketpair failed");
        return;
    }
    CWireSocket client;
    CWireSocket recorder;
    client.Attach(std::move(pair->first));
    recorder.Attach(std::move(pair->second));
    std::atomic<bool> readerFailed{false};

    std::thread reader([&] {
        std::vector<std::uint8_t> payload(kMaxPayload);
        const PacketHeader answer = PacketHeader::Make(msg::KEEP_ALIVE, 0);
        for (;;) {
            std::uint8_t raw[kHeaderSize];
            if (!RecvExact(recorder, raw, sizeof raw)) {
                return;  // the sender has closed: the benchmark is over
            }
            const PacketHeader h = PacketHeader::FromNetwork(raw);
            if (!RecvExact(recorder, payload.data(), h.Length()) ||
                !SendPacket(recorder, answer, nullptr, 0)) {
                readerFailed = true;
                return;
            }
        }
    });

    const auto payload = Pattern(payloadSize);
    const PacketHeader header =
        PacketHeader::Make(msg::FW_DATA, static_cast<std::uint16_t>(payloadSize));
    for (auto _ : state) {
        std::uint8_t raw[kHeaderSize];
        if (!SendPacket(client, header, payload.data(), payload.size()) ||
            !RecvExact(client, raw, sizeof raw)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    client.Close();
    reader.join();
    if (readerFailed) {
        state.SkipWithError("reader failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kHeaderSize + payloadSize));
}
BENCHMARK(BM_SendRecvRoundTrip)->Arg(16)->Arg(1024)->Arg(65535)->UseRealTime();

// Every code in both directions, as the receive dispatch and the traces look them up.
void BM_CatalogueLookup(benchmark::State& state) {
    std::uint16_t code = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindMessage(code, Direction::RecorderToClient));
        benchmark::DoNotOptimize(MessageName(code, Direction::ClientToRecorder));
        code = static_cast<std::uint16_t>((code + 1) & 0x1FF);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2);
}
BENCHMARK(BM_CatalogueLookup);

void BM_RefusalLookup(benchmark::State& state) {
    const std::uint16_t codes[] = {msg::LIVE_NACK, msg::REC_ON_NACK, msg::TRANS_ON_NACK,
                                   msg::PLAY_ON_NACK, msg::EVENT_INFO_NACK};
    std::size_t i = 0;
    std::int32_t reason = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MapRefusal(codes[i], reason));
        i = (i + 1) % std::size(codes);
        reason = (reason + 1) % 100;
    }
}
BENCHMARK(BM_RefusalLookup);

}  // namespace
