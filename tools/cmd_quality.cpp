// fx60 quality: the quality score of each image, as the capture loop computes it.
#include <cstdio>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "tools/commands.h"
#include "tools/support/image_io.h"

namespace fx60::tool {
namespace {

int runQuality(const std::vector<std::string>& args) {
  bool fit = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "--fit")
      fit = true;
    else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "fx60 quality: unknown option %s\n", arg.c_str());
      return 2;
    } else
      files.push_back(arg);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: fx60 quality [--fit] IMG...\n");
    return 2;
  }
  int failures = 0;
  for (const std::string& file : files) {
    std::vector<uint8_t> pixels;
    std::string error;
    if (!readFingerprintImage(file, fit, pixels, error)) {
      std::fprintf(stderr, "fx60 quality: %s\n", error.c_str());
      ++failures;
      continue;
    }
    std::printf("%s: %d\n", file.c_str(), extract::computeImageQuality(pixels.data()));
  }
  return failures == 0 ? 0 : 1;
}

const CommandRegistration kRegistration({"quality", "[--fit] IMG...   quality score 0..100 of each image", runQuality});

}  // namespace
}  // namespace fx60::tool
