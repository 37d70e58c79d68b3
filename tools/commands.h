// Subcommands of the fx60 tool. Each cmd_*.cpp defines one or more and registers
// them with a file-scope CommandRegistration.
#pragma once

#include <string>
#include <vector>

namespace fx60::tool {

// Exit status of every command. Each command's help says what they mean for it.
inline constexpr int kExitDone = 0;    // done; the answer is yes (a match, a finger, a usable template)
inline constexpr int kExitFailed = 1;  // an input could not be read, an output not written, the device failed
inline constexpr int kExitUsage = 2;   // bad usage: unknown option, bad value, missing argument
inline constexpr int kExitNo = 3;      // the command ran and the answer is no

using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* arguments;  // the usage line after "fx60 NAME"
  const char* summary;    // what the command does, in one line
  const char* help;       // options with meaning, default and range; exit status; an example
  CommandFunction run;
};

std::vector<Command>& commandTable();

struct CommandRegistration {
  explicit CommandRegistration(Command command) { commandTable().push_back(command); }
};

}  // namespace fx60::tool
