// SCSI pass-through to the module's CD-ROM interface: the interfaces of the class
// are the devices, CreateFileA opens one, DeviceIoControl carries each request.
#include <windows.h>

#include "platform/device_backends.h"
#include "platform/win32/device_interfaces.h"
#include "platform/win32/spt_request.h"

namespace fx60::platform::os {
namespace {

class PassThroughDevice final : public ScsiDevice {
 public:
  explicit PassThroughDevice(HANDLE handle) : handle_(handle) {}
  ~PassThroughDevice() override { CloseHandle(handle_); }

  PassThroughResult passThrough(const ScsiCommand& cmd, std::span<uint8_t> data) override {
    SptRequest request = buildSptRequest(cmd, data);
    DWORD returned = 0;
    const BOOL succeeded = DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                                           &request, sizeof request, &returned, nullptr);
    return judgeSpt(succeeded != FALSE, succeeded ? ERROR_SUCCESS : GetLastError(), request, data.size());
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass) {
  return presentInterfacePaths(deviceClass == ScsiDeviceClass::Cdrom ? kCdromInterface : kDiskInterface);
}

std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<PassThroughDevice>(handle);
}

}  // namespace fx60::platform::os
