#include "audio/audio_onoff.h"

#include "platform/trace.h"
#include "protocol/catalogue.h"

namespace taviro::audio {

AudioOnOffResult ToggleRecorderAudio(protocol::CRecorderSession& session, bool streaming,
                                     bool soundOutput) {
    if (!soundOutput)
        return AudioOnOffResult::kNoDevice;
    if (!streaming)
        return AudioOnOffResult::kNotStreaming;
    const bool on = !session.AudioOn();
    platform::Trace(on ? "Send... AUDIO_ONOFF_REQ...ON\n" : "Send... AUDIO_ONOFF_REQ...OFF\n");
    if (!session.Send(protocol::msg::AUDIO_ONOFF_REQ, {}, false, on))
        return AudioOnOffResult::kSendFailed;
    return on ? AudioOnOffResult::kSentOn : AudioOnOffResult::kSentOff;
}

}  // namespace taviro::audio
