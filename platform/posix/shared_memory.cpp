#include "platform/shared_memory.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fx60::platform {

void* mapSharedBlock(const char* name, size_t size) {
  const int fd = shm_open(name, O_RDWR | O_CREAT, 0666);
  if (fd < 0) return nullptr;
  // Every user of the module shares the block, whatever their umask.
  fchmod(fd, 0666);
  struct stat info {};
  if (fstat(fd, &info) != 0 || (static_cast<size_t>(info.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    close(fd);
    return nullptr;
  }
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return block == MAP_FAILED ? nullptr : block;
}

int currentProcessId() { return static_cast<int>(getpid()); }

bool processIsAlive(int processId) {
  if (processId <= 0) return false;
  if (kill(static_cast<pid_t>(processId), 0) == 0) return true;
  return errno != ESRCH;  // EPERM: alive, owned by another user
}

}  // namespace fx60::platform
