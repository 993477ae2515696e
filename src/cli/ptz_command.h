// `taviro-cli ptz`: steers one channel's camera. Logs in, waits for live view (the recorder
// takes PTZ only while it runs), asks whether the channel can be steered (PTZ_CHANNEL_REQ)
// and prints the answer; when it can, sends one operation: a move held for a time and then
// stopped, a preset stored or called, a tour, or a step of the dome camera's menu.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunPtz(const std::vector<std::string>& args);

}  // namespace taviro::cli
