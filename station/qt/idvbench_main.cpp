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

}  // namespace

int main(int argc, char** argv) {
  WindowArguments arguments;
  const int code = parseWindowArguments(std::vector<std::string>(argv + 1, argv + argc), arguments,
                                        "With --screenshot the windows draw offscreen unless QT_QPA_PLATFORM says\n"
                                        "otherwise.\n");
  if (code != 0) return code < 0 ? 0 : code;

  QByteArray platform = fx60::ui::platformArgumentWithFallback(arguments.screenshot.empty() ? "" : "offscreen");
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
  std::unique_ptr<CIdvBenchDlg> dialog = startStation(app, window);
  if (dialog) {
    window.setPresenter(dialog.get());
    if (dialog->OnInitDialog()) window.show();  // else a box says why and the dialog ends
  }

  script = std::make_unique<fx60::station::ui::WindowScript>(window, dialog.get(),
                                                             scriptOptions(std::move(arguments)));
  if (!window.ended()) script->start();

  const int status = QApplication::exec();
  window.setPresenter(nullptr);
  dialog.reset();
  const int exitCode = status != 0 ? status : script->exitCode();
  script.reset();
  return exitCode;
}
