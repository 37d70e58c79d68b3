// The station's message boxes, each on a thread of its own, so that showing one
// returns at once (the view's contract) while the box stays up until the
// operator answers it. A box of the dialog's is owned by the dialog and keeps it
// from being used meanwhile; a workflow's box has no owner.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "station/idvbench_view.h"

namespace fx60::station::win32 {

class MessageBoxes {
 public:
  // `post` hands a task to the thread that owns the boxes (the dialog's).
  explicit MessageBoxes(std::function<void(std::function<void()>)> post) : post_(std::move(post)) {}
  ~MessageBoxes() { closeAll(); }
  MessageBoxes(const MessageBoxes&) = delete;
  MessageBoxes& operator=(const MessageBoxes&) = delete;

  // Shows the box and returns; `dismissed` runs through `post` once the operator
  // has closed it.
  void show(HWND owner, const MessageBox& box, std::function<void()> dismissed);

  // Closes a box without reporting its dismissal; nothing when it is gone.
  void close(uint64_t id);

  // OK on every open box, as the operator would press it.
  void pressOkOnAll();

  // Closes every box without reporting, and waits until they are gone.
  void closeAll();

  size_t open() const { return boxes_.size(); }

  struct Box;  // one box and its thread

 private:
  void finished(uint64_t id);

  std::function<void(std::function<void()>)> post_;
  std::map<uint64_t, std::shared_ptr<Box>> boxes_;  // on the owning thread only
};

}  // namespace fx60::station::win32
