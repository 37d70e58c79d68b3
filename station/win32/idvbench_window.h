// The station's main dialog as a native window (template 102 of the program's
// resources): it shows what the presenter (CIdvBenchDlg) tells it and hands the
// operator's clicks and keys to the presenter. It paints the background bitmap
// and the fingerprint image file itself, on every paint.
#pragma once

#include <windows.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "station/idvbench_view.h"
#include "station/win32/message_boxes.h"

namespace fx60::station {
class CIdvBenchDlg;
}

namespace fx60::station::win32 {

class IdvBenchWindow final : public IdvBenchView {
 public:
  // `resources`: the module that holds the dialog templates, bitmaps and icon.
  // `ended` runs on the window's thread once the dialog has ended.
  IdvBenchWindow(HINSTANCE resources, std::function<void()> ended = {});
  ~IdvBenchWindow() override;
  IdvBenchWindow(const IdvBenchWindow&) = delete;
  IdvBenchWindow& operator=(const IdvBenchWindow&) = delete;

  // Makes the dialog, hidden; false when no window can be made (no display).
  bool create();
  void show();

  // The presenter that handles the window's commands; none until set.
  void setPresenter(CIdvBenchDlg* presenter) { presenter_ = presenter; }

  // IdvBenchView. A call from another thread than the window's is handed to the
  // window's thread and returns at once.
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

  // The about box (template 100), modal over the dialog; what the system menu's
  // about item opens.
  void showAbout();
  // OK on every open message box, as the operator would press it.
  void dismissMessageBoxes();

  // Runs `tick` on the window's thread every `interval` until the window goes.
  void startTicks(std::chrono::milliseconds interval, std::function<void()> tick);

  // For the message loop: the dialogs' own keyboard handling (Tab, Enter, Esc).
  bool translateDialogMessage(MSG& message);

  // For front ends and tests.
  HWND handle() const { return dialog_; }
  HWND aboutBox() const { return about_; }
  HWND control(ControlId id) const { return GetDlgItem(dialog_, static_cast<int>(id)); }
  std::string statusText() const;
  bool ended() const { return ended_; }
  size_t openMessageBoxes() const { return boxes_.open(); }
  // The fingerprint image as the last paint drew it: its size, (0, 0) when none.
  SIZE paintedFingerprintSize() const { return paintedFingerprint_; }

 private:
  static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK aboutProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool handedToOwnThread(std::function<void()> call);
  void initialise();
  void command(int id);
  void runPostedTasks();
  void paint();
  void drawFingerImage(HDC dc);
  void closeAbout();

  HINSTANCE resources_;
  std::function<void()> onEnded_;
  CIdvBenchDlg* presenter_ = nullptr;
  HWND dialog_ = nullptr;
  HWND about_ = nullptr;
  DWORD thread_ = GetCurrentThreadId();
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HBITMAP background_ = nullptr;
  HBITMAP photo_ = nullptr;
  std::filesystem::path fingerImagePath_;
  SIZE paintedFingerprint_{};
  bool ended_ = false;
  std::function<void()> tick_;

  std::mutex tasksLock_;
  std::deque<std::function<void()>> tasks_;

  MessageBoxes boxes_;
};

}  // namespace fx60::station::win32
