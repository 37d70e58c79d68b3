#include "driver/qt/capture_dialog_window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "platform/qt/dialog_font.h"
#include "platform/qt/dialog_units.h"

namespace fx60::ui {

namespace {

constexpr int kImageWidth = 256;
constexpr int kImageHeight = 360;

// Dialog template 7000: "宋体" 10 point, no system menu, no close box.
constexpr int kFontPoints = 10;
constexpr int kDialogWidth = 157;  // the controls with the left margin again on the right
constexpr int kDialogHeight = 256;
constexpr DialogRect kPictureRect{5, 6, 146, 222};
constexpr DialogRect kQualityLabelRect{5, 238, 50, 8};
constexpr DialogRect kQualityRect{56, 236, 30, 14};
constexpr DialogRect kCancelRect{110, 236, 42, 14};

constexpr const char* kInitialBitmap = ":/fx60link/bitmap7001.bmp";

bool isSwallowedKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease &&
      event->type() != QEvent::ShortcutOverride)
    return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

}  // namespace

PreviewPicture::PreviewPicture(QWidget* parent) : QWidget(parent), image_(QString::fromLatin1(kInitialBitmap)) {}

void PreviewPicture::showImage(QImage image) {
  image_ = std::move(image);
  captured_ = true;
  update();
}

void PreviewPicture::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter painter(this);
  if (captured_) {
    QImage shown = image_;
    shown.setDevicePixelRatio(devicePixelRatioF());
    painter.drawImage(QPoint(0, 0), shown);
  } else {
    painter.drawImage(QPoint(0, 0), image_);
  }
}

CaptureDialogWindow::CaptureDialogWindow(CaptureDialogHandlers& handlers, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), handlers_(handlers) {
  setObjectName(QString::fromLatin1(kObjectName));
  setWindowTitle(QStringLiteral("采集指纹特征"));
  setFont(dialogFont(kFontPoints));
  const DialogBaseUnits base = baseUnitsOf(font());
  setFixedSize(toPixels(kDialogWidth, kDialogHeight, base));

  picture_ = new PreviewPicture(this);
  picture_->setObjectName(QStringLiteral("7000"));
  picture_->setGeometry(toPixels(kPictureRect, base));

  auto* label = new QLabel(QStringLiteral("图像质量分数:"), this);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(toPixels(kQualityLabelRect, base));

  quality_ = new QLineEdit(this);
  quality_->setObjectName(QStringLiteral("7001"));
  quality_->setReadOnly(true);
  quality_->setGeometry(toPixels(kQualityRect, base));

  cancel_ = new QPushButton(QStringLiteral("取消"), this);
  cancel_->setObjectName(QStringLiteral("7002"));
  cancel_->setAutoDefault(false);
  cancel_->setGeometry(toPixels(kCancelRect, base));
  connect(cancel_, &QPushButton::clicked, this, [this] { handlers_.OnCancelButton(); });

  // Enter and Escape do nothing, wherever the focus is.
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

bool CaptureDialogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (isSwallowedKey(event)) {
    event->accept();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CaptureDialogWindow::keyPressEvent(QKeyEvent* event) {
  if (isSwallowedKey(event)) return;
  QDialog::keyPressEvent(event);
}

void CaptureDialogWindow::showPreview(const uint8_t* image) {
  QImage copy(image, kImageWidth, kImageHeight, kImageWidth, QImage::Format_Grayscale8);
  std::lock_guard hold(previewLock_);
  pendingPreview_ = copy.copy();  // detached: the worker reuses its buffer
  if (previewPosted_) return;     // the newest image is shown, skipping older ones
  previewPosted_ = true;
  QMetaObject::invokeMethod(this, [this] { showLatestPreview(); }, Qt::QueuedConnection);
}

void CaptureDialogWindow::showLatestPreview() {
  QImage image;
  {
    std::lock_guard hold(previewLock_);
    image.swap(pendingPreview_);
    previewPosted_ = false;
  }
  if (!image.isNull()) picture_->showImage(std::move(image));
}

void CaptureDialogWindow::setQualityText(const char* text) {
  const QString shown = QString::fromUtf8(text);
  QMetaObject::invokeMethod(this, [this, shown] { quality_->setText(shown); }, Qt::QueuedConnection);
}

void CaptureDialogWindow::closeDialog() {
  QMetaObject::invokeMethod(this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}

}  // namespace fx60::ui
