// fx60: command-line access to the library's extractor, matcher and devices.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/library_api.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"

namespace fx60::tool {

std::vector<Command>& commandTable() {
  static std::vector<Command> table;
  return table;
}

}  // namespace fx60::tool

namespace {

using namespace fx60::tool;

const Command* findCommand(const char* name) {
  for (const Command& command : commandTable())
    if (std::strcmp(command.name, name) == 0) return &command;
  return nullptr;
}

void printOverview(FILE* out) {
  auto commands = commandTable();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
  std::fprintf(out, "usage: fx60 COMMAND [ARGUMENTS]\n       fx60 help COMMAND | COMMAND --help\n       fx60 --version\n\n"
                    "commands:\n");
  for (const Command& command : commands)
    std::fprintf(out, "  %s %s\n      %s\n", command.name, command.arguments, command.summary);
  std::fprintf(out,
               "\nexit status: 0 done (or yes: a match, a finger, a usable template), 1 failed (an input\n"
               "could not be read, an output not written, the module failed), 2 bad usage, 3 the\n"
               "command ran and the answer is no (no match, no usable template, no finger in time);\n"
               "each command's help says which apply.\n");
}

void printCommandHelp(const Command& command) {
  std::printf("usage: fx60 %s %s\n\n%s\n\n%s", command.name, command.arguments, command.summary, command.help);
}

void printVersion() {
  char driver[64] = {};
  char algorithm[64] = {};
  fx60::api::getDriverVersion(driver);
  fx60::api::getAlgVersion(algorithm);
  std::printf("driver:    %s\nalgorithm: %s\n", driver, algorithm);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    printOverview(stderr);
    return kExitUsage;
  }
  const std::string& first = args[0];
  if (first == "-h" || first == "--help" || (first == "help" && args.size() == 1)) {
    printOverview(stdout);
    return kExitDone;
  }
  if (first == "--version") {
    printVersion();
    return kExitDone;
  }
  if (first == "help") {
    if (const Command* command = findCommand(args[1].c_str())) {
      printCommandHelp(*command);
      return kExitDone;
    }
    std::fprintf(stderr, "fx60: no command '%s' (fx60 --help lists them)\n", args[1].c_str());
    return kExitUsage;
  }
  const Command* command = findCommand(first.c_str());
  if (command == nullptr) {
    std::fprintf(stderr, "fx60: unknown command '%s' (fx60 --help lists them)\n", first.c_str());
    return kExitUsage;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (asksForHelp(rest)) {
    printCommandHelp(*command);
    return kExitDone;
  }
  const int status = command->run(rest);
  if (status == kExitUsage)
    std::fprintf(stderr, "usage: fx60 %s %s (fx60 %s --help for more)\n", command->name, command->arguments,
                 command->name);
  return status;
}
