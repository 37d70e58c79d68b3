// Enumeration of the present device interfaces of one interface class through the
// device set-up services.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fx60::platform::os {

// The interface classes the module presents itself in.
inline constexpr GUID kCdromInterface = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
inline constexpr GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// Device paths (for CreateFileA) of the present interfaces of the class, in the
// order the system lists them.
std::vector<std::string> presentInterfacePaths(const GUID& interfaceClass);

}  // namespace fx60::platform::os
