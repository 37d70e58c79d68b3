#include "station/win32/window_script.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "fx60link.h"
#include "station/idvbench_dlg.h"
#include "station/win32/idvbench_window.h"
#include "station/win32/screenshot.h"
#include "station/win32/wide_text.h"

namespace fx60::station::win32 {

namespace {

constexpr std::chrono::milliseconds kTick{10};
constexpr int kDefaultCaptureThreshold = 60;
constexpr int kTemplateBytes = 512;
constexpr int kCaptureCancelButton = 7002;
constexpr const wchar_t* kCaptureDialogTitle = L"采集指纹特征";

// Presses cancel on the library's capture dialog, when this program shows one.
void cancelCaptureDialog() {
  HWND dialog = FindWindowW(L"#32770", kCaptureDialogTitle);
  DWORD process = 0;
  if (dialog != nullptr) GetWindowThreadProcessId(dialog, &process);
  if (process != GetCurrentProcessId()) return;
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kCaptureCancelButton, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, kCaptureCancelButton)));
}

}  // namespace

WindowScript::WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options)
    : window_(window),
      presenter_(presenter),
      options_(std::move(options)),
      pending_(options_.commands.begin(), options_.commands.end()),
      waits_([this] { return window_.statusText(); },
             [this] { return presenter_ != nullptr && presenter_->workflowRunning(); }, options_.waitLimit) {}

WindowScript::~WindowScript() {
  if (captureDialog_.joinable()) captureDialog_.join();
}

void WindowScript::start() {
  running_ = true;
  window_.startTicks(kTick, [this] { tick(); });
}

void WindowScript::tick() {
  if (onCaptureDialogGone_) {
    if (!captureDialogDone_.load()) {
      cancelCaptureDialog();  // again on every tick: it may not have been open yet
      return;
    }
    auto then = std::move(onCaptureDialogGone_);
    onCaptureDialogGone_ = nullptr;
    then();
    return;
  }
  if (running_) step();
}

void WindowScript::step() {
  if (finished_ || window_.ended()) return;
  switch (waits_.poll()) {
    case ScriptWaits::State::Waiting:
      return;
    case ScriptWaits::State::TimedOut:
      std::fprintf(stderr, "IdvBench: timed out waiting%s%s\n", waits_.awaited().empty() ? "" : " for ",
                   waits_.awaited().c_str());
      exitCode_ = 1;
      endProgram();
      return;
    case ScriptWaits::State::Ended:
      if (options_.trace) {
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastPress_);
        std::printf("# wait over, %lld ms after the last command\n", static_cast<long long>(took.count()));
      }
      break;
    case ScriptWaits::State::None:
      break;
  }
  if (!pending_.empty()) {
    const Command command = pending_.front();
    pending_.pop_front();
    play(command);
    return;
  }
  if (!options_.finalScreenshot.empty()) {
    takeScreenshot(options_.finalScreenshot);
    endProgram();
  } else if (options_.scripted) {
    endProgram();
  } else {
    running_ = false;  // nothing more to do: the operator has the window
  }
}

void WindowScript::play(const Command& command) {
  const bool isWait = command.kind == Command::Kind::WaitStatus || command.kind == Command::Kind::WaitIdle ||
                      command.kind == Command::Kind::Sleep;
  if (!isWait) lastPress_ = std::chrono::steady_clock::now();
  if (options_.trace) std::printf("# %s\n", command.line.c_str());
  std::fflush(stdout);
  if (waits_.start(command)) return;
  switch (command.kind) {
    case Command::Kind::Ok: window_.dismissMessageBoxes(); return;
    case Command::Kind::About: window_.showAbout(); return;
    case Command::Kind::CaptureDialog: openCaptureDialog(command.argument); return;
    case Command::Kind::Screenshot: takeScreenshot(command.argument); return;
    default: break;
  }
  if (presenter_ != nullptr) pressButton(*presenter_, command);
}

void WindowScript::openCaptureDialog(const std::string& threshold) {
  if (!captureDialogDone_.load()) return;  // one at a time
  if (captureDialog_.joinable()) captureDialog_.join();
  const int quality = threshold.empty() ? kDefaultCaptureThreshold : std::atoi(threshold.c_str());
  captureDialogDone_.store(false);
  // The library runs the dialog on the calling thread, with a message loop of
  // its own, as a workflow's thread would.
  captureDialog_ = std::thread([this, quality] {
    std::array<unsigned char, kTemplateBytes> featureTemplate{};
    const int status = zzExtractFingerprint(0, 0, featureTemplate.data(), quality, 1);
    std::printf("capture dialog: %d\n", status);
    std::fflush(stdout);
    captureDialogDone_.store(true);
  });
}

void WindowScript::takeScreenshot(const std::string& file) {
  std::string error;
  if (saveScreenshot(std::filesystem::path(widen(file)), error)) {
    if (options_.trace) std::printf("# screenshot %s\n", file.c_str());
    return;
  }
  std::fprintf(stderr, "IdvBench: cannot write the screenshot %s: %s\n", file.c_str(), error.c_str());
  exitCode_ = 1;
}

void WindowScript::endProgram() {
  finished_ = true;
  if (presenter_ != nullptr) {
    presenter_->OnCancel();
  } else {
    window_.closeDialog();
  }
}

bool WindowScript::readyToEnd(std::function<void()> then) {
  if (captureDialogDone_.load()) return true;
  onCaptureDialogGone_ = std::move(then);
  if (!running_) window_.startTicks(kTick, [this] { tick(); });
  return false;
}

}  // namespace fx60::station::win32
