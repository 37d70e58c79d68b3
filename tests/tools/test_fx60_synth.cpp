// fx60 synth end to end: the files it writes are the generator's images under the
// names fx60 eval reads, whatever the thread count; the simulator's finger is
// finger 1 of the same seed; bad arguments are refused with a message and exit 2.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/image_source.h"
#include "synth/generator.h"
#include "tests/support/run_program.h"

namespace fx60 {
namespace {

namespace fs = std::filesystem;

using ToolRun = testing::ProgramRun;

ToolRun runTool(const std::string& arguments) { return testing::runProgram(FX60_TOOL, arguments); }

std::vector<uint8_t> pixelsOfPgm(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  if (magic != "P5" || width != synth::kImageWidth || height != synth::kImageHeight || maxval != 255) return {};
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  return in ? pixels : std::vector<uint8_t>{};
}

class Fx60Synth : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fx60-synth-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string folder(const char* name) const { return "'" + (dir_ / name).string() + "'"; }

  fs::path dir_;
};

TEST_F(Fx60Synth, WritesTheGeneratorsImagesUnderTheirSetNames) {
  const ToolRun run = runTool("synth " + folder("set") + " --fingers 2 --impressions 3 --seed 5 --class whorl");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_ / "set")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"1_1.pgm", "1_2.pgm", "1_3.pgm", "2_1.pgm", "2_2.pgm", "2_3.pgm"}));
  const synth::Finger second = synth::makeFinger(5, 2, synth::FingerClass::kWhorl);
  EXPECT_EQ(pixelsOfPgm(dir_ / "set" / "2_3.pgm"), synth::makeImpression(second, 3));
}

TEST_F(Fx60Synth, ThreadsDoNotChangeTheImagesAndFingerOneIsTheSimulatorsFinger) {
  ASSERT_EQ(runTool("synth " + folder("one") + " --fingers 3 --impressions 2 --seed 7 --threads 1").exitCode, 0);
  ASSERT_EQ(runTool("synth " + folder("three") + " --fingers 3 --impressions 2 --seed 7 --threads 3").exitCode, 0);
  for (const char* name : {"1_1.pgm", "1_2.pgm", "2_1.pgm", "3_2.pgm"}) {
    const std::vector<uint8_t> one = pixelsOfPgm(dir_ / "one" / name);
    ASSERT_FALSE(one.empty()) << name;
    EXPECT_EQ(one, pixelsOfPgm(dir_ / "three" / name)) << name;
  }
  // fx60-sim --seed 7 serves 1_1, 1_2, ... of this set.
  EXPECT_EQ(pixelsOfPgm(dir_ / "one" / "1_1.pgm"), sim::synthesizePrint(7));
  EXPECT_EQ(pixelsOfPgm(dir_ / "one" / "1_2.pgm"), sim::synthesizePrint(7, 2));
}

TEST_F(Fx60Synth, HelpNamesEveryOptionWithItsDefault) {
  const ToolRun run = runTool("synth --help");
  EXPECT_EQ(run.exitCode, 0);
  for (const char* text : {"--fingers N", "default 100", "--impressions N", "default 8", "--seed N", "default 1",
                           "--class NAME", "default mixed", "--threads N", "exit status"})
    EXPECT_NE(run.output.find(text), std::string::npos) << text << " missing from:\n" << run.output;
  EXPECT_NE(runTool("--help").output.find("synth DIR"), std::string::npos);
}

TEST_F(Fx60Synth, BadArgumentsAreRefusedWithAMessageAndExitTwo) {
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"", "no folder"},
      {"--fingers 0", "--fingers takes a whole number from 1 to 100000, not '0'"},
      {"--fingers abc", "not 'abc'"},
      {"--fingers 12x", "not '12x'"},
      {"--fingers 100001", "not '100001'"},
      {"--impressions 101", "--impressions takes a whole number from 1 to 100"},
      {"--impressions -1", "not '-1'"},
      {"--seed -7", "--seed takes a whole number"},
      {"--seed 18446744073709551616", "not '18446744073709551616'"},
      {"--threads 0", "--threads takes a whole number from 1 to 256"},
      {"--class loop", "--class takes arch, tented-arch, left-loop, right-loop, whorl or mixed, not 'loop'"},
      {"--fingers", "--fingers needs a value"},
      {"--colour red", "unknown option --colour"},
      {"other", "one folder only"},
  };
  for (const auto& bad : cases) {
    const std::string arguments = bad.arguments.empty() ? "" : folder("never") + " " + bad.arguments;
    const ToolRun run = runTool("synth " + arguments);
    EXPECT_EQ(run.exitCode, 2) << bad.arguments << ":\n" << run.output;
    EXPECT_NE(run.output.find(bad.message), std::string::npos) << bad.arguments << ":\n" << run.output;
  }
  EXPECT_FALSE(fs::exists(dir_ / "never"));
}

TEST_F(Fx60Synth, AFolderThatCannotBeMadeIsAnError) {
  std::ofstream(dir_ / "file") << "not a folder";
  const ToolRun run = runTool("synth " + folder("file") + " --fingers 1 --impressions 1");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("cannot make the folder"), std::string::npos) << run.output;
  const ToolRun below = runTool("synth " + folder("file/below") + " --fingers 1 --impressions 1");
  EXPECT_EQ(below.exitCode, 1);
  EXPECT_NE(below.output.find("cannot make the folder"), std::string::npos) << below.output;
}

}  // namespace
}  // namespace fx60
