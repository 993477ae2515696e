// `taviro-cli recordings` lists what the recorder holds: the months with recordings (the
// calendar's month answer) or one day's recorded stretches (the day timeline's answer), on
// the playback side or, with --backup, the backup side.
//
// `taviro-cli play` plays back from a time through the real session, stream layer, queues
// and decoders, optionally takes next steps, then stops playback in order and prints what
// every channel showed.
#pragma once

#include <string>
#include <vector>

namespace taviro::cli {

int RunRecordings(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);

}  // namespace taviro::cli
