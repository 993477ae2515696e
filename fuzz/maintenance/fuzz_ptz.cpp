// The recorder's PTZ_CHANNEL_ACK and the operator's presses from arbitrary bytes: any
// answer gives a defined availability, and any sequence of panel, keypad, dome menu, key,
// wheel and answer events leaves the controller consistent: the preset number stays below
// 1000, nothing is left moving once the panel is closed, and every move request carries a
// code the recorder knows.
//
// Input: byte 0 the length of the answer that follows; then one event per byte pair.
#include <cstddef>
#include <cstdint>
#include <span>

#include "../fuzz_check.h"
#include "maintenance/ptz_controller.h"
#include "maintenance/ptz_rules.h"

namespace m = taviro::maintenance;

namespace {

class CCheckingLink final : public m::IPtzLink {
  public:
    bool SendChannel(int channel, m::PtzMode) override {
        TAVIRO_FUZZ_CHECK(channel >= 0 && channel < 16);
        return true;
    }
    bool SendMove(std::uint8_t code, int number) override {
        TAVIRO_FUZZ_CHECK(code <= 17);
        TAVIRO_FUZZ_CHECK(number >= 0 && number < m::kPresetNumberLimit);
        return true;
    }
    bool SendStop() override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (bytes.empty()) {
        return 0;
    }
    const std::size_t ackLength = std::min<std::size_t>(bytes[0], bytes.size() - 1);
    const m::PtzAvailability answer = m::ReadChannelAck(bytes.subspan(1, ackLength));
    TAVIRO_FUZZ_CHECK(answer == m::PtzAvailability::Steerable ||
                      answer == m::PtzAvailability::NotSteerable);

    taviro::platform::CNullSink sink;
    CCheckingLink link;
    m::CPtzController ptz(sink);
    ptz.SetLink(&link);
    ptz.SetLive(true);
    taviro::protocol::RightsContext rights;
    rights.liveOn = true;
    const m::PtzScene scene{1, {0, 1, 2, 3}, 0x0001};
    const auto events = bytes.subspan(1 + ackLength);
    for (std::size_t i = 0; i + 1 < events.size(); i += 2) {
        const std::uint8_t arg = events[i + 1];
        switch (events[i] % 16) {
            case 0:
                ptz.Command(arg & 1 ? m::PtzMode::Zoom : m::PtzMode::Pan, rights, scene);
                break;
            case 1:
                ptz.Press(static_cast<m::PtzButton>(arg % 5));
                break;
            case 2:
                ptz.Release(static_cast<m::PtzButton>(arg % 5));
                break;
            case 3:
                ptz.PresetPress(static_cast<m::PresetKey>(arg % 8));
                break;
            case 4:
                ptz.PresetDigit(arg % 12 - 1);
                break;
            case 5:
                ptz.DomeSelect();
                ptz.DomePrevious();
                break;
            case 6:
                ptz.DomeClose();
                break;
            case 7:
                ptz.KeyDown(static_cast<m::PtzKey>(arg % 6));
                break;
            case 8:
                ptz.KeyUp(static_cast<m::PtzKey>(arg % 6));
                break;
            case 9:
                ptz.Wheel(arg % 4, arg & 0x80 ? -120 : 120);
                break;
            case 10:
                ptz.EndWheel();
                break;
            case 11:
                ptz.OnChannelAck(arg % 17, arg & 0x80 ? answer : m::PtzAvailability::Steerable);
                break;
            case 12:
                ptz.SelectChannel(arg % 20 - 2);
                break;
            case 13:
                ptz.ResendChannel(arg % 20 - 2);
                break;
            case 14:
                ptz.SetLive((arg & 1) != 0);
                break;
            default:
                ptz.CaptureLost();
                ptz.PanelCommand(arg & 1 ? m::PtzMode::Zoom : m::PtzMode::Pan);
                break;
        }
        TAVIRO_FUZZ_CHECK(ptz.Pad().Number() >= 0 && ptz.Pad().Number() < m::kPresetNumberLimit);
        TAVIRO_FUZZ_CHECK(ptz.PanelOpen() || !ptz.Moving());
        TAVIRO_FUZZ_CHECK(ptz.PanelOpen() || (!ptz.PresetOpen() && !ptz.DomeMenuOpen()));
    }
    ptz.Close();
    TAVIRO_FUZZ_CHECK(!ptz.Moving() && !ptz.Learning());
    return 0;
}
