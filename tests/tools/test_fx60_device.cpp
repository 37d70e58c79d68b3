// The device commands of fx60 against fx60-sim, on both transports: what they ask
// of the user, what their exit status says, where their results go, and what a
// cancel from another process reports.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/image_source.h"
#include "tests/support/generated_prints.h"
#include "tests/support/test_data.h"
#include "tests/sim/simulator_process.h"
#include "tests/tools/fx60_runs.h"

namespace fx60 {
namespace {

namespace fs = std::filesystem;
using testing::contains;
using testing::fileText;
using testing::quoted;
using testing::runFx60;

// ctest runs each test case as a process of its own, several at once: each gets
// its own capture flags, which the fx60 processes it starts inherit.
std::string flagsBlockName() { return "/fx60-tools-device-" + std::to_string(::getpid()); }

class Fx60Device : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { ::setenv("FX60_SHARED_FLAGS_NAME", flagsBlockName().c_str(), 1); }
  void TearDown() override {
    sim_.reset();
    ::unsetenv("FX60_SIMULATOR");
    ::shm_unlink(flagsBlockName().c_str());
  }

  // The simulator serving one generated print (made once per build tree, which is
  // quicker than the simulator's own finger).
  sim::testing::SimulatorProcess& startSimulator(std::vector<std::string> options = {}) {
    print_ = testing::generatedPrintFile(1, 1);
    EXPECT_FALSE(print_.empty());
    options.insert(options.begin(), {"--mode", GetParam(), "--images", print_.string()});
    sim_ = std::make_unique<sim::testing::SimulatorProcess>(scratch_.path(), "sim");
    EXPECT_TRUE(sim_->start(options)) << "fx60-sim did not start";
    ::setenv("FX60_SIMULATOR", sim_->cablePath().c_str(), 1);
    return *sim_;
  }

  testing::ScratchFolder scratch_{"fx60-device"};
  fs::path print_;
  std::unique_ptr<sim::testing::SimulatorProcess> sim_;
};

TEST_P(Fx60Device, CaptureAsksForTheFingerAndWritesTheFormatOfItsName) {
  startSimulator({"--finger", "present:2 absent:1 present:3 absent"});
  const auto png = runFx60("capture -o " + quoted(scratch_ / "first.png"));
  EXPECT_EQ(png.exitCode, 0) << png.output;
  EXPECT_TRUE(contains(png.output, "place a finger on the module (waiting up to 30 s)")) << png.output;
  EXPECT_FALSE(contains(png.output, "lift your finger")) << png.output;
  EXPECT_TRUE(contains(png.output, "first.png")) << png.output;
  EXPECT_EQ(fileText(scratch_ / "first.png").substr(0, 4), "\x89PNG");

  const auto pgm = runFx60("capture --lift --timeout 5000 -o " + quoted(scratch_ / "second.pgm"));
  EXPECT_EQ(pgm.exitCode, 0) << pgm.output;
  EXPECT_TRUE(contains(pgm.output, "lift your finger")) << pgm.output;
  const std::string bytes = fileText(scratch_ / "second.pgm");
  EXPECT_EQ(bytes.substr(0, 15), "P5\n256 360\n255\n");
  const std::vector<uint8_t> served = testing::readPgm(print_);
  ASSERT_EQ(bytes.size(), 15 + served.size());
  EXPECT_TRUE(std::equal(served.begin(), served.end(), reinterpret_cast<const uint8_t*>(bytes.data()) + 15));
}

TEST_P(Fx60Device, DetectAnswersWithItsExitStatusAndNamesAMissingModule) {
  auto& module = startSimulator({"--finger", "absent"});
  const auto none = runFx60("detect");
  EXPECT_EQ(none.exitCode, 1) << none.output;
  EXPECT_EQ(none.output, "no finger\n");
  module.control("place");
  const auto finger = runFx60("detect");
  EXPECT_EQ(finger.exitCode, 0) << finger.output;
  EXPECT_EQ(finger.output, "finger\n");
  module.stop();
  const auto gone = runFx60("detect");
  EXPECT_EQ(gone.exitCode, 1) << gone.output;
  EXPECT_EQ(gone.output, "no finger: no module found\n");
}

TEST_P(Fx60Device, NoFingerInTimeIsANoAndWritesNothing) {
  startSimulator({"--finger", "absent"});
  const auto run = runFx60("capture --timeout 300 -o " + quoted(scratch_ / "never.pgm"));
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_TRUE(contains(run.output, "place a finger on the module (waiting up to 0.3 s)")) << run.output;
  EXPECT_TRUE(contains(run.output, "time-out: no finger (or it was not lifted) within 0.3 s")) << run.output;
  EXPECT_FALSE(fs::exists(scratch_ / "never.pgm"));
}

TEST_P(Fx60Device, EnrollWritesTheSealedTemplateOrSaysWhyNot) {
  auto& module = startSimulator();
  const auto run = runFx60("enroll -o " + quoted(scratch_ / "finger.tpl"));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(contains(run.output, "template written to ")) << run.output;
  EXPECT_TRUE(contains(run.output, "(template quality ")) << run.output;
  const std::string tpl = fileText(scratch_ / "finger.tpl");
  ASSERT_EQ(tpl.size(), 512u);
  EXPECT_EQ(static_cast<uint8_t>(tpl[0]), 0x43);

  // A blank sensor image reaches quality 0 but makes no usable template.
  const fs::path blank = scratch_ / "blank.pgm";
  const std::vector<uint8_t> white(sim::kSensorBytes, 255);
  ASSERT_TRUE(sim::writePgm(blank, white.data(), sim::kSensorWidth, sim::kSensorHeight));
  EXPECT_EQ(module.control("image " + blank.string()), "ok");
  const auto unusable = runFx60("enroll --quality 0 -o " + quoted(scratch_ / "blank.tpl"));
  EXPECT_EQ(unusable.exitCode, 3) << unusable.output;
  EXPECT_TRUE(contains(unusable.output, "no usable template (template quality 0, below 20); nothing written"))
      << unusable.output;
  EXPECT_FALSE(fs::exists(scratch_ / "blank.tpl"));
}

TEST_P(Fx60Device, CancelStopsACaptureOfAnotherProcessAndSaysSo) {
  auto& module = startSimulator({"--finger", "absent"});
  const fs::path output = scratch_ / "capture.out";
  const pid_t capture = sim::testing::spawnProgram(
      {"/bin/sh", "-c", "exec '" + std::string(FX60_TOOL) + "' capture --timeout 0 -o " + quoted(scratch_ / "x.pgm") +
                            " > " + quoted(output) + " 2>&1"});
  ASSERT_GT(capture, 0);
  ASSERT_TRUE(sim::testing::waitUntil([&] { return module.counter("polls") >= 2; }, 10000));
  const auto cancel = runFx60("cancel");
  EXPECT_EQ(cancel.exitCode, 0) << cancel.output;
  EXPECT_EQ(cancel.output, "cancelled the capture on index 0\n");
  EXPECT_EQ(sim::testing::waitForExit(capture, 10000), 3);
  EXPECT_TRUE(contains(fileText(output), "fx60 capture: cancelled")) << fileText(output);

  const auto idle = runFx60("cancel 0");
  EXPECT_EQ(idle.exitCode, 1) << idle.output;
  EXPECT_EQ(idle.output, "no capture running on index 0\n");
}

INSTANTIATE_TEST_SUITE_P(Transports, Fx60Device, ::testing::Values("storage", "hid"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace fx60
