// The transports' handling of what a module sends back, on both presentations.
//
// This program stands in for the platform device layer (device discovery, the
// SCSI pass-through and HID report I/O) and for the clock: the module it presents
// answers every read with the fuzzer's bytes, and time is virtual, advanced by
// every sleep and clock reading, so that time-outs and retries run at full speed.
// The transports above it run unchanged.
//
// Input: scenario byte, option byte, then the scenario's bytes.
//   HID scenarios: u16 input and output report lengths (0: the device reports
//   none), then one record per report read: a control byte (below 0xF0: a full
//   report of the following bytes; F0..F7: a short report of (c & 7) bytes;
//   F8..FB: failed; FC..FF: timed out). Past the end every read times out.
//   Storage scenarios: one record per pass-through: a control byte (below 0xE0
//   done; E0..EF retryable transport error; F0..FF failed), and for a transfer
//   from the device a u16 byte count (bounded by the transfer length) and the bytes.
//   With option bit 7 set, every write also takes a control byte (below 0xF0 done).
#include <array>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "driver/hid_base.h"
#include "driver/hid_protocol.h"
#include "driver/shared_capture_flags.h"
#include "driver/usb_base.h"
#include "platform/cable/virtual_cable.h"
#include "platform/clock.h"
#include "platform/hid_device.h"
#include "platform/scsi_device.h"
#include "template/feature_template.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fx60::CaptureStatus;
using fx60::CommandStatus;
using fx60::FingerState;
using fx60::fuzz::ByteReader;
using namespace fx60::platform;

// The input being played, and the virtual clock.
ByteReader* module = nullptr;
bool controlledWrites = false;
std::optional<HidReportLengths> reportLengthsOfModule;
int64_t virtualNowMs = 0;
// FX60_FUZZ_TRACE set: print each scenario's outcome (for checking seeds by hand).
bool tracing = false;

template <typename Result>
void trace(const char* what, Result status) {
  if (tracing) std::fprintf(stderr, "%s: %d\n", what, static_cast<int>(status));
}

constexpr char kHidPath[] = "fuzz-hid";
constexpr char kScsiPath[] = "fuzz-scsi";

bool writeGoesThrough() { return !controlledWrites || module->byte() < 0xF0; }

class PlayedHidDevice final : public HidDevice {
 public:
  std::optional<HidReportLengths> reportLengths() override { return reportLengthsOfModule; }

  HidIoResult write(std::span<const uint8_t> report, int) override {
    if (!writeGoesThrough()) return {HidIoOutcome::Failed, 0};
    return {HidIoOutcome::Done, report.size()};
  }

  HidIoResult read(std::span<uint8_t> report, int) override {
    if (module->empty()) return {HidIoOutcome::TimedOut, 0};
    const uint8_t control = module->byte();
    if (control < 0xF0) {
      module->fill(report);
      return {HidIoOutcome::Done, report.size()};
    }
    if (control < 0xF8) {
      const size_t n = std::min<size_t>(control & 7u, report.size());
      module->fill(report.first(n));
      return {HidIoOutcome::Done, n};
    }
    if (control < 0xFC) return {HidIoOutcome::Failed, 0};
    return {HidIoOutcome::TimedOut, 0};
  }
};

class PlayedScsiDevice final : public ScsiDevice {
 public:
  PassThroughResult passThrough(const ScsiCommand& cmd, std::span<uint8_t> data) override {
    if (cmd.direction == DataDirection::ToDevice && !controlledWrites)
      return {PassThroughOutcome::Done, static_cast<uint32_t>(data.size())};
    if (module->empty()) return {PassThroughOutcome::Failed, 0};
    const uint8_t control = module->byte();
    if (control >= 0xF0) return {PassThroughOutcome::Failed, 0};
    if (control >= 0xE0) return {PassThroughOutcome::Retryable, 0};
    if (cmd.direction == DataDirection::ToDevice)
      return {PassThroughOutcome::Done, static_cast<uint32_t>(data.size())};
    const size_t n = std::min<size_t>(module->u16(), data.size());
    module->fill(data.first(n));
    return {PassThroughOutcome::Done, static_cast<uint32_t>(n)};
  }
};

// Time-outs the capture scenarios choose from: none given below -1, one attempt,
// short and longer limits (no unlimited wait: a module that never answers would
// keep it going for good).
constexpr int kTimeouts[] = {-2, -1, 30, 400};

void checkCaptureEnded(fx60::TransportKind kind, int index) {
  FX60_FUZZ_CHECK(!fx60::capture_flags::isBusy(kind, index));
  FX60_FUZZ_CHECK(!fx60::capture_flags::cancelRequested(kind, index));
}

void runHid(ByteReader& in, uint8_t scenario, uint8_t options) {
  const uint16_t input = in.u16();
  const uint16_t output = in.u16();
  if (input == 0 || output == 0) reportLengthsOfModule.reset();
  else reportLengthsOfModule = HidReportLengths{input, output, 0};

  if (scenario == 0) {
    const int index = options & 15;
    std::vector<uint8_t> image(fx60::kImageSize);
    const CaptureStatus status = fx60::HidCaptureImage(index, image.data(), kTimeouts[(options >> 4) & 3],
                                                       (options >> 6) & 1, 1);
    trace("hid capture", status);
    FX60_FUZZ_CHECK(status == CaptureStatus::Done || status == CaptureStatus::NoModule ||
                    status == CaptureStatus::Cancelled || status == CaptureStatus::TimedOut ||
                    status == CaptureStatus::HidReadFailed);
    checkCaptureEnded(fx60::TransportKind::Hid, index);
  } else {
    std::vector<char> text(64, '\x7f');
    const CommandStatus status = fx60::hidVersion(text.data());
    trace("hid version", status);
    if (status == CommandStatus::Done) FX60_FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) != nullptr);
    const FingerState finger = fx60::hidFingerState();
    trace("hid finger", finger);
    FX60_FUZZ_CHECK(finger == FingerState::Present || finger == FingerState::Absent ||
                    finger == FingerState::OpenFailed);
  }
}

void runStorage(uint8_t scenario, uint8_t options) {
  if (scenario == 2) {
    const int index = options & 1;  // the played module is the only one: index 1 finds none
    std::vector<uint8_t> image(fx60::kImageSize);
    const CaptureStatus status = fx60::StorageCaptureImage(index, image.data(), kTimeouts[(options >> 4) & 3],
                                                           (options >> 6) & 1, 1);
    trace("storage capture", status);
    FX60_FUZZ_CHECK(status == CaptureStatus::Done || status == CaptureStatus::NoModule ||
                    status == CaptureStatus::Cancelled || status == CaptureStatus::TimedOut ||
                    status == CaptureStatus::StorageReadFailed);
    checkCaptureEnded(fx60::TransportKind::Storage, index);
  } else {
    std::vector<char> text(21, '\x7f');  // what the caller's contract asks for
    const CommandStatus status = fx60::storageVersion(0, text.data());
    trace("storage version", status);
    if (status == CommandStatus::Done) FX60_FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) != nullptr);
    const FingerState finger = fx60::storageFingerState(0);
    trace("storage finger", finger);
    FX60_FUZZ_CHECK(finger == FingerState::Present || finger == FingerState::Absent ||
                    finger == FingerState::OpenFailed);
  }
}

// The virtual cable's decoding of simulator responses.
void runCableDecoders(ByteReader& in, uint8_t options) {
  const size_t requested = in.u16() & 0x3FFF;
  std::vector<uint8_t> response(in.remaining());
  in.fill(response);
  (void)fx60::platform::cable::decodeDescribe(response);
  std::vector<uint8_t> data(requested, 0);
  const auto direction = (options & 1) ? DataDirection::FromDevice : DataDirection::ToDevice;
  const auto scsi = fx60::platform::cable::decodeScsi(response, direction, data);
  FX60_FUZZ_CHECK(scsi.bytesTransferred <= data.size());
  const auto read = fx60::platform::cable::decodeHidRead(response, data);
  FX60_FUZZ_CHECK(read.bytes <= data.size());
  (void)fx60::platform::cable::decodeHidWrite(response);
}

}  // namespace

// The platform layer this program provides in place of the operating system's.
namespace fx60::platform {

std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass) {
  if (deviceClass == ScsiDeviceClass::Cdrom) return {kScsiPath};
  return {};
}

std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path) {
  if (path != kScsiPath) return nullptr;
  return std::make_unique<PlayedScsiDevice>();
}

std::vector<HidDeviceInfo> listHidDevices() { return {{kHidPath, 0x821B, 0x0202}}; }

std::unique_ptr<HidDevice> openHidDevice(const std::string& path) {
  if (path != kHidPath) return nullptr;
  return std::make_unique<PlayedHidDevice>();
}

int64_t monotonicMs() { return ++virtualNowMs; }

void sleepMs(int milliseconds) {
  if (milliseconds > 0) virtualNowMs += milliseconds;
}

void pumpOneMessage() {}

}  // namespace fx60::platform

namespace {

std::string flagsName;

void removeFlags() { ::shm_unlink(flagsName.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A private block of busy and cancel bytes, removed when the run ends.
  flagsName = "/fx60-fuzz-transport-" + std::to_string(::getpid());
  ::setenv("FX60_SHARED_FLAGS_NAME", flagsName.c_str(), 1);
  std::atexit(removeFlags);
  tracing = std::getenv("FX60_FUZZ_TRACE") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t scenario = in.byte() % 5;
  const uint8_t options = in.byte();
  module = &in;
  controlledWrites = (options & 0x80) != 0;
  if (scenario <= 1) runHid(in, scenario, options);
  else if (scenario <= 3) runStorage(scenario, options);
  else runCableDecoders(in, options);
  module = nullptr;
  return 0;
}
