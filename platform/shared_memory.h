// Memory shared by every process of this user and machine that maps the same name,
// and the process identity needed to tell a live owner from a dead one.
#pragma once

#include <cstddef>

namespace fx60::platform {

// Maps `size` bytes of the named shared block, creating it zero-filled when absent.
// Returns null when the system refuses; callers then fall back to private memory.
void* mapSharedBlock(const char* name, size_t size);

int currentProcessId();

// False only when the process is known to have ended.
bool processIsAlive(int processId);

}  // namespace fx60::platform
