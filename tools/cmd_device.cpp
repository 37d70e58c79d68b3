// Device commands of the fx60 tool: capture, enroll, cancel and version (detect has
// its own file).
// They go through the library's exported operations, so they behave the same on
// a real module and on the simulator (FX60_SIMULATOR).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/library_api.h"
#include "driver/shared_capture_flags.h"
#include "driver/transport.h"
#include "fx60link.h"
#include "platform/clock.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"
#include "tools/support/files.h"
#include "tools/support/image_io.h"

namespace fx60::tool {
namespace {

constexpr int kImageBytes = kFingerprintWidth * kFingerprintHeight;
constexpr int kTemplateBytes = 512;
constexpr int kTemplateQualityByte = 6;
constexpr int kUsableTemplateQuality = 20;
// Room for any module version text and its terminator.
constexpr int kVersionBufferSize = 64;

// The library waits for ever with time-out 0; at a terminal a bounded wait is the
// better default.
constexpr int kDefaultTimeoutMs = 30000;
constexpr int kMaxTimeoutMs = 24 * 3600 * 1000;
constexpr int kDefaultQuality = 60;  // the station's threshold

constexpr int kStatusCancelled = -2;
constexpr int kStatusTimeOut = -3;
constexpr int kStatusNoTemplate = -6;
constexpr int kStatusNotRunning = -11;

const char* statusText(int status) {
  switch (status) {
    case -1: return "no module found, or it failed to open";
    case kStatusCancelled: return "cancelled";
    case kStatusTimeOut: return "time-out";
    case -4: return "image read-out failed (mass storage)";
    case -5: return "image read-out failed (HID)";
    case kStatusNoTemplate: return "no usable template";
    case -10: return "device index outside 0..15";
    case kStatusNotRunning: return "a capture is already running on this index";
    default: return "unknown status";
  }
}

// Says why the arguments are refused; the bad-usage exit status.
int refuse(const CommandLine& line, const std::string& message) {
  line.fail(message);
  return kExitUsage;
}

void addIndexOption(CommandLine& line, int& index) { line.number("--index", index, 0, kMaxDeviceIndex); }

std::string seconds(int ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms % 1000 == 0 ? "%.0f s" : "%.1f s", ms / 1000.0);
  return text;
}

// A capture status as a message and an exit status: no finger in time and a
// cancel are answers (3), the rest failures (1).
int reportCaptureStatus(const char* command, int status, int timeoutMs) {
  if (status == kStatusTimeOut) {
    std::fprintf(stderr, "fx60 %s: time-out: no finger (or it was not lifted) within %s; --timeout MS waits longer, "
                         "0 for ever\n", command, seconds(timeoutMs).c_str());
    return kExitNo;
  }
  if (status == kStatusCancelled) {
    std::fprintf(stderr, "fx60 %s: cancelled\n", command);
    return kExitNo;
  }
  std::fprintf(stderr, "fx60 %s: %s (%d)\n", command, statusText(status), status);
  return kExitFailed;
}

void promptForFinger(bool lift, int timeoutMs) {
  const std::string limit = timeoutMs == 0 ? "without a time limit" : "up to " + seconds(timeoutMs);
  std::fprintf(stderr, "place a finger on the module (waiting %s)\n", limit.c_str());
  if (lift) std::fprintf(stderr, "then lift your finger once it is captured: the capture ends when it is lifted\n");
}

int runCapture(const std::vector<std::string>& args) {
  int index = 0;
  int timeoutMs = kDefaultTimeoutMs;
  bool lift = false;
  std::string output;
  CommandLine line("capture");
  line.text("-o", output);
  line.number("--timeout", timeoutMs, 0, kMaxTimeoutMs);
  line.flag("--lift", lift);
  addIndexOption(line, index);
  if (!line.parse(args)) return kExitUsage;
  if (output.empty()) return refuse(line, "-o IMG is needed: the file the image goes to");
  std::string error;
  if (!pictureFormatOf(output, error)) return refuse(line, error);

  promptForFinger(lift, timeoutMs);
  std::vector<uint8_t> image(kImageBytes, 0);
  const int64_t start = platform::monotonicMs();
  const int status = api::captureFingerprint(index, image.data(), timeoutMs, lift ? 1 : 0);
  const int64_t elapsed = platform::monotonicMs() - start;
  if (status != 0) return reportCaptureStatus("capture", status, timeoutMs);
  if (!writeGreyImage(output, image.data(), kFingerprintWidth, kFingerprintHeight, error)) {
    std::fprintf(stderr, "fx60 capture: %s\n", error.c_str());
    return kExitFailed;
  }
  std::printf("captured %s in %lld ms: %s\n", kFingerprintSize, static_cast<long long>(elapsed), output.c_str());
  return kExitDone;
}

int runEnroll(const std::vector<std::string>& args) {
  int index = 0;
  int timeoutMs = kDefaultTimeoutMs;
  int quality = kDefaultQuality;
  bool dialog = false;
  std::string output;
  CommandLine line("enroll");
  line.text("-o", output);
  line.number("--quality", quality, 0, 100);
  line.number("--timeout", timeoutMs, 0, kMaxTimeoutMs);
  addIndexOption(line, index);
  line.flag("--dialog", dialog);
  if (!line.parse(args)) return kExitUsage;
  if (output.empty()) return refuse(line, "-o T.tpl is needed: the file the template goes to");
  std::string error;
  if (!checkTemplateOutputName(output, error)) return refuse(line, error);
  if (dialog && index != 0) return refuse(line, "--dialog captures on module 0 only; leave out --index");

  std::vector<uint8_t> feature(kTemplateBytes, 0);
  int status = 0;
  if (dialog) {
    // Through the shared library's export, which finds the dialog's window plugin
    // beside itself.
    std::fprintf(stderr, "place a finger on the module; the capture dialog shows each image and its quality\n");
    status = zzExtractFingerprint(0, timeoutMs, feature.data(), quality, 1);
    if (status == -1) {
      std::fprintf(stderr, "fx60 enroll: no module found, or the capture dialog could not be shown (no display, "
                           "or its plugin fx60link/libfx60link-capture-dialog.so beside libFX60Link is missing)\n");
      return kExitFailed;
    }
  } else {
    promptForFinger(false, timeoutMs);
    status = api::extractFingerprint(index, timeoutMs, feature.data(), quality, 0);
  }
  const int templateQuality = feature[kTemplateQualityByte];
  if (status == kStatusNoTemplate) {
    std::fprintf(stderr, "fx60 enroll: the image gave no usable template (template quality %d, below %d); "
                         "nothing written to %s\n", templateQuality, kUsableTemplateQuality, output.c_str());
    return kExitNo;
  }
  if (status != 0) return reportCaptureStatus("enroll", status, timeoutMs);
  if (!writeOutputFile(output, feature.data(), feature.size(), error)) {
    std::fprintf(stderr, "fx60 enroll: %s\n", error.c_str());
    return kExitFailed;
  }
  std::printf("template written to %s (template quality %d)\n", output.c_str(), templateQuality);
  return kExitDone;
}

int runCancel(const std::vector<std::string>& args) {
  int index = 0;
  CommandLine line("cancel");
  addIndexOption(line, index);
  std::vector<std::string> positional;
  if (!line.parse(args, positional)) return kExitUsage;
  if (positional.size() > 1) return refuse(line, "one index only");
  if (positional.size() == 1 && !line.readNumber("INDEX", positional[0], 0, kMaxDeviceIndex, index))
    return kExitUsage;
  // The library answers a cancelled HID capture as "no mass-storage capture
  // running" when none runs there; what was running tells the two apart.
  const bool hidRunning = capture_flags::isBusy(TransportKind::Hid, index);
  const int result = api::cancelCapture(index);
  if (result == 0 || (result == kStatusNotRunning && hidRunning)) {
    std::printf("cancelled the capture on index %d\n", index);
    return kExitDone;
  }
  if (result == kStatusNotRunning) {
    std::printf("no capture running on index %d\n", index);
    return kExitFailed;
  }
  std::fprintf(stderr, "fx60 cancel: %s (%d)\n", statusText(result), result);
  return kExitFailed;
}

int runVersion(const std::vector<std::string>& args) {
  int index = 0;
  CommandLine line("version");
  addIndexOption(line, index);
  if (!line.parse(args)) return kExitUsage;
  char driver[64] = {};
  char algorithm[64] = {};
  char device[kVersionBufferSize + 1] = {};
  api::getDriverVersion(driver);
  api::getAlgVersion(algorithm);
  api::getDeviceVersion(index, device);
  device[kVersionBufferSize] = '\0';
  std::printf("driver:    %s\nalgorithm: %s\ndevice:    %s\n", driver, algorithm, device[0] ? device : "(no module)");
  return kExitDone;
}

const CommandRegistration captureCommand(
    {"capture", "-o IMG [--timeout MS] [--lift] [--index N]",
     "waits for a finger on the module and writes its image",
     R"help(Asks you to place a finger, waits for it, reads the 256 x 360 image and writes
it to IMG.

options:
  -o IMG        the image file, needed; its name ends in .png, .pgm or .ppm and
                sets the format
  --timeout MS  how long to wait for the finger (and, with --lift, for the lift),
                in milliseconds, 0 to 86400000; 0 waits for ever (default 30000)
  --lift        end only once the finger is lifted again (default: at once)
  --index N     the module, 0 to 15 (default 0): on mass storage the N-th module
                found; on HID always the first, N naming the capture's slot
  -h, --help    this text

exit status: 0 captured and written; 1 no module, the read-out failed, another
capture runs on the index, or the image could not be written; 2 bad usage; 3 no
finger (or no lift) in time, or cancelled (fx60 cancel)

example: fx60 capture -o finger.png --timeout 10000
)help",
     runCapture});

const CommandRegistration enrollCommand(
    {"enroll", "-o T.tpl [--quality N] [--timeout MS] [--index N] [--dialog]",
     "captures until an image is good enough and writes its sealed template",
     R"help(Asks you to place a finger, captures images until one reaches the quality
threshold, extracts its template and writes the sealed 512 bytes to T.tpl, ready
for fx60 match.

options:
  -o T.tpl      the template file, needed; a picture name (.png, .pgm, ...) is
                refused
  --quality N   the image quality an image must reach, 0 to 100 (default 60)
  --timeout MS  how long to try, in milliseconds, 0 to 86400000; 0 tries for ever
                (default 30000)
  --index N     the module, 0 to 15 (default 0): on mass storage the N-th module
                found; on HID always the first, N naming the capture's slot
  --dialog      capture in the library's capture dialog (module 0): a window with
                a live preview, the quality of every image and a cancel button;
                needs a display (or QT_QPA_PLATFORM=offscreen)
  -h, --help    this text

exit status: 0 written; 1 no module, the read-out failed, another capture runs on
the index, the capture dialog could not be shown, or the file could not be
written; 2 bad usage; 3 no good enough image in time, cancelled (fx60 cancel or
the dialog's button), or the image gave no usable template (template quality
below 20): nothing is written then

example: fx60 enroll -o enrolled.tpl --quality 70
         fx60 enroll -o enrolled.tpl --dialog
)help",
     runEnroll});

const CommandRegistration cancelCommand(
    {"cancel", "[INDEX | --index N]", "cancels a capture running on the index, in any process",
     R"help(Cancels the capture or enrolment running on the index (0 to 15, default 0),
whether in this process or another, on either transport.

options:
  --index N     the index, 0 to 15 (default 0); the same as INDEX
  -h, --help    this text

exit status: 0 a capture was cancelled; 1 no capture runs on the index; 2 bad usage

example: fx60 cancel 0
)help",
     runCancel});

const CommandRegistration versionCommand(
    {"version", "[--index N]", "the versions of the driver, the algorithm and the module",
     R"help(Prints the driver and algorithm versions of the library and the module's own
version text, or "(no module)".

options:
  --index N     the module, 0 to 15 (default 0): on mass storage the N-th module
                found; on HID always the first, N naming the capture's slot
  -h, --help    this text

exit status: 0 printed; 2 bad usage

example: fx60 version
)help",
     runVersion});

}  // namespace
}  // namespace fx60::tool
