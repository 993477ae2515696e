// The recorder's status answer and the login answer as the information pages show them:
// any bytes give a page, the short form exactly when 16 bytes came, one row per channel
// asked for, at most six device rows with their state rows, and size texts that end in
// their unit.
//
// Input: byte 0 the channel count; the rest is the status answer as it arrived. The same
// bytes, padded to 768, are read as a login answer for the system page.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "../fuzz_check.h"
#include "logs/status_info.h"
#include "protocol/hello.h"

using namespace taviro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int channels = data[0] % 20;
    const std::span<const std::uint8_t> reply(data + 1, size - 1);
    const auto text = [](int n) { return std::to_string(n); };
    const logs::StatusInfo status = logs::ParseStatusInfo(reply);
    TAVIRO_FUZZ_CHECK(status.shortForm == (reply.size() == logs::kShortStatusSize));
    const auto rows = logs::StatusRows(status, channels, text);
    const std::size_t shown = static_cast<std::size_t>(std::min(channels, 16));
    TAVIRO_FUZZ_CHECK(rows.size() >= 4 + shown);
    TAVIRO_FUZZ_CHECK(rows.size() <= 4 + shown + 1 + 12);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& v = rows[i].value;
        TAVIRO_FUZZ_CHECK(v.size() >= 10 && v.compare(v.size() - 4, 4, "Byte") == 0);
    }
    if (status.shortForm) {
        TAVIRO_FUZZ_CHECK(rows.size() == 4 + shown);
    }

    std::vector<std::uint8_t> ack(protocol::kHelloAckSize, 0);
    std::copy_n(reply.begin(), std::min(reply.size(), ack.size()), ack.begin());
    if (const auto hello = protocol::HelloAck::Parse(ack)) {
        logs::SystemFacts facts;
        facts.hello = *hello;
        const auto system = logs::SystemRows(facts, text);
        TAVIRO_FUZZ_CHECK(system.size() == 10 || system.size() == 11);
        TAVIRO_FUZZ_CHECK(system[3].value.size() == 17);
    }
    return 0;
}
