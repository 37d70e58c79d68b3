#include "station/task_loop.h"

#include <algorithm>

namespace fx60::station {

void TaskLoop::post(std::function<void()> task) {
  {
    std::lock_guard hold(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

size_t TaskLoop::runPending(std::chrono::milliseconds wait) {
  std::deque<std::function<void()>> due;
  {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, wait, [&] { return !tasks_.empty(); });
    due.swap(tasks_);
  }
  for (auto& task : due) task();
  return due.size();
}

bool TaskLoop::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  // The condition may come true without a task (another thread's state), so it
  // is looked at again at least this often.
  constexpr auto kRecheck = std::chrono::milliseconds(5);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait_for(lock, std::min(left, kRecheck), [&] { return !tasks_.empty(); })) continue;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
  return true;
}

}  // namespace fx60::station
