// The mass-storage transport: request building, and its behaviour against a
// module played at the wire level over the virtual cable.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "driver/shared_capture_flags.h"
#include "driver/storage_protocol.h"
#include "driver/usb_base.h"
#include "platform/cable/virtual_cable.h"
#include "tests/platform/fake_cable_server.h"

namespace fx60 {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::FakeCableServer;
using testing::joined;
using testing::ScopedEnvironment;
using testing::PrivateCaptureFlags;

// Busy and cancel bytes of their own, so that parallel test programs do not meet.
const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateCaptureFlags("storage"));

TEST(StorageRequests, CdbsOfInquiryWriteAndRead) {
  const auto inquiry = storage::inquiryCommand();
  EXPECT_EQ(inquiry.cdbLength, 6);
  EXPECT_EQ(Bytes(inquiry.cdb.begin(), inquiry.cdb.begin() + 6), (Bytes{0x12, 0, 0, 0, 0x24, 0}));
  EXPECT_EQ(inquiry.direction, platform::DataDirection::FromDevice);
  EXPECT_EQ(inquiry.timeoutSeconds, 10u);

  const auto write = storage::write10Command(5);
  EXPECT_EQ(write.cdbLength, 10);
  EXPECT_EQ(write.cdb[0], 0x2A);
  EXPECT_EQ(write.direction, platform::DataDirection::ToDevice);
  const auto read = storage::read10Command(1);
  EXPECT_EQ(read.cdb[0], 0x28);
  EXPECT_EQ(read.direction, platform::DataDirection::FromDevice);
  for (size_t i = 1; i < 16; ++i) EXPECT_EQ(write.cdb[i] | read.cdb[i], 0) << i;
}

TEST(StorageRequests, CommandBlocksAndResponses) {
  const Bytes indicator = {0x01, 0x00, 0x01, 0x00};
  EXPECT_EQ(storage::buildCommandBlock(storage::kSetIndicator, indicator),
            (Bytes{0x08, 0xF0, 0x04, 0x00, 0x01, 0x00, 0x01, 0x00}));
  EXPECT_EQ(storage::buildCommandBlock(storage::kDetectFinger, {}), (Bytes{0x10, 0xE0, 0, 0}));

  const Bytes received = {0x00, 0x30, 0x05, 0x00, 'a', 'b', 'c'};
  const auto response = storage::parseResponse(received);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, storage::kStatusSuccess);
  EXPECT_EQ(response->dataLength, 5);
  EXPECT_EQ(response->data.size(), 3u);  // only what arrived
  EXPECT_FALSE(storage::parseResponse(Bytes{0x00}));
  EXPECT_EQ(storage::parseResponse(Bytes{0x00, 0x30})->data.size(), 0u);
}

TEST(StorageRequests, PassThroughTimeoutFollowsTheReadBudget) {
  EXPECT_EQ(storage::passThroughSeconds(10), 1u);
  EXPECT_EQ(storage::passThroughSeconds(1000), 1u);
  EXPECT_EQ(storage::passThroughSeconds(1001), 2u);
  EXPECT_EQ(storage::passThroughSeconds(5000), 5u);
  EXPECT_EQ(storage::passThroughSeconds(0), 0u);
}

// A module on mass storage as the wire sees it: INQUIRY, command blocks in
// WRITE(10) and responses in READ(10).
class FakeStorageModule {
 public:
  std::string identity = std::string(kStorageModuleIdentity);
  std::string version = "FAKE MODULE V1";
  std::atomic<int> crcFailuresLeft{0};
  std::atomic<bool> fingerOn{true};
  uint16_t halfDataLength = 46080;
  uint32_t halfBytesSent = 46084;
  std::atomic<int> indicatorCommands{0};

  Bytes image() const {
    Bytes pixels(92160);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return pixels;
  }

  std::optional<Bytes> handle(std::span<const uint8_t> request) {
    if (request[0] == platform::cable::kDescribe) return Bytes{platform::cable::kClassMassStorage};
    const uint8_t operation = request[2];
    const uint32_t length = request[19] | request[20] << 8 | request[21] << 16 | uint32_t{request[22]} << 24;
    if (operation == 0x12) {
      Bytes data(length, ' ');
      std::memcpy(data.data() + 8, identity.data(), std::min<size_t>(identity.size(), length - 8));
      return done(data);
    }
    if (operation == 0x2A) {
      if (crcFailuresLeft > 0) {
        --crcFailuresLeft;
        return Bytes{1, 0, 0, 0, 0};
      }
      std::lock_guard lock(mutex_);
      lastBlock_.assign(request.begin() + 27, request.end());
      return Bytes{0, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0, 0};
    }
    return done(respond(length));
  }

  int writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }

 private:
  static Bytes done(const Bytes& data) {
    Bytes out = {0, static_cast<uint8_t>(data.size()), static_cast<uint8_t>(data.size() >> 8),
                 static_cast<uint8_t>(data.size() >> 16), 0};
    out = joined(out, data);
    return out;
  }

  static Bytes response(uint16_t status, const Bytes& data, size_t dataLength) {
    Bytes out = {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
                 static_cast<uint8_t>(dataLength), static_cast<uint8_t>(dataLength >> 8)};
    out = joined(out, data);
    return out;
  }

  Bytes respond(uint32_t length) {
    std::lock_guard lock(mutex_);
    ++writes_;
    const uint16_t code = static_cast<uint16_t>(lastBlock_[0] | lastBlock_[1] << 8);
    Bytes out;
    switch (code) {
      case storage::kSetIndicator: ++indicatorCommands; out = response(0x3000, {}, 0); break;
      case storage::kDetectFinger: out = response(fingerOn ? 0x3000 : 0x3001, {}, 0); break;
      case storage::kGetVersion: out = response(0x3000, Bytes(version.begin(), version.end()), version.size()); break;
      case storage::kStartImage: out = response(0x3000, {}, 0); break;
      case storage::kReadImageHalf: {
        const Bytes pixels = image();
        const auto from = pixels.begin() + (lastBlock_[4] == 0 ? 0 : 46080);
        out = response(0x3000, Bytes(from, from + 46080), halfDataLength);
        out.resize(std::min<size_t>(out.size(), halfBytesSent));
        break;
      }
      default: out = response(0x3F00, {}, 0);
    }
    out.resize(std::min<size_t>(out.size(), length));
    return out;
  }

  std::mutex mutex_;
  Bytes lastBlock_;
  int writes_ = 0;
};

struct StorageRig {
  FakeStorageModule module;
  FakeCableServer server{[this](std::span<const uint8_t> r) { return module.handle(r); }};
};

TEST(StorageDiscovery, IdentityMatchIgnoresTheLastRevisionCharacter) {
  StorageRig same, lastDiffers, revisionDiffers;
  lastDiffers.module.identity.back() = '9';
  revisionDiffers.module.identity[26] = '9';
  ScopedEnvironment env(platform::cable::kSimulatorVariable,
                        same.server.path() + ":" + lastDiffers.server.path() + ":" + revisionDiffers.server.path());
  PathTable paths{};
  EXPECT_EQ(FindStorageModules(kStorageModuleIdentity, paths), 2);
  EXPECT_NE(std::string(paths[1].data()).find(lastDiffers.server.path()), std::string::npos);
}

TEST(StorageDiscovery, TwoModulesByIndexAndAThirdIndexFails) {
  StorageRig first, second;
  first.module.version = "FIRST";
  second.module.version = "SECOND";
  ScopedEnvironment env(platform::cable::kSimulatorVariable, first.server.path() + ":" + second.server.path());
  char text[64] = {};
  EXPECT_EQ(storageVersion(0, text), CommandStatus::Done);
  EXPECT_STREQ(text, "FIRST");
  EXPECT_EQ(storageVersion(1, text), CommandStatus::Done);
  EXPECT_STREQ(text, "SECOND");
  DeviceHandle handle;
  EXPECT_EQ(OpenStorageModule(2, handle), ConnectStatus::OpenFailed);
  EXPECT_EQ(OpenStorageModule(16, handle), ConnectStatus::BadIndex);
  EXPECT_EQ(OpenStorageModule(-1, handle), ConnectStatus::BadIndex);
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(StorageCaptureImage(2, image.data(), 1000, 0, 1), CaptureStatus::NoModule);
  EXPECT_EQ(storageFingerState(2), FingerState::OpenFailed);
}

TEST(StorageDiscovery, SeventeenModulesKeepTheFirstSixteen) {
  std::vector<std::unique_ptr<StorageRig>> rigs;
  std::string variable;
  for (int i = 0; i < 17; ++i) {
    rigs.push_back(std::make_unique<StorageRig>());
    variable += rigs.back()->server.path() + ":";
  }
  ScopedEnvironment env(platform::cable::kSimulatorVariable, variable);
  PathTable paths{};
  EXPECT_EQ(FindStorageModules(kStorageModuleIdentity, paths), 16);
  EXPECT_NE(std::string(paths[15].data()).find(rigs[15]->server.path()), std::string::npos);
}

TEST(StorageWrites, TransportErrorsAreRetriedUpToOneHundredAttempts) {
  StorageRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  DeviceHandle handle;
  ASSERT_EQ(OpenStorageModule(0, handle), ConnectStatus::Connected);
  rig.module.crcFailuresLeft = 99;
  EXPECT_EQ(StorageDetectFinger(handle), CommandStatus::Done);
  rig.module.crcFailuresLeft = 100;
  const uint8_t block[4] = {0x10, 0xE0, 0, 0};
  EXPECT_EQ(usbBase().WriteData(handle, kWriteOpcode, block, 4, 10), IoStatus::StillGarbled);
  rig.module.crcFailuresLeft = 100;
  EXPECT_EQ(StorageDetectFinger(handle), CommandStatus::SendFailed);
  EXPECT_EQ(usbBase().WriteData(handle, kWriteOpcode, block, 0, 10), IoStatus::BadRequest);
}

TEST(StorageWrites, ShortBlocksGoOutPaddedToThirtyTwoBytes) {
  StorageRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  DeviceHandle handle;
  ASSERT_EQ(OpenStorageModule(0, handle), ConnectStatus::Connected);
  ASSERT_EQ(StorageSetIndicator(handle, 1, 1), CommandStatus::Done);
  const auto requests = rig.server.requests();
  const auto& write = requests[requests.size() - 2];
  ASSERT_EQ(write.size(), 27u + 32u);
  EXPECT_EQ(Bytes(write.begin() + 27, write.begin() + 35), (Bytes{0x08, 0xF0, 4, 0, 1, 0, 1, 0}));
  EXPECT_EQ(write[23], 1);  // pass-through time-out: one second
}

TEST(StorageImage, BothHalvesArriveInOrder) {
  StorageRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(StorageCaptureImage(0, image.data(), 2000, 0, 1), CaptureStatus::Done);
  EXPECT_EQ(image, rig.module.image());
  EXPECT_FALSE(capture_flags::isBusy(TransportKind::Storage, 0));
}

TEST(StorageImage, ShortOrMisannouncedHalvesAreRefused) {
  for (auto [dataLength, sent] : {std::pair<uint16_t, uint32_t>{46080, 30000}, {40000, 46084}}) {
    StorageRig rig;
    rig.module.halfDataLength = dataLength;
    rig.module.halfBytesSent = sent;
    ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
    DeviceHandle handle;
    ASSERT_EQ(OpenStorageModule(0, handle), ConnectStatus::Connected);
    std::vector<uint8_t> image(92160);
    EXPECT_EQ(StorageReadImage(handle, image.data()), CommandStatus::ReceiveFailed);
    usbBase().CloseDevice(handle);
    EXPECT_EQ(StorageCaptureImage(0, image.data(), 2000, 0, 1), CaptureStatus::StorageReadFailed);
  }
}

TEST(StorageVersion, LongTextIsBoundedAndTerminated) {
  StorageRig rig;
  rig.module.version = std::string(40, 'V');
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  char text[64];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(storageVersion(0, text), CommandStatus::Done);
  EXPECT_EQ(std::string(text), std::string(20, 'V'));
  EXPECT_EQ(text[21], 'x');
}

TEST(StorageCapture, TimeoutBelowMinusOneStillOpensAndLightsTheIndicator) {
  StorageRig rig;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(StorageCaptureImage(0, image.data(), -2, 0, 1), CaptureStatus::TimedOut);
  EXPECT_GE(rig.module.indicatorCommands, 3);  // on, then both off at the end
  EXPECT_EQ(StorageCaptureImage(-1, image.data(), 0, 0, 1), CaptureStatus::BadIndex);
  EXPECT_EQ(StorageCaptureImage(16, image.data(), 0, 0, 1), CaptureStatus::BadIndex);
}

TEST(StorageCapture, MinusOneGivesOneMorePollWithoutAFinger) {
  StorageRig rig;
  rig.module.fingerOn = false;
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig.server.path());
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(StorageCaptureImage(0, image.data(), -1, 0, 1), CaptureStatus::TimedOut);
  rig.module.fingerOn = true;
  EXPECT_EQ(StorageCaptureImage(0, image.data(), -1, 0, 1), CaptureStatus::Done);
  // The finger stays: waiting for the lift with one poll ends in a time-out.
  EXPECT_EQ(StorageCaptureImage(0, image.data(), -1, 1, 1), CaptureStatus::TimedOut);
  // Only 1 means waiting for the lift.
  EXPECT_EQ(StorageCaptureImage(0, image.data(), -1, 2, 1), CaptureStatus::Done);
}

TEST(StorageCapture, UnpluggedModuleFailsTheCapture) {
  auto rig = std::make_unique<StorageRig>();
  ScopedEnvironment env(platform::cable::kSimulatorVariable, rig->server.path());
  rig.reset();
  std::vector<uint8_t> image(92160);
  EXPECT_EQ(StorageCaptureImage(0, image.data(), 1000, 0, 1), CaptureStatus::NoModule);
  EXPECT_EQ(storageFingerState(0), FingerState::OpenFailed);
}

}  // namespace
}  // namespace fx60
