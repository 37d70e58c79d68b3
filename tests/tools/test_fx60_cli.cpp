// The fx60 program end to end on real prints: quality, extraction to a file,
// matching files and images, evaluation of a small folder.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "driver/feature_template.h"
#include "tests/support/run_program.h"
#include "tests/support/test_data.h"

namespace fx60 {
namespace {

namespace fs = std::filesystem;

using ToolRun = testing::ProgramRun;

ToolRun runTool(const std::string& arguments) { return testing::runProgram(FX60_TOOL, arguments); }

class Fx60Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    FX60_REQUIRE_SHARED_DATA();
    set_ = *testing::sharedDataDir() / "fp" / "fvc2002-db2b";
    if (!fs::exists(set_ / "101_1.pgm")) GTEST_SKIP() << "set fvc2002-db2b not present";
    dir_ = fs::temp_directory_path() / ("fx60-cli-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string image(const char* name) const { return "'" + (set_ / name).string() + "'"; }

  fs::path set_;
  fs::path dir_;
};

TEST_F(Fx60Tool, QualityOfEachImage) {
  const ToolRun run = runTool("quality " + image("101_1.pgm") + " " + image("102_1.pgm"));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("101_1.pgm: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("102_1.pgm: "), std::string::npos) << run.output;
}

TEST_F(Fx60Tool, ExtractedTemplateFileIsSealedAndMatchesItsFinger) {
  const fs::path first = dir_ / "first.tpl";
  const fs::path second = dir_ / "second.tpl";
  ASSERT_EQ(runTool("extract " + image("101_1.pgm") + " -o '" + first.string() + "'").exitCode, 0);
  ASSERT_EQ(runTool("extract " + image("101_2.pgm") + " -o '" + second.string() + "'").exitCode, 0);

  ASSERT_EQ(fs::file_size(first), 512u);
  std::array<uint8_t, kTemplateSize> tpl{};
  std::ifstream(first, std::ios::binary).read(reinterpret_cast<char*>(tpl.data()), kTemplateSize);
  EXPECT_EQ(tpl[0], 0x43);
  EXPECT_GE(tpl[kTemplateQualityByte], 20);
  EXPECT_EQ(VerifyTemplateSeal(tpl.data()), 1);

  const ToolRun same = runTool("match '" + first.string() + "' '" + second.string() + "'");
  EXPECT_NE(same.output.find("level 3 (threshold 34): match"), std::string::npos) << same.output;
  const ToolRun other = runTool("match '" + first.string() + "' " + image("105_1.pgm"));
  EXPECT_NE(other.output.find("level 3 (threshold 34): no match"), std::string::npos) << other.output;
}

TEST_F(Fx60Tool, EvaluatesASmallFolder) {
  const fs::path folder = dir_ / "tiny";
  fs::create_directories(folder);
  for (const char* name : {"101_1.pgm", "101_2.pgm", "102_1.pgm", "102_2.pgm"})
    fs::create_symlink(set_ / name, folder / name);
  const ToolRun run = runTool("eval --json '" + folder.string() + "'");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("\"images\": 4"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\"genuine\": 2"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\"impostor\": 1"), std::string::npos) << run.output;
}

TEST_F(Fx60Tool, SeveralFoldersEndWithTheirCombinedComparisonTimes) {
  std::string folders;
  for (const char* name : {"one", "two"}) {
    const fs::path folder = dir_ / name;
    fs::create_directories(folder);
    for (const char* image : {"101_1.pgm", "101_2.pgm", "102_1.pgm", "102_2.pgm"})
      fs::create_symlink(set_ / image, folder / image);
    folders += " '" + folder.string() + "'";
  }
  const ToolRun run = runTool("eval --threads 1" + folders);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("all sets: 4 genuine, 2 impostor comparisons; comparison mean"), std::string::npos)
      << run.output;
}

TEST_F(Fx60Tool, BadInputGivesAMessageAndAFailingExit) {
  const fs::path junk = dir_ / "junk.tpl";
  std::ofstream(junk) << "not a template";
  const ToolRun run = runTool("match '" + junk.string() + "' '" + junk.string() + "'");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_FALSE(run.output.empty());
  EXPECT_NE(runTool("extract '" + (dir_ / "missing.pgm").string() + "'").exitCode, 0);
  EXPECT_NE(runTool("no-such-command").exitCode, 0);
}

}  // namespace
}  // namespace fx60
