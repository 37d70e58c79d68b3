// IdvBench.exe's native window: its compiled resources against the templates the
// Qt build lays out (station/dialog_templates.h), and the view's behaviour for
// the presenter (posting, message boxes, photo, the fingerprint file re-read on
// every paint). The window is made from this program's own copy of the
// resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "station/dialog_templates.h"
#include "station/dib_image.h"
#include "station/texts.h"
#include "station/win32/idvbench_window.h"
#include "station/win32/screenshot.h"
#include "station/win32/wide_text.h"

namespace {

namespace fs = std::filesystem;
using namespace fx60::station;
using namespace fx60::station::ui;
using fx60::station::win32::IdvBenchWindow;
using fx60::station::win32::narrow;
using fx60::station::win32::widen;
using fx60::station::win32::windowText;

std::string show(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + " - " + std::to_string(rect.right) + "," +
         std::to_string(rect.bottom);
}

// Where the dialog manager puts a control of the template: position and size
// converted each on its own.
RECT dialogUnits(HWND dialog, const DialogRect& units) {
  RECT mapped{units.x, units.y, units.width, units.height};
  MapDialogRect(dialog, &mapped);
  return RECT{mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
}

RECT placeOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The child of `dialog` with this class and caption (the controls without an id).
HWND childWithText(HWND dialog, const wchar_t* className, std::string_view caption) {
  return FindWindowExW(dialog, nullptr, className, widen(caption).c_str());
}

class IdvBenchWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HWND probe = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) GTEST_SKIP() << "no display for windows (DISPLAY unset?)";
    DestroyWindow(probe);
    window_ = std::make_unique<IdvBenchWindow>(GetModuleHandleW(nullptr), [this] { ++ended_; });
    ASSERT_TRUE(window_->create());
    dir_ = fs::temp_directory_path() / ("idvbench-window-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    window_.reset();
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  // Runs the window's messages until `condition` holds or 5 s have passed.
  bool pumpUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (window_->translateDialogMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      Sleep(5);
    }
    return true;
  }

  void repaint() {
    RedrawWindow(window_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }

  std::unique_ptr<IdvBenchWindow> window_;
  int ended_ = 0;
  fs::path dir_;
};

TEST_F(IdvBenchWindowTest, TheResourcesCarryTheTemplatesAndTexts) {
  wchar_t text[128] = L"";
  ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), 101, text, 128), 0);
  EXPECT_EQ(narrow(text), texts::kAboutMenuItem);

  HWND dialog = window_->handle();
  EXPECT_EQ(windowText(dialog), kMainDialogTitle);
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  for (LONG flag : {WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, static_cast<LONG>(DS_MODALFRAME)})
    EXPECT_EQ(style & flag, flag) << std::hex << flag;
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_EQ(narrow(font.lfFaceName), "宋体");
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(show(client), show(dialogUnits(dialog, {0, 0, kMainDialogWidth, kMainDialogHeight})));

  for (const ControlTemplate& entry : kMainDialogControls) {
    SCOPED_TRACE(std::string(entry.name) + " " + std::to_string(entry.id));
    HWND control = nullptr;
    switch (entry.kind) {
      case ControlKind::GroupBox: control = childWithText(dialog, L"Button", entry.caption); break;
      case ControlKind::Logo: control = FindWindowExW(dialog, nullptr, L"Static", nullptr); break;
      default: control = GetDlgItem(dialog, entry.id); break;
    }
    ASSERT_NE(control, nullptr);
    const RECT expected = dialogUnits(dialog, entry.rect);
    if (entry.kind == ControlKind::Logo) {
      // Bitmap 139 at its own size (101 x 101) from the template's corner.
      const RECT logo{expected.left, expected.top, expected.left + 101, expected.top + 101};
      EXPECT_EQ(show(placeOf(control)), show(logo));
      continue;
    }
    EXPECT_EQ(show(placeOf(control)), show(expected));
    EXPECT_EQ(windowText(control), entry.caption);
    const LONG controlStyle = GetWindowLongW(control, GWL_STYLE);
    if (entry.kind == ControlKind::HiddenButton) {
      EXPECT_FALSE(controlStyle & WS_VISIBLE);
      EXPECT_TRUE(controlStyle & WS_DISABLED);
    } else if (entry.kind == ControlKind::StatusLine) {
      EXPECT_TRUE(controlStyle & WS_DISABLED);
      // The dialog manager turns an edit's border into the sunken client edge.
      EXPECT_TRUE((controlStyle & WS_BORDER) || (GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
    } else if (entry.kind == ControlKind::FlatButton) {
      EXPECT_EQ(controlStyle & BS_FLAT, BS_FLAT);
    } else if (entry.kind == ControlKind::MultiLineEdit) {
      EXPECT_TRUE(controlStyle & ES_MULTILINE);
    } else if (entry.kind == ControlKind::RightLabel) {
      EXPECT_EQ(controlStyle & SS_TYPEMASK, SS_RIGHT);
    }
  }

  // The window menu's about item, and the about box it opens.
  HMENU menu = GetSystemMenu(dialog, FALSE);
  wchar_t item[128] = L"";
  ASSERT_GT(GetMenuStringW(menu, 16, item, 128, MF_BYCOMMAND), 0);
  EXPECT_EQ(narrow(item), texts::kAboutMenuItem);
  SendMessageW(dialog, WM_SYSCOMMAND, 16, 0);
  HWND about = window_->aboutBox();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(windowText(about), kAboutDialogTitle);
  EXPECT_FALSE(IsWindowEnabled(dialog)) << "modal over the dialog";
  for (const ControlTemplate& entry : kAboutDialogControls) {
    if (entry.kind == ControlKind::Icon) continue;
    SCOPED_TRACE(std::string(entry.caption));
    HWND control = entry.id == kNoId ? childWithText(about, L"Static", entry.caption) : GetDlgItem(about, entry.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(windowText(control), entry.caption);
    EXPECT_EQ(show(placeOf(control)), show(dialogUnits(about, entry.rect)));
  }
  SendMessageW(about, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(window_->aboutBox(), nullptr);
  EXPECT_TRUE(IsWindowEnabled(dialog));
}

TEST_F(IdvBenchWindowTest, PostedTasksRunInOrderOnTheWindowsThread) {
  std::vector<int> ran;
  const DWORD windowThread = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  window_->post([&] { ran.push_back(1); });
  EXPECT_TRUE(ran.empty()) << "not before post returns";
  std::thread other([&] {
    window_->post([&] {
      ran.push_back(2);
      ranOn = GetCurrentThreadId();
    });
    window_->setStatusText(std::string(texts::kStatusVerifySucceeded));  // from another thread
  });
  other.join();
  EXPECT_TRUE(pumpUntil([&] { return ran.size() == 2 && window_->statusText() == texts::kStatusVerifySucceeded; }));
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(ranOn.load(), windowThread);
}

TEST_F(IdvBenchWindowTest, MessageBoxesReturnAtOnceAndReportTheirDismissal) {
  window_->show();
  int dismissed = 0;
  const auto shownAt = std::chrono::steady_clock::now();
  window_->showMessageBox({1, std::string(texts::kVerifyFailed), "", MessageIcon::None, false}, [&] { ++dismissed; });
  window_->showMessageBox({2, std::string(texts::kSerialQueryFailed), "IdvBench", MessageIcon::Stop, true},
                          [&] { ++dismissed; });
  EXPECT_LT(std::chrono::steady_clock::now() - shownAt, std::chrono::seconds(1));
  EXPECT_EQ(window_->openMessageBoxes(), 2u);

  // Closed for the program: no dismissal. OK pressed: reported.
  window_->closeMessageBox(1);
  EXPECT_TRUE(pumpUntil([&] { return window_->openMessageBoxes() == 1; }));
  EXPECT_EQ(dismissed, 0);
  window_->dismissMessageBoxes();
  EXPECT_TRUE(pumpUntil([&] { return dismissed == 1 && window_->openMessageBoxes() == 0; }));
  EXPECT_TRUE(IsWindowEnabled(window_->handle())) << "the owner is usable again";
  window_->closeMessageBox(2);  // gone already: nothing

  // Closing the dialog takes its boxes along.
  window_->showMessageBox({3, std::string(texts::kCompareFailed), "", MessageIcon::None, false}, [&] { ++dismissed; });
  window_->closeDialog();
  EXPECT_EQ(ended_, 1);
  EXPECT_EQ(window_->openMessageBoxes(), 0u);
  EXPECT_EQ(dismissed, 1);
}

TEST_F(IdvBenchWindowTest, PhotoAndFingerprintFile) {
  window_->show();
  const fs::path photo = dir_ / "idcard_photo.bmp";
  const fs::path finger = dir_ / "fingerimg.bmp";
  std::vector<uint8_t> grey(102 * 126, 128);
  ASSERT_EQ(saveGrayBmp(102, 126, grey.data(), photo), 0);
  std::vector<uint8_t> image(256 * 360);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(saveGrayBmp(256, 360, image.data(), finger), 0);

  HWND photoControl = window_->control(ControlId::Photo);
  window_->showPhoto(photo);
  EXPECT_NE(SendMessageW(photoControl, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  window_->showPhoto({});
  EXPECT_EQ(SendMessageW(photoControl, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  window_->showPhoto(dir_ / "missing.bmp");
  EXPECT_EQ(SendMessageW(photoControl, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);

  // Read from the file on every paint, gone with the file.
  window_->redrawFingerprint(finger);
  repaint();
  EXPECT_EQ(window_->paintedFingerprintSize().cx, 256);
  EXPECT_EQ(window_->paintedFingerprintSize().cy, 360);
  fs::remove(finger);
  repaint();
  EXPECT_EQ(window_->paintedFingerprintSize().cx, 0);
  std::ofstream(finger, std::ios::binary) << "not a bitmap";
  repaint();
  EXPECT_EQ(window_->paintedFingerprintSize().cx, 0) << "a broken file draws nothing";
}

// A picture of the shown windows, as a PNG file of the frame's size and more,
// kept beside the test program for a look.
TEST_F(IdvBenchWindowTest, ScreenshotOfTheWindows) {
  window_->show();
  window_->setStatusText(std::string(texts::kStatusReaderConnected));
  window_->setFieldText(ControlId::Name, "张伟");
  pumpUntil([] { return true; });
  UpdateWindow(window_->handle());
  const fs::path file = fs::path(FX60_BINARY_DIR) / "tests" / "windows" / "idvbench-window-test.png";
  std::string error;
  ASSERT_TRUE(fx60::station::win32::saveScreenshot(file, error)) << error;
  std::ifstream in(file, std::ios::binary);
  std::vector<unsigned char> head(24);
  in.read(reinterpret_cast<char*>(head.data()), 24);
  ASSERT_TRUE(in);
  EXPECT_EQ(std::string(head.begin() + 1, head.begin() + 4), "PNG");
  EXPECT_EQ(std::string(head.begin() + 12, head.begin() + 16), "IHDR");
  const auto bigEndian = [&](int at) { return head[at] << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3]; };
  RECT frame;
  GetWindowRect(window_->handle(), &frame);
  EXPECT_GE(bigEndian(16), frame.right - frame.left);
  EXPECT_GE(bigEndian(20), frame.bottom - frame.top);

  window_->closeDialog();
  EXPECT_FALSE(fx60::station::win32::saveScreenshot(file, error)) << "no window shown";
}

}  // namespace
