// The HID transport: packets, and its behaviour against a module played at the
// wire level over the virtual cable.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "driver/hid_base.h"
#include "driver/hid_protocol.h"
#include "driver/shared_capture_flags.h"
#include "platform/cable/virtual_cable.h"
#include "platform/clock.h"
#include "tests/platform/fake_cable_server.h"

namespace fx60 {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::FakeCableServer;
using testing::joined;
using testing::PrivateCaptureFlags;
using testing::ScopedEnvironment;

const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateCaptureFlags("hid"));

TEST(HidPackets, SetIndicatorRequestBytes) {
  const Bytes payload = {0x01, 0x01};
  EXPECT_EQ(hid::buildRequest(hid::kSetIndicator, payload),
            (Bytes{0x88, 0x00, 0x00, 0x03, 0x00, 0x02, 0x01, 0x01, 0x07, 0x00}));
  EXPECT_EQ(hid::buildRequest(hid::kConnect, {}), (Bytes{0x88, 0, 0, 0x01, 0, 0x08, 0x09, 0}));
}

Bytes responsePacket(uint8_t status, const Bytes& payload, int checksumError = 0) {
  const uint16_t m = static_cast<uint16_t>(payload.size() + 1);
  Bytes packet = {0xAA, 0, 0, static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8), status};
  packet = joined(packet, payload);
  uint32_t sum = 0;
  for (size_t i = 3; i < packet.size(); ++i) sum += packet[i];
  sum += checksumError;
  packet.push_back(static_cast<uint8_t>(sum));
  packet.push_back(static_cast<uint8_t>(sum >> 8));
  if (packet.size() < 64) packet.resize(64, 0);
  return packet;
}

TEST(HidPackets, ResponsesAreCheckedForHeaderLengthAndChecksum) {
  const Bytes packet = responsePacket(0, {'V', '1'});
  const auto good = hid::parseResponse(packet);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 0);
  EXPECT_EQ(Bytes(good->payload.begin(), good->payload.end()), (Bytes{'V', '1'}));
  EXPECT_FALSE(hid::parseResponse(responsePacket(0, {'V', '1'}, 1)));
  EXPECT_FALSE(hid::parseResponse(responsePacket(0, {'V', '1'}, -1)));
  Bytes badHeader = responsePacket(0, {});
  badHeader[0] = 0xAB;
  EXPECT_FALSE(hid::parseResponse(badHeader));
  // A stated length that runs past the report.
  Bytes tooLong = responsePacket(0, {});
  tooLong[3] = 0x60;
  EXPECT_FALSE(hid::parseResponse(tooLong));
  // Length 0: checksum right after the status byte.
  const Bytes bare = {0xAA, 0, 0, 0, 0, 5, 5, 0};
  ASSERT_TRUE(hid::parseResponse(bare));
  EXPECT_EQ(hid::parseResponse(bare)->payload.size(), 0u);
  EXPECT_EQ(hid::parseResponse(bare)->status, 5);
}

TEST(HidPackets, ImageSizeNeedsSixPayloadBytes) {
  const auto size = hid::parseImageSize(Bytes{0, 0, 0x00, 0x01, 0x68, 0x01});
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 256);
  EXPECT_EQ(size->height, 360);
  EXPECT_FALSE(hid::parseImageSize(Bytes{0, 0, 0, 1, 0x68}));
}

// A HID module as the wire sees it: each request packet queues its response
// report; image data follows the read-image response in plain reports.
class FakeHidModule {
 public:
  uint16_t reportLength = 65;  // the input report length, which sizes every report
  uint16_t outputLength = 0;   // announced output report length; 0 = reportLength
  uint16_t width = 256, height = 360;
  std::string version = "FAKE HID V1";
  bool fingerOn = true;
  int corruptChecksums = 0;  // responses still to send with a wrong checksum

  static Bytes image() {
    Bytes pixels(92160);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13 + i / 360);
    return pixels;
  }

  std::optional<Bytes> handle(std::span<const uint8_t> request) {
    std::lock_guard lock(mutex_);
    switch (request[0]) {
      case platform::cable::kDescribe:
      {
        const uint16_t output = outputLength != 0 ? outputLength : reportLength;
        return Bytes{2, 0x1B, 0x82, 0x02, 0x02, static_cast<uint8_t>(reportLength),
                     static_cast<uint8_t>(reportLength >> 8), static_cast<uint8_t>(output),
                     static_cast<uint8_t>(output >> 8), 0, 0};
      }
      case platform::cable::kHidWrite: {
        const auto report = request.subspan(5);
        writes_.emplace_back(report.begin(), report.end());
        respondTo(report.subspan(1));
        return Bytes{0, static_cast<uint8_t>(report.size()), static_cast<uint8_t>(report.size() >> 8), 0, 0};
      }
      default: {
        if (queue_.empty()) return Bytes{3};
        Bytes out = {0, 0};
        out = joined(out, queue_.front());
        queue_.pop_front();
        out.resize(1 + reportLength, 0);
        return out;
      }
    }
  }

  std::vector<Bytes> writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  // Reports queued and not read yet.
  size_t unread() {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

 private:
  void queueResponse(uint8_t status, const Bytes& payload) {
    queue_.push_back(responsePacket(status, payload, corruptChecksums > 0 ? 1 : 0));
    if (corruptChecksums > 0) --corruptChecksums;
  }

  void respondTo(std::span<const uint8_t> packet) {
    switch (packet[5]) {
      case hid::kDetectFinger: queueResponse(fingerOn ? 0 : 1, {}); break;
      case hid::kGetVersion: queueResponse(0, Bytes(version.begin(), version.end())); break;
      case hid::kReadImage: {
        queueResponse(0, {0, 0, static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8),
                          static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8)});
        const Bytes pixels = image();
        const size_t chunk = reportLength - 1u;
        for (size_t at = 0; at < size_t{width} * height; at += chunk) {
          Bytes data(chunk, 0);
          for (size_t i = 0; i < chunk && at + i < pixels.size(); ++i) data[i] = pixels[at + i];
          queue_.push_back(data);
        }
        break;
      }
      default: queueResponse(0, {});
    }
  }

  std::mutex mutex_;
  std::deque<Bytes> queue_;
  std::vector<Bytes> writes_;
};

struct HidRig {
  FakeHidModule module;
  FakeCableServer server{[this](std::span<const uint8_t> r) { return module.handle(r); }};
};

TEST(HidTransport, IndicatorRequestGoesOutAsOneFullReport) {
  HidRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  DeviceHandle handle;
  ASSERT_EQ(HidConnect(handle), ConnectStatus::Connected);
  EXPECT_EQ(HidSetIndicator(handle, 1, 1), CommandStatus::Done);
  HidDisconnect(handle);
  const auto writes = rig.module.writes();
  ASSERT_EQ(writes.size(), 3u);  // connect, indicator, disconnect
  Bytes expected(65, 0);
  const Bytes packet = {0x88, 0x00, 0x00, 0x03, 0x00, 0x02, 0x01, 0x01, 0x07, 0x00};
  std::copy(packet.begin(), packet.end(), expected.begin() + 1);
  EXPECT_EQ(writes[1], expected);
  EXPECT_EQ(writes[2][6], hid::kDisconnect);
}

TEST(HidTransport, CaptureOnAnyIndexReadsTheFirstModulesImage) {
  HidRig first, second;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, first.server.path() + ":" + second.server.path());
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(HidCaptureImage(9, image.data(), 2000, 0, 1), CaptureStatus::Done);
  EXPECT_EQ(image, FakeHidModule::image());
  EXPECT_TRUE(second.module.writes().empty());
  EXPECT_FALSE(capture_flags::isBusy(TransportKind::Hid, 9));
  EXPECT_EQ(HidCaptureImage(16, image.data(), 0, 0, 1), CaptureStatus::BadIndex);
  EXPECT_EQ(HidCaptureImage(-1, image.data(), 0, 0, 1), CaptureStatus::BadIndex);
}

TEST(HidTransport, BadChecksumIsRefused) {
  HidRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  DeviceHandle handle;
  ASSERT_EQ(HidConnect(handle), ConnectStatus::Connected);
  rig.module.corruptChecksums = 1;
  EXPECT_EQ(HidTransact(handle, hid::kDetectFinger, nullptr, 0, nullptr, 0), CommandStatus::ReceiveFailed);
  EXPECT_EQ(HidTransact(handle, hid::kDetectFinger, nullptr, 0, nullptr, 0), CommandStatus::Done);
  HidDisconnect(handle);
  rig.module.corruptChecksums = 1;  // the connect answer
  EXPECT_EQ(hidFingerState(), FingerState::OpenFailed);
}

TEST(HidTransport, AnotherAnnouncedImageSizeFailsTheReadOut) {
  for (auto [width, height] : {std::pair<uint16_t, uint16_t>{300, 400}, {128, 180}, {0, 0}}) {
    HidRig rig;
    rig.module.width = width;
    rig.module.height = height;
    ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
    std::vector<uint8_t> image(92160, 0x55);
    EXPECT_EQ(HidCaptureImage(0, image.data(), 2000, 0, 1), CaptureStatus::HidReadFailed);
    EXPECT_EQ(image, std::vector<uint8_t>(92160, 0x55));
  }
}

TEST(HidTransport, WiderReportsCarryTheImageInFewerChunks) {
  HidRig rig;
  rig.module.reportLength = 513;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(HidCaptureImage(0, image.data(), 2000, 0, 1), CaptureStatus::Done);
  EXPECT_EQ(image, FakeHidModule::image());
}

TEST(HidTransport, ImageReadOutIsSizedByTheInputReportLength) {
  // Every report is input-length long (not output-length),
  // so the offset advances by its data bytes, and exactly
  // the reports the announced image needs are read, whatever the output length.
  for (auto [input, output] : {std::pair<uint16_t, uint16_t>{65, 65}, {65, 33}, {33, 65}, {17, 65}}) {
    HidRig rig;
    rig.module.reportLength = input;
    rig.module.outputLength = output;
    ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
    DeviceHandle handle;
    ASSERT_EQ(HidConnect(handle), ConnectStatus::Connected) << input << "/" << output;
    std::vector<uint8_t> image(92160);
    int total = 0, width = 0, height = 0;
    EXPECT_EQ(HidReadImage(handle, image.data(), total, width, height), CommandStatus::Done) << input << "/" << output;
    EXPECT_EQ(rig.module.unread(), 0u) << input << "/" << output;
    EXPECT_EQ(total, 92160);
    EXPECT_EQ(image, FakeHidModule::image()) << input << "/" << output;
    // The requests went out as input-length reports.
    for (const Bytes& report : rig.module.writes()) EXPECT_EQ(report.size(), input);
    HidDisconnect(handle);
  }
}

TEST(HidTransport, VersionTextIsBoundedAndTerminated) {
  HidRig rig;
  rig.module.version = std::string(56, 'H');
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  char text[80];
  std::fill(std::begin(text), std::end(text), 'x');
  EXPECT_EQ(hidVersion(text), CommandStatus::Done);
  EXPECT_EQ(std::string(text), std::string(56, 'H'));
  EXPECT_EQ(text[57], 'x');

  rig.module.reportLength = 200;  // room for far more than the bound
  rig.module.version = std::string(150, 'L');
  std::fill(std::begin(text), std::end(text), 'x');
  EXPECT_EQ(hidVersion(text), CommandStatus::Done);
  EXPECT_EQ(std::string(text), std::string(63, 'L'));
  EXPECT_EQ(text[64], 'x');
}

TEST(HidCapture, TimeoutRulesOfTheFingerWait) {
  HidRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  std::vector<uint8_t> image(92160);
  // One poll after the sleep: a time-out even with the finger present.
  EXPECT_EQ(HidCaptureImage(0, image.data(), -1, 0, 1), CaptureStatus::TimedOut);
  EXPECT_EQ(HidCaptureImage(0, image.data(), -2, 0, 1), CaptureStatus::TimedOut);
  // Without the finger wait the image is read at once.
  EXPECT_EQ(HidCaptureImage(0, image.data(), 0, 0, 0), CaptureStatus::Done);
  rig.module.fingerOn = false;
  const int64_t start = platform::monotonicMs();
  EXPECT_EQ(HidCaptureImage(0, image.data(), 300, 0, 1), CaptureStatus::TimedOut);
  const int64_t took = platform::monotonicMs() - start;
  EXPECT_GE(took, 300);
  EXPECT_LT(took, 1500);
}

TEST(HidCapture, AnyNonZeroWaitLiftWaitsForTheLift) {
  HidRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(HidCaptureImage(0, image.data(), 200, 2, 1), CaptureStatus::TimedOut);  // the finger never lifts
  EXPECT_EQ(HidCaptureImage(0, image.data(), 200, 0, 1), CaptureStatus::Done);
}

TEST(HidCapture, UnpluggedModuleGivesMinusOne) {
  auto rig = std::make_unique<HidRig>();
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig->server.path());
  rig.reset();
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(HidCaptureImage(0, image.data(), 1000, 0, 1), CaptureStatus::NoModule);
  EXPECT_FALSE(capture_flags::isBusy(TransportKind::Hid, 0));
  char text[64] = "untouched";
  EXPECT_EQ(hidVersion(text), CommandStatus::NoDevice);
  EXPECT_STREQ(text, "untouched");
}

}  // namespace
}  // namespace fx60
