#include "station/win32/idvbench_window.h"

#include "station/idvbench_dlg.h"
#include "station/win32/wide_text.h"

namespace fx60::station::win32 {

namespace {

constexpr int kMainDialogResource = 102;
constexpr int kAboutDialogResource = 100;
constexpr int kIconResource = 128;
constexpr int kBackgroundResource = 140;
constexpr int kAboutMenuText = 101;
constexpr UINT kAboutCommand = 16;

constexpr UINT kRunTasks = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;

// The background is drawn from this corner on, over the whole client size.
constexpr int kBackgroundOrigin = 2;

RECT placeInParent(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace

IdvBenchWindow::IdvBenchWindow(HINSTANCE resources, std::function<void()> ended)
    : resources_(resources),
      onEnded_(std::move(ended)),
      boxes_([this](std::function<void()> task) { post(std::move(task)); }) {}

IdvBenchWindow::~IdvBenchWindow() {
  boxes_.closeAll();
  closeAbout();
  if (dialog_ != nullptr) {
    KillTimer(dialog_, kTickTimer);
    DestroyWindow(dialog_);
  }
  for (HBITMAP bitmap : {background_, photo_})
    if (bitmap != nullptr) DeleteObject(bitmap);
  for (HICON icon : {bigIcon_, smallIcon_})
    if (icon != nullptr) DestroyIcon(icon);
}

bool IdvBenchWindow::create() {
  dialog_ = CreateDialogParamW(resources_, MAKEINTRESOURCEW(kMainDialogResource), nullptr, dialogProcedure,
                               reinterpret_cast<LPARAM>(this));
  return dialog_ != nullptr;
}

void IdvBenchWindow::show() {
  ShowWindow(dialog_, SW_SHOW);
  SetForegroundWindow(dialog_);
}

void IdvBenchWindow::initialise() {
  // The about item on the window menu, when its text is there.
  wchar_t about[128] = L"";
  if (LoadStringW(resources_, kAboutMenuText, about, 128) > 0) {
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutCommand, about);
  }
  bigIcon_ = static_cast<HICON>(LoadImageW(resources_, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(resources_, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  background_ = static_cast<HBITMAP>(
      LoadImageW(resources_, MAKEINTRESOURCEW(kBackgroundResource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

INT_PTR CALLBACK IdvBenchWindow::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<IdvBenchWindow*>(lParam);
    self->dialog_ = window;
    self->initialise();
    return TRUE;
  }
  auto* self = reinterpret_cast<IdvBenchWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self == nullptr ? FALSE : self->handle(message, wParam, lParam);
}

INT_PTR IdvBenchWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) command(LOWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != kAboutCommand) return FALSE;
      showAbout();
      return TRUE;
    case WM_PAINT:
      paint();
      return TRUE;
    case WM_CTLCOLORSTATIC:
      // Labels, group boxes and pictures lie on the background bitmap; the
      // disabled status line keeps its own face.
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == static_cast<int>(ControlId::Status)) return FALSE;
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(bigIcon_);
    case WM_TIMER:
      if (wParam == kTickTimer && tick_) tick_();
      return TRUE;
    case kRunTasks:
      runPostedTasks();
      return TRUE;
    default:
      return FALSE;
  }
}

void IdvBenchWindow::command(int id) {
  if (presenter_ == nullptr) {
    if (id == IDCANCEL) closeDialog();
    return;
  }
  switch (id) {
    case static_cast<int>(ControlId::SerialButton): presenter_->OnQuerySerial(); break;
    case static_cast<int>(ControlId::CollectButton): presenter_->OnCollect(); break;
    case static_cast<int>(ControlId::CompareButton): presenter_->OnCompare(); break;
    case static_cast<int>(ControlId::VerifyButton): presenter_->OnVerify(); break;
    case static_cast<int>(ControlId::ClearButton): presenter_->clearInfo(); break;
    case IDCANCEL: presenter_->OnCancel(); break;  // button 2, the Esc key, the close box
    case IDOK: presenter_->OnOK(); break;          // the Enter key
    default: break;
  }
}

bool IdvBenchWindow::translateDialogMessage(MSG& message) {
  if (about_ != nullptr && IsDialogMessageW(about_, &message)) return true;
  return dialog_ != nullptr && IsDialogMessageW(dialog_, &message);
}

void IdvBenchWindow::startTicks(std::chrono::milliseconds interval, std::function<void()> tick) {
  tick_ = std::move(tick);
  SetTimer(dialog_, kTickTimer, static_cast<UINT>(interval.count()), nullptr);
}

// ---- the view ---------------------------------------------------------------

void IdvBenchWindow::post(std::function<void()> task) {
  {
    std::lock_guard hold(tasksLock_);
    tasks_.push_back(std::move(task));
  }
  PostMessageW(dialog_, kRunTasks, 0, 0);
}

void IdvBenchWindow::runPostedTasks() {
  std::deque<std::function<void()>> due;
  {
    std::lock_guard hold(tasksLock_);
    due.swap(tasks_);
  }
  for (auto& task : due) task();
}

bool IdvBenchWindow::handedToOwnThread(std::function<void()> call) {
  if (GetCurrentThreadId() == thread_) return false;
  post(std::move(call));
  return true;
}

void IdvBenchWindow::setFieldText(ControlId field, const std::string& text) {
  if (handedToOwnThread([this, field, text] { setFieldText(field, text); })) return;
  SetWindowTextW(control(field), widen(text).c_str());
}

void IdvBenchWindow::setStatusText(const std::string& text) {
  if (handedToOwnThread([this, text] { setStatusText(text); })) return;
  SetWindowTextW(control(ControlId::Status), widen(text).c_str());
}

void IdvBenchWindow::setButtonCaption(ControlId button, const std::string& caption) {
  if (handedToOwnThread([this, button, caption] { setButtonCaption(button, caption); })) return;
  SetWindowTextW(control(button), widen(caption).c_str());
}

void IdvBenchWindow::setButtonEnabled(ControlId button, bool enabled) {
  if (handedToOwnThread([this, button, enabled] { setButtonEnabled(button, enabled); })) return;
  EnableWindow(control(button), enabled ? TRUE : FALSE);
}

std::string IdvBenchWindow::statusText() const { return windowText(control(ControlId::Status)); }

void IdvBenchWindow::showPhoto(const std::filesystem::path& bitmapFile) {
  if (handedToOwnThread([this, bitmapFile] { showPhoto(bitmapFile); })) return;
  HBITMAP loaded = bitmapFile.empty() ? nullptr
                                      : static_cast<HBITMAP>(LoadImageW(nullptr, bitmapFile.c_str(), IMAGE_BITMAP, 0, 0,
                                                                        LR_LOADFROMFILE));
  SendMessageW(control(ControlId::Photo), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(loaded));
  if (photo_ != nullptr) DeleteObject(photo_);
  photo_ = loaded;
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void IdvBenchWindow::redrawFingerprint(const std::filesystem::path& imageFile) {
  if (handedToOwnThread([this, imageFile] { redrawFingerprint(imageFile); })) return;
  fingerImagePath_ = imageFile;
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void IdvBenchWindow::showMessageBox(const MessageBox& box, std::function<void()> dismissed) {
  if (handedToOwnThread([this, box, dismissed] { showMessageBox(box, dismissed); })) return;
  boxes_.show(dialog_, box, std::move(dismissed));
}

void IdvBenchWindow::closeMessageBox(uint64_t id) {
  if (handedToOwnThread([this, id] { closeMessageBox(id); })) return;
  boxes_.close(id);
}

void IdvBenchWindow::dismissMessageBoxes() { boxes_.pressOkOnAll(); }

void IdvBenchWindow::closeDialog() {
  if (handedToOwnThread([this] { closeDialog(); })) return;
  if (ended_) return;
  ended_ = true;
  boxes_.closeAll();
  closeAbout();
  ShowWindow(dialog_, SW_HIDE);
  if (onEnded_) onEnded_();
}

// ---- the about box ----------------------------------------------------------------

void IdvBenchWindow::showAbout() {
  if (ended_) return;
  if (about_ == nullptr) {
    about_ = CreateDialogParamW(resources_, MAKEINTRESOURCEW(kAboutDialogResource), dialog_, aboutProcedure,
                                reinterpret_cast<LPARAM>(this));
    if (about_ == nullptr) return;
    EnableWindow(dialog_, FALSE);  // modal over the dialog, without a loop of its own
  }
  ShowWindow(about_, SW_SHOW);
  SetForegroundWindow(about_);
}

INT_PTR CALLBACK IdvBenchWindow::aboutProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    reinterpret_cast<IdvBenchWindow*>(GetWindowLongPtrW(window, DWLP_USER))->closeAbout();
    return TRUE;
  }
  return FALSE;
}

void IdvBenchWindow::closeAbout() {
  if (about_ == nullptr) return;
  EnableWindow(dialog_, TRUE);
  DestroyWindow(about_);
  about_ = nullptr;
}

// ---- painting ---------------------------------------------------------------------

void IdvBenchWindow::paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog_, &paint);
  RECT client;
  GetClientRect(dialog_, &client);
  if (IsIconic(dialog_)) {
    const int left = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int top = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, left, top, bigIcon_);
  } else {
    if (background_ != nullptr) {
      BITMAP size;
      GetObjectW(background_, sizeof size, &size);
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ previous = SelectObject(memory, background_);
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, kBackgroundOrigin, kBackgroundOrigin, client.right, client.bottom, memory, 0, 0, size.bmWidth,
                 size.bmHeight, SRCCOPY);
      SelectObject(memory, previous);
      DeleteDC(memory);
    }
    drawFingerImage(dc);
  }
  EndPaint(dialog_, &paint);
}

// Read from the file on every paint: the picture is gone once the file is.
void IdvBenchWindow::drawFingerImage(HDC dc) {
  paintedFingerprint_ = SIZE{};
  std::error_code error;
  if (fingerImagePath_.empty() || !std::filesystem::exists(fingerImagePath_, error)) return;
  auto* image = static_cast<HBITMAP>(
      LoadImageW(nullptr, fingerImagePath_.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (image == nullptr) return;
  BITMAP size;
  GetObjectW(image, sizeof size, &size);
  const RECT target = placeInParent(control(ControlId::Fingerprint));
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ previous = SelectObject(memory, image);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, memory, 0, 0,
             size.bmWidth, size.bmHeight, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(image);
  paintedFingerprint_ = SIZE{size.bmWidth, size.bmHeight};
}

}  // namespace fx60::station::win32
