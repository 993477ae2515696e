// Diagnostic traces ("Send... LIVE_REQ...", "Recv...HELLO48_ACK..."). Silent in normal use;
// switched on with TAVIRO_TRACE=1 in the environment or SetTraceEnabled(true). Lines are cut
// at 1,023 characters. Safe to call from any thread.
#pragma once

#include <cstdarg>

namespace taviro::platform {

void SetTraceEnabled(bool on);
bool TraceEnabled();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace taviro::platform
