// A view that records what the presenter makes the dialog do, one line per
// effect, and keeps the dialog's state. Its thread is the test's: tasks posted by
// workers run when the test runs the loop.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "station/idvbench_view.h"
#include "station/task_loop.h"

namespace fx60::station::testing {

class RecordingView final : public IdvBenchView {
 public:
  // Boxes without owner stay open until the test dismisses them; the others are
  // answered at once, after the presenter has gone on.
  bool holdWorkflowBoxes = false;

  void post(std::function<void()> task) override { loop.post(std::move(task)); }
  void setFieldText(ControlId field, const std::string& text) override {
    fields[field] = text;
    record("field " + std::to_string(static_cast<int>(field)) + ": " + text);
  }
  void setStatusText(const std::string& text) override {
    status = text;
    record("status: " + text);
  }
  void setButtonCaption(ControlId button, const std::string& caption) override {
    captions[button] = caption;
    record("caption " + std::to_string(static_cast<int>(button)) + ": " + caption);
  }
  void setButtonEnabled(ControlId button, bool enabled) override {
    disabled[button] = !enabled;
    record("enabled " + std::to_string(static_cast<int>(button)) + ": " + (enabled ? "yes" : "no"));
  }
  void showPhoto(const std::filesystem::path& bitmapFile) override {
    std::error_code error;
    photoShown = !bitmapFile.empty() && std::filesystem::is_regular_file(bitmapFile, error);
    record(std::string("photo: ") + (photoShown ? "shown" : "none"));
  }
  void redrawFingerprint(const std::filesystem::path& imageFile) override {
    std::error_code error;
    fingerprintShown = std::filesystem::is_regular_file(imageFile, error);
    record(std::string("fingerprint: ") + (fingerprintShown ? "shown" : "none"));
  }
  void showMessageBox(const MessageBox& box, std::function<void()> dismissed) override {
    const char* icon = box.icon == MessageIcon::Stop ? "stop" : box.icon == MessageIcon::Information ? "information" : "none";
    record("box: " + box.text + " | " + (box.caption.empty() ? "(default)" : box.caption) + " | " + icon + " | " +
           (box.ownedByDialog ? "owned" : "no owner"));
    if (holdWorkflowBoxes && !box.ownedByDialog) {
      openBoxes[box.id] = std::move(dismissed);
    } else {
      loop.post(std::move(dismissed));
    }
  }
  void closeMessageBox(uint64_t id) override {
    if (openBoxes.erase(id) != 0) record("box closed");
  }
  void closeDialog() override {
    closed = true;
    record("closed");
  }

  // The operator presses OK on every open box.
  void dismissBoxes() {
    auto boxes = std::move(openBoxes);
    openBoxes.clear();
    for (auto& [id, dismissed] : boxes) dismissed();
  }

  bool runUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    return loop.runUntil(condition, std::chrono::milliseconds(timeoutMs));
  }
  void runFor(int milliseconds) {
    loop.runUntil([] { return false; }, std::chrono::milliseconds(milliseconds));
  }

  // The recorded lines that start with `prefix`, in order.
  std::vector<std::string> linesStartingWith(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const auto& line : events)
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
  }
  // Status lines and boxes, the visible course of a workflow.
  std::vector<std::string> course() const {
    std::vector<std::string> lines;
    for (const auto& line : events)
      if (line.rfind("status: ", 0) == 0 || line.rfind("box", 0) == 0 || line.rfind("caption ", 0) == 0)
        lines.push_back(line);
    return lines;
  }
  bool anyDisabled() const {
    for (const auto& [button, off] : disabled)
      if (off) return true;
    return false;
  }

  TaskLoop loop;
  std::vector<std::string> events;
  std::string status;
  std::map<ControlId, std::string> fields;
  std::map<ControlId, std::string> captions;
  std::map<ControlId, bool> disabled;
  std::map<uint64_t, std::function<void()>> openBoxes;
  bool photoShown = false;
  bool fingerprintShown = false;
  bool closed = false;

 private:
  void record(std::string line) { events.push_back(std::move(line)); }
};

}  // namespace fx60::station::testing
