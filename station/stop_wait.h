// Pauses of the worker threads that end early when the worker is asked to stop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace fx60::station {

// Waits `duration` or until a stop is requested; true when the full time passed
// without one.
inline bool pauseUnlessStopped(const std::stop_token& stop, std::chrono::milliseconds duration) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stop, duration, [] { return false; });
  return !stop.stop_requested();
}

}  // namespace fx60::station
