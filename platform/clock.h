// Time services: a monotonic millisecond clock, sleeping, and the per-iteration
// message hook of the capture loops.
#pragma once

#include <cstdint>

namespace fx60::platform {

// Milliseconds on a monotonic clock. Only differences are meaningful.
int64_t monotonicMs();

void sleepMs(int milliseconds);

// Gives the calling thread's user interface a chance to run once per capture
// iteration. Nothing to do on this platform: capturing callers use worker threads.
void pumpOneMessage();

}  // namespace fx60::platform
