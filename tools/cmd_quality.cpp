// fx60 quality: the quality score of each image, as the capture loop computes it.
#include <cstdio>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"
#include "tools/support/image_io.h"

namespace fx60::tool {
namespace {

int runQuality(const std::vector<std::string>& args) {
  bool fit = false;
  CommandLine line("quality");
  line.flag("--fit", fit);
  std::vector<std::string> files;
  if (!line.parse(args, files)) return kExitUsage;
  if (files.empty()) {
    line.fail("no image given");
    return kExitUsage;
  }
  int status = kExitDone;
  for (const std::string& file : files) {
    std::vector<uint8_t> pixels;
    std::string error;
    if (!readFingerprintImage(file, fit, pixels, error)) {
      std::fprintf(stderr, "fx60 quality: %s\n", error.c_str());
      status = kExitFailed;
      continue;
    }
    std::printf("%s: %d\n", file.c_str(), extract::computeImageQuality(pixels.data()));
  }
  return status;
}

const CommandRegistration kRegistration({"quality", "[--fit] IMG...",
                                         "the image quality score (0 to 100) of each image, as a capture judges it",
                                         R"help(Prints "IMG: SCORE" for each image. The capture loop takes an image whose score
reaches its quality threshold (60 in the station).

arguments:
  IMG...     fingerprint images: PGM (binary or ASCII), BMP (8- or 24-bit, uncompressed)
             or PNG, 256 x 360 pixels
options:
  --fit      accept images of another size: centre-crop or pad with white to 256 x 360
             (default: other sizes are refused)
  -h, --help this text

exit status: 0 every image scored; 1 an image could not be read (the others are
still scored); 2 bad usage

example: fx60 quality finger1.pgm finger2.png
)help",
                                         runQuality});

}  // namespace
}  // namespace fx60::tool
