#include "station/win32/window_script.h"

#include <windows.h>

#include "station/win32/idvbench_window.h"
#include "station/win32/screenshot.h"
#include "station/win32/wide_text.h"

namespace fx60::station::win32 {

namespace {

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

ScriptPlayer::Hooks hooksOf(IdvBenchWindow& window) {
  ScriptPlayer::Hooks hooks;
  hooks.statusText = [&window] { return window.statusText(); };
  hooks.windowEnded = [&window] { return window.ended(); };
  hooks.dismissMessageBoxes = [&window] { window.dismissMessageBoxes(); };
  hooks.showAbout = [&window] { window.showAbout(); };
  hooks.saveScreenshot = [](const std::string& file, std::string& error) {
    return saveScreenshot(std::filesystem::path(widen(file)), error);
  };
  hooks.closeWindow = [&window] { window.closeDialog(); };
  return hooks;
}

}  // namespace

WindowScript::WindowScript(IdvBenchWindow& window, CIdvBenchDlg* presenter, Options options)
    : window_(window), player_(presenter, std::move(options), hooksOf(window)) {}

void WindowScript::start() {
  playing_ = true;
  window_.startTicks(ScriptPlayer::kTick, [this] { tick(); });
}

void WindowScript::tick() {
  if (onCaptureDialogGone_) {
    if (!player_.captureDialogDone()) {
      cancelCaptureDialog();  // again on every tick: it may not have been open yet
      return;
    }
    auto then = std::move(onCaptureDialogGone_);
    onCaptureDialogGone_ = nullptr;
    then();
    return;
  }
  if (playing_) playing_ = player_.step();
}

bool WindowScript::readyToEnd(std::function<void()> then) {
  if (player_.captureDialogDone()) return true;
  onCaptureDialogGone_ = std::move(then);
  if (!playing_) window_.startTicks(ScriptPlayer::kTick, [this] { tick(); });
  return false;
}

}  // namespace fx60::station::win32
