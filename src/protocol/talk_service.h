// Two-way audio on the session: the talk requests and the recorder's answers to them. The
// talk object that captures and sends the microphone belongs to the connection's owner,
// which creates it on protocol::WM_TALK_STARTED and destroys it on protocol::WM_TALK_STOPPED; it
// sets the talk flag here while it runs.
//
// Threads: requests from any thread (through the outbox); the RecvFn_ handlers on the
// receive thread.
#pragma once

#include <atomic>

#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::protocol {

class CTalkService final : public ISessionService {
  public:
    explicit CTalkService(CRecorderSession& session) : m_session(session) {}

    [[nodiscard]] std::string_view Name() const override { return "talk"; }
    void Register(CDispatchTable& table) override;
    [[nodiscard]] Service Kind() const override { return Service::Talk; }
    [[nodiscard]] bool Running() const override { return m_bTalkOn.load(); }
    bool StopRunning() override;
    void OnClosing() override;
    void CloseGates() override { m_bTalkOn = false; }

    // A_LISTEN_REQ: asks the recorder to take microphone audio; A_LISTEN_ACK answers with
    // protocol::WM_TALK_STARTED, A_LISTEN_NACK with a refusal.
    bool RequestTalk();
    // A_LISTEN_STOP_REQ: ends the talk session on the recorder's side.
    bool StopTalkRequest();
    // The talk object runs (set by its owner).
    void SetTalking(bool on) { m_bTalkOn.store(on); }

  private:
    bool RecvFn_AListenAck(const PacketHeader& header);
    bool RecvFn_AListenNack(const PacketHeader& header);
    bool RecvFn_AListenStopAck(const PacketHeader& header);

    CRecorderSession& m_session;
    std::atomic<bool> m_bTalkOn{false};
};

}  // namespace taviro::protocol
