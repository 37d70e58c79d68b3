#include "station/idvbench_dlg.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/process_services.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "station/stop_wait.h"

namespace fx60::station {

namespace fs = std::filesystem;

// Effects a worker hands to the view's thread, applied there in the order given.
class CIdvBenchDlg::EffectQueue {
 public:
  void push(std::function<void()> effect) {
    std::lock_guard hold(mutex_);
    pending_.push_back(std::move(effect));
  }

  void applyAll() {
    for (;;) {
      std::function<void()> effect;
      {
        std::lock_guard hold(mutex_);
        if (pending_.empty()) return;
        effect = std::move(pending_.front());
        pending_.pop_front();
      }
      effect();
    }
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> pending_;
};

// A workflow's message box: the worker waits on it until the operator dismisses
// the box or the worker is stopped.
class CIdvBenchDlg::BoxWait {
 public:
  explicit BoxWait(uint64_t id) : id(id) {}
  const uint64_t id;
  std::atomic<bool> abandoned{false};  // the worker stopped waiting

  void dismiss() {
    std::lock_guard hold(mutex_);
    dismissed_ = true;
    wake_.notify_all();
  }

  bool dismissed() {
    std::lock_guard hold(mutex_);
    return dismissed_;
  }

  bool waitForDismissal(const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    return wake_.wait(lock, stop, [&] { return dismissed_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any wake_;
  bool dismissed_ = false;
};

namespace {

constexpr size_t index(Workflow workflow) { return static_cast<size_t>(workflow); }

constexpr std::array<ControlId, 8> kCardFields{ControlId::Name,    ControlId::Sex,      ControlId::Nation,
                                               ControlId::BirthDate, ControlId::Address, ControlId::IdNumber,
                                               ControlId::Authority, ControlId::Validity};

}  // namespace

const CIdvBenchDlg::WorkflowButton& CIdvBenchDlg::buttonOf(Workflow workflow) {
  static const std::array<WorkflowButton, 3> buttons{{
      {ControlId::CollectButton, texts::kCollectIdle, texts::kCollectRunning},
      {ControlId::CompareButton, texts::kCompareIdle, texts::kCompareRunning},
      {ControlId::VerifyButton, texts::kVerifyIdle, texts::kVerifyRunning},
  }};
  return buttons[index(workflow)];
}

CIdvBenchDlg::CIdvBenchDlg(IdvBenchView& view, StationSettings settings)
    : view_(view),
      settings_(std::move(settings)),
      effects_(std::make_shared<EffectQueue>()),
      workerFinished_(std::make_shared<std::atomic<bool>>(true)) {
  for (Workflow workflow : {Workflow::Collect, Workflow::Compare, Workflow::Verify})
    captions_[index(workflow)] = buttonOf(workflow).idleCaption;
}

CIdvBenchDlg::~CIdvBenchDlg() { haltWorker(); }

// ---- start-up ----------------------------------------------------------------

bool CIdvBenchDlg::OnInitDialog() {
  reader_ = CardReaderLibrary::load(settings_.cardReaderLibrary);
  if (!reader_) {
    showOwnedBox(std::string(texts::kLibraryLoadFailed), MessageIcon::Stop, [this] { view_.closeDialog(); });
    return false;
  }
  photoPath_ = settings_.programDirectory / kPhotoFile;
  fingerImagePath_ = settings_.programDirectory / kFingerImageFile;
  platform::deleteFile(photoPath_);
  platform::deleteFile(fingerImagePath_);
  findReaderPort();
  cardFingerprints_ = CardFingerprints{};
  const int fingerType =
      platform::readProfileInt(settings_.programDirectory / kConfigurationFile, "FingerConfig", "FingerType", 0);
  device_ = createFingerprintDevice(fingerType, settings_.programDirectory);
  return true;
}

void CIdvBenchDlg::findReaderPort() {
  const CardReaderApi& reader = reader_->api();
  readerPort_ = 0;
  for (int port = kFirstReaderPort; port <= kLastReaderPort; ++port) {
    const bool found = reader.openPort(port) == kReaderDone && reader.resetSam(port, 0) == kReaderDone;
    reader.closePort(port);
    if (found) {
      readerPort_ = port;
      break;
    }
    std::this_thread::sleep_for(settings_.timing.readerSearchPause);
  }
  setStatus(readerPort_ != 0 ? texts::kStatusReaderConnected : texts::kStatusReaderNotFound);
}

// ---- dialog operations ---------------------------------------------------------

void CIdvBenchDlg::setStatus(std::string_view text) { view_.setStatusText(std::string(text)); }

void CIdvBenchDlg::setCaption(ControlId button, std::string_view caption) {
  for (Workflow workflow : {Workflow::Collect, Workflow::Compare, Workflow::Verify})
    if (buttonOf(workflow).id == button) captions_[index(workflow)] = caption;
  view_.setButtonCaption(button, std::string(caption));
}

void CIdvBenchDlg::enableWorkflowButtons(bool enabled) {
  serialEnabled_ = enabled;
  workflowEnabled_.fill(enabled);
  for (ControlId button : {ControlId::SerialButton, ControlId::CollectButton, ControlId::CompareButton,
                           ControlId::VerifyButton})
    view_.setButtonEnabled(button, enabled);
}

bool CIdvBenchDlg::buttonEnabled(ControlId button) const {
  if (button == ControlId::SerialButton) return serialEnabled_;
  for (Workflow workflow : {Workflow::Collect, Workflow::Compare, Workflow::Verify})
    if (buttonOf(workflow).id == button) return workflowEnabled_[index(workflow)];
  return true;
}

void CIdvBenchDlg::showCardInfo(const IdCardInfo& info) {
  const std::array<const char*, 8> values{info.name,    info.sex,       info.nation,   info.birthDate,
                                          info.address, info.idNumber, info.authority, info.validity};
  for (size_t i = 0; i < kCardFields.size(); ++i) view_.setFieldText(kCardFields[i], platform::gbkToUtf8(values[i]));
  view_.showPhoto(info.photoPath);
}

void CIdvBenchDlg::showFingerImage() { view_.redrawFingerprint(fingerImagePath_); }

void CIdvBenchDlg::showOwnedBox(std::string text, MessageIcon icon, std::function<void()> then) {
  MessageBox box{nextBoxId_++, std::move(text), std::string(texts::kProgramName), icon, true};
  view_.showMessageBox(box, [alive = std::weak_ptr<bool>(alive_), then = std::move(then)] {
    if (then && alive.lock()) then();
  });
}

// ---- handlers --------------------------------------------------------------------

void CIdvBenchDlg::clearInfo() {
  if (closed_) return;
  applyWorkerEffects();
  platform::deleteFile(photoPath_);
  showCardInfo(IdCardInfo{});
  platform::deleteFile(fingerImagePath_);
  showFingerImage();
}

void CIdvBenchDlg::OnQuerySerial() {
  applyWorkerEffects();
  if (closed_ || !reader_ || !buttonEnabled(ControlId::SerialButton)) return;
  clearInfo();
  std::string serial;
  if (querySamSerial(reader_->api(), readerPort_, serial) == kReaderDone) {
    showOwnedBox(platform::gbkToUtf8(serial), MessageIcon::None);
  } else {
    showOwnedBox(std::string(texts::kSerialQueryFailed), MessageIcon::Stop,
                 [this] { setStatus(texts::kStatusSerialQueryFailed); });
  }
}

void CIdvBenchDlg::OnAbout() {
  MessageBox box{nextBoxId_++, std::string(texts::kAboutVersion) + "\n" + std::string(texts::kAboutNotice),
                 std::string(texts::kAboutCaption), MessageIcon::Information, true};
  view_.showMessageBox(box, [] {});
}

void CIdvBenchDlg::startOrPause(Workflow workflow) {
  applyWorkerEffects();
  const WorkflowButton& button = buttonOf(workflow);
  if (closed_ || !reader_ || !buttonEnabled(button.id)) return;
  clearInfo();
  const std::string caption = captions_[index(workflow)];
  if (caption == button.idleCaption) {
    std::string serial;
    if (querySamSerial(reader_->api(), readerPort_, serial) != kReaderDone) {
      showOwnedBox(std::string(texts::kReaderNotConnected), MessageIcon::Stop);
      return;
    }
    reader_->api().resetSam(readerPort_, 0);
    stopWorker();  // a worker that has just ended is joined
    void (CIdvBenchDlg::*body)(std::stop_token) = workflow == Workflow::Collect   ? &CIdvBenchDlg::collectThreadProc
                                                  : workflow == Workflow::Compare ? &CIdvBenchDlg::compareThreadProc
                                                                                  : &CIdvBenchDlg::verifyThreadProc;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    workerFinished_ = finished;
    worker_ = std::jthread([this, body, finished](std::stop_token stop) {
      struct MarkFinished {
        std::atomic<bool>& flag;
        ~MarkFinished() { flag.store(true); }
      } mark{*finished};
      (this->*body)(std::move(stop));
    });
    enableWorkflowButtons(false);
    workflowEnabled_[index(workflow)] = true;
    view_.setButtonEnabled(button.id, true);
    setCaption(button.id, button.runningCaption);
  } else if (caption == button.runningCaption) {
    stopWorker();
    enableWorkflowButtons(true);
    setCaption(button.id, button.idleCaption);
  }
}

void CIdvBenchDlg::OnCancel() {
  if (closed_) return;
  closed_ = true;
  stopWorker();
  reader_.reset();
  platform::deleteFile(photoPath_);
  platform::deleteFile(fingerImagePath_);
  view_.closeDialog();
}

// ---- workers ------------------------------------------------------------------------

void CIdvBenchDlg::haltWorker() {
  if (!worker_.joinable()) return;
  worker_.request_stop();
  // A capture waiting inside the driver library only ends when cancelled, and a
  // cancel before the capture has begun is lost, so it is repeated until the
  // worker is gone.
  while (!workerFinished_->load()) {
    if (device_) device_->interruptCapture();
    std::this_thread::sleep_for(settings_.timing.stopRetry);
  }
  worker_.join();
}

void CIdvBenchDlg::stopWorker() {
  haltWorker();
  // What the worker showed before it ended comes before what the handler shows.
  applyWorkerEffects();
  if (workerBox_) {
    if (!workerBox_->dismissed()) view_.closeMessageBox(workerBox_->id);
    workerBox_.reset();
  }
}

void CIdvBenchDlg::applyWorkerEffects() { effects_->applyAll(); }

void CIdvBenchDlg::post(std::function<void()> effect) {
  effects_->push(std::move(effect));
  view_.post([queue = std::weak_ptr<EffectQueue>(effects_)] {
    if (auto effects = queue.lock()) effects->applyAll();
  });
}

bool CIdvBenchDlg::workerMessageBox(std::string_view text, const std::stop_token& stop) {
  auto wait = std::make_shared<BoxWait>(nextBoxId_++);
  post([this, wait, text = std::string(text)] {
    if (wait->abandoned.load()) return;
    workerBox_ = wait;
    view_.showMessageBox(MessageBox{wait->id, text, std::string(), MessageIcon::Stop, false},
                         [wait] { wait->dismiss(); });
  });
  if (wait->waitForDismissal(stop)) return true;
  wait->abandoned.store(true);
  return false;
}

CardReadPlace CIdvBenchDlg::cardReadPlace() const {
  return CardReadPlace{reader_->api(), readerPort_, settings_.programDirectory, photoPath_};
}

void CIdvBenchDlg::collectThreadProc(std::stop_token stop) {
  bool online = false;
  for (;;) {
    post([this] { setStatus(texts::kStatusPlaceCard); });
    const std::optional<IdCardInfo> info = readCard(cardReadPlace(), cardFingerprints_, online, stop);
    if (stop.stop_requested()) return;
    if (info) post([this, card = *info] { showCardInfo(card); });
    if (!info && !online) break;
    if (!pauseUnlessStopped(stop, settings_.timing.cardPollPause)) return;
  }
  if (!workerMessageBox(texts::kReaderLost, stop)) return;
  post([this] {
    setStatus(texts::kStatusReaderLost);
    enableWorkflowButtons(true);
    setCaption(ControlId::CollectButton, texts::kCollectIdle);
  });
}

void CIdvBenchDlg::compareThreadProc(std::stop_token stop) {
  post([this] { setStatus(texts::kStatusPlaceFinger); });
  const bool matched = compareTwoFingers(stop);
  if (stop.stop_requested()) return;
  if (matched) {
    post([this] { setStatus(texts::kStatusCompareSucceeded); });
  } else {
    if (!workerMessageBox(texts::kCompareFailed, stop)) return;
    post([this] { setStatus(texts::kStatusCompareFailed); });
  }
  post([this] {
    enableWorkflowButtons(true);
    setCaption(ControlId::CompareButton, texts::kCompareIdle);
  });
}

void CIdvBenchDlg::verifyThreadProc(std::stop_token stop) {
  bool online = false;
  std::string_view finalText;
  for (;;) {
    post([this] { setStatus(texts::kStatusPlaceCard); });
    const std::optional<IdCardInfo> info = readCard(cardReadPlace(), cardFingerprints_, online, stop);
    if (stop.stop_requested()) return;
    if (info) {
      post([this, card = *info] {
        showCardInfo(card);
        setStatus(texts::kStatusPlaceFinger);
      });
      const bool verified = verifyAgainstCard(stop);
      if (stop.stop_requested()) return;
      if (!verified && !workerMessageBox(texts::kVerifyFailed, stop)) return;
      finalText = verified ? texts::kStatusVerifySucceeded : texts::kStatusVerifyFailed;
      break;
    }
    if (!online) {
      if (!workerMessageBox(texts::kReaderLost, stop)) return;
      finalText = texts::kStatusReaderLost;
      break;
    }
    if (!pauseUnlessStopped(stop, settings_.timing.cardPollPause)) return;
  }
  post([this, finalText] {
    setStatus(finalText);
    enableWorkflowButtons(true);
    setCaption(ControlId::VerifyButton, texts::kVerifyIdle);
  });
}

bool CIdvBenchDlg::compareTwoFingers(const std::stop_token& stop) {
  if (!device_) return false;  // no device configured: the comparison fails
  int width = 0, height = 0;
  if (device_->getImageSize(width, height) != kDeviceDone) return false;
  std::array<uint8_t, kTemplateBytes> first{};
  int quality = 0;
  if (device_->captureTemplate(first.data(), &quality, fingerImagePath_, stop) != kDeviceDone) return false;
  post([this] {
    showFingerImage();
    setStatus(texts::kStatusPlaceFingerAgain);
  });
  std::array<uint8_t, kTemplateBytes> second{};
  if (device_->captureTemplate(second.data(), &quality, fingerImagePath_, stop) != kDeviceDone) return false;
  post([this] { showFingerImage(); });
  return device_->compareTemplates(first.data(), second.data(), kComparisonLevel) == kDeviceDone;
}

bool CIdvBenchDlg::verifyAgainstCard(const std::stop_token& stop) {
  if (!device_) return false;  // no device configured: the verification fails
  int width = 0, height = 0;
  if (device_->getImageSize(width, height) != kDeviceDone) return false;
  std::array<uint8_t, kTemplateBytes> live{};
  int quality = 0;
  if (device_->captureTemplate(live.data(), &quality, fingerImagePath_, stop) != kDeviceDone) return false;
  post([this] { showFingerImage(); });
  const uint8_t* card = cardFingerprints_.data.data();
  return device_->compareTemplates(card, live.data(), kComparisonLevel) == kDeviceDone ||
         device_->compareTemplates(card + kTemplateBytes, live.data(), kComparisonLevel) == kDeviceDone;
}

}  // namespace fx60::station
