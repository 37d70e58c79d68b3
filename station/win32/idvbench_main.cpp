// IdvBench.exe: the identity verification station's window on Windows. The
// station's presenter drives the native dialog of the program's resources.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_services.h"
#include "station/idvbench_app.h"
#include "station/idvbench_dlg.h"
#include "station/win32/idvbench_window.h"
#include "station/win32/wide_text.h"
#include "station/win32/window_script.h"

namespace {

using namespace fx60::station;

constexpr const char* kUsage =
    "usage: IdvBench [--script \"COMMAND; COMMAND...\"] [--timeout SECONDS] [--screenshot FILE.png] [--trace]\n"
    "\n"
    "The identity verification station. With --script the commands run in turn and\n"
    "the program ends after the last one:\n"
    "  serial collect compare verify clear exit   press that button\n"
    "  enter, about                                the Enter key; the about box\n"
    "  ok                                          OK on every open message box\n"
    "  wait-status TEXT                            wait until the status line contains TEXT\n"
    "  wait-idle                                   wait until no workflow runs\n"
    "  sleep MS                                    wait MS milliseconds\n"
    "  capture-dialog [QUALITY]                    the library's capture dialog (threshold 60)\n"
    "  screenshot FILE.png                         a picture of the windows\n"
    "A wait longer than --timeout (default 60 s) ends the program with exit code 1.\n"
    "--screenshot writes a picture of the windows once the script is done (or at\n"
    "once) and ends the program. --trace prints each command and how long each wait\n"
    "took.\n";

struct Arguments {
  std::optional<std::vector<Command>> script;
  int timeoutSeconds = 60;
  std::string screenshot;
  bool trace = false;
};

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

// Our own options; 0 to go on, else the exit code.
int parseArguments(const std::vector<std::string>& argv, Arguments& arguments) {
  for (size_t i = 1; i < argv.size(); ++i) {
    std::string error;
    const bool hasValue = i + 1 < argv.size();
    if (argv[i] == "--script" && hasValue) {
      arguments.script = parseScript(argv[++i], error);
      if (!arguments.script) {
        std::fprintf(stderr, "IdvBench: %s\n", error.c_str());
        return 2;
      }
    } else if (argv[i] == "--timeout" && hasValue) {
      const auto limit = parseWaitLimitSeconds(argv[++i]);
      if (!limit) {
        std::fprintf(stderr, "IdvBench: --timeout takes whole seconds from 1 to %d, not '%s'\n", kMaxWaitLimitSeconds,
                     argv[i].c_str());
        return 2;
      }
      arguments.timeoutSeconds = *limit;
    } else if (argv[i] == "--screenshot" && hasValue) {
      arguments.screenshot = argv[++i];
    } else if (argv[i] == "--trace") {
      arguments.trace = true;
    } else {
      const bool help = argv[i] == "--help" || argv[i] == "-h";
      std::fputs(kUsage, help ? stdout : stderr);
      return help ? -1 : 2;
    }
  }
  return 0;
}

}  // namespace

int main() {
  Arguments arguments;
  if (const int code = parseArguments(commandLine(), arguments); code != 0) return code < 0 ? 0 : code;

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
  std::unique_ptr<CIdvBenchDlg> dialog;
  if (app.InitInstance(window)) {
    StationSettings settings;
    settings.programDirectory = fx60::platform::programDirectory();
    dialog = std::make_unique<CIdvBenchDlg>(window, settings);
    window.setPresenter(dialog.get());
    if (dialog->OnInitDialog()) window.show();  // else a box says why and the dialog ends
  }

  fx60::station::win32::WindowScript::Options options;
  options.scripted = arguments.script.has_value();
  if (arguments.script) options.commands = std::move(*arguments.script);
  options.finalScreenshot = arguments.screenshot;
  options.waitLimit = std::chrono::seconds(arguments.timeoutSeconds);
  options.trace = arguments.trace;
  script = std::make_unique<fx60::station::win32::WindowScript>(window, dialog.get(), std::move(options));
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
