// The station's main dialog as a Qt window (template 102): it shows what the
// presenter (CIdvBenchDlg) tells it and hands the operator's clicks and keys to
// the presenter. It paints the background bitmap and the fingerprint image file
// itself, on every paint.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <map>

#include "platform/qt/dialog_units.h"
#include "station/idvbench_view.h"

class QMessageBox;

namespace fx60::station {
class CIdvBenchDlg;
}

namespace fx60::station::ui {

class CAboutDlg;

class IdvBenchWindow final : public QDialog, public IdvBenchView {
 public:
  // `ended` runs once the dialog has ended, to end the program.
  explicit IdvBenchWindow(std::function<void()> ended = {});
  ~IdvBenchWindow() override;

  // The presenter that handles the window's commands; none until set.
  void setPresenter(CIdvBenchDlg* presenter) { presenter_ = presenter; }

  // IdvBenchView. Widgets are only touched on the window's thread: a call that
  // comes from another thread is handed to it and returns at once.
  void post(std::function<void()> task) override;
  void setFieldText(ControlId field, const std::string& text) override;
  void setStatusText(const std::string& text) override;
  void setButtonCaption(ControlId button, const std::string& caption) override;
  void setButtonEnabled(ControlId button, bool enabled) override;
  void showPhoto(const std::filesystem::path& bitmapFile) override;
  void redrawFingerprint(const std::filesystem::path& imageFile) override;
  void showMessageBox(const MessageBox& box, std::function<void()> dismissed) override;
  void closeMessageBox(uint64_t id) override;
  void closeDialog() override;

  // The about box, modal; what the window menu item and F1 open.
  void showAbout();

  // OK on every open message box, as the operator would press it.
  void dismissMessageBoxes();

  // For front ends and tests.
  QWidget* control(int id) const;
  const fx60::ui::DialogBaseUnits& baseUnits() const { return base_; }
  bool ended() const { return ended_; }
  // The fingerprint image as the last paint drew it (null when none was drawn).
  const QImage& paintedFingerprint() const { return paintedFingerprint_; }

  static constexpr const char* kObjectName = "IdvBenchDialog";
  static constexpr const char* kAboutMenuItemName = "about-menu-item";

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void accept() override;  // the Enter key
  void reject() override;  // the Esc key

 private:
  // False on the window's thread; elsewhere posts `call` to it and returns true.
  bool handedToOwnThread(std::function<void()> call);
  void connectButtons();
  void connectButton(ControlId id, void (*handler)(CIdvBenchDlg&));
  void drawFingerImage(class QPainter& painter, const QRect& dirty);

  std::function<void()> onEnded_;
  CIdvBenchDlg* presenter_ = nullptr;
  fx60::ui::DialogBaseUnits base_;
  std::map<int, QWidget*> controls_;
  QImage background_;
  QPixmap scaledBackground_;
  std::filesystem::path fingerImagePath_;
  QImage paintedFingerprint_;
  std::map<uint64_t, QPointer<QMessageBox>> boxes_;
  QPointer<CAboutDlg> about_;
  bool ended_ = false;
};

}  // namespace fx60::station::ui
