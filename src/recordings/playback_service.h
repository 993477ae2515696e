// Remote playback on the session: whether a playback stream runs, the channels it plays,
// the view-channel selection (PLAY_VIEW_CH) and the stop request. The requests that start
// and steer playback, and the recorder's answers, come with the playback window.
//
// Threads: requests from any thread (through the session's outbox); the state from any.
#pragma once

#include <atomic>

#include "protocol/channel_mask.h"
#include "protocol/login_service.h"
#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::recordings {

class CPlaybackService final : public protocol::ISessionService {
  public:
    CPlaybackService(protocol::CRecorderSession& session, protocol::CLoginService& login)
        : m_session(session), m_login(login) {}

    [[nodiscard]] std::string_view Name() const override { return "playback"; }
    void Register(protocol::CDispatchTable&) override {}
    [[nodiscard]] protocol::Service Kind() const override { return protocol::Service::Playback; }
    [[nodiscard]] bool Running() const override { return m_bRunning.load(); }
    bool StopRunning() override;
    void CloseGates() override { m_bRunning = false; }

    // A playback stream of `channels` runs (or none).
    void SetRunning(bool running, protocol::ChannelMask channels = 0);
    [[nodiscard]] protocol::ChannelMask Channels() const { return m_nChannels.load(); }
    // The visible panes changed: PLAY_VIEW_CH with the played channels that are visible,
    // when playback runs and the recorder accepts it. False when nothing was sent.
    bool SendViewChannels(protocol::ChannelMask visible);
    // RPLAY_STOP when playback runs; playback is off afterwards.
    bool Stop();

  private:
    protocol::CRecorderSession& m_session;
    protocol::CLoginService& m_login;
    std::atomic<bool> m_bRunning{false};
    std::atomic<protocol::ChannelMask> m_nChannels{0};
};

}  // namespace taviro::recordings
