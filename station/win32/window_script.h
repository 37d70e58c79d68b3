// Runs a command script against the station's window, from the window's own
// ticks: the shared script player (station/cli/script_player.h) with the native
// window's boxes, about box and screenshots.
#pragma once

#include <functional>

#include "station/cli/script_player.h"

namespace fx60::station {
class CIdvBenchDlg;
}

namespace fx60::station::win32 {

class IdvBenchWindow;

class WindowScript {
 public:
  using Options = ScriptPlayer::Options;

  // `presenter` may be null (the program is ending without its dialog).
  WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options);

  void start();

  // The program's exit code so far: 1 after a wait that timed out or a screenshot
  // that could not be written.
  int exitCode() const { return player_.exitCode(); }

  // Whether the program may end now; when a capture dialog is still open it is
  // cancelled, and `then` runs once it has closed.
  bool readyToEnd(std::function<void()> then);

 private:
  void tick();

  IdvBenchWindow& window_;
  ScriptPlayer player_;
  bool playing_ = false;
  std::function<void()> onCaptureDialogGone_;
};

}  // namespace fx60::station::win32
