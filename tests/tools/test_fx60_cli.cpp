// The fx60 program end to end on generated prints (and on real ones where the
// shared sets are present): quality, extraction to a file, matching files and
// images, evaluation of a small folder.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>

#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/support/generated_prints.h"
#include "tests/support/run_program.h"
#include "tests/support/test_data.h"

namespace fx60 {
namespace {

namespace fs = std::filesystem;

using ToolRun = testing::ProgramRun;

ToolRun runTool(const std::string& arguments) { return testing::runProgram(FX60_TOOL, arguments); }

// The prints the tests use: fingers 101, 102 and 105, impressions 1 and 2, from
// a real set or made by the generator.
class Fx60Tool : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "real") {
      FX60_REQUIRE_SHARED_DATA();
      set_ = *testing::sharedDataDir() / "fp" / "fvc2002-db2b";
      if (!fs::exists(set_ / "101_1.pgm")) GTEST_SKIP() << "set fvc2002-db2b not present";
    }
    dir_ = fs::temp_directory_path() / ("fx60-cli-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    if (GetParam() == "generated") {
      set_ = dir_ / "generated";
      fs::create_directories(set_);
      for (int finger : {101, 102, 105})
        for (int impression : {1, 2}) {
          const fs::path file = set_ / (std::to_string(finger) + "_" + std::to_string(impression) + ".pgm");
          ASSERT_TRUE(testing::writeGeneratedPgm(file, testing::generatedPrint(finger - 100, impression))) << file;
        }
    }
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string image(const char* name) const { return "'" + (set_ / name).string() + "'"; }

  fs::path set_;
  fs::path dir_;
};

TEST_P(Fx60Tool, QualityOfEachImage) {
  const ToolRun run = runTool("quality " + image("101_1.pgm") + " " + image("102_1.pgm"));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("101_1.pgm: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("102_1.pgm: "), std::string::npos) << run.output;
}

TEST_P(Fx60Tool, ExtractedTemplateFileIsSealedAndMatchesItsFinger) {
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

TEST_P(Fx60Tool, EvaluatesASmallFolder) {
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

TEST_P(Fx60Tool, SeveralFoldersEndWithTheirCombinedComparisonTimes) {
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

TEST_P(Fx60Tool, BadInputGivesAMessageAndAFailingExit) {
  const fs::path junk = dir_ / "junk.tpl";
  std::ofstream(junk) << "not a template";
  const ToolRun run = runTool("match '" + junk.string() + "' '" + junk.string() + "'");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_FALSE(run.output.empty());
  EXPECT_NE(runTool("extract '" + (dir_ / "missing.pgm").string() + "'").exitCode, 0);
  EXPECT_NE(runTool("no-such-command").exitCode, 0);
}

// The published score with every digit, the similarities behind it and the
// decision at each level, in the shape the help documents.
TEST_P(Fx60Tool, MatchJsonCarriesTheFullScoreAndEveryLevel) {
  const ToolRun same = runTool("match --json " + image("101_1.pgm") + " " + image("101_2.pgm"));
  ASSERT_EQ(same.exitCode, 0) << same.output;
  const size_t at = same.output.find("\"score\": ");
  ASSERT_NE(at, std::string::npos) << same.output;
  const float score = std::strtof(same.output.c_str() + at + 9, nullptr);
  EXPECT_NE(same.output.find(", \"x1\": ", at), std::string::npos) << same.output;
  const ToolRun text = runTool("match " + image("101_1.pgm") + " " + image("101_2.pgm"));
  char expected[32];
  std::snprintf(expected, sizeof expected, "score %.4f", score);
  EXPECT_NE(text.output.find(expected), std::string::npos) << text.output;
  EXPECT_EQ(text.output.find("{"), std::string::npos);
  for (const char* part : {"\"first\": {\"file\": ", "\"kind\": \"image\"", "\"template_quality\": ", "\"status\": 1",
                           "\"half_turn_retried\": ", "\"level\": 3, \"match\": true",
                           "{\"level\": 5, \"threshold\": 61, \"match\": "})
    EXPECT_NE(same.output.find(part), std::string::npos) << part << " missing from\n" << same.output;

  const ToolRun other = runTool("match --json --level 5 " + image("101_1.pgm") + " " + image("105_1.pgm"));
  EXPECT_EQ(other.exitCode, 3) << other.output;
  EXPECT_NE(other.output.find("\"level\": 5, \"match\": false"), std::string::npos) << other.output;
}

// Every command that reads a fingerprint image treats another size the same way:
// refused with the advice to give --fit, accepted with it.
TEST_P(Fx60Tool, ImagesOfAnotherSizeNeedFitInEveryCommand) {
  const std::vector<uint8_t> print = testing::readPgm(set_ / "101_1.pgm");
  ASSERT_FALSE(print.empty());
  constexpr int kWidth = 300, kHeight = 400;  // padded by 22 and 20 on each side
  std::vector<uint8_t> padded(kWidth * kHeight, 255);
  for (int y = 0; y < 360; ++y)
    std::copy_n(&print[y * 256], 256, &padded[(y + 20) * kWidth + 22]);
  const fs::path folder = dir_ / "padded";
  fs::create_directories(folder);
  std::ofstream out(folder / "101_1.pgm", std::ios::binary);
  out << "P5\n" << kWidth << ' ' << kHeight << "\n255\n";
  out.write(reinterpret_cast<const char*>(padded.data()), static_cast<std::streamsize>(padded.size()));
  out.close();
  fs::create_symlink(set_ / "101_2.pgm", folder / "101_2.pgm");
  fs::create_symlink(set_ / "102_1.pgm", folder / "102_1.pgm");
  const std::string large = "'" + (folder / "101_1.pgm").string() + "'";

  for (const std::string& command : {"quality " + large, "extract " + large, "match " + large + " " + image("101_1.pgm"),
                                     "eval '" + folder.string() + "'"}) {
    const ToolRun refused = runTool(command);
    EXPECT_EQ(refused.exitCode, 1) << command << "\n" << refused.output;
    EXPECT_NE(refused.output.find("image is 300 x 400, not 256 x 360; give --fit"), std::string::npos)
        << command << "\n" << refused.output;
    const ToolRun fitted = runTool(command + " --fit");
    EXPECT_EQ(fitted.exitCode, 0) << command << " --fit\n" << fitted.output;
  }
  // Fitting takes back exactly the padding: the same print as the original.
  EXPECT_NE(runTool("match --fit " + large + " " + image("101_1.pgm")).output.find("score 1.0000"), std::string::npos);
}

// A folder is evaluated only when it has both kinds of pairs; what it holds
// besides images is listed with the reason, and unreadable images are errors.
TEST_P(Fx60Tool, EvalSaysWhatItFoundSkippedAndCouldNotRead) {
  const fs::path folder = dir_ / "mixed";
  fs::create_directories(folder / "subfolder");
  for (const char* name : {"101_1.pgm", "101_2.pgm", "102_1.pgm", "102_2.pgm"})
    fs::create_symlink(set_ / name, folder / name);
  std::ofstream(folder / "readme.txt") << "notes";
  fs::create_symlink(set_ / "105_1.pgm", folder / "nameless.pgm");
  std::ofstream(folder / "105_1.pgm").close();  // empty: unreadable
  const ToolRun run = runTool("eval '" + folder.string() + "'");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  for (const char* part : {"mixed: 4 images of 2 fingers (3 files skipped, 1 unreadable), ",
                           "skipped nameless.pgm: the name is not <finger>_<impression>",
                           "skipped readme.txt: not an image file", "skipped subfolder: a folder",
                           "error: ", "105_1.pgm: the file is empty", "EER "})
    EXPECT_NE(run.output.find(part), std::string::npos) << part << " missing from\n" << run.output;

  const ToolRun json = runTool("eval --json '" + folder.string() + "'");
  EXPECT_NE(json.output.find("\"unreadable\": [{\"file\": \"105_1.pgm\""), std::string::npos) << json.output;
  EXPECT_NE(json.output.find("{\"file\": \"readme.txt\", \"reason\": "), std::string::npos) << json.output;

  const fs::path oneFinger = dir_ / "one-finger";
  fs::create_directories(oneFinger);
  for (const char* name : {"101_1.pgm", "101_2.pgm"}) fs::create_symlink(set_ / name, oneFinger / name);
  const fs::path empty = dir_ / "empty";
  fs::create_directories(empty);
  for (const auto& [path, reason] : {std::pair{oneFinger, "no impostor pairs"},
                                     std::pair{empty, "no <finger>_<impression> images"},
                                     std::pair{dir_, "no <finger>_<impression> images"}}) {
    const ToolRun nothing = runTool("eval '" + path.string() + "'");
    EXPECT_EQ(nothing.exitCode, 1) << path << "\n" << nothing.output;
    EXPECT_NE(nothing.output.find(reason), std::string::npos) << path << "\n" << nothing.output;
    EXPECT_EQ(nothing.output.find("EER"), std::string::npos) << path << "\n" << nothing.output;
  }
}

TEST_P(Fx60Tool, DetPlotShowsTheEerLikeTheTextWithTicksAndLevelThresholds) {
  const fs::path folder = dir_ / "plotted";
  fs::create_directories(folder);
  for (const char* name : {"101_1.pgm", "101_2.pgm", "102_1.pgm", "102_2.pgm", "105_1.pgm", "105_2.pgm"})
    fs::create_symlink(set_ / name, folder / name);
  const fs::path svg = dir_ / "det.svg";
  const ToolRun run = runTool("eval '" + folder.string() + "' --det '" + svg.string() + "'");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const size_t at = run.output.find("  EER ");
  ASSERT_NE(at, std::string::npos) << run.output;
  const std::string eer = run.output.substr(at + 6, run.output.find(" %", at) - at - 6);  // "1.23"
  ASSERT_EQ(eer.size() - eer.find('.'), 3u) << eer;
  std::ifstream in(svg);
  const std::string plot((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(plot.find("plotted: EER " + eer + " %,"), std::string::npos) << plot;
  auto count = [&](const std::string& part) {
    size_t n = 0;
    for (size_t at = plot.find(part); at != std::string::npos; at = plot.find(part, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("class='tick'"), 11u);
  EXPECT_EQ(count("class='level'"), 5u);
  EXPECT_NE(plot.find(">L3 0.34<"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Prints, Fx60Tool, ::testing::Values("generated", "real"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// detect -v says what stood in the way in plain words, with the fix.
TEST(Fx60Detect, VerboseExplainsAMissingSimulatorSocket) {
  const std::string socket = (fs::temp_directory_path() / ("fx60-none-" + std::to_string(getpid()) + ".sock")).string();
  const ToolRun run = testing::runProgram("/usr/bin/env", "FX60_SIMULATOR='" + socket + "' '" FX60_TOOL "' detect -v");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("cannot open " + socket), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(std::strerror(ENOENT)), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("start fx60-sim"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("no finger: no module found"), std::string::npos) << run.output;
  EXPECT_EQ(runTool("detect --bogus").exitCode, 2);
}

}  // namespace
}  // namespace fx60
