#include "platform/clock.h"

#include <windows.h>

#include <chrono>

namespace fx60::platform {

// The performance counter behind steady_clock, not the 10 to 16 ms steps of the
// tick count: short capture time-outs stay exact.
int64_t monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleepMs(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

// A capture run on a window's thread keeps that window responsive: one message
// per iteration of the capture loop.
void pumpOneMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace fx60::platform
