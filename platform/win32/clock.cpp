#include "platform/clock.h"

#include <windows.h>

namespace fx60::platform {

int64_t monotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

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
