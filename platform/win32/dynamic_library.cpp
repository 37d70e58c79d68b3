#include "platform/dynamic_library.h"

#include <windows.h>

namespace fx60::platform {

// Windows loads the libraries by their own names.
std::string sharedLibraryFileName(std::string_view windowsName) { return std::string(windowsName); }

std::filesystem::path directoryOfModuleContaining(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module))
    return {};
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  return std::filesystem::path(std::string(path, length)).parent_path();
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& file) {
  if (file.empty()) return nullptr;
  // No message box for a library that cannot be loaded: the caller reports it.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(file.c_str());
  SetErrorMode(previous);
  if (module == nullptr) return nullptr;
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(module));
}

DynamicLibrary::~DynamicLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* DynamicLibrary::symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace fx60::platform
