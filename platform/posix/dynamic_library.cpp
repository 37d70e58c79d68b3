#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace fx60::platform {

std::string sharedLibraryFileName(std::string_view windowsName) {
  constexpr std::string_view suffix = ".dll";
  if (windowsName.size() <= suffix.size() || windowsName.substr(windowsName.size() - suffix.size()) != suffix)
    return std::string(windowsName);
  // Keep any directory part in front of the "lib" prefix.
  const size_t slash = windowsName.find_last_of('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  std::string file(windowsName.substr(0, nameStart));
  file += "lib";
  file += windowsName.substr(nameStart, windowsName.size() - suffix.size() - nameStart);
  file += ".so";
  return file;
}

std::filesystem::path directoryOfModuleContaining(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') return {};
  std::error_code error;
  const auto file = std::filesystem::canonical(info.dli_fname, error);
  return error ? std::filesystem::path() : file.parent_path();
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& file) {
  if (file.empty()) return nullptr;
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::symbol(const char* name) const { return ::dlsym(handle_, name); }

}  // namespace fx60::platform
