#include "station/qt/window_script.h"

#include <QApplication>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdio>

#include "fx60link.h"
#include "station/idvbench_dlg.h"
#include "station/qt/idvbench_window.h"
#include "station/qt/screenshot.h"

namespace fx60::station::ui {

namespace {

constexpr std::chrono::milliseconds kTick{10};
constexpr int kDefaultCaptureThreshold = 60;
constexpr int kTemplateBytes = 512;

std::string statusOf(const IdvBenchWindow& window) {
  const QWidget* status = window.control(static_cast<int>(ControlId::Status));
  return status == nullptr ? std::string() : status->property("text").toString().toStdString();
}

}  // namespace

WindowScript::WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options)
    : window_(window),
      presenter_(presenter),
      options_(std::move(options)),
      pending_(options_.commands.begin(), options_.commands.end()),
      waits_([this] { return statusOf(window_); },
             [this] { return presenter_ != nullptr && presenter_->workflowRunning(); }, options_.waitLimit) {
  timer_.setInterval(kTick);
  connect(&timer_, &QTimer::timeout, this, &WindowScript::step);
}

WindowScript::~WindowScript() {
  if (captureDialog_.joinable()) captureDialog_.join();
}

void WindowScript::trace(const QString& line) const {
  if (!options_.trace) return;
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

void WindowScript::step() {
  if (finished_ || window_.ended()) return;
  switch (waits_.poll()) {
    case ScriptWaits::State::Waiting:
      return;
    case ScriptWaits::State::TimedOut:
      std::fprintf(stderr, "IdvBench: timed out waiting%s%s\n", waits_.awaited().empty() ? "" : " for ",
                   waits_.awaited().c_str());
      exitCode_ = 1;
      endProgram();
      return;
    case ScriptWaits::State::Ended: {
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastPress_);
      trace(QStringLiteral("# wait over, %1 ms after the last command").arg(took.count()));
      break;
    }
    case ScriptWaits::State::None:
      break;
  }
  if (!pending_.empty()) {
    const Command command = pending_.front();
    pending_.pop_front();
    play(command);
    return;
  }
  if (!options_.finalScreenshot.isEmpty()) {
    takeScreenshot(options_.finalScreenshot);
    endProgram();
  } else if (options_.scripted) {
    endProgram();
  } else {
    timer_.stop();  // nothing more to do: the operator has the window
  }
}

void WindowScript::play(const Command& command) {
  const bool isWait = command.kind == Command::Kind::WaitStatus || command.kind == Command::Kind::WaitIdle ||
                      command.kind == Command::Kind::Sleep;
  if (!isWait) lastPress_ = std::chrono::steady_clock::now();
  trace(QStringLiteral("# %1").arg(QString::fromStdString(command.line)));
  if (waits_.start(command)) return;
  switch (command.kind) {
    case Command::Kind::Ok: window_.dismissMessageBoxes(); return;
    case Command::Kind::About: window_.showAbout(); return;
    case Command::Kind::CaptureDialog: openCaptureDialog(command.argument); return;
    case Command::Kind::Screenshot: takeScreenshot(QString::fromStdString(command.argument)); return;
    default: break;
  }
  if (presenter_ != nullptr) pressButton(*presenter_, command);
}

void WindowScript::openCaptureDialog(const std::string& threshold) {
  if (!captureDialogDone_.load()) return;  // one at a time
  if (captureDialog_.joinable()) captureDialog_.join();
  const int quality = threshold.empty() ? kDefaultCaptureThreshold : std::atoi(threshold.c_str());
  captureDialogDone_.store(false);
  // The library runs the dialog on this program's interface thread and waits
  // for it on the calling thread, as a workflow would.
  captureDialog_ = std::thread([this, quality] {
    std::array<unsigned char, kTemplateBytes> featureTemplate{};
    const int status = zzExtractFingerprint(0, 0, featureTemplate.data(), quality, 1);
    std::printf("capture dialog: %d\n", status);
    std::fflush(stdout);
    captureDialogDone_.store(true);
  });
}

void WindowScript::takeScreenshot(const QString& file) {
  QString error;
  if (saveScreenshot(&window_, file, error)) {
    trace(QStringLiteral("# screenshot %1").arg(file));
    return;
  }
  std::fprintf(stderr, "IdvBench: cannot write the screenshot %s: %s\n", file.toUtf8().constData(),
               error.toUtf8().constData());
  exitCode_ = 1;
}

void WindowScript::endProgram() {
  finished_ = true;
  timer_.stop();
  if (presenter_ != nullptr) {
    presenter_->OnCancel();
  } else {
    window_.closeDialog();
  }
}

bool WindowScript::readyToEnd(std::function<void()> then) {
  if (captureDialogDone_.load()) return true;
  // Cancel the capture dialog, again on every tick until it is gone: it may not
  // be open yet when the program starts to end.
  auto* poll = new QTimer(this);
  poll->setInterval(kTick);
  connect(poll, &QTimer::timeout, this, [this, poll, then = std::move(then)] {
    if (captureDialogDone_.load()) {
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
