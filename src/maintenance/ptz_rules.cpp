#include "maintenance/ptz_rules.h"

namespace taviro::maintenance {

std::optional<std::uint8_t> MoveCode(PtzButton button, PtzMode mode) {
    const bool pan = mode == PtzMode::Pan;
    switch (button) {
        case PtzButton::Up:
            return pan ? ptz_code::kPanUp : ptz_code::kZoomUp;
        case PtzButton::Down:
            return pan ? ptz_code::kPanDown : ptz_code::kZoomDown;
        case PtzButton::Left:
            return pan ? ptz_code::kPanLeft : ptz_code::kZoomLeft;
        case PtzButton::Right:
            return pan ? ptz_code::kPanRight : ptz_code::kZoomRight;
        case PtzButton::Preset:
            break;
    }
    return std::nullopt;
}

PtzPayload MovePayload(std::uint8_t code, int number) {
    // The number field is two bytes wide; anything outside is cut to it rather than
    // wrapped into a different preset by accident of a sign.
    const auto n = static_cast<std::uint16_t>(number < 0 ? 0 : number & 0xFFFF);
    return {code, static_cast<std::uint8_t>(n & 0xFFu), 0,
            static_cast<std::uint8_t>((n >> 8) & 0xFFu)};
}

PtzPayload ChannelPayload(int channel, PtzMode mode) {
    const auto id = static_cast<std::uint8_t>(channel < 0 ? 0 : channel & 0xFF);
    return {id, static_cast<std::uint8_t>(mode), 0, 0};
}

PtzAvailability ReadChannelAck(std::span<const std::uint8_t> payload) {
    if (!payload.empty() && payload[0] == 1) {
        return PtzAvailability::Steerable;
    }
    return PtzAvailability::NotSteerable;
}

std::optional<int> ChooseSteeredChannel(int selected, std::span<const int> shownInPaneOrder,
                                        protocol::ChannelMask videoLoss) {
    const auto usable = [videoLoss](int channel) {
        return channel >= 0 && channel < protocol::kMaxChannels &&
               !protocol::HasChannel(videoLoss, channel);
    };
    for (const int channel : shownInPaneOrder) {
        if (channel == selected && usable(channel)) {
            return channel;
        }
    }
    for (const int channel : shownInPaneOrder) {
        if (usable(channel)) {
            return channel;
        }
    }
    return std::nullopt;
}

PresetOutcome CPresetPad::Press(PresetKey key) {
    PresetOutcome out;
    switch (key) {
        case PresetKey::Preset:
            m_mode = PresetMode::Preset;
            m_choice = PresetChoice::Call;
            m_zeroShown = m_tourShown = true;
            m_number = 0;
            break;
        case PresetKey::Learn:
            m_mode = PresetMode::Learn;
            m_choice = PresetChoice::Call;
            m_zeroShown = m_tourShown = false;
            m_number = 0;
            break;
        case PresetKey::Set:
            m_choice = PresetChoice::Set;
            m_tourShown = false;
            m_number = 0;
            break;
        case PresetKey::Call:
            m_choice = PresetChoice::Call;
            m_tourShown = m_mode == PresetMode::Preset;
            m_number = 0;
            break;
        case PresetKey::Tour:
            // Only reachable while shown, i.e. in mode Preset.
            m_choice = m_choice == PresetChoice::Tour ? PresetChoice::Call : PresetChoice::Tour;
            m_number = 0;
            break;
        case PresetKey::Dome:
            out.kind = PresetOutcome::Kind::EnterDome;
            break;
        case PresetKey::Close:
            out.kind = PresetOutcome::Kind::Close;
            break;
        case PresetKey::Ok:
            out.kind = PresetOutcome::Kind::Close;
            if (m_number > 0) {
                out.kind = PresetOutcome::Kind::Send;
                out.number = m_number;
                if (m_mode == PresetMode::Learn) {
                    out.action = m_choice == PresetChoice::Set ? PresetAction::LearnSet
                                                               : PresetAction::LearnCall;
                } else {
                    out.action = m_choice == PresetChoice::Set    ? PresetAction::Set
                                 : m_choice == PresetChoice::Tour ? PresetAction::Tour
                                                                  : PresetAction::Call;
                }
            }
            break;
    }
    return out;
}

void CPresetPad::Digit(int digit) {
    if (digit < 0 || digit > 9) {
        return;
    }
    if (m_mode == PresetMode::Learn) {
        m_number = digit;
    } else if (m_choice == PresetChoice::Tour) {
        m_number = digit >= 1 && digit <= 4 ? digit : 0;
    } else {
        m_number = (m_number * 10 + digit) % kPresetNumberLimit;
    }
}

}  // namespace taviro::maintenance
