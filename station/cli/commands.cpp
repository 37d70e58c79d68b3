#include "station/cli/commands.h"

#include <array>
#include <charconv>
#include <utility>

namespace fx60::station {

namespace {

std::string_view trim(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

constexpr std::array<std::pair<std::string_view, Command::Kind>, 8> kButtons{{
    {"serial", Command::Kind::Serial},
    {"collect", Command::Kind::Collect},
    {"compare", Command::Kind::Compare},
    {"verify", Command::Kind::Verify},
    {"clear", Command::Kind::Clear},
    {"exit", Command::Kind::Exit},
    {"enter", Command::Kind::Enter},
    {"about", Command::Kind::About},
}};

}  // namespace

std::optional<Command> parseCommand(std::string_view line, std::string& error) {
  line = trim(line);
  const size_t space = line.find_first_of(" \t");
  const std::string_view word = line.substr(0, space);
  const std::string_view rest = space == std::string_view::npos ? std::string_view() : trim(line.substr(space));

  for (const auto& [name, kind] : kButtons)
    if (word == name && rest.empty()) return Command{kind, {}};
  if (word == "wait-idle" && rest.empty()) return Command{Command::Kind::WaitIdle, {}};
  if (word == "wait-status" && !rest.empty()) return Command{Command::Kind::WaitStatus, std::string(rest)};
  if (word == "sleep") {
    int milliseconds = -1;
    const auto [end, status] = std::from_chars(rest.data(), rest.data() + rest.size(), milliseconds);
    if (status == std::errc() && end == rest.data() + rest.size() && milliseconds >= 0)
      return Command{Command::Kind::Sleep, std::string(rest)};
  }
  error = "unknown command: " + std::string(line);
  return std::nullopt;
}

std::optional<std::vector<Command>> parseScript(std::string_view script, std::string& error) {
  std::vector<Command> commands;
  while (!script.empty()) {
    const size_t end = script.find_first_of(";\n");
    const std::string_view line = trim(script.substr(0, end));
    script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
    if (line.empty()) continue;
    auto command = parseCommand(line, error);
    if (!command) return std::nullopt;
    commands.push_back(std::move(*command));
  }
  return commands;
}

}  // namespace fx60::station
