// IdvBench: the identity verification station's window. The station's presenter
// drives a Qt dialog laid out from the design's dialog template.
#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_services.h"
#include "platform/qt/dialog_font.h"
#include "platform/qt/display.h"
#include "station/idvbench_app.h"
#include "station/idvbench_dlg.h"
#include "station/dialog_templates.h"
#include "station/qt/idvbench_window.h"
#include "station/qt/station_bitmaps.h"
#include "station/qt/window_script.h"

namespace {

using namespace fx60::station;
using fx60::station::ui::kDialogFontPoints;

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
    "once) and ends the program; it draws offscreen unless QT_QPA_PLATFORM says\n"
    "otherwise. --trace prints each command and how long each wait took.\n";

struct Arguments {
  std::optional<std::vector<Command>> script;
  int timeoutSeconds = 60;
  QString screenshot;
  bool trace = false;
};

// Our own options; 0 to go on, else the exit code.
int parseArguments(int argc, char** argv, Arguments& arguments) {
  for (int i = 1; i < argc; ++i) {
    std::string error;
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--script") == 0 && hasValue) {
      arguments.script = parseScript(argv[++i], error);
      if (!arguments.script) {
        std::fprintf(stderr, "IdvBench: %s\n", error.c_str());
        return 2;
      }
    } else if (std::strcmp(argv[i], "--timeout") == 0 && hasValue) {
      const auto limit = parseWaitLimitSeconds(argv[++i]);
      if (!limit) {
        std::fprintf(stderr, "IdvBench: --timeout takes whole seconds from 1 to %d, not '%s'\n", kMaxWaitLimitSeconds,
                     argv[i]);
        return 2;
      }
      arguments.timeoutSeconds = *limit;
    } else if (std::strcmp(argv[i], "--screenshot") == 0 && hasValue) {
      arguments.screenshot = QString::fromLocal8Bit(argv[++i]);
    } else if (std::strcmp(argv[i], "--trace") == 0) {
      arguments.trace = true;
    } else {
      const bool help = std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0;
      std::fputs(kUsage, help ? stdout : stderr);
      return help ? -1 : 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (const int code = parseArguments(argc, argv, arguments); code != 0) return code < 0 ? 0 : code;

  QByteArray platform = fx60::ui::platformArgumentWithFallback(arguments.screenshot.isEmpty() ? "" : "offscreen");
  char platformOption[] = "-platform";
  std::vector<char*> qtArguments{argv[0], platformOption, platform.data(), nullptr};
  int qtArgumentCount = 3;
  QApplication application(qtArgumentCount, qtArguments.data());
  if (!fx60::ui::displayOpened(platform)) {
    const QByteArray display = qgetenv("DISPLAY");
    std::fprintf(stderr,
                 "IdvBench: no display could be opened (DISPLAY is %s). Start it in a desktop session, "
                 "under xvfb-run, or with --screenshot FILE for a picture drawn offscreen.\n",
                 display.isEmpty() ? "not set" : display.constData());
    return 1;
  }
  QApplication::setApplicationName(QStringLiteral("IdvBench"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setPalette(QApplication::style()->standardPalette());
  QApplication::setWindowIcon(fx60::station::ui::stationIcon());
  // The message boxes too speak in the dialogs' font.
  QApplication::setFont(fx60::ui::dialogFont(kDialogFontPoints));
  if (fx60::ui::songStyleFamily().isEmpty())
    std::fprintf(stderr,
                 "IdvBench: no Song style Chinese font is installed (Debian: fonts-arphic-uming or "
                 "fonts-noto-cjk); Chinese text may show as empty boxes.\n");

  std::unique_ptr<fx60::station::ui::WindowScript> script;
  fx60::station::ui::IdvBenchWindow window([&script] {
    // The dialog has ended: the program ends, once a capture dialog it opened is gone.
    auto quit = [] { QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection); };
    if (!script || script->readyToEnd(quit)) quit();
  });

  CIdvBenchApp app;
  std::unique_ptr<CIdvBenchDlg> dialog;
  if (app.InitInstance(window)) {
    StationSettings settings;
    settings.programDirectory = fx60::platform::programDirectory();
    dialog = std::make_unique<CIdvBenchDlg>(window, settings);
    window.setPresenter(dialog.get());
    if (dialog->OnInitDialog()) window.show();  // else a box says why and the dialog ends
  }

  fx60::station::ui::WindowScript::Options options;
  options.scripted = arguments.script.has_value();
  if (arguments.script) options.commands = std::move(*arguments.script);
  options.finalScreenshot = arguments.screenshot;
  options.waitLimit = std::chrono::seconds(arguments.timeoutSeconds);
  options.trace = arguments.trace;
  script = std::make_unique<fx60::station::ui::WindowScript>(window, dialog.get(), std::move(options));
  if (!window.ended()) script->start();

  const int status = QApplication::exec();
  window.setPresenter(nullptr);
  dialog.reset();
  const int exitCode = status != 0 ? status : script->exitCode();
  script.reset();
  return exitCode;
}
