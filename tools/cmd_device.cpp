// Device commands of the fx60 tool: detect, capture, enroll, cancel and version.
// They go through the library's exported operations, so they behave the same on
// a real module and on the simulator (FX60_SIMULATOR).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "driver/library_api.h"
#include "platform/clock.h"
#include "tools/commands.h"

#ifdef FX60_HAVE_PNG
#include <png.h>
#endif

namespace fx60::tool {
namespace {

constexpr int kImageWidth = 256;
constexpr int kImageHeight = 360;
constexpr int kImageBytes = kImageWidth * kImageHeight;
constexpr int kTemplateBytes = 512;
// Room for any module version text and its terminator.
constexpr int kVersionBufferSize = 64;

const char* statusText(int status) {
  switch (status) {
    case 0: return "success";
    case -1: return "no module found, or it failed to open";
    case -2: return "cancelled";
    case -3: return "time-out";
    case -4: return "image read-out failed (mass storage)";
    case -5: return "image read-out failed (HID)";
    case -6: return "no usable template";
    case -10: return "device index outside 0..15";
    case -11: return "a capture is already running on this index";
    default: return "unknown status";
  }
}

// Options shared by the device commands; each command accepts a subset.
struct Options {
  int index = 0;
  int timeoutMs = 0;
  int quality = 60;
  bool lift = false;
  std::string output;
  std::vector<std::string> positional;
};

std::optional<int> parseInt(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX)
    return std::nullopt;
  return static_cast<int>(value);
}

// Parses args; false (with a message) on an unknown option or a bad value.
bool parseOptions(const char* command, const std::vector<std::string>& args, const char* allowed,
                  Options& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto takeValue = [&](const char* name) -> std::optional<std::string> {
      if (!std::strstr(allowed, name) || i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto takeInt = [&](const char* name, int& into) {
      const auto value = takeValue(name);
      const auto number = value ? parseInt(*value) : std::nullopt;
      if (number) into = *number;
      return number.has_value();
    };
    bool ok = true;
    if (arg == "-o") {
      const auto value = takeValue("-o");
      ok = value.has_value();
      if (ok) options.output = *value;
    } else if (arg == "--timeout") {
      ok = takeInt("--timeout", options.timeoutMs);
    } else if (arg == "--quality") {
      ok = takeInt("--quality", options.quality);
    } else if (arg == "--index") {
      ok = takeInt("--index", options.index);
    } else if (arg == "--lift" && std::strstr(allowed, "--lift")) {
      options.lift = true;
    } else if (!arg.empty() && arg[0] == '-' && !parseInt(arg)) {
      ok = false;
    } else {
      options.positional.push_back(arg);
    }
    if (!ok) {
      std::fprintf(stderr, "fx60 %s: bad or unknown option '%s'\n", command, arg.c_str());
      return false;
    }
  }
  return true;
}

bool endsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool writePgm(const std::string& path, const std::vector<uint8_t>& image) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << kImageWidth << ' ' << kImageHeight << "\n255\n";
  out.write(reinterpret_cast<const char*>(image.data()), kImageBytes);
  return static_cast<bool>(out);
}

#ifdef FX60_HAVE_PNG
bool writePng(const std::string& path, const std::vector<uint8_t>& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = kImageWidth;
  png.height = kImageHeight;
  png.format = PNG_FORMAT_GRAY;
  const int ok = png_image_write_to_file(&png, path.c_str(), 0, image.data(), kImageWidth, nullptr);
  png_image_free(&png);
  return ok != 0;
}
#endif

bool writeImage(const std::string& path, const std::vector<uint8_t>& image) {
  if (endsWith(path, ".png")) {
#ifdef FX60_HAVE_PNG
    return writePng(path, image);
#else
    std::fprintf(stderr, "fx60: this build writes no PNG; use a .pgm name\n");
    return false;
#endif
  }
  return writePgm(path, image);
}

int reportStatus(const char* command, int status) {
  if (status == 0) return 0;
  std::fprintf(stderr, "fx60 %s: %s (%d)\n", command, statusText(status), status);
  return 1;
}

int runDetect(const std::vector<std::string>& args) {
  Options options;
  if (!parseOptions("detect", args, "--index", options)) return 2;
  const int result = api::detectFingerprint(options.index);
  if (result < 0) {
    std::fprintf(stderr, "fx60 detect: the module failed to open\n");
    return 1;
  }
  std::printf("%s\n", result == 1 ? "finger" : "no finger (or no module)");
  return 0;
}

int runCapture(const std::vector<std::string>& args) {
  Options options;
  if (!parseOptions("capture", args, "-o --timeout --lift --index", options)) return 2;
  std::vector<uint8_t> image(kImageBytes, 0);
  const int64_t start = platform::monotonicMs();
  const int status = api::captureFingerprint(options.index, image.data(), options.timeoutMs, options.lift ? 1 : 0);
  const int64_t elapsed = platform::monotonicMs() - start;
  if (status != 0) return reportStatus("capture", status);
  std::printf("captured %dx%d in %lld ms\n", kImageWidth, kImageHeight, static_cast<long long>(elapsed));
  if (!options.output.empty() && !writeImage(options.output, image)) {
    std::fprintf(stderr, "fx60 capture: cannot write %s\n", options.output.c_str());
    return 1;
  }
  return 0;
}

int runEnroll(const std::vector<std::string>& args) {
  Options options;
  if (!parseOptions("enroll", args, "-o --quality --timeout --index", options)) return 2;
  std::vector<uint8_t> feature(kTemplateBytes, 0);
  const int status = api::extractFingerprint(options.index, options.timeoutMs, feature.data(), options.quality, 0);
  if (status != 0) return reportStatus("enroll", status);
  std::printf("template extracted (quality %d)\n", feature[6]);
  if (!options.output.empty()) {
    std::ofstream out(options.output, std::ios::binary);
    out.write(reinterpret_cast<const char*>(feature.data()), kTemplateBytes);
    if (!out) {
      std::fprintf(stderr, "fx60 enroll: cannot write %s\n", options.output.c_str());
      return 1;
    }
  }
  return 0;
}

int runCancel(const std::vector<std::string>& args) {
  Options options;
  if (!parseOptions("cancel", args, "", options) || options.positional.size() > 1) return 2;
  int index = 0;
  if (!options.positional.empty()) {
    const auto parsed = parseInt(options.positional[0]);
    if (!parsed) {
      std::fprintf(stderr, "fx60 cancel: bad index '%s'\n", options.positional[0].c_str());
      return 2;
    }
    index = *parsed;
  }
  const int result = api::cancelCapture(index);
  if (result == 0) {
    std::printf("cancelled\n");
    return 0;
  }
  if (result == -11) {
    std::printf("no mass-storage capture running on index %d (a HID capture, if any, was cancelled)\n", index);
    return 1;
  }
  return reportStatus("cancel", result);
}

int runVersion(const std::vector<std::string>& args) {
  Options options;
  if (!parseOptions("version", args, "--index", options)) return 2;
  char driver[64] = {};
  char algorithm[64] = {};
  char device[kVersionBufferSize + 1] = {};
  api::getDriverVersion(driver);
  api::getAlgVersion(algorithm);
  api::getDeviceVersion(options.index, device);
  device[kVersionBufferSize] = '\0';
  std::printf("driver:    %s\nalgorithm: %s\ndevice:    %s\n", driver, algorithm,
              device[0] ? device : "(no module)");
  return 0;
}

const CommandRegistration detectCommand({"detect", "[--index N]", runDetect});
const CommandRegistration captureCommand(
    {"capture", "[-o IMG.png|IMG.pgm] [--timeout MS] [--lift] [--index N]", runCapture});
const CommandRegistration enrollCommand(
    {"enroll", "[-o T.tpl] [--quality N] [--timeout MS] [--index N]", runEnroll});
const CommandRegistration cancelCommand({"cancel", "[INDEX]", runCancel});
const CommandRegistration versionCommand({"version", "[--index N]", runVersion});

}  // namespace
}  // namespace fx60::tool
