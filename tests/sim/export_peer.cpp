// A second process for the end-to-end tests: runs one export and reports its
// status as the exit code (the negated status, so -11 exits with 11).
//   sim_export_peer cancel INDEX
//   sim_export_peer capture INDEX TIMEOUT_MS WAIT_LIFT
//   sim_export_peer time-captures COUNT   (prints the mean and fastest capture time)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fx60link.h"

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "cancel") == 0) return -zzCancelCapture(std::atoi(argv[2]));
  if (argc >= 5 && std::strcmp(argv[1], "capture") == 0) {
    std::vector<unsigned char> image(92160);
    return -zzCaptureFingerprint(std::atoi(argv[2]), image.data(), std::atoi(argv[3]), std::atoi(argv[4]));
  }
  if (argc >= 3 && std::strcmp(argv[1], "time-captures") == 0) {
    const int count = std::atoi(argv[2]);
    std::vector<unsigned char> image(92160);
    double total = 0, fastest = 1e9;
    for (int i = 0; i < count; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const int status = zzCaptureFingerprint(0, image.data(), 5000, 0);
      if (status != 0) return -status;
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      total += ms;
      fastest = ms < fastest ? ms : fastest;
    }
    std::printf("mean %.1f ms, fastest %.1f ms\n", total / count, fastest);
    return 0;
  }
  std::fprintf(stderr, "usage: sim_export_peer cancel INDEX | capture INDEX TIMEOUT_MS WAIT_LIFT\n");
  return 100;
}
