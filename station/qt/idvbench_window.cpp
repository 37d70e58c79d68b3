#include "station/qt/idvbench_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

#include "platform/qt/dialog_font.h"
#include "station/idvbench_dlg.h"
#include "station/qt/about_dialog.h"
#include "station/qt/dialog_builder.h"
#include "station/qt/station_bitmaps.h"

namespace fx60::station::ui {

namespace {

constexpr int kBackgroundResource = 140;
// The background is drawn from this corner on, over the whole client size.
constexpr QPoint kBackgroundOrigin{2, 2};

// Flat buttons: a thin border and a plain face rather than a raised one.
constexpr const char* kStyleSheet = R"(
QPushButton[flat="true"] {
  background: #f6f8fa; border: 1px solid #8b9bad; border-radius: 2px; color: #1f2d3d;
}
QPushButton[flat="true"]:hover { background: #e8f0f8; border-color: #3f6d9c; }
QPushButton[flat="true"]:pressed { background: #d6e3f0; }
QPushButton[flat="true"]:focus { border-color: #3f6d9c; }
QPushButton[flat="true"]:disabled { background: #eef1f4; border-color: #c3ccd6; color: #98a3ae; }
)";

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QMessageBox::Icon boxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

IdvBenchWindow::IdvBenchWindow(std::function<void()> ended)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      onEnded_(std::move(ended)),
      background_(stationBitmap(kBackgroundResource)) {
  setObjectName(QString::fromLatin1(kObjectName));
  setWindowTitle(QString::fromUtf8(kMainDialogTitle.data(), static_cast<qsizetype>(kMainDialogTitle.size())));
  setWindowIcon(stationIcon());
  setFont(fx60::ui::dialogFont(kDialogFontPoints));
  base_ = fx60::ui::baseUnitsOf(font());
  setFixedSize(fx60::ui::toPixels(kMainDialogWidth, kMainDialogHeight, base_));
  controls_ = createControls(this, kMainDialogControls, base_);
  // On the buttons alone: a style sheet on the dialog would reach its own
  // dialogs and message boxes, and change their fonts.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setStyleSheet(QString::fromLatin1(kStyleSheet));
  connectButtons();

  auto* aboutKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(aboutKey, &QShortcut::activated, this, &IdvBenchWindow::showAbout);
}

IdvBenchWindow::~IdvBenchWindow() {
  for (auto& [id, box] : boxes_)
    if (box) {
      box->disconnect(this);
      delete box.data();
    }
}

QWidget* IdvBenchWindow::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void IdvBenchWindow::connectButton(ControlId id, void (*handler)(CIdvBenchDlg&)) {
  auto* button = static_cast<QPushButton*>(control(static_cast<int>(id)));
  connect(button, &QPushButton::clicked, this, [this, handler] {
    if (presenter_ != nullptr) handler(*presenter_);
  });
}

void IdvBenchWindow::connectButtons() {
  connectButton(ControlId::SerialButton, [](CIdvBenchDlg& presenter) { presenter.OnQuerySerial(); });
  connectButton(ControlId::CollectButton, [](CIdvBenchDlg& presenter) { presenter.OnCollect(); });
  connectButton(ControlId::CompareButton, [](CIdvBenchDlg& presenter) { presenter.OnCompare(); });
  connectButton(ControlId::VerifyButton, [](CIdvBenchDlg& presenter) { presenter.OnVerify(); });
  connectButton(ControlId::ClearButton, [](CIdvBenchDlg& presenter) { presenter.clearInfo(); });
  connectButton(ControlId::ExitButton, [](CIdvBenchDlg& presenter) { presenter.OnCancel(); });
}

// ---- the view ---------------------------------------------------------------

void IdvBenchWindow::post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

bool IdvBenchWindow::handedToOwnThread(std::function<void()> call) {
  if (QThread::currentThread() == thread()) return false;
  post(std::move(call));
  return true;
}

void IdvBenchWindow::setFieldText(ControlId field, const std::string& text) {
  if (handedToOwnThread([this, field, text] { setFieldText(field, text); })) return;
  QWidget* widget = control(static_cast<int>(field));
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(fromUtf8(text));
    edit->setCursorPosition(0);
  } else if (auto* address = qobject_cast<QPlainTextEdit*>(widget)) {
    address->setPlainText(fromUtf8(text));
  }
}

void IdvBenchWindow::setStatusText(const std::string& text) {
  if (handedToOwnThread([this, text] { setStatusText(text); })) return;
  auto* status = static_cast<QLineEdit*>(control(static_cast<int>(ControlId::Status)));
  status->setText(fromUtf8(text));
  status->setCursorPosition(0);
}

void IdvBenchWindow::setButtonCaption(ControlId button, const std::string& caption) {
  if (handedToOwnThread([this, button, caption] { setButtonCaption(button, caption); })) return;
  if (auto* widget = qobject_cast<QPushButton*>(control(static_cast<int>(button)))) widget->setText(fromUtf8(caption));
}

void IdvBenchWindow::setButtonEnabled(ControlId button, bool enabled) {
  if (handedToOwnThread([this, button, enabled] { setButtonEnabled(button, enabled); })) return;
  if (QWidget* widget = control(static_cast<int>(button))) widget->setEnabled(enabled);
}

void IdvBenchWindow::showPhoto(const std::filesystem::path& bitmapFile) {
  if (handedToOwnThread([this, bitmapFile] { showPhoto(bitmapFile); })) return;
  auto* photo = static_cast<QLabel*>(control(static_cast<int>(ControlId::Photo)));
  const QImage image = loadBitmapFile(bitmapFile);
  if (image.isNull()) {
    photo->clear();
  } else {
    photo->setPixmap(QPixmap::fromImage(image));
  }
  update();
}

void IdvBenchWindow::redrawFingerprint(const std::filesystem::path& imageFile) {
  if (handedToOwnThread([this, imageFile] { redrawFingerprint(imageFile); })) return;
  fingerImagePath_ = imageFile;
  update();
}

void IdvBenchWindow::showMessageBox(const MessageBox& box, std::function<void()> dismissed) {
  if (handedToOwnThread([this, box, dismissed] { showMessageBox(box, dismissed); })) return;
  // A box of the dialog's keeps the dialog from being used until it is answered;
  // one of a workflow's stands on its own and leaves the dialog usable.
  auto* shown = new QMessageBox(boxIcon(box.icon), fromUtf8(box.caption), fromUtf8(box.text), QMessageBox::Ok,
                                box.ownedByDialog ? this : nullptr);
  shown->setTextFormat(Qt::PlainText);  // card and reader texts are never markup
  shown->setObjectName(QStringLiteral("box-%1").arg(box.id));
  shown->setAttribute(Qt::WA_DeleteOnClose);
  shown->setWindowModality(box.ownedByDialog ? Qt::WindowModal : Qt::NonModal);
  if (!box.ownedByDialog) shown->setWindowIcon(stationIcon());
  const uint64_t id = box.id;
  connect(shown, &QMessageBox::finished, this, [this, id, dismissed = std::move(dismissed)] {
    boxes_.erase(id);
    if (dismissed) dismissed();
  });
  boxes_[id] = shown;
  shown->show();
}

void IdvBenchWindow::closeMessageBox(uint64_t id) {
  if (handedToOwnThread([this, id] { closeMessageBox(id); })) return;
  const auto found = boxes_.find(id);
  if (found == boxes_.end()) return;
  QPointer<QMessageBox> box = found->second;
  boxes_.erase(found);
  if (box) {
    box->disconnect(this);  // closed for the presenter: no dismissal to report
    box->close();
  }
}

void IdvBenchWindow::closeDialog() {
  if (handedToOwnThread([this] { closeDialog(); })) return;
  if (ended_) return;
  ended_ = true;
  for (auto& [id, box] : std::map(boxes_))
    if (box) {
      box->disconnect(this);
      box->close();
    }
  boxes_.clear();
  if (about_) about_->close();
  hide();
  if (onEnded_) onEnded_();
}

void IdvBenchWindow::dismissMessageBoxes() {
  for (auto& [id, box] : std::map(boxes_))
    if (box) box->button(QMessageBox::Ok)->click();
}

// ---- commands of the window -----------------------------------------------------

void IdvBenchWindow::showAbout() {
  if (ended_) return;
  if (!about_) about_ = new CAboutDlg(this);
  about_->open();
  about_->raise();
}

void IdvBenchWindow::contextMenuEvent(QContextMenuEvent* event) {
  // The window menu of the design's platform, where the about box is: a program
  // cannot add to the window manager's menu here, so the dialog has its own.
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromUtf8(texts::kAboutMenuItem.data(),
                                                    static_cast<qsizetype>(texts::kAboutMenuItem.size())));
  about->setObjectName(QString::fromLatin1(kAboutMenuItemName));
  connect(about, &QAction::triggered, this, &IdvBenchWindow::showAbout);
  menu.exec(event->globalPos());
}

void IdvBenchWindow::accept() {
  if (presenter_ != nullptr) presenter_->OnOK();
}

void IdvBenchWindow::reject() {
  if (presenter_ != nullptr) {
    presenter_->OnCancel();
  } else {
    closeDialog();
  }
}

void IdvBenchWindow::closeEvent(QCloseEvent* event) {
  if (ended_) {
    event->accept();
    return;
  }
  // The close box exits through the presenter, which ends the dialog.
  event->ignore();
  reject();
}

// ---- painting -------------------------------------------------------------------

void IdvBenchWindow::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (!background_.isNull()) {
    if (scaledBackground_.size() != size())
      scaledBackground_ = QPixmap::fromImage(
          background_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    painter.drawPixmap(kBackgroundOrigin, scaledBackground_);
  }
  drawFingerImage(painter, event->rect());
}

void IdvBenchWindow::drawFingerImage(QPainter& painter, const QRect& dirty) {
  const QRect target = control(static_cast<int>(ControlId::Fingerprint))->geometry();
  if (!dirty.intersects(target)) return;
  // Read from the file on every paint: the picture is gone once the file is.
  paintedFingerprint_ = loadBitmapFile(fingerImagePath_);
  if (paintedFingerprint_.isNull()) return;
  painter.drawImage(target, paintedFingerprint_);
}

}  // namespace fx60::station::ui
