// The capture dialog plugin's entry point: runs the dialog in whatever program
// loaded the library. A program without Qt gets an application of the dialog's
// own for the call; a Qt program has the dialog on its user-interface thread.
#include <QApplication>
#include <QPointer>
#include <QStyleFactory>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "driver/capture_dialog_view.h"
#include "driver/qt/capture_dialog_window.h"
#include "platform/qt/display.h"

namespace {

using fx60::CaptureDialogHandlers;
using fx60::ui::CaptureDialogWindow;

// On the user-interface thread: the dialog, modal until it ends.
int runHere(CaptureDialogHandlers& handlers) {
  CaptureDialogWindow dialog(handlers, QApplication::activeWindow());
  handlers.OnInitDialog(dialog);
  dialog.exec();
  handlers.OnDestroy();
  return fx60::kCaptureDialogRan;
}

// Without an application: one of the dialog's own for the time of the call.
int runInOwnApplication(CaptureDialogHandlers& handlers) {
  QByteArray platform = fx60::ui::platformArgumentWithFallback();
  char name[] = "fx60link";
  char platformOption[] = "-platform";
  std::vector<char*> argv{name, platformOption, platform.data(), nullptr};
  int argc = 3;
  QApplication application(argc, argv.data());
  if (!fx60::ui::displayOpened(platform)) return fx60::kCaptureDialogNoDisplay;
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  return runHere(handlers);
}

// From another thread of a Qt program: the dialog opens on the program's
// user-interface thread, and this thread waits until it has ended.
int runOnInterfaceThread(CaptureDialogHandlers& handlers) {
  struct Ending {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
  } ending;
  QMetaObject::invokeMethod(
      qApp,
      [&handlers, &ending] {
        auto* dialog = new CaptureDialogWindow(handlers, QApplication::activeWindow());
        dialog->setWindowModality(Qt::ApplicationModal);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, &handlers, &ending] {
          // Once only: `handlers` and `ending` go when the waiting thread returns.
          QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
          QObject::disconnect(qApp, nullptr, dialog, nullptr);
          handlers.OnDestroy();
          dialog->deleteLater();
          std::lock_guard hold(ending.lock);
          ending.done = true;
          ending.ended.notify_all();
        });
        // A program that quits ends the dialog rather than leave this thread waiting.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, dialog, [dialog] { dialog->endNow(); });
        handlers.OnInitDialog(*dialog);
        dialog->show();
      },
      Qt::QueuedConnection);
  std::unique_lock wait(ending.lock);
  ending.ended.wait(wait, [&] { return ending.done; });
  return fx60::kCaptureDialogRan;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int fx60RunCaptureDialog(CaptureDialogHandlers* handlers,
                                                                          int interfaceVersion) {
  if (interfaceVersion != fx60::kCaptureDialogInterface) return fx60::kCaptureDialogWrongVersion;
  if (handlers == nullptr) return fx60::kCaptureDialogNoDisplay;
  QCoreApplication* running = QCoreApplication::instance();
  if (running == nullptr) return runInOwnApplication(*handlers);
  // A Qt program without widgets has no place for a dialog.
  if (qobject_cast<QApplication*>(running) == nullptr) return fx60::kCaptureDialogNoDisplay;
  if (QThread::currentThread() == running->thread()) return runHere(*handlers);
  return runOnInterfaceThread(*handlers);
}
