// A second process for the cross-process capture tests. Usage:
//   capture_flags_child capture INDEX   run a capture that lasts until cancelled (10 s at most);
//                                       exit code = minus the capture status
//   capture_flags_child hold INDEX      claim the index and wait to be killed
// It prints "running" once the busy byte is set.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/library_api.h"
#include "driver/shared_capture_flags.h"
#include "platform/clock.h"
#include "tests/driver/fake_transport.h"

int main(int argc, char** argv) {
  if (argc != 3) return 100;
  const int index = std::atoi(argv[2]);
  fx60::testing::FakeTransport storage;
  storage.waitForCancel = true;
  storage.onCapture = [] {
    std::puts("running");
    std::fflush(stdout);
  };
  fx60::testing::ScopedTransports transports(&storage, nullptr);

  if (std::strcmp(argv[1], "capture") == 0) {
    std::vector<uint8_t> image(fx60::kImageSize);
    return -fx60::api::captureFingerprint(index, image.data(), 0, 0);
  }
  if (std::strcmp(argv[1], "hold") == 0) {
    if (!fx60::capture_flags::tryBegin(fx60::TransportKind::Storage, index)) return 11;
    std::puts("running");
    std::fflush(stdout);
    for (;;) fx60::platform::sleepMs(1000);
  }
  return 100;
}
