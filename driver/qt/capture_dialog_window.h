// The capture dialog's window: the picture the worker draws each captured image
// into, the quality box and the cancel button, laid out from dialog template 7000.
#pragma once

#include <QDialog>
#include <QImage>
#include <QWidget>
#include <mutex>

#include "driver/capture_dialog_view.h"

class QLineEdit;
class QPushButton;

namespace fx60::ui {

// Control 7000: bitmap 7001 at its own size until the first image arrives, then
// each image at 256 x 360 device pixels from the top-left corner, whatever the
// control's size.
class PreviewPicture final : public QWidget {
 public:
  explicit PreviewPicture(QWidget* parent);
  void showImage(QImage image);
  bool showsCapturedImage() const { return captured_; }
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  bool captured_ = false;
};

class CaptureDialogWindow final : public QDialog, public CaptureDialogView {
 public:
  CaptureDialogWindow(CaptureDialogHandlers& handlers, QWidget* parent);

  // CaptureDialogView, from the worker.
  void showPreview(const uint8_t* image) override;
  void setQualityText(const char* text) override;
  void closeDialog() override;

  // Ends the dialog now, for a program that is quitting.
  void endNow() { done(QDialog::Rejected); }

  static constexpr const char* kObjectName = "CaptureDialog";

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override {}  // Escape and the window system's close leave the dialog open

 private:
  void showLatestPreview();

  CaptureDialogHandlers& handlers_;
  PreviewPicture* picture_;
  QLineEdit* quality_;
  QPushButton* cancel_;

  std::mutex previewLock_;
  QImage pendingPreview_;  // the newest image not shown yet
  bool previewPosted_ = false;
};

}  // namespace fx60::ui
