// HID devices through the HID class interfaces: attributes and capabilities from
// the HID services, reports by overlapped ReadFile and WriteFile with a time-out.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include "platform/device_backends.h"
#include "platform/win32/device_interfaces.h"

namespace fx60::platform::os {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE openPath(const std::string& path, DWORD access, DWORD flags) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

class OverlappedHidDevice final : public HidDevice {
 public:
  OverlappedHidDevice(HANDLE device, HANDLE event) : device_(device), event_(event) {}

  std::optional<HidReportLengths> reportLengths() override {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device_.get(), &preparsed)) return std::nullopt;
    HIDP_CAPS caps{};
    const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) return std::nullopt;
    return HidReportLengths{caps.InputReportByteLength, caps.OutputReportByteLength, caps.FeatureReportByteLength};
  }

  HidIoResult write(std::span<const uint8_t> report, int timeoutMs) override {
    OVERLAPPED overlapped = fresh();
    const BOOL done = WriteFile(device_.get(), report.data(), static_cast<DWORD>(report.size()), nullptr, &overlapped);
    return finish(done, overlapped, timeoutMs);
  }

  HidIoResult read(std::span<uint8_t> report, int timeoutMs) override {
    OVERLAPPED overlapped = fresh();
    const BOOL done = ReadFile(device_.get(), report.data(), static_cast<DWORD>(report.size()), nullptr, &overlapped);
    return finish(done, overlapped, timeoutMs);
  }

 private:
  OVERLAPPED fresh() {
    ResetEvent(event_.get());
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    return overlapped;
  }

  // Waits for the transfer started on overlapped. On a time-out the transfer is
  // cancelled and waited for, so that nothing stays pending on the buffer.
  HidIoResult finish(BOOL startedDone, OVERLAPPED& overlapped, int timeoutMs) {
    if (!startedDone && GetLastError() != ERROR_IO_PENDING) return {HidIoOutcome::Failed, 0};
    const DWORD wait = WaitForSingleObject(event_.get(), timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    DWORD transferred = 0;
    if (wait != WAIT_OBJECT_0) {
      CancelIo(device_.get());
      // The cancelled transfer may still have completed; either way it is over.
      const BOOL completed = GetOverlappedResult(device_.get(), &overlapped, &transferred, TRUE);
      if (!completed || wait != WAIT_TIMEOUT) return {wait == WAIT_TIMEOUT ? HidIoOutcome::TimedOut : HidIoOutcome::Failed, 0};
      return {HidIoOutcome::Done, transferred};
    }
    if (!GetOverlappedResult(device_.get(), &overlapped, &transferred, FALSE)) return {HidIoOutcome::Failed, 0};
    return {HidIoOutcome::Done, transferred};
  }

  Handle device_;
  Handle event_;
};

}  // namespace

std::vector<HidDeviceInfo> listHidDevices() {
  GUID hidClass;
  HidD_GetHidGuid(&hidClass);
  std::vector<HidDeviceInfo> devices;
  for (auto& path : presentInterfacePaths(hidClass)) {
    // No access rights are needed to read the attributes, so devices that others
    // hold open (keyboards, mice) are listed too.
    Handle device(openPath(path, 0, 0));
    if (!device.valid()) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(device.get(), &attributes)) continue;
    devices.push_back({std::move(path), attributes.VendorID, attributes.ProductID});
  }
  return devices;
}

std::unique_ptr<HidDevice> openHidDevice(const std::string& path) {
  HANDLE device = openPath(path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
  if (device == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    CloseHandle(device);
    return nullptr;
  }
  return std::make_unique<OverlappedHidDevice>(device, event);
}

}  // namespace fx60::platform::os
