// The firmware upgrade window's logic without Qt: seven rows (a check box, a label, a
// progress bar and a status text each), the Start / Stop / Close buttons, and the run that
// upgrades the checked slots one after the other:
//
//   idle -> awaiting FW_UPDATE_ACK -> transferring (worker) and awaiting the result
//        -> next checked slot ... -> idle
//
// Only the answer the run waits for is taken: an acknowledgement that comes late (after
// Stop) or twice starts nothing, and a result outside a transfer changes nothing. The next
// request goes out only when both the slot's result has come and its worker has ended, so
// a worker is always finished before the next one starts. A worker that fails on its own
// (the image cannot be read, the connection took no more) ends the run with the failure
// text: the recorder's state for that image is unknown, so nothing more is sent to it.
//
// Threads: everything here runs on the window's thread (the window, or the command-line
// client's loop) and never waits: requests are queued, the worker is stopped by a flag and
// reports its end as maintenance::WM_FW_WORKER_ENDED. Ownership: the service belongs to the
// connection and outlives this object; the scan result is copied in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "maintenance/firmware_scan.h"
#include "maintenance/firmware_service.h"
#include "platform/message_sink.h"

namespace taviro::maintenance {

// Status texts of a row.
inline constexpr int kFwTextNone = 0;
inline constexpr int kFwTextRefusedBusy = 5083;  // refusal reason 1
inline constexpr int kFwTextStopped = 5190;
inline constexpr int kFwTextRefused17 = 5191;
inline constexpr int kFwTextRefused18 = 5192;
inline constexpr int kFwTextFailed = 5193;
inline constexpr int kFwTextDone = 5194;

struct FwRowView {
    int labelText = 0;     // 5180 + row
    bool hasSlot = false;  // rows beyond the recorder's slot count are never enabled
    bool enabled = false;
    bool checked = false;
    int percent = 0;  // 0..100
    int statusText = kFwTextNone;
};

struct FwView {
    std::array<FwRowView, kFwRows> rows{};
    bool startVisible = true;
    bool startEnabled = false;
    bool stopVisible = false;
    bool stopEnabled = false;
    bool closeEnabled = true;
};

class CFirmwareUpgrade {
  public:
    enum class State { Idle, AwaitAck, Transfer };

    // Tells the service that an upgrade window is open (its answers are forwarded).
    CFirmwareUpgrade(CFirmwareService& service, platform::IMessageSink& sink, UpgradeScan scan);
    // As Close without the notification: a running worker is told to stop.
    ~CFirmwareUpgrade();
    CFirmwareUpgrade(const CFirmwareUpgrade&) = delete;
    CFirmwareUpgrade& operator=(const CFirmwareUpgrade&) = delete;

    // A row's check box; ignored for disabled rows and during a run.
    void SetChecked(std::size_t row, bool checked);
    // Starts the run at slot 0; false when a run is on or nothing is checked.
    bool Start();
    // Ends the run: a running worker is told to stop (the run ends when it reports its end).
    void Stop();
    // The window closes: stops what runs and, when at least one upgrade succeeded, posts the
    // notification (8, 5) that offers the reboot. Further messages are ignored.
    void Close();
    // One message for Window::Firmware (WM_FW_*); true when the view changed.
    bool OnMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam);

    [[nodiscard]] const FwView& View() const { return m_view; }
    [[nodiscard]] State CurrentState() const { return m_state; }
    [[nodiscard]] std::size_t CurrentSlot() const { return m_nCurSlot; }
    [[nodiscard]] int Successes() const { return m_nSuccess; }
    [[nodiscard]] const UpgradeScan& Scan() const { return m_scan; }

  private:
    void Advance();
    void EndRun();
    void SlotFinished();
    void UpdateStart();
    void SetStatus(int text) { m_view.rows[m_nCurSlot].statusText = text; }

    CFirmwareService& m_service;
    platform::IMessageSink& m_sink;
    UpgradeScan m_scan;
    FwView m_view;
    State m_state = State::Idle;
    std::size_t m_nCurSlot = 0;
    bool m_bWorkerRunning = false;  // this run's worker has not reported its end yet
    bool m_bResultIn = false;       // the recorder's result for the current slot has come
    bool m_bStopRequested = false;
    bool m_bClosed = false;
    int m_nSuccess = 0;
};

}  // namespace taviro::maintenance
