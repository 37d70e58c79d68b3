// Loads a stand-in library with dlopen and binds its entry points by name, as
// the station does.
#pragma once

#include <dlfcn.h>

#include <string>

namespace fx60::sim::testing {

class LoadedLibrary {
 public:
  // A bare name is looked up in the system's order (the test's run path names
  // the station's program directory, as the station's own does); a path is
  // loaded as it is.
  explicit LoadedLibrary(const std::string& file) : handle_(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~LoadedLibrary() {
    if (handle_) ::dlclose(handle_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  static std::string lastError() {
    const char* error = ::dlerror();
    return error ? error : "";
  }

  template <typename Function>
  bool bind(const char* name, Function*& target) const {
    target = handle_ ? reinterpret_cast<Function*>(::dlsym(handle_, name)) : nullptr;
    return target != nullptr;
  }

 private:
  void* handle_;
};

// The station's program directory in the build tree, where the stand-ins lie.
inline std::string stationLibrary(const std::string& file) { return std::string(FX60_STATION_DIR) + "/" + file; }

}  // namespace fx60::sim::testing
