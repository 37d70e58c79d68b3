// The capture dialog behind zzExtractFingerprint's dialog flag: a small modal
// window that captures image after image on device index 0, shows each as a live
// preview with its quality score, and closes once an image is good enough and its
// template has been extracted and sealed, or when the operator cancels.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "driver/capture_dialog_view.h"
#include "driver/status.h"

namespace fx60 {

// The dialog's logic. The window calls the handlers on its thread; the worker runs
// on a thread of its own, the library's only one.
class CFingerDlg final : public CaptureDialogHandlers {
 public:
  CFingerDlg(int timeoutMs, int qualityThreshold) : timeoutMs_(timeoutMs), qualityThreshold_(qualityThreshold) {}
  ~CFingerDlg() { OnDestroy(); }
  CFingerDlg(const CFingerDlg&) = delete;
  CFingerDlg& operator=(const CFingerDlg&) = delete;

  void OnInitDialog(CaptureDialogView& view) override;
  void OnCancelButton() override;
  void OnDestroy() override;

  // Once the dialog has ended: the capture status, and the sealed template when
  // the status is Done.
  CaptureStatus result() const { return result_.load(); }
  const uint8_t* featureTemplate() const { return template_.data(); }

 private:
  void worker(CaptureDialogView& view);

  static constexpr int kTemplateBytes = 512;

  const int timeoutMs_;
  const int qualityThreshold_;
  std::atomic<uint8_t> cancelled_{0};  // set once the cancel handler has finished
  std::atomic<CaptureStatus> result_{CaptureStatus::NoModule};
  std::array<uint8_t, kTemplateBytes> template_{};
  std::thread worker_;
};

// zzExtractFingerprint with the dialog flag: runs the dialog on the calling thread
// and returns its status, copying the template to templateOut when it is Done.
// NoModule, as for a module that cannot be opened, when the dialog cannot be shown:
// its plugin is missing or does not fit, or no display can be opened.
CaptureStatus runCaptureDialog(int timeoutMs, uint8_t* templateOut, int qualityThreshold);

}  // namespace fx60
