// The console front end's commands: the dialog's buttons by name, and waits.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fx60::station {

class CIdvBenchDlg;

struct Command {
  enum class Kind {
    Serial, Collect, Compare, Verify, Clear, Exit, Enter, About,  // the dialog's buttons and keys
    WaitStatus, WaitIdle, Sleep,                                  // waits
    Ok,             // OK on every open message box
    CaptureDialog,  // the driver library's capture dialog (the window only)
    Screenshot,     // a picture of the windows (the window only)
  };
  Kind kind;
  // The awaited status text; the milliseconds of a sleep; the quality threshold of
  // a capture dialog (may be empty); the file of a screenshot.
  std::string argument;
  std::string line;  // as written
};

// One command from one line; empty for an unknown one (`error` says why).
std::optional<Command> parseCommand(std::string_view line, std::string& error);

// The commands of a script, separated by ';' or line breaks; blank ones are
// skipped. Empty with `error` set at the first unknown command.
std::optional<std::vector<Command>> parseScript(std::string_view script, std::string& error);

// The longest a script's wait may last, from the --timeout option: a whole
// number of seconds from 1 to a day; empty for anything else.
std::optional<int> parseWaitLimitSeconds(std::string_view text);
inline constexpr int kMaxWaitLimitSeconds = 24 * 3600;

// Presses the dialog's button or key of a button command; false for any other.
bool pressButton(CIdvBenchDlg& dialog, const Command& command);

// The waits of a script (wait-status, wait-idle, sleep), which hold the next
// command back until they are over, or fail the run past a time limit.
class ScriptWaits {
 public:
  using Clock = std::chrono::steady_clock;
  ScriptWaits(std::function<std::string()> status, std::function<bool()> workflowRunning,
              std::chrono::milliseconds limit)
      : status_(std::move(status)), workflowRunning_(std::move(workflowRunning)), limit_(limit) {}

  // Starts the wait of a wait command; false for any other command.
  bool start(const Command& command);

  enum class State {
    None,      // no wait: the next command may come
    Waiting,
    Ended,     // the wait is over (reported once, then None)
    TimedOut,  // the awaited state did not come in time (reported once, then None)
  };
  State poll();

  // What a wait that timed out was waiting for, for the message.
  const std::string& awaited() const { return awaited_; }

 private:
  std::function<std::string()> status_;
  std::function<bool()> workflowRunning_;
  std::chrono::milliseconds limit_;
  std::optional<Command> waiting_;
  Clock::time_point end_;
  std::string awaited_;
};

}  // namespace fx60::station
