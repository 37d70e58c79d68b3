// Runs a command script against the station's window, from the window's event
// loop: the shared script player (station/cli/script_player.h) with the Qt
// window's boxes, about box, capture dialog and screenshots.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "station/cli/script_player.h"

namespace fx60::station {
class CIdvBenchDlg;
}

namespace fx60::station::ui {

class IdvBenchWindow;

class WindowScript final : public QObject {
 public:
  using Options = ScriptPlayer::Options;

  // `presenter` may be null (the program is ending without its dialog).
  WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options);

  void start() { timer_.start(); }

  // The program's exit code so far: 1 after a wait that timed out or a screenshot
  // that could not be written.
  int exitCode() const { return player_.exitCode(); }

  // Whether the program may end now; when a capture dialog is still open it is
  // cancelled, and `then` runs once it has closed.
  bool readyToEnd(std::function<void()> then);

 private:
  ScriptPlayer player_;
  QTimer timer_;
};

}  // namespace fx60::station::ui
