// The part of the windows' command scripts that every window shares: plays the
// console front end's commands against the presenter, one step per tick of the
// window's own timer, and what only a window has (OK on the open boxes, the
// about box, the driver library's capture dialog, screenshots) through hooks the
// window gives. Also the windows' common command line.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "station/cli/commands.h"

namespace fx60::station {

class CIdvBenchDlg;

// --script, --timeout, --screenshot and --trace of the station's windows.
struct WindowArguments {
  std::optional<std::vector<Command>> script;
  int timeoutSeconds = 60;
  std::string screenshot;  // empty: none
  bool trace = false;
};

// Parses the options after the program name. 0 to go on; else the exit code
// (-1: --help was answered, exit with 0), with the message printed. `usageNote`
// ends the usage text (what the window's toolkit adds).
int parseWindowArguments(const std::vector<std::string>& arguments, WindowArguments& parsed,
                         std::string_view usageNote = {});

class ScriptPlayer {
 public:
  struct Options {
    std::vector<Command> commands;
    bool scripted = false;        // the end of the script ends the program
    std::string finalScreenshot;  // taken once the script is done; then the program ends
    std::chrono::seconds waitLimit{60};
    bool trace = false;           // prints each command and how long each wait took
  };

  // What the window does for the script, on the window's thread.
  struct Hooks {
    std::function<std::string()> statusText;
    std::function<bool()> windowEnded;
    std::function<void()> dismissMessageBoxes;
    std::function<void()> showAbout;
    std::function<bool(const std::string& file, std::string& error)> saveScreenshot;
    std::function<void()> closeWindow;  // ends the window when there is no presenter
  };

  // `presenter` may be null (the program is ending without its dialog).
  ScriptPlayer(CIdvBenchDlg* presenter, Options options, Hooks hooks);
  ~ScriptPlayer();  // waits for a capture dialog it opened
  ScriptPlayer(const ScriptPlayer&) = delete;
  ScriptPlayer& operator=(const ScriptPlayer&) = delete;

  // One tick: plays the next command when no wait holds it back. False once
  // there is nothing more to play and the window stays with the operator.
  bool step();

  // The program's exit code so far: 1 after a wait that timed out or a
  // screenshot that could not be written.
  int exitCode() const { return exitCode_; }

  // Whether no capture dialog opened by the script is running.
  bool captureDialogDone() const { return captureDialogDone_.load(); }

  static constexpr std::chrono::milliseconds kTick{10};

 private:
  void play(const Command& command);
  void openCaptureDialog(const std::string& threshold);
  void takeScreenshot(const std::string& file);
  void endProgram();

  CIdvBenchDlg* presenter_;
  Options options_;
  Hooks hooks_;
  std::deque<Command> pending_;
  ScriptWaits waits_;
  int exitCode_ = 0;
  bool finished_ = false;
  std::chrono::steady_clock::time_point lastPress_;

  std::thread captureDialog_;
  std::atomic<bool> captureDialogDone_{true};
};

// The script's options from the command line.
ScriptPlayer::Options scriptOptions(WindowArguments arguments);

}  // namespace fx60::station
