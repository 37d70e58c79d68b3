// The capture dialog's window on Windows: dialog 7000 from the library's own
// resources, run modally on the calling thread. The worker draws each image into
// the picture (control 7000) through the control's device context, as it
// arrives; the quality text and the end of the dialog are posted to the
// dialog's thread, so that the worker never waits for that thread.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "driver/capture_dialog_plugin.h"

namespace fx60 {

namespace {

constexpr int kDialogResource = 7000;
constexpr int kPictureId = 7000;
constexpr int kQualityId = 7001;
constexpr int kCancelId = 7002;

constexpr UINT kQualityChanged = WM_APP + 1;
constexpr UINT kWorkerEnded = WM_APP + 2;

constexpr int kImageWidth = 256;
constexpr int kImageHeight = 360;
constexpr int kImageBytes = kImageWidth * kImageHeight;

constexpr WPARAM kEnterKey = 13;
constexpr WPARAM kEscapeKey = 27;

HMODULE thisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&thisModule), &module);
  return module;
}

// A bottom-up 8-bit device-independent bitmap with a grey palette.
struct GreyBitmapInfo {
  BITMAPINFOHEADER header;
  RGBQUAD palette[256];
};

GreyBitmapInfo greyBitmapInfo() {
  GreyBitmapInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = kImageWidth;
  info.header.biHeight = kImageHeight;  // positive: the last row first
  info.header.biPlanes = 1;
  info.header.biBitCount = 8;
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = kImageBytes;
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<BYTE>(i);
    info.palette[i] = RGBQUAD{level, level, level, 0};
  }
  return info;
}

class CaptureDialogWindow final : public CaptureDialogView {
 public:
  explicit CaptureDialogWindow(CaptureDialogHandlers& handlers) : handlers_(handlers), bitmapInfo_(greyBitmapInfo()) {}

  int run();

  void showPreview(const uint8_t* image) override;
  void setQualityText(const char* text) override;
  void closeDialog() override;

 private:
  static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK pictureProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool drawPreview(HDC dc);
  bool hasPreview() {
    std::lock_guard hold(lock_);
    return !preview_.empty();
  }
  bool swallowed(const MSG& message) const;

  CaptureDialogHandlers& handlers_;
  const GreyBitmapInfo bitmapInfo_;
  HWND dialog_ = nullptr;
  HWND picture_ = nullptr;
  WNDPROC pictureDefault_ = nullptr;
  bool ended_ = false;

  std::mutex lock_;
  std::vector<uint8_t> preview_;  // the last image, bottom row first; empty before the first
  std::string quality_;
};

int CaptureDialogWindow::run() {
  HWND owner = GetActiveWindow();
  dialog_ = CreateDialogParamW(thisModule(), MAKEINTRESOURCEW(kDialogResource), owner, dialogProcedure,
                               reinterpret_cast<LPARAM>(this));
  if (dialog_ == nullptr) return kCaptureDialogNoDisplay;
  if (owner != nullptr) EnableWindow(owner, FALSE);
  ShowWindow(dialog_, SW_SHOW);

  bool quit = false;
  WPARAM quitCode = 0;
  MSG message;
  while (!ended_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {  // the thread is told to quit: the dialog ends as by a cancel
      quit = got == 0;
      quitCode = message.wParam;
      break;
    }
    if (swallowed(message)) continue;
    if (!IsDialogMessageW(dialog_, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  handlers_.OnDestroy();  // the worker is done with this view
  if (owner != nullptr) EnableWindow(owner, TRUE);
  DestroyWindow(dialog_);
  dialog_ = nullptr;
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return kCaptureDialogRan;
}

// The Enter and Escape keys do nothing in the dialog, not even on the focused
// cancel button: any message of the dialog's windows that carries their key
// code is dropped.
bool CaptureDialogWindow::swallowed(const MSG& message) const {
  if (message.wParam != kEnterKey && message.wParam != kEscapeKey) return false;
  return message.hwnd == dialog_ || IsChild(dialog_, message.hwnd);
}

INT_PTR CALLBACK CaptureDialogWindow::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CaptureDialogWindow*>(lParam);
    self->dialog_ = window;
    self->picture_ = GetDlgItem(window, kPictureId);
    SetWindowLongPtrW(self->picture_, GWLP_USERDATA, lParam);
    self->pictureDefault_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(self->picture_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pictureProcedure)));
    self->handlers_.OnInitDialog(*self);
    return TRUE;
  }
  auto* self = reinterpret_cast<CaptureDialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self == nullptr ? FALSE : self->handle(message, wParam, lParam);
}

INT_PTR CaptureDialogWindow::handle(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCancelId && HIWORD(wParam) == BN_CLICKED) handlers_.OnCancelButton();
      return TRUE;  // IDOK and IDCANCEL leave the dialog open
    case WM_CLOSE:
      return TRUE;  // only the worker ends the dialog
    case kQualityChanged: {
      std::string text;
      {
        std::lock_guard hold(lock_);
        text = quality_;
      }
      SetDlgItemTextA(dialog_, kQualityId, text.c_str());
      return TRUE;
    }
    case kWorkerEnded:
      ended_ = true;
      return TRUE;
    default:
      return FALSE;
  }
}

// The picture shows bitmap 7001 until the first image, then the last image,
// also when the window system asks it to paint again.
LRESULT CALLBACK CaptureDialogWindow::pictureProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CaptureDialogWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_PAINT && self->hasPreview()) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    self->drawPreview(dc);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_PRINTCLIENT && self->drawPreview(reinterpret_cast<HDC>(wParam))) {
    return 0;
  }
  return CallWindowProcW(self->pictureDefault_, window, message, wParam, lParam);
}

// At 256 x 360 device pixels from the control's top-left corner, whatever the
// control's size. False before the first image.
bool CaptureDialogWindow::drawPreview(HDC dc) {
  std::lock_guard hold(lock_);
  if (preview_.empty()) return false;
  StretchDIBits(dc, 0, 0, kImageWidth, kImageHeight, 0, 0, kImageWidth, kImageHeight, preview_.data(),
                reinterpret_cast<const BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS, SRCCOPY);
  return true;
}

void CaptureDialogWindow::showPreview(const uint8_t* image) {
  {
    std::lock_guard hold(lock_);
    preview_.resize(kImageBytes);
    // Row 0 last: the bitmap is bottom-up, so that row 0 shows at the top.
    for (int row = 0; row < kImageHeight; ++row)
      std::memcpy(preview_.data() + static_cast<size_t>(kImageHeight - 1 - row) * kImageWidth,
                  image + static_cast<size_t>(row) * kImageWidth, kImageWidth);
  }
  HDC dc = GetDC(picture_);
  if (dc == nullptr) return;
  drawPreview(dc);
  ReleaseDC(picture_, dc);
}

void CaptureDialogWindow::setQualityText(const char* text) {
  {
    std::lock_guard hold(lock_);
    quality_ = text;
  }
  PostMessageW(dialog_, kQualityChanged, 0, 0);
}

void CaptureDialogWindow::closeDialog() { PostMessageW(dialog_, kWorkerEnded, 0, 0); }

int runCaptureDialogWindow(CaptureDialogHandlers* handlers, int interfaceVersion) {
  if (interfaceVersion != kCaptureDialogInterface) return kCaptureDialogWrongVersion;
  if (handlers == nullptr) return kCaptureDialogNoDisplay;
  CaptureDialogWindow window(*handlers);
  return window.run();
}

}  // namespace

// Linked into the library: nothing to load.
RunCaptureDialogFunction captureDialogRunner() { return &runCaptureDialogWindow; }

}  // namespace fx60
