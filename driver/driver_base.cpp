#include "driver/driver_base.h"

#include <algorithm>

namespace fx60 {

int CDriverBase::CloseDevice(DeviceHandle& handle) {
  handle.scsi.reset();
  handle.hid.reset();
  handle.reportLengths = {};
  return 0;
}

bool storePath(DevicePath& entry, std::string_view path) {
  if (path.size() >= entry.size()) return false;
  std::fill(entry.begin(), entry.end(), '\0');
  std::copy(path.begin(), path.end(), entry.begin());
  return true;
}

}  // namespace fx60
