// The station's main dialog without its drawing: start-up, the button handlers,
// the three workflows on a worker thread, and every text they show, driven
// through an IdvBenchView. All public calls come on the view's thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "station/card_reader_library.h"
#include "station/card_reading.h"
#include "station/fingerprint_device.h"
#include "station/idvbench_view.h"

namespace fx60::station {

// The pauses of the station, fixed for the program; tests shorten them.
struct StationTiming {
  std::chrono::milliseconds readerSearchPause{300};  // after each port tried without a reader
  std::chrono::milliseconds cardPollPause{500};      // between two card-read attempts
  std::chrono::milliseconds stopRetry{10};           // between two interrupts of a stopping capture
};

struct StationSettings {
  std::filesystem::path programDirectory;  // where the files and the run-time libraries are
  std::string cardReaderLibrary = kCardReaderLibraryName;  // a bare name, or a path
  StationTiming timing;
};

inline constexpr const char* kConfigurationFile = "IdvBench.config.ini";
inline constexpr const char* kPhotoFile = "idcard_photo.bmp";
inline constexpr const char* kFingerImageFile = "fingerimg.bmp";
inline constexpr int kFirstReaderPort = 1001;
inline constexpr int kLastReaderPort = 1016;

enum class Workflow { Collect, Compare, Verify };

class CIdvBenchDlg {
 public:
  CIdvBenchDlg(IdvBenchView& view, StationSettings settings);
  ~CIdvBenchDlg();  // stops a running workflow
  CIdvBenchDlg(const CIdvBenchDlg&) = delete;
  CIdvBenchDlg& operator=(const CIdvBenchDlg&) = delete;

  // Start-up: binds the card-reader library, clears the image files, finds the
  // reader, reads the configuration and creates the fingerprint device. False
  // when the library is missing: a box says so and the dialog closes when it is
  // dismissed.
  bool OnInitDialog();

  // The handlers of the dialog's commands.
  void OnQuerySerial();
  void OnCollect() { startOrPause(Workflow::Collect); }
  void OnCompare() { startOrPause(Workflow::Compare); }
  void OnVerify() { startOrPause(Workflow::Verify); }
  void clearInfo();
  void OnCancel();
  void OnOK() {}  // the Enter key leaves the dialog open
  void OnAbout();

  // What the dialog shows and holds, for front ends and tests.
  int readerPort() const { return readerPort_; }
  bool workflowRunning() const { return worker_.joinable() && !workerFinished_->load(); }
  const CFingerprintDevice* fingerprintDevice() const { return device_.get(); }
  const std::filesystem::path& photoPath() const { return photoPath_; }
  const std::filesystem::path& fingerImagePath() const { return fingerImagePath_; }

 private:
  class EffectQueue;
  class BoxWait;

  struct WorkflowButton {
    ControlId id;
    std::string_view idleCaption;
    std::string_view runningCaption;
  };
  static const WorkflowButton& buttonOf(Workflow workflow);

  // Dialog operations, on the view's thread.
  void setStatus(std::string_view text);
  void setCaption(ControlId button, std::string_view caption);
  void enableWorkflowButtons(bool enabled);
  void showCardInfo(const IdCardInfo& info);
  void showFingerImage();
  void showOwnedBox(std::string text, MessageIcon icon, std::function<void()> then = {});
  bool buttonEnabled(ControlId button) const;

  void findReaderPort();
  void startOrPause(Workflow workflow);
  void haltWorker();  // stops and joins a running worker
  void stopWorker();  // the same, then shows what the worker left and closes its box
  void applyWorkerEffects();

  // On the worker: hand an effect to the view's thread.
  void post(std::function<void()> effect);
  // On the worker: show a box without owner and wait for its dismissal; false
  // when the worker was stopped first.
  bool workerMessageBox(std::string_view text, const std::stop_token& stop);

  void collectThreadProc(std::stop_token stop);
  void compareThreadProc(std::stop_token stop);
  void verifyThreadProc(std::stop_token stop);
  bool compareTwoFingers(const std::stop_token& stop);
  bool verifyAgainstCard(const std::stop_token& stop);
  CardReadPlace cardReadPlace() const;

  IdvBenchView& view_;
  StationSettings settings_;
  std::filesystem::path photoPath_;
  std::filesystem::path fingerImagePath_;
  std::unique_ptr<CardReaderLibrary> reader_;
  int readerPort_ = 0;
  CardFingerprints cardFingerprints_;  // written and read by the workers only
  std::unique_ptr<CFingerprintDevice> device_;
  bool closed_ = false;

  // The view's state as the presenter set it.
  std::array<std::string, 3> captions_;
  std::array<bool, 3> workflowEnabled_{true, true, true};
  bool serialEnabled_ = true;

  std::shared_ptr<EffectQueue> effects_;
  std::shared_ptr<BoxWait> workerBox_;  // the workflow's open box, if any
  std::shared_ptr<std::atomic<bool>> workerFinished_;
  std::jthread worker_;
  std::atomic<uint64_t> nextBoxId_{1};
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace fx60::station
