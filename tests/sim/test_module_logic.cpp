// The simulated module driven directly: its finger script, fault rules, images
// and both wire protocols, without sockets.
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "sim/fault_plan.h"
#include "sim/finger_timeline.h"
#include "sim/image_source.h"
#include "sim/simulated_module.h"
#include "tests/sim/wire_requests.h"

namespace fx60::sim {
namespace {

using namespace fx60::sim::testing;

// ---- finger timeline -------------------------------------------------------

TEST(FingerTimeline, PollAndMillisecondStepsAdvanceInOrderAndTheLastLastsForEver) {
  auto timeline = FingerTimeline::parse("absent:2, present:100ms\nlifted:1 present");
  ASSERT_TRUE(timeline);
  EXPECT_EQ(timeline->poll(1000), FingerState::Absent);
  EXPECT_EQ(timeline->poll(1000), FingerState::Absent);
  EXPECT_EQ(timeline->poll(1010), FingerState::Present);  // the 100 ms start here
  EXPECT_EQ(timeline->poll(1109), FingerState::Present);
  EXPECT_EQ(timeline->peek(1110), FingerState::Absent);   // peeking does not count as a poll
  EXPECT_EQ(timeline->poll(1110), FingerState::Absent);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(timeline->poll(5000 + i), FingerState::Present);
}

TEST(FingerTimeline, MillisecondStepsCountFromTheFirstPollAndSkipWholeSteps) {
  auto timeline = FingerTimeline::parse("present:50ms absent:50ms present # comment");
  ASSERT_TRUE(timeline);
  EXPECT_EQ(timeline->poll(7000), FingerState::Present);
  EXPECT_EQ(timeline->poll(7060), FingerState::Absent);
  EXPECT_EQ(timeline->poll(7200), FingerState::Present);
}

TEST(FingerTimeline, RejectsBadScripts) {
  std::string error;
  EXPECT_FALSE(FingerTimeline::parse("", &error));
  EXPECT_FALSE(FingerTimeline::parse("pressed", &error));
  EXPECT_NE(error.find("pressed"), std::string::npos);
  EXPECT_FALSE(FingerTimeline::parse("present:-1", &error));
  EXPECT_FALSE(FingerTimeline::parse("present:5s", &error));
  EXPECT_FALSE(FingerTimeline::parse("present:", &error));
}

// ---- fault rules -----------------------------------------------------------

TEST(FaultPlan, ParsesKindCommandSkipAndCount) {
  auto rule = parseFaultRule("unplug@image-data+700", WireMode::Hid);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->kind, FaultKind::Unplug);
  EXPECT_EQ(rule->command, kImageDataReports);
  EXPECT_EQ(rule->skip, 700);
  EXPECT_EQ(rule->count, 1);

  rule = parseFaultRule("crc:99", WireMode::Storage);
  ASSERT_TRUE(rule);
  EXPECT_FALSE(rule->command);
  EXPECT_EQ(rule->count, 99);

  rule = parseFaultRule("read-fail@0xE013:*", WireMode::Storage);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->command, 0xE013);
  EXPECT_LT(rule->count, 0);

  EXPECT_FALSE(parseFaultRule("melt", WireMode::Storage));
  EXPECT_FALSE(parseFaultRule("crc@image-data", WireMode::Storage));  // a HID-only name
  EXPECT_FALSE(parseFaultRule("crc:x", WireMode::Storage));
  EXPECT_FALSE(parseFaultRule("crc+", WireMode::Storage));
}

TEST(FaultPlan, SkipsThenHitsOnlyMatchingEventsAndRunsOut) {
  FaultPlan plan;
  plan.add(*parseFaultRule("read-fail@detect+1:2", WireMode::Hid));
  EXPECT_FALSE(plan.fire(FaultKind::ReadFail, 8));  // another command
  EXPECT_FALSE(plan.fire(FaultKind::ReadFail, 9));  // skipped
  EXPECT_FALSE(plan.fire(FaultKind::WriteFail, 9));
  EXPECT_TRUE(plan.fire(FaultKind::ReadFail, 9));
  EXPECT_TRUE(plan.fire(FaultKind::ReadFail, 9));
  EXPECT_FALSE(plan.fire(FaultKind::ReadFail, 9));
}

// ---- images ----------------------------------------------------------------

TEST(SyntheticPrint, IsDeterministicPerSeedWithRidgeContrast) {
  const SensorImage first = synthesizePrint(3);
  ASSERT_EQ(first.size(), static_cast<size_t>(kSensorBytes));
  EXPECT_EQ(first, synthesizePrint(3));
  EXPECT_NE(first, synthesizePrint(4));
  // Along a row through the middle the grey level swings between ridge and valley.
  const auto row = first.begin() + 180 * kSensorWidth;
  const auto [low, high] = std::minmax_element(row + 80, row + 176);
  EXPECT_GT(*high - *low, 100);
}

TEST(ImageSource, GeneratedPrintsComeInTurnAndStartOver) {
  ImageSource source(50);
  const SensorImage first = source.next();
  EXPECT_EQ(first, synthesizePrint(50));
  EXPECT_EQ(source.next(), synthesizePrint(50, 2));
  for (size_t i = 2; i < kGeneratedPrints; ++i) source.next();
  EXPECT_EQ(source.next(), first);
}

TEST(ImageSource, ServesFilesInTurnAndRefusesUnusableOnes) {
  const auto dir = std::filesystem::temp_directory_path() / ("fx60-sim-images-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const SensorImage a = synthesizePrint(10), b = synthesizePrint(11);
  ASSERT_TRUE(writePgm(dir / "a.pgm", a.data(), kSensorWidth, kSensorHeight));
  ASSERT_TRUE(writePgm(dir / "b.pgm", b.data(), kSensorWidth, kSensorHeight));

  ImageSource source;
  ASSERT_TRUE(source.add(dir));
  EXPECT_EQ(source.next(), a);
  EXPECT_EQ(source.next(), b);
  EXPECT_EQ(source.next(), a);

  std::string error;
  ASSERT_TRUE(writePgm(dir / "small.pgm", a.data(), 100, 100));
  EXPECT_FALSE(readSensorPgm(dir / "small.pgm", &error));
  EXPECT_NE(error.find("100 x 100"), std::string::npos);
  std::filesystem::resize_file(dir / "b.pgm", 1000);
  EXPECT_FALSE(readSensorPgm(dir / "b.pgm", &error));
  EXPECT_FALSE(source.replace(dir / "missing.pgm", &error));
  EXPECT_EQ(source.next(), b);  // a failed replace keeps the list
  std::filesystem::remove_all(dir);
}

// ---- mass-storage presentation ---------------------------------------------

class StorageModule : public ::testing::Test {
 protected:
  explicit StorageModule(const char* finger = "present") : module_(makeConfig(), ImageSource(21), *FingerTimeline::parse(finger)) {
    link_ = module_.openLink();
  }
  static ModuleConfig makeConfig() {
    ModuleConfig config;
    config.mode = WireMode::Storage;
    return config;
  }
  Reply send(const std::vector<uint8_t>& request, int64_t now = 0) { return module_.handle(link_, request, now); }

  // Writes a command block and reads its answer; the response bytes, or empty.
  std::vector<uint8_t> command(uint16_t code, std::vector<uint8_t> params, uint32_t readLength) {
    const auto block = commandBlock(code, std::move(params));
    const Reply written = send(write10(block));
    EXPECT_EQ(written.message.at(0), wire::kResultDone);
    const Reply read = send(read10(readLength));
    if (read.message.at(0) != wire::kResultDone) return {};
    return {read.message.begin() + 5, read.message.end()};
  }

  SimulatedModule module_;
  int link_ = 0;
};

TEST_F(StorageModule, AnswersInquiryWithTheCdromIdentity) {
  const Reply reply = send(scsiRequest({0x12, 0, 0, 0, 0x24, 0}, true, 36, 10));
  ASSERT_EQ(reply.message.size(), 5u + 36u);
  EXPECT_EQ(reply.message[0], wire::kResultDone);
  EXPECT_EQ(readU32(reply.message, 1), 36u);
  EXPECT_EQ(reply.message[5] & 0x1F, 0x05);
  EXPECT_EQ(std::string(reply.message.begin() + 5 + 8, reply.message.begin() + 5 + 36),
            "Fleetly Dermal Scanner  0100");
  EXPECT_EQ(module_.handle(link_, std::vector<uint8_t>{wire::kDescribe}, 0).message, std::vector<uint8_t>{1});
}

TEST_F(StorageModule, ServesBothImageHalvesOfOneImageAndTracksIndicators) {
  EXPECT_EQ(readU16(command(0xF008, {1, 0, 1, 0}, 6), 0), kStatusOk);
  EXPECT_EQ(readU16(command(0xE011, {}, 4), 0), kStatusOk);
  const auto first = command(0xE013, {0x00}, 46084);
  const auto second = command(0xE013, {0xFF}, 46084);
  ASSERT_EQ(first.size(), 46084u);
  ASSERT_EQ(second.size(), 46084u);
  EXPECT_EQ(readU16(first, 0), kStatusOk);
  EXPECT_EQ(readU16(first, 2), 46080);
  std::vector<uint8_t> image(first.begin() + 4, first.end());
  image.insert(image.end(), second.begin() + 4, second.end());
  EXPECT_EQ(image, synthesizePrint(21));
  EXPECT_EQ(module_.status(0).indicators.at(1), 1);
  EXPECT_EQ(module_.status(0).imagesServed, 1);
}

TEST_F(StorageModule, VersionTextCarriesItsTerminatorAndAReadIsCutToTheRequestedLength) {
  const auto response = command(0xE003, {}, 24);
  ASSERT_GE(response.size(), 4u);
  const std::string text(response.begin() + 4, response.end());
  EXPECT_EQ(text, std::string("FX-60 SIM V1.0") + '\0');

  SimulatedModule longText([] {
    ModuleConfig config;
    config.versionText = std::string(40, 'v');
    return config;
  }(), ImageSource(), FingerTimeline::constant(FingerState::Present));
  const int link = longText.openLink();
  longText.handle(link, write10(commandBlock(0xE003)), 0);
  const Reply read = longText.handle(link, read10(24), 0);
  EXPECT_EQ(readU32(read.message, 1), 24u);               // never more than asked for
  EXPECT_EQ(readU16(read.message, 5 + 2), 41);            // while the length field says 41
}

TEST_F(StorageModule, RefusesMalformedAndOutOfOrderRequestsWithoutLosingStep) {
  EXPECT_EQ(send({wire::kScsi, 10}).message, (std::vector<uint8_t>{wire::kResultFailed, 0, 0, 0, 0}));
  auto wrongLength = write10(commandBlock(0xE010));
  wrongLength.pop_back();  // the data is shorter than the transfer length says
  EXPECT_EQ(send(wrongLength).message[0], wire::kResultFailed);
  EXPECT_EQ(send(read10(4)).message[0], wire::kResultFailed);  // nothing was asked
  EXPECT_EQ(readU16(command(0xE013, {0x00}, 46084), 0), kStatusNotStarted);
  EXPECT_EQ(readU16(command(0xE013, {0x17}, 46084), 0), kStatusBadCommand);
  EXPECT_EQ(readU16(command(0x1234, {}, 4), 0), kStatusBadCommand);
  EXPECT_EQ(send({0x77}).message, std::vector<uint8_t>{wire::kResultFailed});
  EXPECT_EQ(send({wire::kHidRead, 0, 0, 0, 0, 65, 0, 0, 0}).message[0], wire::kResultFailed);
  EXPECT_EQ(readU16(command(0xE010, {}, 4), 0), kStatusOk);
}

TEST_F(StorageModule, InjectsTransportFaults) {
  module_.addFault(*parseFaultRule("crc:2", WireMode::Storage));
  module_.addFault(*parseFaultRule("read-fail@detect", WireMode::Storage));
  module_.addFault(*parseFaultRule("stall@image-half", WireMode::Storage));
  const auto detect = write10(commandBlock(0xE010));
  EXPECT_EQ(send(detect).message[0], wire::kResultRetryable);
  EXPECT_EQ(send(detect).message[0], wire::kResultRetryable);
  EXPECT_EQ(send(detect).message[0], wire::kResultDone);
  EXPECT_EQ(send(read10(4)).message[0], wire::kResultFailed);  // the answer stays pending
  const Reply retried = send(read10(4));
  EXPECT_EQ(retried.message[0], wire::kResultDone);
  EXPECT_EQ(readU16(retried.message, 5), kStatusOk);

  command(0xE011, {}, 4);
  send(write10(commandBlock(0xE013, {0x00}), 5));
  const Reply stalled = send(read10(46084, 5));
  EXPECT_EQ(stalled.message[0], wire::kResultFailed);
  EXPECT_EQ(stalled.delayMs, 5000);
}

TEST_F(StorageModule, InjectsBadStatusShortReadAndUnplug) {
  module_.addFault(*parseFaultRule("bad-status@start-image", WireMode::Storage));
  module_.addFault(*parseFaultRule("short-read@detect", WireMode::Storage));
  module_.addFault(*parseFaultRule("unplug@image-half+1", WireMode::Storage));
  EXPECT_EQ(readU16(command(0xE011, {}, 4), 0), kStatusFault);
  EXPECT_EQ(command(0xE010, {}, 4).size(), 2u);
  EXPECT_EQ(readU16(command(0xE011, {}, 4), 0), kStatusOk);
  EXPECT_EQ(command(0xE013, {0x00}, 46084).size(), 46084u);
  send(write10(commandBlock(0xE013, {0xFF})));
  EXPECT_TRUE(send(read10(46084)).hangUp);
  EXPECT_FALSE(module_.plugged());
  EXPECT_TRUE(send(read10(4)).hangUp);  // the old connection stays dead
  module_.plug();
  EXPECT_TRUE(send(read10(4)).hangUp);
  const int fresh = module_.openLink();
  EXPECT_FALSE(module_.handle(fresh, std::vector<uint8_t>{wire::kDescribe}, 0).hangUp);
}

class StorageModuleWithScript : public StorageModule {
 protected:
  StorageModuleWithScript() : StorageModule("absent:1 present:2 lifted") {}
};

TEST_F(StorageModuleWithScript, DetectFollowsTheFingerScript) {
  EXPECT_EQ(readU16(command(0xE010, {}, 4), 0), kStatusNoFinger);
  EXPECT_EQ(readU16(command(0xE010, {}, 4), 0), kStatusOk);
  EXPECT_EQ(readU16(command(0xE010, {}, 4), 0), kStatusOk);
  EXPECT_EQ(readU16(command(0xE010, {}, 4), 0), kStatusNoFinger);
  module_.placeFinger();
  EXPECT_EQ(readU16(command(0xE010, {}, 4), 0), kStatusOk);
  EXPECT_EQ(module_.status(0).fingerPolls, 5);
}

// ---- HID presentation ------------------------------------------------------

class HidModule : public ::testing::Test {
 protected:
  HidModule() : module_(makeConfig(), ImageSource(31), FingerTimeline::constant(FingerState::Absent)) {
    link_ = module_.openLink();
  }
  static ModuleConfig makeConfig() {
    ModuleConfig config;
    config.mode = WireMode::Hid;
    return config;
  }
  Reply send(const std::vector<uint8_t>& request) { return module_.handle(link_, request, 0); }

  // Sends a request packet and reads one input report; its bytes after the report
  // id, or empty when the read did not complete.
  std::vector<uint8_t> transact(const std::vector<uint8_t>& packet) {
    EXPECT_EQ(send(hidWrite(packet)).message[0], wire::kResultDone);
    return readReport();
  }
  std::vector<uint8_t> readReport() {
    const Reply reply = send(hidRead());
    if (reply.message.empty() || reply.message[0] != wire::kResultDone) return {};
    return {reply.message.begin() + 2, reply.message.end()};
  }
  static bool checksumValid(const std::vector<uint8_t>& packet) {
    const size_t m = readU16(packet, 3);
    const unsigned sum = std::accumulate(packet.begin() + 3, packet.begin() + 5 + static_cast<long>(m), 0u);
    return readU16(packet, 5 + m) == static_cast<uint16_t>(sum);
  }

  SimulatedModule module_;
  int link_ = 0;
};

TEST_F(HidModule, DescribesItselfAndAnswersTheIndicatorExample) {
  EXPECT_EQ(send({wire::kDescribe}).message, (std::vector<uint8_t>{2, 0x1B, 0x82, 0x02, 0x02, 65, 0, 65, 0, 0, 0}));
  const std::vector<uint8_t> example{0x88, 0x00, 0x00, 0x03, 0x00, 0x02, 0x01, 0x01, 0x07, 0x00};
  EXPECT_EQ(hidPacket(2, {1, 1}), example);
  const auto response = transact(example);
  ASSERT_EQ(response.size(), 64u);
  EXPECT_EQ(response[0], 0xAA);
  EXPECT_EQ(readU16(response, 3), 1);
  EXPECT_EQ(response[5], 0);
  EXPECT_TRUE(checksumValid(response));
  EXPECT_EQ(module_.status(0).indicators.at(1), 1);
}

TEST_F(HidModule, AnswersABadRequestChecksumWithAnErrorStatus) {
  auto packet = hidPacket(9);
  packet[6] ^= 1;
  const auto response = transact(packet);
  ASSERT_FALSE(response.empty());
  EXPECT_NE(response[5], 0);
  EXPECT_EQ(module_.status(0).fingerPolls, 0);
}

TEST_F(HidModule, SendsTheImageAfterItsSizeInPlainReports) {
  const auto header = transact(hidPacket(0x45));
  ASSERT_FALSE(header.empty());
  EXPECT_EQ(readU16(header, 3), 7);
  EXPECT_EQ(readU16(header, 6 + 2), 256);
  EXPECT_EQ(readU16(header, 6 + 4), 360);
  std::vector<uint8_t> image;
  for (int i = 0; i < 1440; ++i) {
    const Reply reply = send(hidRead());
    ASSERT_EQ(reply.message.size(), 66u);
    image.insert(image.end(), reply.message.begin() + 2, reply.message.end());
  }
  EXPECT_EQ(image, synthesizePrint(31));
  const Reply empty = send(hidRead(250));
  EXPECT_EQ(empty.message, std::vector<uint8_t>{wire::kResultTimedOut});
  EXPECT_EQ(empty.delayMs, 250);
}

TEST_F(HidModule, AnnouncesAnotherImageSizeWhenConfigured) {
  ModuleConfig config = makeConfig();
  config.imageWidth = 320;
  config.imageHeight = 400;
  SimulatedModule wide(config, ImageSource(), FingerTimeline::constant(FingerState::Present));
  const int link = wide.openLink();
  wide.handle(link, hidWrite(hidPacket(0x45)), 0);
  const Reply header = wide.handle(link, hidRead(), 0);
  EXPECT_EQ(readU16(header.message, 2 + 6 + 2), 320);
  EXPECT_EQ(readU16(header.message, 2 + 6 + 4), 400);
  int reports = 0;
  while (wide.handle(link, hidRead(0), 0).message[0] == wire::kResultDone) ++reports;
  EXPECT_EQ(reports, 2000);  // 128000 bytes in 64-byte chunks
}

TEST_F(HidModule, InjectsResponseAndReportFaults) {
  module_.addFault(*parseFaultRule("bad-checksum@detect", WireMode::Hid));
  module_.addFault(*parseFaultRule("bad-header@connect", WireMode::Hid));
  module_.addFault(*parseFaultRule("bad-status@version", WireMode::Hid));
  module_.addFault(*parseFaultRule("short-read@image-data+10", WireMode::Hid));
  module_.addFault(*parseFaultRule("stall@image-data+11", WireMode::Hid));
  module_.addFault(*parseFaultRule("write-fail@disconnect", WireMode::Hid));

  auto response = transact(hidPacket(9));
  EXPECT_FALSE(checksumValid(response));
  EXPECT_EQ(response[5], 1);  // no finger, as the status still says
  response = transact(hidPacket(9));
  EXPECT_TRUE(checksumValid(response));
  EXPECT_EQ(transact(hidPacket(8))[0], 0xAB);
  EXPECT_NE(transact(hidPacket(13))[5], 0);
  EXPECT_EQ(send(hidWrite(hidPacket(12))).message[0], wire::kResultFailed);

  transact(hidPacket(0x45));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(send(hidRead()).message.size(), 66u);
  EXPECT_EQ(send(hidRead()).message.size(), 1u + 32u);
  const Reply stalled = send(hidRead(700));
  EXPECT_EQ(stalled.message, std::vector<uint8_t>{wire::kResultTimedOut});
  EXPECT_EQ(stalled.delayMs, 700);
}

TEST_F(HidModule, UnplugsMidImageAndRefusesEveryLaterRequestOnTheConnection) {
  module_.addFault(*parseFaultRule("unplug@image-data+700", WireMode::Hid));
  transact(hidPacket(0x45));
  for (int i = 0; i < 700; ++i) ASSERT_FALSE(send(hidRead()).hangUp);
  EXPECT_TRUE(send(hidRead()).hangUp);
  EXPECT_TRUE(send(hidWrite(hidPacket(9))).hangUp);
  EXPECT_FALSE(module_.status(0).plugged);
}

TEST_F(HidModule, VersionTextIsCutToOneResponsePacket) {
  ModuleConfig config = makeConfig();
  config.versionText = std::string(100, 'x');
  SimulatedModule verbose(config, ImageSource(), FingerTimeline::constant(FingerState::Present));
  const int link = verbose.openLink();
  verbose.handle(link, hidWrite(hidPacket(13)), 0);
  const Reply reply = verbose.handle(link, hidRead(), 0);
  const std::vector<uint8_t> packet(reply.message.begin() + 2, reply.message.end());
  EXPECT_EQ(readU16(packet, 3), 57);  // 56 bytes of text: the most a 65-byte report carries
  EXPECT_TRUE(checksumValid(packet));
}

}  // namespace
}  // namespace fx60::sim

namespace fx60::sim {
namespace {

using namespace fx60::sim::testing;

// Mangled and random requests: the module answers each with a well-formed reply
// (or hangs up after an injected unplug) and never reads outside a request.
TEST(ModuleRobustness, SurvivesMangledRequestsOnBothPresentations) {
  for (WireMode mode : {WireMode::Storage, WireMode::Hid}) {
    ModuleConfig config;
    config.mode = mode;
    SimulatedModule module(config, ImageSource(), FingerTimeline::constant(FingerState::Present));
    module.addFault(*parseFaultRule("short-read:*", mode));
    const int link = module.openLink();
    const std::vector<std::vector<uint8_t>> seeds{
        write10(commandBlock(0xE011)), write10(commandBlock(0xE013, {0})), read10(46084),
        scsiRequest({0x12, 0, 0, 0, 0x24, 0}, true, 36, 10), hidWrite(hidPacket(0x45)),
        hidWrite(hidPacket(2, {1, 1})), hidRead(0), {wire::kDescribe}};
    uint64_t state = 12345;
    auto random = [&] {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      return static_cast<uint32_t>(state >> 33);
    };
    for (int round = 0; round < 4000; ++round) {
      std::vector<uint8_t> request = seeds[random() % seeds.size()];
      switch (random() % 4) {
        case 0: request.resize(random() % (request.size() + 1)); break;          // cut short
        case 1: request[random() % request.size()] = static_cast<uint8_t>(random()); break;
        case 2: request.push_back(static_cast<uint8_t>(random())); break;      // one byte too many
        default: break;
      }
      const Reply reply = module.handle(link, request, round);
      ASSERT_FALSE(reply.hangUp);
      ASSERT_GE(reply.delayMs, 0);
      if (!request.empty() && request[0] == wire::kScsi) {
        // Result, count, and exactly that many data bytes for a transfer from the device.
        ASSERT_GE(reply.message.size(), 5u);
        const bool dataIn = request.size() > 18 && request[18] == 1;
        ASSERT_EQ(reply.message.size(), 5 + (dataIn ? readU32(reply.message, 1) : 0u));
      }
    }
  }
}

}  // namespace
}  // namespace fx60::sim
