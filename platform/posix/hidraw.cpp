// HID on Linux through hidraw: ids from the uevent, report lengths from the
// report descriptor, reads and writes guarded by poll so that a time-out never
// leaves a request pending.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/clock.h"
#include "platform/device_backends.h"
#include "platform/device_log.h"
#include "platform/posix/hid_descriptor.h"
#include "platform/posix/sysfs.h"

namespace fx60::platform::os {
namespace {

namespace fs = std::filesystem;

enum class Readiness { Ready, TimedOut, Failed };

// Waits until fd is ready for events, retrying after signals with the time left.
Readiness waitFor(int fd, short events, int timeoutMs) {
  const int64_t deadline = monotonicMs() + std::max(timeoutMs, 0);
  for (;;) {
    pollfd entry{fd, events, 0};
    const int64_t left = std::max<int64_t>(deadline - monotonicMs(), 0);
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Readiness::Failed;
    }
    if (ready == 0) return Readiness::TimedOut;
    if (entry.revents & events) return Readiness::Ready;
    return Readiness::Failed;  // error or hang-up: the device is gone
  }
}

class HidrawDevice final : public HidDevice {
 public:
  explicit HidrawDevice(int fd) : fd_(fd) {}
  ~HidrawDevice() override { ::close(fd_); }
  HidrawDevice(const HidrawDevice&) = delete;
  HidrawDevice& operator=(const HidrawDevice&) = delete;

  std::optional<HidReportLengths> reportLengths() override {
    const auto summary = descriptor();
    if (!summary) return std::nullopt;
    return summary->lengths;
  }

  HidIoResult write(std::span<const uint8_t> report, int timeoutMs) override {
    if (report.empty()) return {HidIoOutcome::Failed, 0};
    switch (waitFor(fd_, POLLOUT, timeoutMs)) {
      case Readiness::TimedOut: return {HidIoOutcome::TimedOut, 0};
      case Readiness::Failed: return {HidIoOutcome::Failed, 0};
      case Readiness::Ready: break;
    }
    // hidraw takes the report id byte first, 0 for a device without numbered reports.
    const ssize_t written = ::write(fd_, report.data(), report.size());
    if (written < 0) return {HidIoOutcome::Failed, 0};
    return {HidIoOutcome::Done, static_cast<size_t>(written)};
  }

  HidIoResult read(std::span<uint8_t> report, int timeoutMs) override {
    if (report.empty()) return {HidIoOutcome::Failed, 0};
    const auto summary = descriptor();
    if (!summary) return {HidIoOutcome::Failed, 0};
    switch (waitFor(fd_, POLLIN, timeoutMs)) {
      case Readiness::TimedOut: return {HidIoOutcome::TimedOut, 0};
      case Readiness::Failed: return {HidIoOutcome::Failed, 0};
      case Readiness::Ready: break;
    }
    // Without numbered reports hidraw hands over the data alone; put the id byte 0
    // in front so that callers always see the report id first.
    const size_t skip = summary->usesReportIds ? 0 : 1;
    if (skip) report[0] = 0;
    const ssize_t got = ::read(fd_, report.data() + skip, report.size() - skip);
    if (got < 0) {
      return {errno == EAGAIN ? HidIoOutcome::TimedOut : HidIoOutcome::Failed, 0};
    }
    return {HidIoOutcome::Done, static_cast<size_t>(got) + skip};
  }

 private:
  std::optional<ReportDescriptorSummary> descriptor() {
    if (!summary_) {
      int size = 0;
      const int result = ::ioctl(fd_, HIDIOCGRDESCSIZE, &size);
      if (result < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
        const int error = result < 0 ? errno : 0;
        logDeviceEvent({DeviceEvent::Kind::Failed, "HIDIOCGRDESCSIZE", "no report descriptor size", error});
        return std::nullopt;
      }
      hidraw_report_descriptor raw{};
      raw.size = static_cast<__u32>(size);
      if (::ioctl(fd_, HIDIOCGRDESC, &raw) < 0) {
        const int error = errno;
        logDeviceEvent({DeviceEvent::Kind::Failed, "HIDIOCGRDESC", "no report descriptor", error});
        return std::nullopt;
      }
      summary_ = parseReportDescriptor(std::span<const uint8_t>(raw.value, raw.size));
      if (!summary_) logDeviceEvent({DeviceEvent::Kind::Failed, "HIDIOCGRDESC", "malformed report descriptor", 0});
    }
    return summary_;
  }

  int fd_;
  std::optional<ReportDescriptorSummary> summary_;
};

}  // namespace

std::vector<HidDeviceInfo> listHidDevices() {
  std::vector<HidDeviceInfo> devices;
  const fs::path hidraw = "/sys/class/hidraw";
  for (const auto& name : numberedEntries(hidraw, "hidraw")) {
    const auto uevent = readTextFile(hidraw / name / "device" / "uevent");
    if (!uevent) continue;
    const auto ids = parseHidIdFromUevent(*uevent);
    if (!ids) continue;
    devices.push_back({"/dev/" + name, ids->vendorId, ids->productId});
    char detail[48];
    std::snprintf(detail, sizeof detail, "HID device %04x:%04x", ids->vendorId, ids->productId);
    logDeviceEvent({DeviceEvent::Kind::Listed, devices.back().path, detail, 0});
  }
  return devices;
}

std::unique_ptr<HidDevice> openHidDevice(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    logDeviceEvent({DeviceEvent::Kind::OpenFailed, path, "", error});
    return nullptr;
  }
  return std::make_unique<HidrawDevice>(fd);
}

}  // namespace fx60::platform::os
