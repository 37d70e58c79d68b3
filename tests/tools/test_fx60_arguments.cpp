// What a user meets before any fingerprint work: help for every command, checked
// numbers, refused inputs that are not readable files, and outputs that are
// written in the format their name says or refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/generated_prints.h"
#include "tests/tools/fx60_runs.h"

namespace fx60 {
namespace {

namespace fs = std::filesystem;
using testing::contains;
using testing::fileText;
using testing::quoted;
using testing::runFx60;

// The command names and usage lines listed by fx60 --help ("  NAME USAGE").
std::vector<std::pair<std::string, std::string>> listedCommands() {
  std::vector<std::pair<std::string, std::string>> commands;
  std::istringstream lines(runFx60("--help").output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 4 || line.compare(0, 2, "  ") != 0 || !std::islower(static_cast<unsigned char>(line[2]))) continue;
    const size_t space = line.find(' ', 2);
    if (space == std::string::npos) continue;
    commands.emplace_back(line.substr(2, space - 2), line.substr(space + 1));
  }
  return commands;
}

// The options named in a usage line (-o, --level, ...), each with whether a
// value (an upper-case placeholder) follows it.
std::vector<std::pair<std::string, bool>> optionsOf(const std::string& usage) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : usage + " ") {
    if (c == ' ' || c == '[' || c == ']' || c == '|') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  std::vector<std::pair<std::string, bool>> options;
  for (size_t i = 0; i < words.size(); ++i)
    if (words[i].size() > 1 && words[i][0] == '-' && std::isalpha(static_cast<unsigned char>(words[i].back())))
      options.emplace_back(words[i], i + 1 < words.size() && std::isupper(static_cast<unsigned char>(words[i + 1][0])));
  return options;
}

// The lines that describe `option` in a help text: its own and those indented
// below it, up to the next option or blank line.
std::string optionBlock(const std::string& help, const std::string& option) {
  std::istringstream lines(help);
  std::string line, block;
  bool inside = false;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(' ');
    const std::string text = start == std::string::npos ? "" : line.substr(start);
    if (inside && (text.empty() || text[0] == '-')) break;
    if (!inside && (text.rfind(option + " ", 0) == 0 || text == option || text.rfind(option + ",", 0) == 0)) inside = true;
    if (inside) block += text + "\n";
  }
  return block;
}

TEST(Fx60Help, EveryCommandExplainsEachOptionItsExitStatusAndAnExample) {
  const auto commands = listedCommands();
  ASSERT_EQ(commands.size(), 10u) << runFx60("--help").output;
  for (const auto& [name, usage] : commands) {
    SCOPED_TRACE(name);
    const auto help = runFx60(name + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(runFx60("help " + name).output, help.output);
    EXPECT_EQ(runFx60(name + " -h").output, help.output);
    EXPECT_TRUE(contains(help.output, "usage: fx60 " + name + " " + usage)) << help.output;
    EXPECT_TRUE(contains(help.output, "exit status: 0 ")) << help.output;
    EXPECT_TRUE(contains(help.output, "2 bad usage")) << help.output;
    EXPECT_TRUE(contains(help.output, "example: ")) << help.output;
    for (const auto& [option, takesValue] : optionsOf(usage)) {
      const std::string block = optionBlock(help.output, option);
      EXPECT_FALSE(block.empty()) << option << " is not explained in\n" << help.output;
      // An option that takes a value says what happens without it.
      if (takesValue) {
        EXPECT_TRUE(contains(block, "default") || contains(block, "needed")) << block;
      }
    }
  }
}

TEST(Fx60Help, TopLevelHelpVersionAndUnknownCommands) {
  for (const char* asking : {"-h", "--help", "help"}) {
    const auto run = runFx60(asking);
    EXPECT_EQ(run.exitCode, 0) << asking;
    EXPECT_TRUE(contains(run.output, "fx60 help COMMAND")) << run.output;
    EXPECT_TRUE(contains(run.output, "exit status: 0 done")) << run.output;
  }
  EXPECT_EQ(runFx60("").exitCode, 2);
  const auto version = runFx60("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(contains(version.output, "driver:    NORVEX FX-60 Driver V2.0.0.20170621")) << version.output;
  EXPECT_TRUE(contains(version.output, "algorithm: 1401 20170608")) << version.output;
  const auto unknown = runFx60("frobnicate");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(contains(unknown.output, "unknown command 'frobnicate'")) << unknown.output;
  EXPECT_EQ(runFx60("help frobnicate").exitCode, 2);
}

TEST(Fx60Arguments, BadNumbersAndMissingArgumentsAreRefusedWithTheirReason) {
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"match a b --level abc", "--level takes a whole number from 1 to 5, not 'abc'"},
      {"match a b --level 99", "--level takes a whole number from 1 to 5, not '99'"},
      {"match a b --level 0", "not '0'"},
      {"match a b --level", "--level needs a value"},
      {"match a", "two templates or images are needed"},
      {"eval d --threads 0", "--threads takes a whole number from 1 to 256, not '0'"},
      {"eval d --threads abc", "not 'abc'"},
      {"eval d --impostors some", "--impostors takes fvc or all, not 'some'"},
      {"eval", "no folder given"},
      {"enroll -o t.tpl --quality 101", "--quality takes a whole number from 0 to 100, not '101'"},
      {"capture -o a.pgm --timeout -7", "--timeout takes a whole number from 0 to 86400000, not '-7'"},
      {"capture -o a.pgm --timeout 1.5", "not '1.5'"},
      {"detect --index 99", "--index takes a whole number from 0 to 15, not '99'"},
      {"capture -o a.pgm --index 99", "--index takes a whole number from 0 to 15, not '99'"},
      {"version --index -1", "--index takes a whole number from 0 to 15, not '-1'"},
      {"cancel 16", "INDEX takes a whole number from 0 to 15, not '16'"},
      {"capture", "-o IMG is needed"},
      {"enroll", "-o T.tpl is needed"},
      {"quality", "no image given"},
      {"quality --colour x.pgm", "unknown option --colour"},
      {"extract a.pgm b.pgm", "one image only"},
  };
  for (const auto& bad : cases) {
    const auto run = runFx60(bad.arguments);
    const std::string command = bad.arguments.substr(0, bad.arguments.find(' '));
    EXPECT_EQ(run.exitCode, 2) << bad.arguments << ":\n" << run.output;
    EXPECT_TRUE(contains(run.output, "fx60 " + command + ": ")) << bad.arguments << ":\n" << run.output;
    EXPECT_TRUE(contains(run.output, bad.message)) << bad.arguments << ":\n" << run.output;
    EXPECT_TRUE(contains(run.output, "usage: fx60 " + command)) << run.output;
  }
}

class Fx60Files : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = testing::generatedPrintFile(1, 1);
    ASSERT_FALSE(image_.empty());
  }
  testing::ScratchFolder scratch_{"fx60-files"};
  fs::path image_;
};

TEST_F(Fx60Files, InputsThatAreNotReadableFilesGetOneLineAndExitOne) {
  const fs::path folder = scratch_ / "folder";
  const fs::path fifo = scratch_ / "fifo.pgm";
  const fs::path empty = scratch_ / "empty.pgm";
  const fs::path unreadable = scratch_ / "unreadable.pgm";
  const fs::path missing = scratch_ / "missing.pgm";
  fs::create_directories(folder);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(empty).close();
  fs::copy_file(image_, unreadable);
  fs::permissions(unreadable, fs::perms::none);
  std::vector<fs::path> inputs{folder, fifo, empty, missing};
  if (::access(unreadable.c_str(), R_OK) != 0) inputs.push_back(unreadable);  // root reads anything

  const std::string good = quoted(image_);
  for (const fs::path& input : inputs) {
    for (const std::string& arguments : {"quality " + quoted(input), "extract " + quoted(input),
                                         "match " + good + " " + quoted(input), "match " + quoted(input) + " " + good,
                                         "eval " + quoted(input)}) {
      const auto run = runFx60(arguments, 20);
      EXPECT_EQ(run.exitCode, 1) << arguments << ":\n" << run.output;
      EXPECT_TRUE(contains(run.output, input.string())) << arguments << ":\n" << run.output;
      EXPECT_FALSE(contains(run.output, "terminate")) << arguments << ":\n" << run.output;
    }
  }
  EXPECT_TRUE(contains(runFx60("quality " + quoted(folder)).output, "is a folder, not a file"));
  EXPECT_TRUE(contains(runFx60("quality " + quoted(fifo), 20).output, "is a FIFO, not a regular file"));
  EXPECT_TRUE(contains(runFx60("quality " + quoted(empty)).output, "the file is empty"));
}

TEST_F(Fx60Files, OutputsAreWrittenInTheFormatOfTheirNameOrRefused) {
  const std::string image = quoted(image_);
  const auto jpeg = runFx60("extract " + image + " --overlay " + quoted(scratch_ / "overlay.jpg"));
  EXPECT_EQ(jpeg.exitCode, 2);
  EXPECT_TRUE(contains(jpeg.output, "cannot write .jpg files; the name must end in .png")) << jpeg.output;
  EXPECT_FALSE(fs::exists(scratch_ / "overlay.jpg"));

  const auto pictureTemplate = runFx60("extract " + image + " -o " + quoted(scratch_ / "t.png"));
  EXPECT_EQ(pictureTemplate.exitCode, 2);
  EXPECT_TRUE(contains(pictureTemplate.output, "use a .tpl name")) << pictureTemplate.output;
  EXPECT_FALSE(fs::exists(scratch_ / "t.png"));

  ASSERT_EQ(runFx60("extract " + image + " --overlay " + quoted(scratch_ / "o.pgm")).exitCode, 0);
  EXPECT_EQ(fileText(scratch_ / "o.pgm").substr(0, 2), "P5");
  ASSERT_EQ(runFx60("extract " + image + " --overlay " + quoted(scratch_ / "o.ppm")).exitCode, 0);
  EXPECT_EQ(fileText(scratch_ / "o.ppm").substr(0, 2), "P6");
  const auto png = runFx60("extract " + image + " --overlay " + quoted(scratch_ / "o.PNG"));
  if (!contains(png.output, "cannot write PNG")) {
    EXPECT_EQ(fileText(scratch_ / "o.PNG").substr(0, 4), "\x89PNG");
  }

  const auto intoFolder = runFx60("extract " + image + " -o " + quoted(scratch_.path()));
  EXPECT_EQ(intoFolder.exitCode, 1);
  EXPECT_TRUE(contains(intoFolder.output, "is a folder; give a file name")) << intoFolder.output;

  ASSERT_EQ(::mkfifo((scratch_ / "unread.tpl").c_str(), 0600), 0);
  const auto intoFifo = runFx60("extract " + image + " -o " + quoted(scratch_ / "unread.tpl"), 20);
  EXPECT_EQ(intoFifo.exitCode, 1);
  EXPECT_TRUE(contains(intoFifo.output, "unread.tpl: is a FIFO that no process reads")) << intoFifo.output;

  const auto det = runFx60("eval " + quoted(scratch_.path()) + " --det " + quoted(scratch_ / "det.png"));
  EXPECT_EQ(det.exitCode, 2);
  EXPECT_TRUE(contains(det.output, "the DET plot is SVG")) << det.output;
}

TEST_F(Fx60Files, AnImageWithoutAUsableTemplateIsANoAndWritesNoTemplate) {
  const fs::path blank = scratch_ / "blank.pgm";
  ASSERT_TRUE(testing::writeGeneratedPgm(blank, std::vector<uint8_t>(256 * 360, 255)));
  const fs::path tpl = scratch_ / "blank.tpl";
  const auto run = runFx60("extract " + quoted(blank) + " -o " + quoted(tpl));
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_TRUE(contains(run.output, "gives no usable template (template quality 0, below 20); nothing written"))
      << run.output;
  EXPECT_FALSE(fs::exists(tpl));
}

}  // namespace
}  // namespace fx60
