// The task queue of a thread that owns a view without a windowing toolkit (the
// console front end, the tests): other threads post tasks, the owner runs them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace fx60::station {

class TaskLoop {
 public:
  // Any thread.
  void post(std::function<void()> task);

  // On the owner: runs every queued task, waiting up to `wait` for the first
  // when none is queued. The number of tasks run.
  size_t runPending(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

  // On the owner: runs tasks until `condition` holds (checked after each) or the
  // time is up; whether it holds.
  bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace fx60::station
