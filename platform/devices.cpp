#include "platform/device_backends.h"

namespace fx60::platform {
namespace {

bool isSimulatedPath(const std::string& path) { return path.starts_with(cable::kPathPrefix); }

template <typename T>
void append(std::vector<T>& to, std::vector<T> from) {
  for (auto& item : from) to.push_back(std::move(item));
}

}  // namespace

std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass) {
  auto paths = os::listScsiDevices(deviceClass);
  append(paths, cable::listScsiDevices(deviceClass));
  return paths;
}

std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path) {
  return isSimulatedPath(path) ? cable::openScsiDevice(path) : os::openScsiDevice(path);
}

std::vector<HidDeviceInfo> listHidDevices() {
  auto devices = os::listHidDevices();
  append(devices, cable::listHidDevices());
  return devices;
}

std::unique_ptr<HidDevice> openHidDevice(const std::string& path) {
  return isSimulatedPath(path) ? cable::openHidDevice(path) : os::openHidDevice(path);
}

}  // namespace fx60::platform
