// Threads that end after using thread-local buffers free them cleanly: the
// matcher keeps its work buffers per thread, and callers of the library create
// and end threads as they like.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>
#include <vector>


namespace {

struct alignas(16) Buffers {
  std::array<float, 1024> values{};
};

int touchThreadBuffers() {
  thread_local std::unique_ptr<Buffers> buffers = std::make_unique<Buffers>();
  buffers->values[3] += 1;
  return static_cast<int>(buffers->values[3]);
}

TEST(ThreadExit, ThreadLocalBuffersAreFreedOnEveryThread) {
  for (int round = 0; round < 100; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([] { EXPECT_EQ(touchThreadBuffers(), 1); });
    for (auto& thread : threads) thread.join();
  }
}

}  // namespace
