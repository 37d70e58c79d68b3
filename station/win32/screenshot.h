// A picture of the program's windows as they are on the screen: every visible
// top-level window of this process (the main dialog, the capture dialog, message
// boxes), each read back from its own window surface and laid in stacking order
// on a plain backdrop.
#pragma once

#include <filesystem>
#include <string>

namespace fx60::station::win32 {

// Writes a PNG file. False with `error`
// set when there is no window to show or the file cannot be written.
bool saveScreenshot(const std::filesystem::path& file, std::string& error);

}  // namespace fx60::station::win32
