// Running the fx60 program in tests: never for longer than a time limit, so that a
// tool that waits where it should refuse fails the test instead of hanging it.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/run_program.h"

namespace fx60::testing {

// `arguments` is shell text: quote paths. A run cut off by the limit exits 124.
inline ProgramRun runFx60(const std::string& arguments, int limitSeconds = 60) {
  return runProgram("timeout", "-k 5 " + std::to_string(limitSeconds) + " '" + std::string(FX60_TOOL) + "' " + arguments);
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string fileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// A fresh folder per test, removed afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace fx60::testing
