// Gives each test process its own block of shared capture flags, so that tests
// running side by side never see each other's busy bytes. Child processes inherit
// the name through the environment and so share their parent's block.
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct IsolatedCaptureFlags {
  std::string name = "/fx60-test-" + std::to_string(getpid());
  IsolatedCaptureFlags() { setenv("FX60_SHARED_FLAGS_NAME", name.c_str(), 1); }
  ~IsolatedCaptureFlags() { shm_unlink(name.c_str()); }
};

const IsolatedCaptureFlags isolatedCaptureFlags;

}  // namespace
