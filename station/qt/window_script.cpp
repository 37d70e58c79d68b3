#include "station/qt/window_script.h"

#include <QApplication>
#include <QPushButton>
#include <QWidget>

#include "station/qt/idvbench_window.h"
#include "station/qt/screenshot.h"

namespace fx60::station::ui {

namespace {

ScriptPlayer::Hooks hooksOf(IdvBenchWindow& window) {
  ScriptPlayer::Hooks hooks;
  hooks.statusText = [&window] {
    const QWidget* status = window.control(static_cast<int>(ControlId::Status));
    return status == nullptr ? std::string() : status->property("text").toString().toStdString();
  };
  hooks.windowEnded = [&window] { return window.ended(); };
  hooks.dismissMessageBoxes = [&window] { window.dismissMessageBoxes(); };
  hooks.showAbout = [&window] { window.showAbout(); };
  hooks.saveScreenshot = [&window](const std::string& file, std::string& error) {
    QString message;
    const bool saved = saveScreenshot(&window, QString::fromStdString(file), message);
    error = message.toStdString();
    return saved;
  };
  hooks.closeWindow = [&window] { window.closeDialog(); };
  return hooks;
}

}  // namespace

WindowScript::WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options)
    : player_(presenter, std::move(options), hooksOf(window)) {
  timer_.setInterval(ScriptPlayer::kTick);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (!player_.step()) timer_.stop();
  });
}

bool WindowScript::readyToEnd(std::function<void()> then) {
  if (player_.captureDialogDone()) return true;
  // Cancel the capture dialog, again on every tick until it is gone: it may not
  // be open yet when the program starts to end.
  auto* poll = new QTimer(this);
  poll->setInterval(ScriptPlayer::kTick);
  connect(poll, &QTimer::timeout, this, [this, poll, then = std::move(then)] {
    if (player_.captureDialogDone()) {
      poll->deleteLater();
      then();
      return;
    }
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (widget->objectName() == QLatin1String("CaptureDialog"))
        if (auto* cancel = widget->findChild<QPushButton*>(QStringLiteral("7002"))) cancel->click();
  });
  poll->start();
  return false;
}

}  // namespace fx60::station::ui
