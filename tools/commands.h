// Subcommands of the fx60 tool. Each cmd_*.cpp defines one and registers it with
// a file-scope CommandRegistration.
#pragma once

#include <string>
#include <vector>

namespace fx60::tool {

using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;  // one line: arguments and options
  CommandFunction run;
};

std::vector<Command>& commandTable();

struct CommandRegistration {
  explicit CommandRegistration(Command command) { commandTable().push_back(command); }
};

}  // namespace fx60::tool
