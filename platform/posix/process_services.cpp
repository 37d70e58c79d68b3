#include "platform/process_services.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace fx60::platform {

namespace fs = std::filesystem;

fs::path programFilePath() {
  std::error_code error;
  fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : path;
}

fs::path programDirectory() { return programFilePath().parent_path(); }

bool deleteFile(const fs::path& file) {
  if (::unlink(file.c_str()) == 0) return true;
  return errno == ENOENT || errno == ENOTDIR;
}

fs::path userRuntimeDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
    return runtime;
  std::error_code error;
  fs::path temporary = fs::temp_directory_path(error);
  return error ? fs::path("/tmp") : temporary;
}

namespace {

class FileLock final : public InstanceLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  ~FileLock() override { ::close(fd_); }  // closing gives up the lock

 private:
  int fd_;
};

}  // namespace

InstanceLockResult acquireInstanceLock(const std::string& name, const fs::path& directory,
                                       std::unique_ptr<InstanceLock>& lock) {
  // The temporary directory is shared by all users, so the user id keeps one
  // user's copy from locking out another's.
  const fs::path dir = directory.empty() ? userRuntimeDirectory() : directory;
  const fs::path file = dir / (name + "-" + std::to_string(::getuid()) + ".lock");
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceLockResult::Failed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? InstanceLockResult::HeldElsewhere : InstanceLockResult::Failed;
  }
  lock = std::make_unique<FileLock>(fd);
  return InstanceLockResult::Acquired;
}

std::vector<std::string> programArguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace fx60::platform
