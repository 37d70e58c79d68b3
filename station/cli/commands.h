// The console front end's commands: the dialog's buttons by name, and waits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fx60::station {

struct Command {
  enum class Kind { Serial, Collect, Compare, Verify, Clear, Exit, Enter, About, WaitStatus, WaitIdle, Sleep };
  Kind kind;
  std::string argument;  // the awaited status text; the milliseconds of a sleep
};

// One command from one line; empty for an unknown one (`error` says why).
std::optional<Command> parseCommand(std::string_view line, std::string& error);

// The commands of a script, separated by ';' or line breaks; blank ones are
// skipped. Empty with `error` set at the first unknown command.
std::optional<std::vector<Command>> parseScript(std::string_view script, std::string& error);

}  // namespace fx60::station
