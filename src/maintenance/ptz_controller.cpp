#include "maintenance/ptz_controller.h"

namespace taviro::maintenance {

namespace {

// Zoom keys send the zoom codes whatever the panel's mode: the code alone tells the
// recorder what to do.
std::optional<std::uint8_t> KeyCode(PtzKey key, PtzMode mode) {
    switch (key) {
        case PtzKey::Up:
            return MoveCode(PtzButton::Up, mode);
        case PtzKey::Down:
            return MoveCode(PtzButton::Down, mode);
        case PtzKey::Left:
            return MoveCode(PtzButton::Left, mode);
        case PtzKey::Right:
            return MoveCode(PtzButton::Right, mode);
        case PtzKey::ZoomIn:
            return ptz_code::kZoomUp;
        case PtzKey::ZoomOut:
            return ptz_code::kZoomDown;
    }
    return std::nullopt;
}

}  // namespace

void CPtzController::SetLink(IPtzLink* link) {
    if (link == m_link) {
        return;
    }
    // The old session's own shutdown stopped what it knew of; nothing more goes out on it.
    m_link = nullptr;
    m_move.reset();
    CloseWindows(false);
    m_bLearning = false;
    m_nLearnNumber = 0;
    m_bLive = false;
    m_link = link;
    Changed();
}

void CPtzController::OnSessionClosing() {
    StopMove();
    CloseWindows(false);
    m_link = nullptr;
    m_bLive = false;
    Changed();
}

void CPtzController::SetLive(bool on) {
    if (m_bLive == on) {
        return;
    }
    if (!on) {
        // The recorder no longer shows live pictures: nothing may keep moving, and the
        // dome menu cannot be left by a request any more.
        StopMove();
        m_bLive = false;
        CloseWindows(false);
    }
    m_bLive = on;
    Changed();
}

PtzResult CPtzController::Command(PtzMode mode, const protocol::RightsContext& rights,
                                  const PtzScene& scene) {
    if (m_link == nullptr || !rights.liveOn) {
        return PtzResult::kIgnored;
    }
    m_bLive = true;
    if (!protocol::MayUse(protocol::Feature::Ptz, rights)) {
        Close();
        m_owner.Notify(15, 0);
        return PtzResult::kRefused;
    }
    if (m_bPanelOpen) {
        PanelCommand(mode);
        return PtzResult::kDone;
    }
    m_bPanelOpen = true;
    m_mode = mode;
    m_bPadEnabled = true;
    m_availability = PtzAvailability::Unknown;
    m_nChannel = -1;
    if (const auto channel = ChooseSteeredChannel(scene.selected, scene.shown, scene.videoLoss)) {
        Steer(*channel);
    }
    Changed();
    return PtzResult::kDone;
}

void CPtzController::PanelCommand(PtzMode mode) {
    if (!m_bPanelOpen) {
        return;
    }
    if (m_mode == mode) {
        Close();
        return;
    }
    // A move held in the old mode is not the operator's intent in the new one.
    StopMove();
    m_mode = mode;
    // The recorder learns the panel's mode with the channel request.
    if (m_nChannel >= 0 && m_link != nullptr && m_bLive) {
        m_link->SendChannel(m_nChannel, m_mode);
    }
    Changed();
}

void CPtzController::Close() {
    CloseWindows(m_bLive);
    Changed();
}

void CPtzController::CloseWindows(bool sendLeave) {
    StopMove();
    if (m_bDomeMenu && sendLeave && m_link != nullptr) {
        m_link->SendMove(ptz_code::kMenuLeave, 0);
    }
    m_bDomeMenu = false;
    if (m_bLearning && m_link != nullptr) {
        m_link->SendMove(ptz_code::kLearnEnd, m_nLearnNumber);
    }
    m_bLearning = false;
    m_nLearnNumber = 0;
    m_bPresetOpen = false;
    m_bPanelOpen = false;
    m_bPadEnabled = false;
    m_nChannel = -1;
    m_availability = PtzAvailability::Unknown;
}

void CPtzController::OnChannelAck(int channel, PtzAvailability availability) {
    if (!m_bPanelOpen || channel != m_nChannel) {
        return;  // an answer for a channel no longer steered
    }
    m_availability = availability;
    m_bPadEnabled = availability == PtzAvailability::Steerable;
    if (!m_bPadEnabled) {
        StopMove();
    }
    Changed();
}

void CPtzController::SelectChannel(int channel) {
    if (!m_bPanelOpen || !m_bLive || m_link == nullptr || channel == m_nChannel) {
        return;
    }
    Steer(channel);
    Changed();
}

void CPtzController::ResendChannel(int channel) {
    if (!m_bPanelOpen || !m_bLive || m_link == nullptr) {
        return;
    }
    Steer(channel);
    Changed();
}

void CPtzController::Steer(int channel) {
    if (channel < 0 || channel >= protocol::kMaxChannels) {
        return;
    }
    if (channel != m_nChannel) {
        // The move was aimed at the camera that is no longer steered.
        StopMove();
    }
    m_nChannel = channel;
    m_link->SendChannel(channel, m_mode);
}

bool CPtzController::CanSteer() const {
    return m_link != nullptr && m_bLive && m_bPanelOpen && m_bPadEnabled && m_nChannel >= 0;
}

bool CPtzController::StartMove(std::uint8_t code, Source source, int which) {
    if (!CanSteer()) {
        return false;
    }
    if (m_move) {
        if (m_move->source == source && m_move->which == which) {
            return true;  // a repeated press of what already moves
        }
        StopMove();
    }
    if (m_link->SendMove(code, 0)) {
        m_move = Move{source, which};
    }
    Changed();
    return true;
}

void CPtzController::StopMove() {
    if (!m_move) {
        return;
    }
    m_move.reset();
    if (m_link != nullptr) {
        m_link->SendStop();
    }
}

void CPtzController::EndMove(Source source, int which) {
    if (m_move && m_move->source == source && m_move->which == which) {
        StopMove();
        Changed();
    }
}

void CPtzController::Press(PtzButton button) {
    if (button == PtzButton::Preset) {
        if (!CanSteer()) {
            return;
        }
        if (m_bLearning) {
            // The preset button ends the pattern being learned instead of opening the window.
            m_link->SendMove(ptz_code::kLearnEnd, m_nLearnNumber);
            m_bLearning = false;
            m_nLearnNumber = 0;
        } else {
            m_pad.Reset();
            m_bPresetOpen = true;
        }
        Changed();
        return;
    }
    if (const auto code = MoveCode(button, m_mode)) {
        StartMove(*code, Source::Button, static_cast<int>(button));
    }
}

void CPtzController::Release(PtzButton button) {
    EndMove(Source::Button, static_cast<int>(button));
}

void CPtzController::CaptureLost() {
    if (m_move && m_move->source == Source::Button) {
        StopMove();
        Changed();
    }
}

void CPtzController::PresetPress(PresetKey key) {
    if (!m_bPresetOpen) {
        return;
    }
    const PresetOutcome out = m_pad.Press(key);
    switch (out.kind) {
        case PresetOutcome::Kind::Stay:
            break;
        case PresetOutcome::Kind::Close:
            m_bPresetOpen = false;
            break;
        case PresetOutcome::Kind::Send:
            m_bPresetOpen = false;
            if (m_link != nullptr && m_bLive &&
                m_link->SendMove(PresetCode(out.action), out.number) &&
                out.action == PresetAction::LearnSet) {
                m_bLearning = true;
                m_nLearnNumber = out.number;
            }
            break;
        case PresetOutcome::Kind::EnterDome:
            m_bPresetOpen = false;
            if (m_link != nullptr && m_bLive) {
                m_link->SendMove(ptz_code::kDomeEnter, 0);
                m_bDomeMenu = true;
            }
            break;
    }
    Changed();
}

void CPtzController::PresetDigit(int digit) {
    if (m_bPresetOpen) {
        m_pad.Digit(digit);
        Changed();
    }
}

void CPtzController::DomeSelect() {
    if (m_bDomeMenu && m_link != nullptr && m_bLive) {
        m_link->SendMove(ptz_code::kMenuEnter, 0);
    }
}

void CPtzController::DomePrevious() {
    if (m_bDomeMenu && m_link != nullptr && m_bLive) {
        m_link->SendMove(ptz_code::kMenuEscape, 0);
    }
}

void CPtzController::DomeClose() {
    if (!m_bDomeMenu) {
        return;
    }
    if (m_link != nullptr && m_bLive) {
        m_link->SendMove(ptz_code::kMenuLeave, 0);
    }
    m_bDomeMenu = false;
    Changed();
}

bool CPtzController::KeyDown(PtzKey key) {
    if (!m_bPanelOpen) {
        return false;
    }
    if (const auto code = KeyCode(key, m_mode)) {
        StartMove(*code, Source::Key, static_cast<int>(key));
    }
    return true;
}

bool CPtzController::KeyUp(PtzKey key) {
    if (!m_bPanelOpen) {
        return false;
    }
    EndMove(Source::Key, static_cast<int>(key));
    return true;
}

std::optional<std::chrono::milliseconds> CPtzController::Wheel(int channel, int delta) {
    if (delta == 0 || channel != m_nChannel || !CanSteer()) {
        return std::nullopt;
    }
    if (m_move && m_move->source != Source::Wheel) {
        return std::nullopt;  // a held button or key keeps its move
    }
    const std::uint8_t code = delta > 0 ? ptz_code::kZoomUp : ptz_code::kZoomDown;
    const int which = delta > 0 ? 0 : 1;
    if (m_move && m_move->which != which) {
        StopMove();  // the wheel turned the other way
    }
    if (m_move) {
        return kWheelZoomTime;  // still zooming this way: the owner restarts its timer
    }
    if (!m_link->SendMove(code, 0)) {
        return std::nullopt;
    }
    m_move = Move{Source::Wheel, which};
    Changed();
    return kWheelZoomTime;
}

void CPtzController::EndWheel() {
    if (m_move && m_move->source == Source::Wheel) {
        StopMove();
        Changed();
    }
}

PtzIcon CPtzController::Icon() const {
    if (!m_bPanelOpen || m_nChannel < 0) {
        return {};
    }
    return {m_nChannel, m_mode == PtzMode::Pan ? 1 : 2};
}

void CPtzController::Changed() {
    if (m_observer) {
        m_observer();
    }
}

}  // namespace taviro::maintenance
