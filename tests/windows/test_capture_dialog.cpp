// The capture dialog's native window inside FX60Link.dll, through
// zzExtractFingerprint with the dialog flag, against the simulated mass-storage
// module on the build machine (FX60_WINE_STORAGE, serving the impressions of the
// synthetic finger of seed 1 in turn). The dialog runs on the test's main thread;
// a helper thread looks at it and presses its button, as an operator would.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/include/fx60link.h"
#include "synth/generator.h"
#include "tests/platform/fake_cable_server.h"

namespace {

using fx60::testing::ScopedEnvironment;
using Clock = std::chrono::steady_clock;

// A busy byte of our own, so that the device tests running beside this program
// never find index 0 taken.
const auto* const kFlags =
    ::testing::AddGlobalTestEnvironment(new fx60::testing::PrivateCaptureFlags("capture-dialog"));

constexpr int kPictureId = 7000;
constexpr int kQualityId = 7001;
constexpr int kCancelId = 7002;
constexpr const wchar_t* kTitle = L"采集指纹特征";

HWND findDialog() {
  HWND dialog = FindWindowW(L"#32770", kTitle);
  DWORD process = 0;
  if (dialog != nullptr) GetWindowThreadProcessId(dialog, &process);
  return process == GetCurrentProcessId() ? dialog : nullptr;
}

std::wstring textOf(HWND window) {
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);  // a control of another thread: answered by its message loop
  return text;
}

void pressCancel(HWND dialog) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kCancelId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, kCancelId)));
}

// A control's rectangle in the dialog's client coordinates.
RECT placeOf(HWND dialog, int id) {
  RECT rect{};
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Where the dialog manager puts a control of the template: position and size
// converted each on its own.
RECT dialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT units{x, y, width, height};
  MapDialogRect(dialog, &units);
  return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
}

std::string show(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + " - " + std::to_string(rect.right) + "," +
         std::to_string(rect.bottom);
}

// The grey levels the picture control shows on a grid of sample points, read
// back from the screen (row 0 of the image at the top).
std::vector<uint8_t> previewSamples(HWND dialog) {
  std::vector<uint8_t> samples;
  HWND picture = GetDlgItem(dialog, kPictureId);
  HDC dc = GetDC(picture);
  for (int y = 5; y < 360; y += 50)
    for (int x = 3; x < 256; x += 36) samples.push_back(GetRValue(GetPixel(dc, x, y)));
  ReleaseDC(picture, dc);
  return samples;
}

std::vector<uint8_t> imageSamples(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> samples;
  for (int y = 5; y < 360; y += 50)
    for (int x = 3; x < 256; x += 36) samples.push_back(image[static_cast<size_t>(y) * 256 + x]);
  return samples;
}

// The images the simulator serves, made once.
const std::vector<std::vector<uint8_t>>& servedImages() {
  static const auto images = [] {
    std::vector<std::vector<uint8_t>> made;
    const fx60::synth::Finger finger = fx60::synth::makeFinger(1, 1);
    for (uint32_t impression = 1; impression <= 8; ++impression)
      made.push_back(fx60::synth::makeImpression(finger, impression));
    return made;
  }();
  return images;
}

bool showsAServedImage(HWND dialog) {
  const std::vector<uint8_t> shown = previewSamples(dialog);
  for (const auto& image : servedImages())
    if (imageSamples(image) == shown) return true;
  return false;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

class CaptureDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("FX60_WINE_STORAGE");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "FX60_WINE_STORAGE is not set: no simulator to test against";
    HWND probe = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) GTEST_SKIP() << "no display for windows (DISPLAY unset?)";
    DestroyWindow(probe);
    cable_.emplace("FX60_SIMULATOR", port);
  }

  // Runs the dialog on this thread. `whileOpen` runs on a helper thread once the
  // dialog shows a quality score; the helper then presses cancel until the
  // dialog is gone (also after a failed check). Without it the dialog is left
  // alone, for 20 s at most.
  int runDialog(int timeoutMs, int threshold, std::function<void(HWND)> whileOpen = {}) {
    std::atomic<bool> ended{false};
    std::thread helper([&] {
      if (whileOpen) {
        HWND dialog = nullptr;
        waitFor([&] { return ended || ((dialog = findDialog()) && !textOf(GetDlgItem(dialog, kQualityId)).empty()); },
                std::chrono::seconds(20));
        if (!ended && dialog != nullptr) whileOpen(dialog);
      } else {
        waitFor([&] { return ended.load(); }, std::chrono::seconds(20));
      }
      while (!ended) {
        if (HWND dialog = findDialog()) pressCancel(dialog);
        Sleep(50);
      }
    });
    tpl_.fill(0xEE);
    const int status = zzExtractFingerprint(0, timeoutMs, tpl_.data(), threshold, 1);
    ended = true;
    helper.join();
    return status;
  }

  std::optional<ScopedEnvironment> cable_;
  std::array<unsigned char, 512> tpl_{};
};

TEST_F(CaptureDialog, LayoutLivePreviewAndCancel) {
  bool checked = false;
  const int status = runDialog(0, 101, [&](HWND dialog) {
    checked = true;
    EXPECT_EQ(textOf(dialog), kTitle);
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & WS_SYSMENU, 0) << "no system menu, no close box";
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"宋体");

    // The controls at their places in dialog units; the picture takes the size
    // of the bitmap it shows (256 x 360 pixels), from its own corner.
    EXPECT_EQ(show(placeOf(dialog, kQualityId)), show(dialogUnits(dialog, 56, 236, 30, 14)));
    EXPECT_EQ(show(placeOf(dialog, kCancelId)), show(dialogUnits(dialog, 110, 236, 42, 14)));
    const RECT picture = placeOf(dialog, kPictureId);
    const RECT pictureUnits = dialogUnits(dialog, 5, 6, 146, 222);
    EXPECT_EQ(picture.left, pictureUnits.left);
    EXPECT_EQ(picture.top, pictureUnits.top);
    EXPECT_EQ(picture.right - picture.left, 256) << show(picture);
    EXPECT_EQ(picture.bottom - picture.top, 360) << show(picture);
    EXPECT_EQ(textOf(GetDlgItem(dialog, kCancelId)), L"取消");
    EXPECT_NE(FindWindowExW(dialog, nullptr, L"Static", L"图像质量分数:"), nullptr);
    EXPECT_GT(GetWindowLongW(GetDlgItem(dialog, kQualityId), GWL_STYLE) & ES_READONLY, 0);

    // A captured image, row 0 at the top, and its score.
    EXPECT_TRUE(waitFor([&] { return showsAServedImage(dialog); }, std::chrono::seconds(5)));
    EXPECT_GT(std::stoi(textOf(GetDlgItem(dialog, kQualityId))), 0);

    // Enter and Escape do nothing, on the dialog or on the focused cancel
    // button; nor does a close request.
    HWND cancel = GetDlgItem(dialog, kCancelId);
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), TRUE);
    for (HWND target : {cancel, dialog})
      for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(target, WM_KEYDOWN, key, 0);
        PostMessageW(target, WM_CHAR, key, 0);
        PostMessageW(target, WM_KEYUP, key, 0);
      }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(300);
    EXPECT_EQ(findDialog(), dialog) << "still open";
    EXPECT_TRUE(IsWindowVisible(dialog));
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(status, -2);
  EXPECT_EQ(tpl_[0], 0xEE) << "nothing written on a cancel";
  EXPECT_EQ(findDialog(), nullptr);
}

TEST_F(CaptureDialog, ThresholdZeroExtractsTheFirstImage) {
  EXPECT_EQ(runDialog(0, 0), 0);
  EXPECT_EQ(tpl_[0], 0x43) << "a template";
  std::array<unsigned char, 512> copy = tpl_;
  EXPECT_EQ(zzMatchFingerprint(copy.data(), tpl_.data(), 3), 0) << "sealed, and matching itself";
  EXPECT_EQ(findDialog(), nullptr);
}

TEST_F(CaptureDialog, TheTimeLimitEndsItWithMinusThree) {
  EXPECT_EQ(runDialog(200, 101), -3);
  EXPECT_EQ(tpl_[0], 0xEE);
}

}  // namespace
