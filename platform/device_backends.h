// The back ends behind scsi_device.h and hid_device.h: the operating system's
// devices and the simulated modules of the virtual cable. devices.cpp lists both
// and sends each path to the back end it came from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/hid_device.h"
#include "platform/scsi_device.h"

namespace fx60::platform::os {
std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass);
std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path);
std::vector<HidDeviceInfo> listHidDevices();
std::unique_ptr<HidDevice> openHidDevice(const std::string& path);
}  // namespace fx60::platform::os

namespace fx60::platform::cable {
// Device paths of simulated modules carry this prefix before the socket path.
inline constexpr std::string_view kPathPrefix = "virtual-cable:";

std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass);
std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path);
std::vector<HidDeviceInfo> listHidDevices();
std::unique_ptr<HidDevice> openHidDevice(const std::string& path);
}  // namespace fx60::platform::cable
