// SCSI pass-through on Linux: SCSI generic nodes (/dev/sgN) of the wanted
// peripheral type, or CD-ROM nodes (/dev/srN) of devices without a generic node,
// and SG_IO on the opened node.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "platform/device_backends.h"
#include "platform/device_log.h"
#include "platform/posix/sg_request.h"
#include "platform/posix/sysfs.h"

namespace fx60::platform::os {
namespace {

namespace fs = std::filesystem;

std::string canonicalDevice(const fs::path& sysfsDevice) {
  std::error_code error;
  auto target = fs::canonical(sysfsDevice, error);
  return error ? std::string() : target.string();
}

class SgDevice final : public ScsiDevice {
 public:
  explicit SgDevice(int fd) : fd_(fd) {}
  ~SgDevice() override { ::close(fd_); }
  SgDevice(const SgDevice&) = delete;
  SgDevice& operator=(const SgDevice&) = delete;

  PassThroughResult passThrough(const ScsiCommand& cmd, std::span<uint8_t> data) override {
    sg_io_hdr_t hdr = buildSgIoHeader(cmd, data);
    const int result = ::ioctl(fd_, SG_IO, &hdr);
    const int error = result < 0 ? errno : 0;
    const PassThroughResult judged = judgeSgIo(result, error, hdr);
    if (judged.outcome != PassThroughOutcome::Done)
      logDeviceEvent({judged.outcome == PassThroughOutcome::Retryable ? DeviceEvent::Kind::Retry : DeviceEvent::Kind::Failed,
                      "SG_IO", sgIoSummary(result, hdr), error});
    return judged;
  }

 private:
  int fd_;
};

}  // namespace

std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass) {
  std::vector<std::string> paths;
  std::set<std::string> seen;
  const fs::path generic = "/sys/class/scsi_generic";
  for (const auto& name : numberedEntries(generic, "sg")) {
    auto type = readTextFile(generic / name / "device" / "type");
    if (!type || !scsiTypeMatches(type->c_str(), deviceClass)) continue;
    paths.push_back("/dev/" + name);
    logDeviceEvent({DeviceEvent::Kind::Listed, paths.back(), "SCSI generic node", 0});
    seen.insert(canonicalDevice(generic / name / "device"));
  }
  if (deviceClass == ScsiDeviceClass::Cdrom) {
    // Without the sg driver loaded, the CD-ROM driver's own nodes take SG_IO too.
    const fs::path block = "/sys/class/block";
    for (const auto& name : numberedEntries(block, "sr")) {
      const std::string device = canonicalDevice(block / name / "device");
      if (device.empty() || seen.contains(device)) continue;
      paths.push_back("/dev/" + name);
      logDeviceEvent({DeviceEvent::Kind::Listed, paths.back(), "CD-ROM node", 0});
    }
  }
  return paths;
}

std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path) {
  // O_NONBLOCK lets a CD-ROM node open without a medium; SG_IO itself still blocks.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    logDeviceEvent({DeviceEvent::Kind::OpenFailed, path, "", error});
    return nullptr;
  }
  return std::make_unique<SgDevice>(fd);
}

}  // namespace fx60::platform::os
