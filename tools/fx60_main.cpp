// fx60: command-line access to the library's extractor, matcher and devices.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/commands.h"

namespace fx60::tool {

std::vector<Command>& commandTable() {
  static std::vector<Command> table;
  return table;
}

}  // namespace fx60::tool

namespace {

void printUsage(FILE* out) {
  auto commands = fx60::tool::commandTable();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
  std::fprintf(out, "usage: fx60 COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& command : commands) std::fprintf(out, "  %s %s\n", command.name, command.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    printUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto& command : fx60::tool::commandTable()) {
    if (std::strcmp(command.name, argv[1]) == 0) {
      return command.run(std::vector<std::string>(argv + 2, argv + argc));
    }
  }
  std::fprintf(stderr, "fx60: unknown command '%s'\n", argv[1]);
  printUsage(stderr);
  return 2;
}
