#include "station/cli/commands.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <utility>

#include "station/idvbench_dlg.h"

namespace fx60::station {

namespace {

std::string_view trim(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

constexpr std::array<std::pair<std::string_view, Command::Kind>, 9> kButtons{{
    {"serial", Command::Kind::Serial},
    {"collect", Command::Kind::Collect},
    {"compare", Command::Kind::Compare},
    {"verify", Command::Kind::Verify},
    {"clear", Command::Kind::Clear},
    {"exit", Command::Kind::Exit},
    {"enter", Command::Kind::Enter},
    {"about", Command::Kind::About},
    {"ok", Command::Kind::Ok},
}};

std::optional<int> wholeNumber(std::string_view text) {
  int value = -1;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::optional<Command> parseTrimmed(std::string_view line, std::string& error) {
  const size_t space = line.find_first_of(" \t");
  const std::string_view word = line.substr(0, space);
  const std::string_view rest = space == std::string_view::npos ? std::string_view() : trim(line.substr(space));

  for (const auto& [name, kind] : kButtons)
    if (word == name && rest.empty()) return Command{kind, {}, {}};
  if (word == "wait-idle" && rest.empty()) return Command{Command::Kind::WaitIdle, {}, {}};
  if (word == "wait-status" && !rest.empty()) return Command{Command::Kind::WaitStatus, std::string(rest), {}};
  if (word == "sleep" && wholeNumber(rest)) return Command{Command::Kind::Sleep, std::string(rest), {}};
  if (word == "capture-dialog" && (rest.empty() || wholeNumber(rest)))
    return Command{Command::Kind::CaptureDialog, std::string(rest), {}};
  if (word == "screenshot" && !rest.empty()) return Command{Command::Kind::Screenshot, std::string(rest), {}};
  error = "unknown command: " + std::string(line);
  return std::nullopt;
}

}  // namespace

std::optional<Command> parseCommand(std::string_view line, std::string& error) {
  line = trim(line);
  auto command = parseTrimmed(line, error);
  if (command) command->line = line;
  return command;
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

std::optional<int> parseWaitLimitSeconds(std::string_view text) {
  const auto seconds = wholeNumber(text);
  if (!seconds || *seconds < 1 || *seconds > kMaxWaitLimitSeconds) return std::nullopt;
  return seconds;
}

bool pressButton(CIdvBenchDlg& dialog, const Command& command) {
  switch (command.kind) {
    case Command::Kind::Serial: dialog.OnQuerySerial(); return true;
    case Command::Kind::Collect: dialog.OnCollect(); return true;
    case Command::Kind::Compare: dialog.OnCompare(); return true;
    case Command::Kind::Verify: dialog.OnVerify(); return true;
    case Command::Kind::Clear: dialog.clearInfo(); return true;
    case Command::Kind::Exit: dialog.OnCancel(); return true;
    case Command::Kind::Enter: dialog.OnOK(); return true;
    case Command::Kind::About: dialog.OnAbout(); return true;
    default: return false;
  }
}

bool ScriptWaits::start(const Command& command) {
  switch (command.kind) {
    case Command::Kind::WaitStatus:
    case Command::Kind::WaitIdle:
      end_ = Clock::now() + limit_;
      break;
    case Command::Kind::Sleep:
      end_ = Clock::now() + std::chrono::milliseconds(std::atoi(command.argument.c_str()));
      break;
    default:
      return false;
  }
  waiting_ = command;
  return true;
}

ScriptWaits::State ScriptWaits::poll() {
  if (!waiting_) return State::None;
  const bool over = waiting_->kind == Command::Kind::WaitStatus ? status_().find(waiting_->argument) != std::string::npos
                    : waiting_->kind == Command::Kind::WaitIdle ? !workflowRunning_()
                                                                : Clock::now() >= end_;
  if (over) {
    waiting_.reset();
    return State::Ended;
  }
  if (waiting_->kind != Command::Kind::Sleep && Clock::now() >= end_) {
    awaited_ = waiting_->argument;
    waiting_.reset();
    return State::TimedOut;
  }
  return State::Waiting;
}

}  // namespace fx60::station
