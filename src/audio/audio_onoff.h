// The "Audio" button's request: AUDIO_ONOFF_REQ (no payload) asks the recorder to start
// sending audio (audioOn set in the header) while its audio flag is clear, and to stop
// (audioOn clear) while it is set. The answer shows only as the audio flag of the messages
// that follow, so two quick presses send ON twice unless the flag changed in between.
//
// Threads: any (the request goes through the session's outbox).
#pragma once

#include "protocol/session.h"

namespace taviro::audio {

enum class AudioOnOffResult {
    kSentOn,
    kSentOff,
    kNotStreaming,  // neither live view nor remote playback runs
    kNoDevice,      // no sound output device: the recorder is never asked
    kSendFailed,
};

// `streaming`: live view or remote playback runs; `soundOutput`: a sound output device
// exists.
AudioOnOffResult ToggleRecorderAudio(protocol::CRecorderSession& session, bool streaming,
                                     bool soundOutput);

}  // namespace taviro::audio
