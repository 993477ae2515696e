// `taviro-cli talk`: log in, ask the recorder to take microphone audio, send a WAV file as
// the microphone (paced in real time) for a while, stop talking and disconnect in order.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunTalk(const std::vector<std::string>& args);

}  // namespace taviro::cli
