#include "platform/process_services.h"

#include <windows.h>

namespace fx60::platform {

namespace fs = std::filesystem;

fs::path programFilePath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};  // truncated paths are no use
  return fs::path(std::string(path, length));
}

fs::path programDirectory() { return programFilePath().parent_path(); }

bool deleteFile(const fs::path& file) {
  if (DeleteFileA(file.string().c_str())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

fs::path userRuntimeDirectory() {
  char path[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0 || length > sizeof path) return fs::path(".");
  return fs::path(std::string(path, length)).parent_path();
}

namespace {

class NamedMutex final : public InstanceLock {
 public:
  explicit NamedMutex(HANDLE mutex) : mutex_(mutex) {}
  ~NamedMutex() override { CloseHandle(mutex_); }  // the last handle closed removes the name

 private:
  HANDLE mutex_;
};

}  // namespace

// A named mutex of the session: its existence, not its ownership, marks a running
// copy. The directory plays no part on Windows.
InstanceLockResult acquireInstanceLock(const std::string& name, const fs::path& /*directory*/,
                                       std::unique_ptr<InstanceLock>& lock) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return InstanceLockResult::Failed;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return InstanceLockResult::HeldElsewhere;
  }
  lock = std::make_unique<NamedMutex>(mutex);
  return InstanceLockResult::Acquired;
}

}  // namespace fx60::platform
