#include "driver/capture_dialog.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "driver/algorithm_engine.h"
#include "driver/capture_dialog_plugin.h"
#include "driver/library_api.h"
#include "driver/transport.h"
#include "platform/clock.h"
#include "template/feature_template.h"

namespace fx60 {

namespace {

constexpr int kDialogDeviceIndex = 0;
// The pause between the end of the work and the dialog closing, so that the
// operator sees the last preview and score.
constexpr int kClosePauseMs = 300;

}  // namespace

void CFingerDlg::OnInitDialog(CaptureDialogView& view) {
  if (worker_.joinable()) return;
  worker_ = std::thread([this, &view] { worker(view); });
}

void CFingerDlg::OnCancelButton() {
  // Stops a capture that is running on either transport (waiting for it to
  // notice), then tells the worker, which ends the dialog at its next turn.
  api::cancelCapture(kDialogDeviceIndex);
  cancelled_.store(1);
}

void CFingerDlg::OnDestroy() {
  if (!worker_.joinable()) return;
  // Normally the worker has closed the dialog and is done. When the dialog ended
  // otherwise (its program is quitting), the worker is stopped as by a cancel.
  cancelled_.store(1);
  api::cancelCapture(kDialogDeviceIndex);
  worker_.join();
}

void CFingerDlg::worker(CaptureDialogView& view) {
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kImageSize]);
  uint8_t quality = 0;
  CaptureStatus result = CaptureStatus::NoModule;
  int64_t elapsed = -1;  // stays -1 when there is no limit
  const int64_t start = platform::monotonicMs();
  extractArmed().store(1);

  if (image == nullptr) {
    result = CaptureStatus::NoTemplate;  // no memory for the image: nothing can be extracted
  } else if (timeoutMs_ >= -1) {
    for (;;) {
      if (cancelled_.load() == 1) break;
      platform::pumpOneMessage();
      if (timeoutMs_ != 0) elapsed = platform::monotonicMs() - start;

      // One image at once on every turn, finger or not: the preview runs live.
      CaptureTransport* transport = SelectTransport();
      result = transport == nullptr ? CaptureStatus::NoModule
                                    : transport->captureImage(kDialogDeviceIndex, image.get(), timeoutMs_,
                                                              /*waitLift=*/0, /*waitForFinger=*/0);
      if (result != CaptureStatus::Done) break;

      view.showPreview(image.get());
      if (extractArmed().load() != 0) {
        // The quality stage works in its input: it gets a copy.
        std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[kImageSize]);
        if (copy) {
          std::memcpy(copy.get(), image.get(), kImageSize);
          quality = algorithmEngine().imageQuality(copy.get());
        }
      }
      char text[8];
      std::snprintf(text, sizeof text, "%d", quality);
      view.setQualityText(text);

      if (static_cast<int>(quality) < qualityThreshold_) {
        if (elapsed <= timeoutMs_) continue;
        break;
      }
      result = ExtractSealedTemplate(image.get(), template_.data()) == 1 ? CaptureStatus::Done
                                                                          : CaptureStatus::NoTemplate;
      break;
    }
  }

  extractArmed().store(0);
  image.reset();
  if (elapsed > timeoutMs_) result = CaptureStatus::TimedOut;
  if (cancelled_.load() == 1) result = CaptureStatus::Cancelled;  // a cancel wins over a time-out
  result_.store(result);
  platform::sleepMs(kClosePauseMs);
  view.closeDialog();
}

CaptureStatus runCaptureDialog(int timeoutMs, uint8_t* templateOut, int qualityThreshold) {
  const RunCaptureDialogFunction run = captureDialogRunner();
  if (run == nullptr) return CaptureStatus::NoModule;
  CFingerDlg dialog(timeoutMs, qualityThreshold);
  if (run(&dialog, kCaptureDialogInterface) != kCaptureDialogRan) return CaptureStatus::NoModule;
  dialog.OnDestroy();
  const CaptureStatus result = dialog.result();
  if (result == CaptureStatus::Done) std::memcpy(templateOut, dialog.featureTemplate(), kTemplateSize);
  return result;
}

}  // namespace fx60
