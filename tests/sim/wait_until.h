// Waiting for a condition in tests, on every system.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace fx60::sim::testing {

// Polls until the condition holds or the time is up.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace fx60::sim::testing
