#include "platform/process_services.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace fx60::platform {

namespace fs = std::filesystem;

fs::path programFilePath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};  // truncated paths are no use
  return fs::path(std::string(path, length));
}

fs::path programDirectory() { return programFilePath().parent_path(); }

std::vector<std::string> programArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), bytes, nullptr, nullptr);
    arguments.push_back(std::move(argument));
  }
  LocalFree(wide);
  return arguments;
}

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
