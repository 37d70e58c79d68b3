// The exported interface against fx60-sim over real sockets, on one transport
// (this file is built once per transport). The simulator runs as its own process;
// a peer program stands for a second process using the library.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string_view>

#include "fx60link.h"
#include "sim/image_source.h"
#include "tests/sim/simulator_process.h"

namespace fx60::sim {
namespace {

using namespace fx60::sim::testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr bool kStorage = std::string_view(FX60_E2E_TRANSPORT) == "storage";
constexpr int kImageReadFailed = kStorage ? -4 : -5;
constexpr size_t kImageBytes = 92160;
constexpr uint8_t kCanary = 0xA5;

long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string flagsBlockName() { return "/fx60-e2e-" + std::string(FX60_E2E_TRANSPORT) + "-" + std::to_string(::getpid()); }

// Every test process gets its own shared capture flags, so that test programs
// running side by side never see each other's busy bytes.
class PrivateFlagsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ::setenv("FX60_SHARED_FLAGS_NAME", flagsBlockName().c_str(), 1); }
  void TearDown() override { ::shm_unlink(flagsBlockName().c_str()); }
};
const auto* const kFlagsEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateFlagsEnvironment);

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = fs::path("/tmp") / ("fx60-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::create_directories(dir_);
    image_.assign(kImageBytes + 64, kCanary);
  }

  void TearDown() override {
    sims_.clear();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts one simulator per option list on this transport and points the
  // library at them, in order.
  SimulatorProcess& startSimulator(std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"--mode", FX60_E2E_TRANSPORT});
    auto sim = std::make_unique<SimulatorProcess>(dir_, "sim" + std::to_string(sims_.size()));
    EXPECT_TRUE(sim->start(options)) << "fx60-sim did not start";
    sims_.push_back(std::move(sim));
    std::string paths;
    for (const auto& each : sims_) paths += (paths.empty() ? "" : ":") + each->cablePath();
    ::setenv("FX60_SIMULATOR", paths.c_str(), 1);
    return *sims_.back();
  }

  SimulatorProcess& sim() { return *sims_.front(); }

  int capture(int timeoutMs, int waitLift = 0, int index = 0) {
    return zzCaptureFingerprint(index, image_.data(), timeoutMs, waitLift);
  }

  bool imageIs(const SensorImage& expected) const {
    return std::equal(expected.begin(), expected.end(), image_.begin());
  }
  bool canaryIntact() const {
    return std::all_of(image_.begin() + kImageBytes, image_.end(), [](uint8_t b) { return b == kCanary; });
  }
  // All indicators the module was told about are off.
  bool indicatorsOff() {
    const std::string indicators = sim().status()["indicators"];
    return indicators != "-" && indicators.find(":1") == std::string::npos;
  }
  // Waits until the module has seen at least this many finger polls.
  bool waitForPolls(long polls) {
    return waitUntil([&] { return sim().counter("polls") >= polls; }, 5000);
  }

  fs::path dir_;
  std::vector<std::unique_ptr<SimulatorProcess>> sims_;
  std::vector<uint8_t> image_;
};

// ---- images, detection, version ---------------------------------------------

TEST_F(EndToEnd, CapturedImagesAreTheServedOnesByteForByte) {
  const SensorImage first = synthesizePrint(101), second = synthesizePrint(102);
  fs::create_directories(dir_ / "images");
  ASSERT_TRUE(writePgm(dir_ / "images" / "a.pgm", first.data(), kSensorWidth, kSensorHeight));
  ASSERT_TRUE(writePgm(dir_ / "images" / "b.pgm", second.data(), kSensorWidth, kSensorHeight));
  startSimulator({"--images", (dir_ / "images").string()});

  const auto start = Clock::now();
  ASSERT_EQ(capture(5000), 0);
  const long firstCaptureMs = msSince(start);
  EXPECT_TRUE(imageIs(first));
  EXPECT_TRUE(canaryIntact());
  ASSERT_EQ(capture(5000), 0);
  EXPECT_TRUE(imageIs(second));
  EXPECT_TRUE(indicatorsOff());
  RecordProperty("first_capture_ms", static_cast<int>(firstCaptureMs));

  // A file set live replaces the list.
  EXPECT_EQ(sim().control("image " + (dir_ / "images" / "b.pgm").string()), "ok");
  ASSERT_EQ(capture(5000), 0);
  EXPECT_TRUE(imageIs(second));
}

TEST_F(EndToEnd, GeneratedPrintIsServedWithoutImages) {
  startSimulator({"--seed", "7"});
  ASSERT_EQ(capture(5000), 0);
  EXPECT_TRUE(imageIs(synthesizePrint(7)));
}

TEST_F(EndToEnd, DetectFollowsTheFingerAndReportsNoModuleAsNoFinger) {
  startSimulator({"--finger", "present:1 absent"});
  EXPECT_EQ(zzDetectFingerprint(0), 1);
  EXPECT_EQ(zzDetectFingerprint(0), 0);
  EXPECT_EQ(sim().control("place"), "ok");
  EXPECT_EQ(zzDetectFingerprint(0), 1);
  EXPECT_EQ(sim().control("lift"), "ok");
  EXPECT_EQ(zzDetectFingerprint(0), 0);

  sims_.front()->stop();
  EXPECT_EQ(zzDetectFingerprint(0), 0);
  EXPECT_EQ(capture(5000), -1);
  char version[64];
  std::memset(version, 'u', sizeof version);
  EXPECT_EQ(zzGetDeviceVersion(0, version), 0);
  EXPECT_EQ(version[0], 'u');
}

TEST_F(EndToEnd, DeviceVersionIsTheModulesTextAndALongTextStaysInItsBuffer) {
  startSimulator({"--version-text", "FX-60 SIM V1.0"});
  char version[64] = {};
  EXPECT_EQ(zzGetDeviceVersion(0, version), 0);
  EXPECT_STREQ(version, "FX-60 SIM V1.0");
  sims_.clear();

  startSimulator({"--version-text", std::string(120, 'v')});
  char large[160];
  std::memset(large, kCanary, sizeof large);
  EXPECT_EQ(zzGetDeviceVersion(0, large), 0);
  EXPECT_EQ(large[0], 'v');
  EXPECT_NE(std::memchr(large, '\0', 64), nullptr);  // terminated within the 64 bytes callers supply
  for (size_t i = 64; i < sizeof large; ++i) ASSERT_EQ(static_cast<uint8_t>(large[i]), kCanary) << i;
}

TEST_F(EndToEnd, ExtractionGivesATemplateWhoseSealVerifies) {
  startSimulator({"--seed", "3"});
  unsigned char tpl[512] = {};
  const int status = zzExtractFingerprint(0, 10000, tpl, 0, 0);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(tpl[0], 0x43);
  EXPECT_EQ(zzMatchFingerprint(tpl, tpl, 5), 0);  // the seal verifies and the print matches itself
  tpl[100] ^= 0xFF;
  EXPECT_EQ(zzMatchFingerprint(tpl, tpl, 3), -2);  // and an altered one is refused

  // With -1 the loop makes one iteration and reports -3 all the same; mass
  // storage captures a finger present at once, so the template is written.
  std::memset(tpl, 0, sizeof tpl);
  EXPECT_EQ(zzExtractFingerprint(0, -1, tpl, 0, 0), -3);
  EXPECT_EQ(tpl[0], kStorage ? 0x43 : 0);
}

// ---- time-outs ---------------------------------------------------------------

TEST_F(EndToEnd, TimeoutZeroWaitsForTheFingerWithoutLimit) {
  startSimulator({"--finger", "absent:300ms present"});
  const auto start = Clock::now();
  EXPECT_EQ(capture(0), 0);
  EXPECT_GE(msSince(start), 290);
  EXPECT_GT(sim().counter("polls"), 1);
}

TEST_F(EndToEnd, TimeoutMinusOneMakesOneAttempt) {
  auto& module = startSimulator({"--finger", "present"});
  // Mass storage captures a finger present at the first check; HID measures the
  // time after its first 50 ms sleep and so times out even then.
  EXPECT_EQ(capture(-1), kStorage ? 0 : -3);

  module.control("lift");
  const long polls = module.counter("polls");
  EXPECT_EQ(capture(-1), -3);
  EXPECT_EQ(module.counter("polls") - polls, kStorage ? 2 : 1);
  EXPECT_EQ(module.counter("images"), kStorage ? 1 : 0);

  // A finger arriving during the one extra poll is too late.
  module.control("script absent:1 present");
  EXPECT_EQ(capture(-1), -3);
}

TEST_F(EndToEnd, TimeoutBelowMinusOneOpensTheModuleThenTimesOut) {
  auto& module = startSimulator({"--finger", "present"});
  EXPECT_EQ(capture(-2), -3);
  EXPECT_EQ(capture(-100), -3);
  EXPECT_EQ(module.counter("images"), 0);
  EXPECT_TRUE(indicatorsOff());
  EXPECT_NE(module.status()["indicators"], "-");  // switched on, then off again
  EXPECT_EQ(module.counter("polls"), kStorage ? 2 : 0);  // storage checks once before the wait

  // The capture-and-extract loop returns at once, without touching the module.
  unsigned char tpl[512];
  const long writes = module.counter("writes");
  EXPECT_EQ(zzExtractFingerprint(0, -2, tpl, 0, 0), -3);
  EXPECT_EQ(module.counter("writes"), writes);
}

TEST_F(EndToEnd, PositiveTimeoutLimitsTheFingerWait) {
  auto& module = startSimulator({"--finger", "absent"});
  auto start = Clock::now();
  EXPECT_EQ(capture(300), -3);
  const long waited = msSince(start);
  EXPECT_GE(waited, 300);
  EXPECT_LT(waited, 2000);
  EXPECT_TRUE(indicatorsOff());

  module.control("script absent:100ms present");
  EXPECT_EQ(capture(3000), 0);
}

// ---- waiting for the lift ------------------------------------------------------

TEST_F(EndToEnd, WaitLiftOneWaitsUntilTheFingerIsLifted) {
  auto& module = startSimulator({"--finger", "present:3 lifted", "--seed", "5"});
  EXPECT_EQ(capture(3000, 1), 0);
  EXPECT_TRUE(imageIs(synthesizePrint(5)));
  EXPECT_GE(module.counter("polls"), 4);

  module.control("place");
  EXPECT_EQ(capture(300, 1), -3);  // never lifted; the image was read all the same
  EXPECT_TRUE(imageIs(synthesizePrint(5, 2)));
  EXPECT_TRUE(indicatorsOff());
}

TEST_F(EndToEnd, WaitLiftTwoWaitsOnHidOnly) {
  auto& module = startSimulator({"--finger", "present"});
  EXPECT_EQ(capture(300, 2), kStorage ? 0 : -3);
  if (kStorage) {
    EXPECT_EQ(module.counter("polls"), 1);  // no poll after the image
  }
}

// ---- cancel and busy ----------------------------------------------------------

TEST_F(EndToEnd, CancelFromAnotherThreadEndsTheFingerWait) {
  startSimulator({"--finger", "absent"});
  auto running = std::async(std::launch::async, [&] { return capture(0); });
  ASSERT_TRUE(waitForPolls(2));

  const auto start = Clock::now();
  // A HID capture is cancelled all the same, but answered -11 since no
  // mass-storage capture runs on the index.
  EXPECT_EQ(zzCancelCapture(0), kStorage ? 0 : -11);
  const long cancelMs = msSince(start);
  EXPECT_LE(cancelMs, kStorage ? 500 : 1500);  // bounds of 50 and 1000 ms, with room for a loaded machine
  ASSERT_EQ(running.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_EQ(running.get(), -2);
  RecordProperty("cancel_ms", static_cast<int>(cancelMs));

  EXPECT_TRUE(indicatorsOff());
  EXPECT_EQ(zzCancelCapture(0), -11);  // nothing runs any more
  EXPECT_EQ(capture(-2), -3);          // and the index is free
}

TEST_F(EndToEnd, CancelFromAnotherProcessEndsTheFingerWait) {
  startSimulator({"--finger", "absent"});
  auto running = std::async(std::launch::async, [&] { return capture(0); });
  ASSERT_TRUE(waitForPolls(2));

  const pid_t peer = spawnProgram({FX60_EXPORT_PEER, "cancel", "0"});
  ASSERT_GT(peer, 0);
  EXPECT_EQ(waitForExit(peer, 3000), kStorage ? 0 : 11);
  ASSERT_EQ(running.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_EQ(running.get(), -2);
  EXPECT_TRUE(indicatorsOff());
  EXPECT_EQ(capture(-2), -3);
}

TEST_F(EndToEnd, SecondCaptureOnABusyIndexIsRefusedAcrossProcesses) {
  startSimulator({"--finger", "absent"});
  const pid_t peer = spawnProgram({FX60_EXPORT_PEER, "capture", "0", "0", "0"});
  ASSERT_GT(peer, 0);
  ASSERT_TRUE(waitForPolls(2));

  const auto start = Clock::now();
  EXPECT_EQ(capture(5000), -11);
  EXPECT_LT(msSince(start), 1000);  // at once, not after the time-out
  EXPECT_EQ(capture(-2, 0, 1), kStorage ? -1 : -3);  // another index is not busy

  zzCancelCapture(0);
  EXPECT_EQ(waitForExit(peer, 3000), 2);  // the peer's capture ended with -2
  EXPECT_EQ(capture(-2), -3);
}

// ---- transport and module faults ------------------------------------------------

TEST_F(EndToEnd, TransportCrcErrorsAreRetriedUpToOneHundredAttempts) {
  if (!kStorage) GTEST_SKIP() << "CRC errors belong to the mass-storage transport";
  auto& module = startSimulator({"--seed", "9"});
  ASSERT_EQ(module.control("fault crc@start-image:99"), "ok");
  EXPECT_EQ(capture(5000), 0);
  EXPECT_TRUE(imageIs(synthesizePrint(9)));

  ASSERT_EQ(module.control("fault crc@start-image:100"), "ok");
  EXPECT_EQ(capture(5000), -4);  // the write fails, so the read-out does
  EXPECT_EQ(module.counter("images"), 1);
  EXPECT_TRUE(indicatorsOff());
}

TEST_F(EndToEnd, IdentityMayDifferInTheLastRevisionCharacterOnly) {
  if (!kStorage) GTEST_SKIP() << "the SCSI identity belongs to the mass-storage transport";
  startSimulator({"--inquiry", "Fleetly Dermal Scanner  0109"});
  EXPECT_EQ(capture(2000), 0);
  sims_.clear();
  startSimulator({"--inquiry", "Fleetly Dermal Scanner  0200"});
  EXPECT_EQ(capture(2000), -1);
  EXPECT_EQ(zzDetectFingerprint(0), 0);
}

TEST_F(EndToEnd, MisbehavingResponsesAreRefused) {
  auto& module = startSimulator({"--finger", "present"});
  if (kStorage) {
    module.control("fault bad-status@detect");
    EXPECT_EQ(zzDetectFingerprint(0), 0);
    module.control("fault bad-status@start-image");
    EXPECT_EQ(capture(2000), -4);
    module.control("fault read-fail@image-half:2");  // transient: the read is repeated
    EXPECT_EQ(capture(2000), 0);
    module.control("fault short-read@image-half");
    EXPECT_EQ(capture(2000), -4);
  } else {
    module.control("fault bad-checksum@detect");
    EXPECT_EQ(zzDetectFingerprint(0), 0);
    EXPECT_EQ(zzDetectFingerprint(0), 1);
    module.control("fault bad-header@detect");
    EXPECT_EQ(zzDetectFingerprint(0), 0);
    module.control("fault bad-checksum@image");
    EXPECT_EQ(capture(2000), -5);
    module.control("fault bad-status@connect");
    EXPECT_EQ(capture(2000), -1);
    module.control("fault short-read@image-data+5");
    EXPECT_EQ(capture(2000), -5);
    module.control("fault stall@image-data+3");
    EXPECT_EQ(capture(2000), -5);
  }
  EXPECT_TRUE(indicatorsOff());
  EXPECT_EQ(capture(2000), 0);
}

TEST_F(EndToEnd, RequestsCarryTheDocumentedBytes) {
  auto& module = startSimulator({"--finger", "present"});
  ASSERT_EQ(capture(2000), 0);
  const std::string log = module.log();
  if (kStorage) {
    EXPECT_NE(log.find("WRITE(10) F008 params [00 00 01 00]"), std::string::npos) << log;
    EXPECT_NE(log.find("WRITE(10) E013 params [ff]"), std::string::npos);
  } else {
    EXPECT_NE(log.find("HID_WRITE 88 00 00 03 00 02 01 01 07 00"), std::string::npos) << log;
    EXPECT_NE(log.find("HID_WRITE 88 00 00 01 00 08 09 00"), std::string::npos);
  }
}

TEST_F(EndToEnd, ModuleUnpluggedMidImageFailsTheCaptureAndIsGone) {
  auto& module = startSimulator({"--finger", "present", "--fault",
                                 kStorage ? "unplug@image-half+1" : "unplug@image-data+700"});
  // Mass storage repeats a failed read until its 5 s budget is spent; HID gives
  // up on the first failed report.
  const auto start = Clock::now();
  EXPECT_EQ(capture(5000), kImageReadFailed);
  EXPECT_LT(msSince(start), kStorage ? 7000 : 2000);
  EXPECT_EQ(zzDetectFingerprint(0), 0);
  EXPECT_EQ(capture(5000), -1);

  EXPECT_EQ(module.control("plug"), "ok");
  EXPECT_EQ(capture(5000), 0);  // the busy byte was not left set
}

TEST_F(EndToEnd, ModuleUnpluggedDuringTheFingerWait) {
  auto& module = startSimulator({"--finger", "absent"});
  auto running = std::async(std::launch::async, [&] { return capture(600); });
  ASSERT_TRUE(waitForPolls(2));
  EXPECT_EQ(module.control("unplug"), "ok");
  // A finger poll that fails counts as no finger: the wait runs into its limit.
  ASSERT_EQ(running.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(running.get(), -3);
  EXPECT_EQ(zzDetectFingerprint(0), 0);
  EXPECT_EQ(module.status()["plugged"], "0");

  module.control("plug");
  module.control("place");
  EXPECT_EQ(zzDetectFingerprint(0), 1);
  EXPECT_EQ(capture(2000), 0);
}

TEST_F(EndToEnd, AFingerWaitWithoutLimitResumesWhenTheModuleIsPluggedBackIn) {
  auto& module = startSimulator({"--finger", "absent", "--seed", "6"});
  auto running = std::async(std::launch::async, [&] { return capture(0); });
  struct CancelIfStillWaiting {  // so that a failing check never leaves the wait running
    ~CancelIfStillWaiting() { zzCancelCapture(0); }
  } cancelAtExit;
  ASSERT_TRUE(waitForPolls(2));
  EXPECT_EQ(module.control("unplug"), "ok");
  // While the module is away the capture keeps waiting, polls failing as no finger.
  EXPECT_EQ(running.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  const long polls = module.counter("polls");
  EXPECT_EQ(module.control("plug"), "ok");
  ASSERT_TRUE(waitForPolls(polls + 1));  // the module was opened again and is polled
  EXPECT_EQ(running.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  EXPECT_EQ(module.control("place"), "ok");
  ASSERT_EQ(running.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(running.get(), 0);
  EXPECT_TRUE(imageIs(synthesizePrint(6)));
  EXPECT_TRUE(indicatorsOff());
}

TEST_F(EndToEnd, AnotherAnnouncedImageSizeIsRefused) {
  startSimulator({"--finger", "present", "--image-size", "320x400"});
  EXPECT_EQ(capture(2000), kImageReadFailed);
  EXPECT_TRUE(canaryIntact());
  sims_.clear();
  startSimulator({"--finger", "present", "--image-size", "200x300"});
  EXPECT_EQ(capture(2000), kImageReadFailed);
  EXPECT_TRUE(canaryIntact());
}

TEST_F(EndToEnd, HidImagesAreExactWhateverTheReportLengths) {
  if (kStorage) GTEST_SKIP() << "report lengths belong to the HID transport";
  // Every report is input-length long; the read-out advances by its data bytes
  // (not by the output length - 1), whatever the output length.
  const SensorImage print = synthesizePrint(3);
  const fs::path file = dir_ / "print.pgm";
  ASSERT_TRUE(writePgm(file, print.data(), kSensorWidth, kSensorHeight));
  std::vector<std::vector<uint8_t>> templates;
  for (const char* lengths : {"65/65/0", "65/33/0", "33/65/0", "17/65/0"}) {
    SCOPED_TRACE(lengths);
    SimulatorProcess& module = startSimulator({"--images", file.string(), "--report-len", lengths});
    std::fill_n(image_.begin(), kImageBytes, uint8_t{0});
    ASSERT_EQ(capture(5000), 0);
    EXPECT_TRUE(imageIs(print));
    EXPECT_TRUE(canaryIntact());
    // The last image report was read and no read ran dry: exactly the reports
    // the announced image needs.
    const std::string log = module.log();
    EXPECT_NE(log.find("HID_READ -> last image data report"), std::string::npos);
    EXPECT_EQ(log.find("nothing to send"), std::string::npos);

    std::vector<uint8_t> tpl(512, 0);
    ASSERT_EQ(zzExtractFingerprint(0, 10000, tpl.data(), 0, 0), 0);
    EXPECT_EQ(tpl[0], 0x43);
    EXPECT_EQ(zzMatchFingerprint(tpl.data(), tpl.data(), 5), 0);  // the seal verifies
    templates.push_back(tpl);
    sims_.clear();
  }
  for (const auto& tpl : templates) EXPECT_EQ(tpl, templates.front());  // the same image, the same template
}

TEST_F(EndToEnd, TwoModules) {
  startSimulator({"--seed", "40"});
  startSimulator({"--seed", "50"});
  ASSERT_EQ(capture(2000, 0, 1), 0);
  if (kStorage) {
    // Each index names one module in discovery order; a third is missing.
    EXPECT_TRUE(imageIs(synthesizePrint(50)));
    ASSERT_EQ(capture(2000, 0, 0), 0);
    EXPECT_TRUE(imageIs(synthesizePrint(40)));
    EXPECT_EQ(capture(2000, 0, 2), -1);
  } else {
    // Every HID index uses the first module.
    EXPECT_TRUE(imageIs(synthesizePrint(40)));
    ASSERT_EQ(capture(2000, 0, 7), 0);
    EXPECT_TRUE(imageIs(synthesizePrint(40, 2)));
    EXPECT_EQ(sims_[1]->counter("images"), 0);
  }
}

}  // namespace
}  // namespace fx60::sim
