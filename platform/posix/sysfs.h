// Small helpers for reading the kernel's device tree.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fx60::platform::os {

// Whole file as text; empty when it cannot be read.
std::optional<std::string> readTextFile(const std::filesystem::path& file);

// Entries of dir whose names are prefix followed by a number, ordered by that number.
std::vector<std::string> numberedEntries(const std::filesystem::path& dir, const std::string& prefix);

}  // namespace fx60::platform::os
