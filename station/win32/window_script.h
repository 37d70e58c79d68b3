// Runs a command script against the station's window, from the window's own
// ticks: the console front end's commands, plus OK on the open boxes, the driver
// library's capture dialog and screenshots.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <functional>
#include <thread>

#include "station/cli/commands.h"

namespace fx60::station {
class CIdvBenchDlg;
}

namespace fx60::station::win32 {

class IdvBenchWindow;

class WindowScript {
 public:
  struct Options {
    std::vector<Command> commands;
    bool scripted = false;                   // the end of the script ends the program
    std::string finalScreenshot;  // a file taken once the script is done; then the program ends
    std::chrono::seconds waitLimit{60};
    bool trace = false;  // prints each command and how long each wait took
  };

  // `presenter` may be null (the program is ending without its dialog).
  WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options);
  ~WindowScript();
  WindowScript(const WindowScript&) = delete;
  WindowScript& operator=(const WindowScript&) = delete;

  void start();

  // The program's exit code so far: 1 after a wait that timed out or a screenshot
  // that could not be written.
  int exitCode() const { return exitCode_; }

  // Whether the program may end now; when a capture dialog is still open it is
  // cancelled, and `then` runs once it has closed.
  bool readyToEnd(std::function<void()> then);

 private:
  void tick();
  void step();
  void play(const Command& command);
  void openCaptureDialog(const std::string& threshold);
  void takeScreenshot(const std::string& file);
  void endProgram();

  IdvBenchWindow& window_;
  CIdvBenchDlg* presenter_;
  Options options_;
  std::deque<Command> pending_;
  ScriptWaits waits_;
  int exitCode_ = 0;
  bool running_ = false;  // the commands are played
  bool finished_ = false;
  std::function<void()> onCaptureDialogGone_;
  std::chrono::steady_clock::time_point lastPress_;

  std::thread captureDialog_;
  std::atomic<bool> captureDialogDone_{true};
};

}  // namespace fx60::station::win32
