#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/cable/virtual_cable.h"
#include "platform/clock.h"
#include "platform/device_backends.h"
#include "tests/platform/fake_cable_server.h"

namespace fx60::platform::cable {
namespace {

using fx60::testing::FakeCableServer;
using fx60::testing::ScopedEnvironment;
using Bytes = std::vector<uint8_t>;

ScsiCommand read10(uint32_t seconds) {
  ScsiCommand cmd;
  cmd.cdb[0] = 0x28;
  cmd.cdbLength = 10;
  cmd.direction = DataDirection::FromDevice;
  cmd.timeoutSeconds = seconds;
  return cmd;
}

TEST(CableMessages, ScsiRequestLayout) {
  ScsiCommand write;
  write.cdb[0] = 0x2A;
  write.cdbLength = 10;
  write.direction = DataDirection::ToDevice;
  write.timeoutSeconds = 10;
  const Bytes data = {0x10, 0xE0, 0x00, 0x00};
  const Bytes encoded = encodeScsi(write, data);
  Bytes expected = {0x02, 10, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                    0,    4, 0, 0, 0, 10, 0, 0, 0, 0x10, 0xE0, 0x00, 0x00};
  EXPECT_EQ(encoded, expected);

  // A read sends no data, only the length it wants.
  Bytes buffer(46084);
  const Bytes read = encodeScsi(read10(5), buffer);
  ASSERT_EQ(read.size(), 27u);
  EXPECT_EQ(read[18], 1);
  EXPECT_EQ(Bytes(read.begin() + 19, read.begin() + 23), (Bytes{0x04, 0xB4, 0x00, 0x00}));
}

TEST(CableMessages, HidRequestLayout) {
  const Bytes report = {0x00, 0x88, 0x00};
  EXPECT_EQ(encodeHidWrite(200, report), (Bytes{0x03, 200, 0, 0, 0, 0x00, 0x88, 0x00}));
  EXPECT_EQ(encodeHidRead(1000, 65), (Bytes{0x04, 0xE8, 0x03, 0, 0, 65, 0, 0, 0}));
  EXPECT_EQ(encodeDescribe(), Bytes{0x01});
}

TEST(CableMessages, ScsiResponsesAreCheckedBeforeTrusted) {
  Bytes data(8, 0xEE);
  auto result = decodeScsi(Bytes{0, 3, 0, 0, 0, 1, 2, 3}, DataDirection::FromDevice, data);
  EXPECT_EQ(result.outcome, PassThroughOutcome::Done);
  EXPECT_EQ(result.bytesTransferred, 3u);
  EXPECT_EQ(data, (Bytes{1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

  EXPECT_EQ(decodeScsi(Bytes{1, 0, 0, 0, 0}, DataDirection::ToDevice, data).outcome,
            PassThroughOutcome::Retryable);
  EXPECT_EQ(decodeScsi(Bytes{2, 0, 0, 0, 0}, DataDirection::ToDevice, data).outcome,
            PassThroughOutcome::Failed);
  // More than was asked for, a count the message does not hold, a cut header.
  EXPECT_EQ(decodeScsi(Bytes{0, 9, 0, 0, 0}, DataDirection::ToDevice, data).outcome,
            PassThroughOutcome::Failed);
  EXPECT_EQ(decodeScsi(Bytes{0, 4, 0, 0, 0, 1}, DataDirection::FromDevice, data).outcome,
            PassThroughOutcome::Failed);
  EXPECT_EQ(decodeScsi(Bytes{0, 0}, DataDirection::ToDevice, data).outcome, PassThroughOutcome::Failed);
}

TEST(CableMessages, HidResponsesAndDescription) {
  Bytes report(4, 0xEE);
  auto read = decodeHidRead(Bytes{0, 0, 0xAA, 1}, report);
  EXPECT_EQ(read.outcome, HidIoOutcome::Done);
  EXPECT_EQ(read.bytes, 3u);
  EXPECT_EQ(decodeHidRead(Bytes{3}, report).outcome, HidIoOutcome::TimedOut);
  EXPECT_EQ(decodeHidRead(Bytes{0, 1, 2, 3, 4, 5}, report).outcome, HidIoOutcome::Failed);
  EXPECT_EQ(decodeHidWrite(Bytes{0, 65, 0, 0, 0}).bytes, 65u);
  EXPECT_EQ(decodeHidWrite(Bytes{2, 65, 0, 0, 0}).outcome, HidIoOutcome::Failed);

  const auto hid = decodeDescribe(Bytes{2, 0x1B, 0x82, 0x02, 0x02, 65, 0, 65, 0, 0, 0});
  ASSERT_TRUE(hid);
  EXPECT_EQ(hid->vendorId, 0x821B);
  EXPECT_EQ(hid->productId, 0x0202);
  EXPECT_EQ(hid->lengths.input, 65);
  EXPECT_EQ(hid->lengths.feature, 0);
  EXPECT_FALSE(decodeDescribe(Bytes{2, 0x1B, 0x82}));
  EXPECT_FALSE(decodeDescribe(Bytes{7}));
  EXPECT_EQ(decodeDescribe(Bytes{1})->deviceClass, kClassMassStorage);
}

TEST(CableMessages, SimulatorListSkipsEmptyEntries) {
  EXPECT_EQ(simulatorSockets("/a::/b:"), (std::vector<std::string>{"/a", "/b"}));
  EXPECT_TRUE(simulatorSockets(nullptr).empty());
  EXPECT_TRUE(simulatorSockets("").empty());
}

TEST(CableConnection, ExchangesLengthPrefixedMessagesInOrder) {
  FakeCableServer server([](std::span<const uint8_t> request) {
    return std::optional<Bytes>(Bytes(request.rbegin(), request.rend()));
  });
  auto connection = Connection::open(server.path());
  ASSERT_TRUE(connection);
  for (int i = 0; i < 3; ++i) {
    const Bytes request = {1, 2, static_cast<uint8_t>(i)};
    const auto response = connection->exchange(request, 1000);
    ASSERT_TRUE(response);
    EXPECT_EQ(*response, (Bytes{static_cast<uint8_t>(i), 2, 1}));
  }
  // A large message crosses in pieces.
  const Bytes big(100000, 7);
  EXPECT_EQ(connection->exchange(big, 1000)->size(), big.size());
}

TEST(CableConnection, DroppedConnectionStaysBroken) {
  FakeCableServer server([](std::span<const uint8_t> request) -> std::optional<Bytes> {
    if (request[0] == 0xFF) return std::nullopt;  // unplug
    return Bytes{0};
  });
  auto connection = Connection::open(server.path());
  ASSERT_TRUE(connection);
  EXPECT_TRUE(connection->exchange(Bytes{1}, 1000));
  EXPECT_FALSE(connection->exchange(Bytes{0xFF}, 1000));
  EXPECT_TRUE(connection->broken());
  EXPECT_FALSE(connection->exchange(Bytes{1}, 1000));
}

TEST(CableConnection, SilentSimulatorTimesOutAndBreaksTheConnection) {
  FakeCableServer server([](std::span<const uint8_t>) -> std::optional<Bytes> {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    return Bytes{0};
  });
  auto connection = Connection::open(server.path());
  ASSERT_TRUE(connection);
  const int64_t start = monotonicMs();
  EXPECT_FALSE(connection->exchange(Bytes{1}, 100));
  EXPECT_LT(monotonicMs() - start, 350);
  // The late answer must not be taken for the next request's.
  EXPECT_TRUE(connection->broken());
}

TEST(CableConnection, OversizedLengthIsRefused) {
  FakeCableServer server([](std::span<const uint8_t>) { return std::optional<Bytes>(Bytes(kMaxMessageBytes + 1)); },
                         /*announceOnly=*/true);
  auto connection = Connection::open(server.path());
  ASSERT_TRUE(connection);
  EXPECT_FALSE(connection->exchange(Bytes{1}, 2000));
  EXPECT_TRUE(connection->broken());
}

TEST(CableConnection, UnreachableOrOverlongSocketPathGivesNoConnection) {
  EXPECT_FALSE(Connection::open("/nonexistent/fx60.sock"));
  EXPECT_FALSE(Connection::open(std::string(200, 'x')));
  EXPECT_FALSE(Connection::open(""));
}

// Discovery through FX60_SIMULATOR: each simulator appears in the class its
// DESCRIBE answer names, in the order given; unreachable entries are skipped.
TEST(CableDiscovery, SimulatorsAppearByClassInOrder) {
  auto describeAs = [](Bytes description) {
    return [description](std::span<const uint8_t> request) -> std::optional<Bytes> {
      if (request[0] == kDescribe) return description;
      return Bytes{2};
    };
  };
  FakeCableServer storageA(describeAs({1}));
  FakeCableServer hid(describeAs({2, 0x1B, 0x82, 0x02, 0x02, 65, 0, 65, 0, 0, 0}));
  FakeCableServer storageB(describeAs({1}));
  ScopedEnvironment env(kSimulatorVariable, storageA.path() + ":/nonexistent.sock:" + hid.path() +
                                                ":" + storageB.path());
  const std::string prefix(kPathPrefix);
  const std::vector<std::string> simulated{prefix + storageA.path(), prefix + storageB.path()};
  EXPECT_EQ(cable::listScsiDevices(ScsiDeviceClass::Cdrom), simulated);
  EXPECT_TRUE(cable::listScsiDevices(ScsiDeviceClass::Disk).empty());
  // Real devices of the class, if this machine has any, come first.
  const auto all = platform::listScsiDevices(ScsiDeviceClass::Cdrom);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), simulated);

  const auto hidDevices = cable::listHidDevices();
  ASSERT_EQ(hidDevices.size(), 1u);
  EXPECT_EQ(hidDevices[0].path, prefix + hid.path());
  EXPECT_EQ(hidDevices[0].vendorId, 0x821B);

  auto device = platform::openHidDevice(hidDevices[0].path);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->reportLengths()->input, 65);
  Bytes report(65);
  EXPECT_EQ(device->read(report, 10).outcome, HidIoOutcome::Failed);  // the fake answers 2
}

}  // namespace
}  // namespace fx60::platform::cable
