#include "station/win32/message_boxes.h"

#include "station/win32/wide_text.h"

namespace fx60::station::win32 {

struct MessageBoxes::Box {
  std::mutex lock;
  HWND window = nullptr;      // once the box is up
  bool closeWanted = false;   // close it as soon as it is up
  std::atomic<bool> silenced{false};  // closed by the program: no dismissal to report
  std::atomic<bool> done{false};
  std::thread thread;

  // Closes the box now, or as soon as it is up.
  void requestClose() {
    std::lock_guard hold(lock);
    closeWanted = true;
    if (window != nullptr) PostMessageW(window, WM_COMMAND, IDOK, 0);
  }
};

namespace {

// The box of the calling thread, for the hook that learns its window (a hook
// carries no pointer of its own).
thread_local MessageBoxes::Box* tBox = nullptr;

UINT iconFlag(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Stop: return MB_ICONSTOP;
    case MessageIcon::Information: return MB_ICONINFORMATION;
    case MessageIcon::None: break;
  }
  return 0;
}

LRESULT CALLBACK learnBoxWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && tBox != nullptr) {
    std::lock_guard hold(tBox->lock);
    if (tBox->window == nullptr) {
      tBox->window = reinterpret_cast<HWND>(wParam);
      if (tBox->closeWanted) PostMessageW(tBox->window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void MessageBoxes::show(HWND owner, const MessageBox& box, std::function<void()> dismissed) {
  auto shown = std::make_shared<Box>();
  boxes_[box.id] = shown;
  const uint64_t id = box.id;
  auto report = [this, id, dismissed = std::move(dismissed)] {
    const auto found = boxes_.find(id);
    if (found == boxes_.end()) return;  // closed for the program meanwhile
    const bool silenced = found->second->silenced.load();
    finished(id);
    if (!silenced && dismissed) dismissed();
  };
  shown->thread = std::thread([shown, owner = box.ownedByDialog ? owner : nullptr, text = widen(box.text),
                               caption = widen(box.caption), flags = MB_OK | iconFlag(box.icon),
                               post = post_, report = std::move(report)] {
    tBox = shown.get();
    HHOOK hook = SetWindowsHookExW(WH_CBT, learnBoxWindow, nullptr, GetCurrentThreadId());
    MessageBoxW(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), flags);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    tBox = nullptr;
    shown->done = true;
    post(report);
  });
}

void MessageBoxes::finished(uint64_t id) {
  const auto found = boxes_.find(id);
  if (found == boxes_.end()) return;
  found->second->thread.join();  // the box is down: its thread is ending
  boxes_.erase(found);
}

void MessageBoxes::close(uint64_t id) {
  const auto found = boxes_.find(id);
  if (found == boxes_.end()) return;
  found->second->silenced = true;
  found->second->requestClose();
}

void MessageBoxes::pressOkOnAll() {
  for (auto& [id, box] : boxes_) box->requestClose();
}

void MessageBoxes::closeAll() {
  for (auto& [id, box] : boxes_) {
    box->silenced = true;
    box->requestClose();
  }
  // A box owned by a window of this thread re-enables it as it closes, which
  // takes a message answered here: answer such messages while waiting.
  for (auto& [id, box] : boxes_) {
    while (!box->done) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    box->thread.join();
  }
  boxes_.clear();
}

}  // namespace fx60::station::win32
