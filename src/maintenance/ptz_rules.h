// The pure rules of pan-tilt-zoom control: which one-byte operation code each button sends
// in which panel mode, the payloads of PTZ_CHANNEL_REQ and PTZ_MOVE_REQ, the reading of
// PTZ_CHANNEL_ACK, the preset window's keypad and the choice of the steered channel.
//
// Threads: plain functions and a value type; whoever owns a CPresetPad uses it from one
// thread (the window thread in the client).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/channel_mask.h"

namespace taviro::maintenance {

// The panel's two modes; also byte 1 of PTZ_CHANNEL_REQ.
enum class PtzMode : std::uint8_t { Pan = 0, Zoom = 1 };

// The pad's buttons, numbered as the panel reports them.
enum class PtzButton : int { Up = 0, Down = 1, Left = 2, Right = 3, Preset = 4 };

// Operation codes of PTZ_MOVE_REQ byte 0.
namespace ptz_code {
inline constexpr std::uint8_t kPanRight = 0;
inline constexpr std::uint8_t kPanLeft = 1;
inline constexpr std::uint8_t kPanUp = 2;
inline constexpr std::uint8_t kPanDown = 3;
inline constexpr std::uint8_t kZoomUp = 4;    // zoom in
inline constexpr std::uint8_t kZoomDown = 5;  // zoom out
inline constexpr std::uint8_t kZoomRight = 6;
inline constexpr std::uint8_t kZoomLeft = 7;
inline constexpr std::uint8_t kPresetBase = 8;  // 8 + a PresetAction
inline constexpr std::uint8_t kLearnEnd = 11;
inline constexpr std::uint8_t kDomeEnter = 13;
inline constexpr std::uint8_t kMenuEnter = 14;
inline constexpr std::uint8_t kMenuEscape = 15;
inline constexpr std::uint8_t kMenuLeave = 16;
inline constexpr std::uint8_t kLastMove = kZoomLeft;  // codes up to here move until stopped
}  // namespace ptz_code

// What the preset window asks for; the code sent is 8 + the action.
enum class PresetAction : std::uint8_t {
    Set = 0,
    Call = 1,
    LearnSet = 2,
    LearnEnd = 3,
    LearnCall = 4,
    Tour = 9,
};

constexpr std::uint8_t PresetCode(PresetAction action) {
    return static_cast<std::uint8_t>(ptz_code::kPresetBase + static_cast<std::uint8_t>(action));
}

// The code a direction button sends in the panel's mode; nullopt for the preset button.
std::optional<std::uint8_t> MoveCode(PtzButton button, PtzMode mode);

// True for the codes that keep the camera moving until PTZ_MOVE_STOP.
constexpr bool IsContinuousMove(std::uint8_t code) {
    return code <= ptz_code::kLastMove;
}

using PtzPayload = std::array<std::uint8_t, 4>;

// PTZ_MOVE_REQ: code, number's low byte, 0, number's high byte (numbers are below 1000).
PtzPayload MovePayload(std::uint8_t code, int number = 0);
// PTZ_CHANNEL_REQ: the steered channel (0..15) and the panel mode.
PtzPayload ChannelPayload(int channel, PtzMode mode);

// PTZ availability: 0 unknown, 1 not steerable, 2 steerable.
enum class PtzAvailability : std::uint8_t { Unknown = 0, NotSteerable = 1, Steerable = 2 };

// PTZ_CHANNEL_ACK: byte 0 == 1 means steerable. An empty payload (or any other byte)
// means the channel cannot be steered.
PtzAvailability ReadChannelAck(std::span<const std::uint8_t> payload);

// The steered channel when the panel opens or the layout changes: the selected channel if
// it is shown and has a picture, else the first shown channel (in pane order) that is not
// in the video-loss set. nullopt when every shown channel has lost its picture.
std::optional<int> ChooseSteeredChannel(int selected, std::span<const int> shownInPaneOrder,
                                        protocol::ChannelMask videoLoss);

// The preset window's keypad: modes, actions and the number being entered.
enum class PresetMode : std::uint8_t { Preset = 0, Learn = 1 };
enum class PresetChoice : std::uint8_t { Set = 0, Call = 1, Tour = 2 };
enum class PresetKey : std::uint8_t { Preset, Learn, Dome, Set, Call, Ok, Close, Tour };

// What a key asks of the window's owner.
struct PresetOutcome {
    enum class Kind : std::uint8_t {
        Stay,       // the window stays open
        Close,      // the window closes, nothing is sent
        Send,       // send 8 + action with the number, then close
        EnterDome,  // send code 13, close, open the dome menu
    };
    Kind kind = Kind::Stay;
    PresetAction action = PresetAction::Call;
    int number = 0;
};

class CPresetPad {
  public:
    // The window opens in mode Preset, action Call, number 0.
    void Reset() { *this = CPresetPad{}; }

    PresetOutcome Press(PresetKey key);
    // The digit buttons 0..9 (the "0" button gives 0).
    void Digit(int digit);

    [[nodiscard]] PresetMode Mode() const { return m_mode; }
    [[nodiscard]] PresetChoice Choice() const { return m_choice; }
    [[nodiscard]] int Number() const { return m_number; }
    [[nodiscard]] bool TourShown() const { return m_tourShown; }
    [[nodiscard]] bool ZeroShown() const { return m_zeroShown; }

  private:
    PresetMode m_mode = PresetMode::Preset;
    PresetChoice m_choice = PresetChoice::Call;
    int m_number = 0;
    bool m_tourShown = true;
    bool m_zeroShown = true;
};

inline constexpr int kPresetNumberLimit = 1000;  // numbers are kept below this

}  // namespace taviro::maintenance
