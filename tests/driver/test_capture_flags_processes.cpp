// The busy and cancel bytes across real processes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "driver/library_api.h"
#include "driver/shared_capture_flags.h"
#include "tests/driver/fake_transport.h"

namespace fx60 {
namespace {

// A child process started through a pipe; waits until it reports "running".
class Child {
 public:
  Child(const char* mode, int index) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeFds[1], STDOUT_FILENO);
      close(pipeFds[0]);
      const std::string indexText = std::to_string(index);
      execl(CAPTURE_FLAGS_CHILD, CAPTURE_FLAGS_CHILD, mode, indexText.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeFds[1]);
    output_ = fdopen(pipeFds[0], "r");
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ != nullptr) fclose(output_);
  }

  bool waitUntilRunning() {
    char line[32] = {};
    return output_ != nullptr && fgets(line, sizeof line, output_) != nullptr && std::string(line) == "running\n";
  }
  // Exit code, or -1 when the child did not exit normally.
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void killNow() { kill(pid_, SIGKILL); }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  bool reaped_ = false;
};

TEST(CaptureFlagsAcrossProcesses, SecondCaptureOnABusyIndexIsRefusedAtOnce) {
  Child child("capture", 4);
  ASSERT_TRUE(child.waitUntilRunning());

  testing::FakeTransport storage;
  testing::ScopedTransports transports(&storage, nullptr);
  std::vector<uint8_t> image(kImageSize);
  EXPECT_EQ(api::captureFingerprint(4, image.data(), 0, 0), -11);
  EXPECT_EQ(storage.captures.load(), 0);
  // Another index is free.
  EXPECT_EQ(api::captureFingerprint(5, image.data(), 0, 0), 0);

  EXPECT_EQ(api::cancelCapture(4), 0);
  EXPECT_EQ(child.wait(), 2) << "the cancelled capture returns -2";
  EXPECT_FALSE(capture_flags::isBusy(TransportKind::Storage, 4));
}

TEST(CaptureFlagsAcrossProcesses, CancelFromThisProcessStopsTheOther) {
  Child child("capture", 6);
  ASSERT_TRUE(child.waitUntilRunning());
  EXPECT_EQ(api::cancelCapture(6), 0);
  EXPECT_EQ(child.wait(), 2);
  uint8_t flags[kSharedFlagsSize];
  capture_flags::snapshot(flags);
  EXPECT_EQ(flags[kStorageBusyOffset + 6], 0);
  EXPECT_EQ(flags[kStorageCancelOffset + 6], 0);
}

TEST(CaptureFlagsAcrossProcesses, KilledOwnerDoesNotLeaveTheIndexBusy) {
  Child child("hold", 8);
  ASSERT_TRUE(child.waitUntilRunning());
  EXPECT_TRUE(capture_flags::isBusy(TransportKind::Storage, 8));
  EXPECT_FALSE(capture_flags::tryBegin(TransportKind::Storage, 8));
  child.killNow();
  child.wait();

  // The next capture takes the index over.
  EXPECT_TRUE(capture_flags::tryBegin(TransportKind::Storage, 8));
  capture_flags::end(TransportKind::Storage, 8);

  // And a cancel of the dead capture answers "not running" instead of waiting.
  Child second("hold", 9);
  ASSERT_TRUE(second.waitUntilRunning());
  second.killNow();
  second.wait();
  EXPECT_EQ(api::cancelCapture(9), -11);
}

}  // namespace
}  // namespace fx60
