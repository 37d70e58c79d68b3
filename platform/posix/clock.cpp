#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace fx60::platform {

int64_t monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleepMs(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void pumpOneMessage() {}

}  // namespace fx60::platform
