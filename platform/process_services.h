// Process services of the station program: the program's own location, keeping a
// single copy running, deleting files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fx60::platform {

// The running program file, resolved (empty when the system cannot tell).
std::filesystem::path programFilePath();

// The directory of the running program file, without a trailing separator.
std::filesystem::path programDirectory();

// The program's arguments, the program's name first, in UTF-8 (Windows hands
// main() the ANSI code page's, which lacks most of the station's texts).
std::vector<std::string> programArguments(int argc, char** argv);

// Deletes a file; a file that does not exist is no error. False when the file
// exists and could not be deleted.
bool deleteFile(const std::filesystem::path& file);

// A lock that one process at a time can hold per name and user. It is given up
// when the object goes or the process ends, however it ends.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

enum class InstanceLockResult { Acquired, HeldElsewhere, Failed };

// Tries to take the lock `name` in `directory` (empty: the user's runtime
// directory). `lock` receives it when the result is Acquired.
InstanceLockResult acquireInstanceLock(const std::string& name, const std::filesystem::path& directory,
                                       std::unique_ptr<InstanceLock>& lock);

// The user's runtime directory: $XDG_RUNTIME_DIR, else the temporary directory.
std::filesystem::path userRuntimeDirectory();

}  // namespace fx60::platform
