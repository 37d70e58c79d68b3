// IdvBench.exe: the identity verification station's window on Windows. The
// station's presenter drives the native dialog of the program's resources.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "station/idvbench_app.h"
#include "station/idvbench_dlg.h"
#include "station/win32/idvbench_window.h"
#include "station/win32/wide_text.h"
#include "station/win32/window_script.h"

namespace {

using namespace fx60::station;

// The command line as UTF-8, whatever the system's code page: the script's
// texts are compared with the window's.
std::vector<std::string> commandLine() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(fx60::station::win32::narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace

int main() {
  WindowArguments arguments;
  std::vector<std::string> line = commandLine();
  if (!line.empty()) line.erase(line.begin());  // the program's name
  if (const int code = parseWindowArguments(line, arguments); code != 0) return code < 0 ? 0 : code;

  std::unique_ptr<fx60::station::win32::WindowScript> script;
  fx60::station::win32::IdvBenchWindow window(GetModuleHandleW(nullptr), [&script] {
    // The dialog has ended: the program ends, once a capture dialog it opened is gone.
    auto quit = [] { PostQuitMessage(0); };
    if (!script || script->readyToEnd(quit)) quit();
  });
  if (!window.create()) {
    std::fprintf(stderr, "IdvBench: the dialog cannot be shown (no display?)\n");
    return 1;
  }

  CIdvBenchApp app;
  std::unique_ptr<CIdvBenchDlg> dialog = startStation(app, window);
  if (dialog) {
    window.setPresenter(dialog.get());
    if (dialog->OnInitDialog()) window.show();  // else a box says why and the dialog ends
  }

  script = std::make_unique<fx60::station::win32::WindowScript>(window, dialog.get(),
                                                                scriptOptions(std::move(arguments)));
  if (!window.ended()) script->start();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.translateDialogMessage(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  window.setPresenter(nullptr);
  dialog.reset();
  const int exitCode = script->exitCode();
  script.reset();
  return exitCode;
}
