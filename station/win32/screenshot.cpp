#include "station/win32/screenshot.h"

#include <windows.h>

#include <vector>

#include "station/win32/png_file.h"

namespace fx60::station::win32 {

namespace {

constexpr int kMargin = 16;
constexpr COLORREF kBackdrop = RGB(0x5b, 0x6b, 0x7b);

BOOL CALLBACK collectOwnWindow(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && !IsIconic(window))
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// Top-most first, as the window system lists them.
std::vector<HWND> ownVisibleWindows() {
  std::vector<HWND> windows;
  EnumWindows(collectOwnWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

}  // namespace

bool saveScreenshot(const std::filesystem::path& file, std::string& error) {
  const std::vector<HWND> windows = ownVisibleWindows();
  if (windows.empty()) {
    error = "no window is shown";
    return false;
  }
  RECT all{};
  for (HWND window : windows) {
    RECT frame;
    GetWindowRect(window, &frame);
    UnionRect(&all, &all, &frame);
  }
  InflateRect(&all, kMargin, kMargin);
  const int width = all.right - all.left;
  const int height = all.bottom - all.top;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC canvas = CreateCompatibleDC(nullptr);
  HBITMAP picture = CreateDIBSection(canvas, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (picture == nullptr) {
    DeleteDC(canvas);
    error = "no memory for the picture";
    return false;
  }
  HGDIOBJ previous = SelectObject(canvas, picture);
  HBRUSH backdrop = CreateSolidBrush(kBackdrop);
  const RECT whole{0, 0, width, height};
  FillRect(canvas, &whole, backdrop);
  DeleteObject(backdrop);
  for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
    RECT frame;
    GetWindowRect(*window, &frame);
    HDC source = GetWindowDC(*window);
    BitBlt(canvas, frame.left - all.left, frame.top - all.top, frame.right - frame.left, frame.bottom - frame.top,
           source, 0, 0, SRCCOPY);
    ReleaseDC(*window, source);
  }
  GdiFlush();

  std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  const auto* pixels = static_cast<const uint8_t*>(bits);
  for (size_t i = 0; i < static_cast<size_t>(width) * static_cast<size_t>(height); ++i) {
    rgb[i * 3] = pixels[i * 4 + 2];
    rgb[i * 3 + 1] = pixels[i * 4 + 1];
    rgb[i * 3 + 2] = pixels[i * 4];
  }
  SelectObject(canvas, previous);
  DeleteObject(picture);
  DeleteDC(canvas);

  const bool written = writePng(file, width, height, rgb);
  if (!written) error = "the file cannot be written";
  return written;
}

}  // namespace fx60::station::win32
