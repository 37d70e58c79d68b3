#include "platform/profile.h"

#include <windows.h>

#include <string>

namespace fx60::platform {

int readProfileInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   int defaultValue) {
  // The profile reader looks for relative names in the Windows folder; callers
  // pass absolute paths.
  const std::string sectionName(section), keyName(key);
  return static_cast<int>(GetPrivateProfileIntA(sectionName.c_str(), keyName.c_str(), defaultValue,
                                                file.string().c_str()));
}

}  // namespace fx60::platform
