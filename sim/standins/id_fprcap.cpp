// libID_FprCap.so: the standard capture interface over our fingerprint module,
// through libFX60Link.so's exports (so it works with fx60-sim and with a real
// module alike).
//
// One channel: the module at device index 0. Its number is 0, and callers that
// pass the channel count (1) as the channel reach it too. A raw image is fetched
// without waiting for a finger: with a finger on the sensor it is the module's
// image, without one a blank (white) frame, as a live scanner shows an empty
// window. The window is the whole 256 x 360 sensor.
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "fx60link.h"
#include "sim/standins/bmp_file.h"
#include "sim/standins/standin_export.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 360;
constexpr int kImageBytes = kWidth * kHeight;
constexpr int kDeviceIndex = 0;
constexpr int kChannelCount = 1;
constexpr uint8_t kBlank = 255;

constexpr int kDone = 1;
constexpr int kBadArgument = -1;      // a null buffer, or a window other than the whole sensor
constexpr int kNotInitialised = -2;   // LIVESCAN_Init has not succeeded
constexpr int kNoModule = -3;         // no fingerprint module answers
constexpr int kBadChannel = -4;       // a channel other than 0 or 1
constexpr int kNotCapturing = -5;     // LIVESCAN_BeginCapture has not been called
constexpr int kCaptureFailed = -6;    // the module failed to deliver an image
constexpr int kModuleBusy = -7;       // another capture runs on the module

struct ErrorText {
  int code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {kDone, "done"},
    {kBadArgument, "bad argument"},
    {kNotInitialised, "capture device not initialised"},
    {kNoModule, "no fingerprint module"},
    {kBadChannel, "no such channel"},
    {kNotCapturing, "capture not begun on this channel"},
    {kCaptureFailed, "the module failed to deliver an image"},
    {kModuleBusy, "the module is busy with another capture"},
};

// The one capture device of this process.
struct CaptureDevice {
  std::mutex mutex;
  bool initialised = false;
  bool capturing = false;
  bool haveFrame = false;
  std::array<uint8_t, kImageBytes> frame{};
};

CaptureDevice& device() {
  static CaptureDevice instance;
  return instance;
}

bool validChannel(int channel) { return channel == 0 || channel == kChannelCount; }

// The module answers a version query; the buffer stays untouched when none does.
bool moduleAnswers() {
  char version[64];
  std::memset(version, 0xFF, sizeof version);
  zzGetDeviceVersion(kDeviceIndex, version);
  return static_cast<unsigned char>(version[0]) != 0xFF;
}

// Checks the call's preconditions; kDone when it may go on.
int checkCapturing(const CaptureDevice& state, int channel) {
  if (!state.initialised) return kNotInitialised;
  if (!validChannel(channel)) return kBadChannel;
  if (!state.capturing) return kNotCapturing;
  return kDone;
}

// Fetches one frame into the device's frame buffer.
int fetchFrame(CaptureDevice& state) {
  const int status = zzCaptureFingerprint(kDeviceIndex, state.frame.data(), /*timeoutMs=*/-1, /*waitLift=*/0);
  switch (status) {
    case 0: break;
    case -3: state.frame.fill(kBlank); break;  // no finger on the one look: an empty window
    case -1: return kNoModule;
    case -11: return kModuleBusy;
    default: return kCaptureFailed;
  }
  state.haveFrame = true;
  return kDone;
}

}  // namespace

STANDIN_EXPORT int LIVESCAN_Init(void) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  if (!moduleAnswers()) return kNoModule;
  state.initialised = true;
  return kDone;
}

STANDIN_EXPORT int LIVESCAN_Close(void) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  state.initialised = state.capturing = state.haveFrame = false;
  return kDone;
}

STANDIN_EXPORT int LIVESCAN_GetChannelCount(void) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  return state.initialised ? kChannelCount : kNotInitialised;
}

STANDIN_EXPORT int LIVESCAN_SetCaptWindow(int channel, int originX, int originY, int width, int height) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  if (!state.initialised) return kNotInitialised;
  if (!validChannel(channel)) return kBadChannel;
  if (originX != 0 || originY != 0 || width != kWidth || height != kHeight) return kBadArgument;
  return kDone;
}

STANDIN_EXPORT int LIVESCAN_BeginCapture(int channel) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  if (!state.initialised) return kNotInitialised;
  if (!validChannel(channel)) return kBadChannel;
  state.capturing = true;
  state.haveFrame = false;
  return kDone;
}

STANDIN_EXPORT int LIVESCAN_EndCapture(int channel) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  if (!validChannel(channel)) return kBadChannel;
  state.capturing = state.haveFrame = false;
  return kDone;
}

// Writes 256 x 360 grey bytes, row 0 first.
STANDIN_EXPORT int LIVESCAN_GetFPRawData(int channel, unsigned char* raw) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  if (const int status = checkCapturing(state, channel); status != kDone) return status;
  if (raw == nullptr) return kBadArgument;
  if (const int status = fetchFrame(state); status != kDone) return status;
  std::memcpy(raw, state.frame.data(), kImageBytes);
  return kDone;
}

// Writes the 8-bit bitmap file image (93238 bytes) of the last raw image fetched
// since LIVESCAN_BeginCapture, fetching one first when there is none.
STANDIN_EXPORT int LIVESCAN_GetFPBmpData(int channel, unsigned char* bmp) {
  CaptureDevice& state = device();
  std::lock_guard lock(state.mutex);
  if (const int status = checkCapturing(state, channel); status != kDone) return status;
  if (bmp == nullptr) return kBadArgument;
  if (!state.haveFrame) {
    if (const int status = fetchFrame(state); status != kDone) return status;
  }
  const auto file = fx60::standins::greyBmpFile(state.frame, kWidth, kHeight);
  std::memcpy(bmp, file.data(), file.size());
  return kDone;
}

// Writes the text of an error code (at most 63 characters and the terminator).
STANDIN_EXPORT int LIVESCAN_GetErrorInfo(int errorCode, char* text) {
  if (text == nullptr) return kBadArgument;
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == errorCode) {
      std::snprintf(text, 64, "%s", entry.text);
      return kDone;
    }
  }
  std::snprintf(text, 64, "unknown error %d", errorCode);
  return kBadArgument;
}
