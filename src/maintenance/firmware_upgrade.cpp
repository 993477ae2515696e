#include "maintenance/firmware_upgrade.h"
#include "maintenance/firmware_service.h"

#include <algorithm>
#include <utility>

namespace taviro::maintenance {

CFirmwareUpgrade::CFirmwareUpgrade(CFirmwareService& service, platform::IMessageSink& sink,
                                   UpgradeScan scan)
    : m_service(service), m_sink(sink), m_scan(std::move(scan)) {
    for (std::size_t row = 0; row < kFwRows; ++row) {
        FwRowView& view = m_view.rows[row];
        view.labelText = kFwRowLabelText + static_cast<int>(row);
        view.hasSlot = row < m_scan.slotCount && row < kFwMaxSlots;
        const bool candidate = view.hasSlot && m_scan.upgradeSlots[row].bCandidate;
        view.enabled = candidate;
        view.checked = candidate;
    }
    UpdateStart();
    m_service.SetWindowOpen(true);
}

CFirmwareUpgrade::~CFirmwareUpgrade() {
    if (!m_bClosed) {
        if (m_bWorkerRunning) {
            m_service.RequestStop();
        }
        m_service.SetWindowOpen(false);
    }
}

void CFirmwareUpgrade::UpdateStart() {
    m_view.startEnabled = std::any_of(m_view.rows.begin(), m_view.rows.end(),
                                      [](const FwRowView& r) { return r.enabled && r.checked; });
}

void CFirmwareUpgrade::SetChecked(std::size_t row, bool checked) {
    if (m_bClosed || m_state != State::Idle || row >= kFwRows || !m_view.rows[row].enabled) {
        return;
    }
    m_view.rows[row].checked = checked;
    UpdateStart();
}

bool CFirmwareUpgrade::Start() {
    if (m_bClosed || m_state != State::Idle || m_service.TransferRunning() ||
        !m_view.startEnabled) {
        return false;
    }
    // The selection is fixed for the run: the check boxes stay as they are until it ends.
    for (std::size_t row = 0; row < kFwRows; ++row) {
        FwRowView& view = m_view.rows[row];
        view.enabled = false;
        if (view.hasSlot && m_scan.upgradeSlots[row].bCandidate && view.checked) {
            view.percent = 0;
            view.statusText = kFwTextNone;
        }
    }
    m_nCurSlot = 0;
    Advance();
    return true;
}

void CFirmwareUpgrade::Advance() {
    m_bResultIn = false;
    m_bStopRequested = false;
    for (std::size_t slot = m_nCurSlot; slot < m_scan.slotCount; ++slot) {
        UpgradeSlot& candidate = m_scan.upgradeSlots[slot];
        if (!candidate.bCandidate || !m_view.rows[slot].checked) {
            continue;
        }
        m_nCurSlot = slot;
        candidate.bCandidate = false;
        if (!m_service.RequestUpdate(candidate.request)) {
            SetStatus(kFwTextFailed);  // the connection is closing
            break;
        }
        m_state = State::AwaitAck;
        m_view.startVisible = false;
        m_view.stopVisible = true;
        m_view.stopEnabled = true;
        return;
    }
    EndRun();
}

void CFirmwareUpgrade::EndRun() {
    m_state = State::Idle;
    m_bResultIn = false;
    m_bStopRequested = false;
    m_view.startVisible = true;
    m_view.stopVisible = false;
    m_view.stopEnabled = false;
    m_view.closeEnabled = true;
    for (std::size_t row = 0; row < kFwRows; ++row) {
        FwRowView& view = m_view.rows[row];
        view.enabled = view.hasSlot && m_scan.upgradeSlots[row].bCandidate;
    }
    UpdateStart();
    m_nCurSlot = 0;
}

void CFirmwareUpgrade::SlotFinished() {
    // Both halves are needed: the recorder's result and the end of this slot's worker.
    if (m_bResultIn && !m_bWorkerRunning) {
        Advance();
    }
}

void CFirmwareUpgrade::Stop() {
    if (m_bClosed || m_state == State::Idle) {
        return;
    }
    m_view.stopEnabled = false;
    if (m_bWorkerRunning) {
        // The run ends when the worker reports its end (maintenance::WM_FW_WORKER_ENDED).
        m_bStopRequested = true;
        m_service.RequestStop();
        return;
    }
    SetStatus(kFwTextStopped);
    EndRun();
}

void CFirmwareUpgrade::Close() {
    if (m_bClosed) {
        return;
    }
    if (m_bWorkerRunning) {
        m_service.RequestStop();
    }
    m_bClosed = true;
    m_service.SetWindowOpen(false);
    if (m_nSuccess > 0) {
        m_sink.Notify(8, 5);
    }
}

bool CFirmwareUpgrade::OnMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    if (m_bClosed) {
        return false;
    }
    switch (message) {
        case maintenance::WM_FW_UPDATE_ACK:
            if (m_state != State::AwaitAck) {
                return false;  // late or repeated: nothing was asked for
            }
            if (!m_service.StartTransfer(m_nCurSlot, m_scan.upgradeSlots[m_nCurSlot].path)) {
                SetStatus(kFwTextFailed);
                EndRun();
                return true;
            }
            m_state = State::Transfer;
            m_bWorkerRunning = true;
            m_view.closeEnabled = false;
            return true;

        case maintenance::WM_FW_UPDATE_NACK:
            if (m_state != State::AwaitAck) {
                return false;
            }
            SetStatus(lParam == 1    ? kFwTextRefusedBusy
                      : lParam == 17 ? kFwTextRefused17
                      : lParam == 18 ? kFwTextRefused18
                                     : kFwTextNone);
            Advance();
            return true;

        case maintenance::WM_FW_DATA_RX_DONE:
            return m_state == State::Transfer;  // a repaint only

        case maintenance::WM_FW_UPDATE_DONE:
        case maintenance::WM_FW_UPDATE_FAIL:
        case maintenance::WM_FW_DATA_RX_FAIL:
            if (m_state != State::Transfer || m_bResultIn) {
                return false;
            }
            m_bResultIn = true;
            if (message == maintenance::WM_FW_UPDATE_DONE) {
                SetStatus(kFwTextDone);
                ++m_nSuccess;
            } else {
                SetStatus(kFwTextFailed);
                m_service.RequestStop();
            }
            SlotFinished();
            return true;

        case maintenance::WM_FW_PROGRESS:
            if (m_state != State::Transfer || !m_bWorkerRunning || wParam != m_nCurSlot) {
                return false;
            }
            m_view.rows[m_nCurSlot].percent =
                static_cast<int>(std::clamp<std::int64_t>(lParam, 0, 100));
            return true;

        case maintenance::WM_FW_WORKER_ENDED:
            if (m_state != State::Transfer || !m_bWorkerRunning || wParam != m_nCurSlot) {
                return false;
            }
            m_bWorkerRunning = false;
            m_view.closeEnabled = true;
            if (m_bStopRequested) {
                SetStatus(kFwTextStopped);
                EndRun();
            } else if (lParam != kFwSent && lParam != kFwStopped) {
                SetStatus(kFwTextFailed);
                EndRun();
            } else {
                SlotFinished();
            }
            return true;

        default:
            return false;
    }
}

}  // namespace taviro::maintenance
