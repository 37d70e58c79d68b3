#include "platform/shared_memory.h"

#include <windows.h>

namespace fx60::platform {
namespace {

// A data section the linker marks shared: every process that loads the module
// holding it sees the same bytes (the library's, when this layer is linked into
// FX60Link.dll). It must be initialised to land in the section rather than in
// uninitialised data.
constexpr size_t kSharedCapacity = 256;
alignas(8) unsigned char sharedSection[kSharedCapacity] __attribute__((section(".fx60shr"), shared)) = {};

}  // namespace

// The block name is not needed here: the section belongs to the module file, so
// processes of different programs that each link this layer statically have
// blocks of their own, and all users of one FX60Link.dll share one.
void* mapSharedBlock(const char* /*name*/, size_t size) {
  return size <= kSharedCapacity ? sharedSection : nullptr;
}

int currentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool processIsAlive(int processId) {
  if (processId <= 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace fx60::platform
