// What the station's main dialog must be able to do, for the presenter
// (CIdvBenchDlg) to drive it. The Qt dialog and the console front end implement
// it; tests record it. Every call but post() comes on the thread that owns the
// view; all texts are UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "station/texts.h"

namespace fx60::station {

enum class MessageIcon { None, Information, Stop };

struct MessageBox {
  uint64_t id = 0;  // to close it with closeMessageBox
  std::string text;
  std::string caption;  // empty: the system's default caption
  MessageIcon icon = MessageIcon::None;
  // True: modal over the dialog. False: a box of its own that leaves the dialog
  // usable (raised by a workflow, which waits until it is dismissed).
  bool ownedByDialog = true;
};

class IdvBenchView {
 public:
  virtual ~IdvBenchView() = default;

  // Runs `task` on the thread that owns the view, after the tasks posted before
  // it. Called from any thread; must not run the task before returning.
  virtual void post(std::function<void()> task) = 0;

  // One of the eight text fields (ControlId::Name ... ControlId::Validity).
  virtual void setFieldText(ControlId field, const std::string& text) = 0;
  virtual void setStatusText(const std::string& text) = 0;
  virtual void setButtonCaption(ControlId button, const std::string& caption) = 0;
  virtual void setButtonEnabled(ControlId button, bool enabled) = 0;

  // Loads the bitmap file now and shows it in the photo control; an empty path or
  // a file that cannot be read shows none.
  virtual void showPhoto(const std::filesystem::path& bitmapFile) = 0;

  // Repaints the fingerprint control from `imageFile` (a BMP file) on every paint
  // from now on; when the file does not exist at paint time, the control shows
  // the background only.
  virtual void redrawFingerprint(const std::filesystem::path& imageFile) = 0;

  // Shows the box and returns at once; `dismissed` is called (on the view's
  // thread) when the operator closes it, and need not be called after
  // closeMessageBox.
  virtual void showMessageBox(const MessageBox& box, std::function<void()> dismissed) = 0;

  // Closes a box that is still open; nothing when it is gone already.
  virtual void closeMessageBox(uint64_t id) = 0;

  // Ends the dialog; the program then ends with exit code 0.
  virtual void closeDialog() = 0;
};

}  // namespace fx60::station
