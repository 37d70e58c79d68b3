// The capture dialog split in two: its logic (CFingerDlg, in the library) and its
// window (on Linux a plugin library that the library loads only when a caller asks
// for the dialog, so that the library itself needs no windowing toolkit; on
// Windows native windows inside the library). This header is the whole contract
// between the two; both sides are built from it together.
#pragma once

#include <cstdint>

namespace fx60 {

// What the logic asks of the window. Called from the dialog's worker thread; the
// window returns at once, without waiting for its own thread.
class CaptureDialogView {
 public:
  // Copies the image (256 x 360 bytes of grey, row 0 first) before returning and
  // shows it as the live preview.
  virtual void showPreview(const uint8_t* image) = 0;

  // The text of the quality box (control 7001).
  virtual void setQualityText(const char* text) = 0;

  // Ends the dialog, as the window system's close message would.
  virtual void closeDialog() = 0;

 protected:
  ~CaptureDialogView() = default;
};

// What the window tells the logic, on the window's thread.
class CaptureDialogHandlers {
 public:
  // The dialog is about to run: the logic starts its worker, which uses `view`
  // until it has called closeDialog.
  virtual void OnInitDialog(CaptureDialogView& view) = 0;

  // The cancel button (7002).
  virtual void OnCancelButton() = 0;

  // The dialog has ended and its window is about to go: the logic stops its worker
  // and waits for it, so that `view` is not used afterwards.
  virtual void OnDestroy() = 0;

 protected:
  ~CaptureDialogHandlers() = default;
};

// The plugin's one entry point, exported under kRunCaptureDialogSymbol: runs the
// dialog modally and returns when it has ended (OnDestroy has returned). Returns
// kCaptureDialogRan, or kCaptureDialogNoDisplay when no window could be opened
// (then no handler was called). `interfaceVersion` is kCaptureDialogInterface; a
// plugin built for another answers kCaptureDialogWrongVersion.
using RunCaptureDialogFunction = int (*)(CaptureDialogHandlers* handlers, int interfaceVersion);

inline constexpr const char* kRunCaptureDialogSymbol = "fx60RunCaptureDialog";
inline constexpr int kCaptureDialogInterface = 1;
inline constexpr int kCaptureDialogRan = 0;
inline constexpr int kCaptureDialogNoDisplay = 1;
inline constexpr int kCaptureDialogWrongVersion = 2;

// Where the plugin lies, relative to the directory of the library that loads it.
inline constexpr const char* kCaptureDialogPluginFolder = "fx60link";
inline constexpr const char* kCaptureDialogPluginFile = "libfx60link-capture-dialog.so";

// Names another plugin file to load instead (a path), for installations that keep
// it elsewhere.
inline constexpr const char* kCaptureDialogPluginVariable = "FX60_CAPTURE_DIALOG";

}  // namespace fx60
