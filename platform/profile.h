// Reading integers from INI files, as the Windows profile reader does.
#pragma once

#include <filesystem>
#include <string_view>

namespace fx60::platform {

// The integer value of `key` in `[section]` of the INI file. Section and key
// names compare without regard to case; the value is read from its leading
// decimal digits (blanks and a sign may precede them; digits beyond the 32-bit
// range wrap around, and a value without digits reads as 0). A missing file,
// section or key, or an empty value, gives `defaultValue`.
int readProfileInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   int defaultValue);

}  // namespace fx60::platform
