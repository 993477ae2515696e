// Backup on the session: whether a backup transfer runs and its stop request. The capacity
// calculation, the transfer and the backup writer come with the backup window.
//
// Threads: requests from any thread (through the session's outbox); the state from any.
#pragma once

#include <atomic>

#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::recordings {

class CBackupService final : public protocol::ISessionService {
  public:
    explicit CBackupService(protocol::CRecorderSession& session) : m_session(session) {}

    [[nodiscard]] std::string_view Name() const override { return "backup"; }
    void Register(protocol::CDispatchTable&) override {}
    [[nodiscard]] protocol::Service Kind() const override { return protocol::Service::Backup; }
    [[nodiscard]] bool Running() const override { return m_bRunning.load(); }
    bool StopRunning() override { return Stop(); }
    void CloseGates() override { m_bRunning = false; }

    void SetRunning(bool running) { m_bRunning.store(running); }
    // TRANS_OFF_REQ when a backup runs; it is off afterwards.
    bool Stop();

  private:
    protocol::CRecorderSession& m_session;
    std::atomic<bool> m_bRunning{false};
};

}  // namespace taviro::recordings
