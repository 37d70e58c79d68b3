// idvbench-cli: the station without a window. The dialog's buttons are commands
// on standard input, one per line, or a script given with --script; everything
// the dialog would show is printed as it happens.
#include <chrono>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/process_services.h"
#include "platform/standard_input.h"
#include "station/cli/commands.h"
#include "station/cli/text_view.h"
#include "station/idvbench_app.h"
#include "station/idvbench_dlg.h"

namespace {

using namespace fx60::station;

constexpr const char* kUsage =
    "usage: idvbench-cli [--script \"COMMAND; COMMAND...\"] [--timeout SECONDS]\n"
    "\n"
    "Runs the identity verification station without a window. Commands, from the\n"
    "script or one per line on standard input (the end of the input exits):\n"
    "  serial collect compare verify clear exit   press that button\n"
    "  enter, about, ok                            the Enter key; the about box; OK on a box\n"
    "  wait-status TEXT                            wait until the status line contains TEXT\n"
    "  wait-idle                                   wait until no workflow runs\n"
    "  sleep MS                                    wait MS milliseconds\n"
    "A wait that lasts longer than --timeout (default 60 s) ends the program with\n"
    "exit code 1.\n";

// Commands from the script, or as lines arrive on standard input.
class CommandFeed {
 public:
  explicit CommandFeed(std::optional<std::vector<Command>> script) : fromScript_(script.has_value()) {
    if (script) queued_.assign(script->begin(), script->end());
  }

  // The next command if one is there; after the end of the input, exit.
  std::optional<Command> next() {
    if (queued_.empty() && !fromScript_ && !ended_) readInput();
    if (!queued_.empty()) {
      Command command = queued_.front();
      queued_.pop_front();
      return command;
    }
    if (ended_ || fromScript_) return Command{Command::Kind::Exit, {}, {}};
    return std::nullopt;
  }

 private:
  void readInput() {
    switch (fx60::platform::readReadyStandardInput(partial_)) {
      case fx60::platform::InputRead::Nothing:
        return;
      case fx60::platform::InputRead::Ended:
        ended_ = true;
        if (!partial_.empty()) takeLine(std::exchange(partial_, {}));
        return;
      case fx60::platform::InputRead::Data:
        break;
    }
    for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
      takeLine(partial_.substr(0, end));
      partial_.erase(0, end + 1);
    }
  }

  void takeLine(const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    std::string error;
    if (auto command = parseCommand(line, error)) {
      queued_.push_back(std::move(*command));
    } else {
      std::cout << "error: " << error << std::endl;
    }
  }

  bool fromScript_;
  bool ended_ = false;
  std::string partial_;
  std::deque<Command> queued_;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::vector<Command>> script;
  int timeoutSeconds = 60;
  const std::vector<std::string> args = fx60::platform::programArguments(argc, argv);
  const size_t count = args.size();
  for (size_t i = 1; i < count; ++i) {
    std::string error;
    if (args[i] == "--script" && i + 1 < count) {
      script = parseScript(args[++i], error);
      if (!script) {
        std::cerr << "idvbench-cli: " << error << "\n";
        return 2;
      }
    } else if (args[i] == "--timeout" && i + 1 < count) {
      const auto limit = parseWaitLimitSeconds(args[++i]);
      if (!limit) {
        std::cerr << "idvbench-cli: --timeout takes whole seconds from 1 to " << kMaxWaitLimitSeconds << ", not '"
                  << args[i] << "'\n";
        return 2;
      }
      timeoutSeconds = *limit;
    } else {
      std::cerr << kUsage;
      return args[i] == "--help" || args[i] == "-h" ? 0 : 2;
    }
  }

  TaskLoop loop;
  TextView view(loop, std::cout);
  CIdvBenchApp app;
  std::unique_ptr<CIdvBenchDlg> dialog = startStation(app, view);
  if (dialog) dialog->OnInitDialog();  // on failure the dialog closes after its box

  CommandFeed feed(std::move(script));
  ScriptWaits waits([&view] { return view.status(); }, [&dialog] { return dialog->workflowRunning(); },
                    std::chrono::seconds(timeoutSeconds));
  int exitCode = 0;
  while (!view.closed()) {
    loop.runPending(std::chrono::milliseconds(10));
    if (view.closed() || !dialog) continue;
    switch (waits.poll()) {
      case ScriptWaits::State::Waiting:
        continue;
      case ScriptWaits::State::Ended:
        loop.runPending();  // what the ended workflow showed last
        continue;
      case ScriptWaits::State::TimedOut:
        std::cout << "error: timed out waiting" << (waits.awaited().empty() ? "" : " for ") << waits.awaited()
                  << std::endl;
        exitCode = 1;
        dialog->OnCancel();
        continue;
      case ScriptWaits::State::None:
        break;
    }
    const std::optional<Command> command = feed.next();
    if (!command || waits.start(*command) || pressButton(*dialog, *command)) continue;
    // Boxes are answered at once here; the windows are the graphical program's.
    if (command->kind == Command::Kind::CaptureDialog || command->kind == Command::Kind::Screenshot)
      std::cout << "error: only the station's window (IdvBench) has " << (command->kind == Command::Kind::Screenshot ? "screenshots" : "the capture dialog") << std::endl;
  }
  dialog.reset();
  return exitCode;
}
