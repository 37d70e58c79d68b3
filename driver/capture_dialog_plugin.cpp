#include "driver/capture_dialog_plugin.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/dynamic_library.h"

namespace fx60 {

RunCaptureDialogFunction captureDialogRunner() {
  static std::mutex loading;
  // Never unloaded: the plugin holds a windowing toolkit whose clean-up at unload
  // time is not to be relied on.
  static platform::DynamicLibrary* plugin = nullptr;
  static RunCaptureDialogFunction run = nullptr;
  std::lock_guard hold(loading);
  if (plugin != nullptr) return run;

  std::filesystem::path file;
  if (const char* named = std::getenv(kCaptureDialogPluginVariable); named != nullptr && *named != '\0') {
    file = named;
  } else {
    const auto here = platform::directoryOfModuleContaining(reinterpret_cast<const void*>(&captureDialogRunner));
    if (here.empty()) return nullptr;
    file = here / kCaptureDialogPluginFolder / kCaptureDialogPluginFile;
  }
  auto loaded = platform::DynamicLibrary::load(file.string());
  if (loaded == nullptr || !loaded->bind(kRunCaptureDialogSymbol, run)) return nullptr;
  plugin = loaded.release();
  return run;
}

}  // namespace fx60
