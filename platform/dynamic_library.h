// Loading shared libraries at run time and binding their functions by name.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace fx60::platform {

// The file name this system gives the library a Windows program knows as
// "X.dll": "libX.so". Names without the ".dll" suffix are returned unchanged.
std::string sharedLibraryFileName(std::string_view windowsName);

// The directory of the program or shared library whose code or data holds
// `address`; empty when the system cannot tell.
std::filesystem::path directoryOfModuleContaining(const void* address);

class DynamicLibrary {
 public:
  // Loads `file`: an absolute path, or a bare file name looked up in the system's
  // search order (the program's own directory first, through its run path).
  // Null when the library cannot be loaded.
  static std::unique_ptr<DynamicLibrary> load(const std::string& file);

  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of the exported symbol, or null.
  void* symbol(const char* name) const;

  // Binds `target` to the exported function `name`; false when it is missing.
  template <typename Function>
  bool bind(const char* name, Function*& target) const {
    target = reinterpret_cast<Function*>(symbol(name));
    return target != nullptr;
  }

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace fx60::platform
