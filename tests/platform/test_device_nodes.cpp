// The operating system's device paths without hardware: a HID module made by the
// kernel's uhid driver (where /dev/uhid exists), and the open and ioctl paths of
// hidraw and SCSI generic nodes on files that are not such devices, with what the
// device log says about them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/device_backends.h"
#include "platform/device_log.h"
#include "platform/hid_device.h"
#include "platform/scsi_device.h"

namespace fx60::platform {
namespace {

// Collects the device events while it lives.
class EventWatch {
 public:
  EventWatch() {
    watchDeviceEvents([this](const DeviceEvent& event) {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    });
  }
  ~EventWatch() { watchDeviceEvents({}); }
  std::vector<DeviceEvent> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  bool saw(DeviceEvent::Kind kind, const std::string& where, int error) {
    for (const DeviceEvent& event : events())
      if (event.kind == kind && event.where == where && event.error == error) return true;
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<DeviceEvent> events_;
};

TEST(DeviceNodes, MissingNodesFailToOpenWithTheSystemsReason) {
  EventWatch watch;
  EXPECT_EQ(openHidDevice("/dev/hidraw-none-such"), nullptr);
  EXPECT_EQ(openScsiDevice("/dev/sg-none-such"), nullptr);
  EXPECT_TRUE(watch.saw(DeviceEvent::Kind::OpenFailed, "/dev/hidraw-none-such", ENOENT));
  EXPECT_TRUE(watch.saw(DeviceEvent::Kind::OpenFailed, "/dev/sg-none-such", ENOENT));
  // A directory cannot be opened for reading and writing either.
  EXPECT_EQ(openScsiDevice("/"), nullptr);
  EXPECT_TRUE(watch.saw(DeviceEvent::Kind::OpenFailed, "/", EISDIR));
  for (const DeviceEvent& event : watch.events()) {
    if (event.kind != DeviceEvent::Kind::OpenFailed) continue;
    const std::string line = describeDeviceEvent(event);
    EXPECT_NE(line.find(event.where), std::string::npos) << line;
    EXPECT_NE(line.find(std::strerror(event.error)), std::string::npos) << line;
  }
}

TEST(DeviceNodes, SgIoOnANodeThatIsNoScsiDeviceFailsAndSaysWhy) {
  EventWatch watch;
  auto device = openScsiDevice("/dev/null");
  ASSERT_NE(device, nullptr);
  ScsiCommand inquiry;
  inquiry.cdb[0] = 0x12;
  inquiry.cdb[4] = 36;
  inquiry.cdbLength = 6;
  inquiry.direction = DataDirection::FromDevice;
  inquiry.timeoutSeconds = 1;
  std::vector<uint8_t> data(36, 0);
  const PassThroughResult result = device->passThrough(inquiry, data);
  EXPECT_EQ(result.outcome, PassThroughOutcome::Failed);
  EXPECT_EQ(result.bytesTransferred, 0u);
  bool logged = false;
  for (const DeviceEvent& event : watch.events())
    logged = logged || (event.kind == DeviceEvent::Kind::Failed && event.where == "SG_IO" && event.error != 0);
  EXPECT_TRUE(logged) << "the failed ioctl is logged with its errno";
}

TEST(DeviceNodes, HidrawCallsOnANodeThatIsNoHidDeviceFail) {
  EventWatch watch;
  auto device = openHidDevice("/dev/null");
  ASSERT_NE(device, nullptr);
  EXPECT_FALSE(device->reportLengths()) << "no report descriptor";
  std::vector<uint8_t> report(65, 0);
  EXPECT_EQ(device->read(report, 10).outcome, HidIoOutcome::Failed);
  EXPECT_TRUE(watch.saw(DeviceEvent::Kind::Failed, "HIDIOCGRDESCSIZE", ENOTTY));
}

// Started again by the DeviceLog test (FX60_LOG_CHILD set), this program logs a
// discovery seen twice, two retries and a failed open, and stops before any test runs.
const bool kLoggedAsChild = [] {
  if (std::getenv("FX60_LOG_CHILD") == nullptr) return false;
  logDeviceEvent({DeviceEvent::Kind::Listed, "/dev/sg7", "SCSI generic node", 0});
  logDeviceEvent({DeviceEvent::Kind::Retry, "WRITE(10)", "transport error, attempt 1 of 100", 0});
  logDeviceEvent({DeviceEvent::Kind::Listed, "/dev/sg7", "SCSI generic node", 0});
  logDeviceEvent({DeviceEvent::Kind::Retry, "WRITE(10)", "transport error, attempt 1 of 100", 0});
  logDeviceEvent({DeviceEvent::Kind::OpenFailed, "/dev/sg7", "", EACCES});
  std::exit(0);
}();

// Runs this program again as such a child, with FX60_LOG set to logValue (or unset),
// and returns what it wrote to the log file or to standard error.
std::string runChild(const char* logValue, const std::string& logFile) {
  const std::string stderrFile = logFile + ".stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (logValue != nullptr)
      ::setenv("FX60_LOG", logValue, 1);
    else
      ::unsetenv("FX60_LOG");
    ::setenv("FX60_LOG_CHILD", "1", 1);
    const int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, 2);
    ::execl("/proc/self/exe", "child", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::ifstream in(logValue != nullptr && std::string(logValue) != "stderr" ? logFile : stderrFile);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(stderrFile);
  return text.str();
}

int countOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(DeviceLog, WritesWhatFx60LogNamesAndNothingOtherwise) {
  ASSERT_FALSE(kLoggedAsChild);
  const std::string file = (std::filesystem::temp_directory_path() / ("fx60-log-" + std::to_string(::getpid()))).string();
  const std::string toFile = runChild(file.c_str(), file);
  EXPECT_EQ(countOf(toFile, "found /dev/sg7"), 1) << toFile;
  EXPECT_EQ(countOf(toFile, "retry WRITE(10)"), 2) << toFile;
  EXPECT_EQ(countOf(toFile, std::string("cannot open /dev/sg7: ") + std::strerror(EACCES)), 1) << toFile;
  std::filesystem::remove(file);

  const std::string toStderr = runChild("stderr", file);
  EXPECT_EQ(countOf(toStderr, "fx60: retry WRITE(10)"), 2) << toStderr;

  const std::string quiet = runChild(nullptr, file);
  EXPECT_EQ(quiet.find("fx60:"), std::string::npos) << quiet;
  EXPECT_FALSE(std::filesystem::exists(file));
}

// A vendor-defined HID module made by uhid: vendor and product id of the module,
// 64-byte input and output reports without report ids.
class UhidModule {
 public:
  static constexpr uint16_t kVendor = 0x821B;
  static constexpr uint16_t kProduct = 0x0202;

  // Empty with a reason when this system cannot make one.
  static std::optional<std::string> unavailable() {
    if (!std::filesystem::exists("/dev/uhid")) return "no /dev/uhid on this system";
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::string("cannot open /dev/uhid: ") + std::strerror(errno);
    ::close(fd);
    return std::nullopt;
  }

  UhidModule() {
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return;
    static const uint8_t kDescriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
                                          0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02,
                                          0x91, 0x02, 0xC0};
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "fx60 test module");
    event.u.create2.rd_size = sizeof kDescriptor;
    event.u.create2.bus = 0x03;  // USB
    event.u.create2.vendor = kVendor;
    event.u.create2.product = kProduct;
    std::memcpy(event.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
    created_ = ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
  }
  ~UhidModule() {
    if (fd_ < 0) return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    (void)!::write(fd_, &event, sizeof event);
    ::close(fd_);
  }

  bool created() const { return created_; }

  // The hidraw node of the module, once the kernel has made it.
  std::optional<std::string> waitForNode() {
    const int64_t deadline = monotonicMs() + 3000;
    while (monotonicMs() < deadline) {
      for (const HidDeviceInfo& info : os::listHidDevices())
        if (info.vendorId == kVendor && info.productId == kProduct && std::filesystem::exists(info.path))
          return info.path;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

  // Sends one input report (data only: the module numbers no reports).
  bool sendInput(const std::vector<uint8_t>& data) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(data.size());
    std::memcpy(event.u.input2.data, data.data(), data.size());
    return ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
  }

  // The next output report the host wrote, skipping the driver's other events.
  std::optional<std::vector<uint8_t>> nextOutput(int timeoutMs) {
    const int64_t deadline = monotonicMs() + timeoutMs;
    for (;;) {
      pollfd entry{fd_, POLLIN, 0};
      const int64_t left = deadline - monotonicMs();
      if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) return std::nullopt;
      uhid_event event{};
      if (::read(fd_, &event, sizeof event) <= 0) return std::nullopt;
      if (event.type == UHID_OUTPUT)
        return std::vector<uint8_t>(event.u.output.data, event.u.output.data + event.u.output.size);
    }
  }

 private:
  int fd_ = -1;
  bool created_ = false;
};

TEST(UhidModule, ListedOpenedAndTalkedToLikeTheRealModule) {
  if (const auto reason = UhidModule::unavailable()) GTEST_SKIP() << *reason;
  UhidModule module;
  ASSERT_TRUE(module.created());
  const auto path = module.waitForNode();
  if (!path) GTEST_SKIP() << "the kernel made no hidraw node for the uhid module (no device manager?)";

  auto device = os::openHidDevice(*path);
  ASSERT_NE(device, nullptr);
  const auto lengths = device->reportLengths();
  ASSERT_TRUE(lengths);
  EXPECT_EQ(lengths->input, 65);
  EXPECT_EQ(lengths->output, 65);
  EXPECT_EQ(lengths->feature, 0);

  // A write goes out as the module's output report: the report id byte stays behind.
  std::vector<uint8_t> report(65, 0);
  for (size_t i = 1; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i);
  const HidIoResult written = device->write(report, 1000);
  EXPECT_EQ(written.outcome, HidIoOutcome::Done);
  const auto output = module.nextOutput(2000);
  ASSERT_TRUE(output);
  EXPECT_EQ(*output, std::vector<uint8_t>(report.begin() + (output->size() == 64 ? 1 : 0), report.end()));

  // An input report arrives with the id byte 0 in front.
  std::vector<uint8_t> input(64);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(200 - i);
  ASSERT_TRUE(module.sendInput(input));
  std::vector<uint8_t> got(65, 0xEE);
  const HidIoResult read = device->read(got, 1000);
  ASSERT_EQ(read.outcome, HidIoOutcome::Done);
  EXPECT_EQ(read.bytes, 65u);
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(std::vector<uint8_t>(got.begin() + 1, got.end()), input);

  // Nothing more to read: a time-out, and nothing left pending for the next read.
  EXPECT_EQ(device->read(got, 50).outcome, HidIoOutcome::TimedOut);
  ASSERT_TRUE(module.sendInput(input));
  EXPECT_EQ(device->read(got, 1000).outcome, HidIoOutcome::Done);
}

}  // namespace
}  // namespace fx60::platform
