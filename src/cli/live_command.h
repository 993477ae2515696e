// `taviro-cli live`: live view without a screen. Logs in, runs the live stream through the
// real session, stream reassembly, channel queues and decoder threads, optionally narrows
// the channel selection, then stops live view in order and disconnects. Prints what every
// channel received and decoded, and can save each channel's last picture.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunLive(const std::vector<std::string>& args);

}  // namespace taviro::cli
