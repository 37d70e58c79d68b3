// The main dialog as lines of text: every status line, caption, button state,
// field, picture and message box is printed as it happens. Message boxes are
// answered at once, as if the operator pressed OK.
#pragma once

#include <map>
#include <ostream>
#include <string>

#include "station/idvbench_view.h"
#include "station/task_loop.h"

namespace fx60::station {

class TextView final : public IdvBenchView {
 public:
  TextView(TaskLoop& loop, std::ostream& out) : loop_(loop), out_(out) {}

  void post(std::function<void()> task) override { loop_.post(std::move(task)); }
  void setFieldText(ControlId field, const std::string& text) override;
  void setStatusText(const std::string& text) override;
  void setButtonCaption(ControlId button, const std::string& caption) override;
  void setButtonEnabled(ControlId button, bool enabled) override;
  void showPhoto(const std::filesystem::path& bitmapFile) override;
  void redrawFingerprint(const std::filesystem::path& imageFile) override;
  void showMessageBox(const MessageBox& box, std::function<void()> dismissed) override;
  void closeMessageBox(uint64_t id) override;
  void closeDialog() override;

  const std::string& status() const { return status_; }
  bool closed() const { return closed_; }

 private:
  void print(const std::string& line);

  TaskLoop& loop_;
  std::ostream& out_;
  std::string status_;
  std::map<ControlId, std::string> fields_;
  std::map<ControlId, bool> enabled_;
  std::string photo_;
  bool closed_ = false;
};

// The label the dialog gives a field or button ("姓名", "身份验证"...), for printing.
std::string_view controlLabel(ControlId id);

}  // namespace fx60::station
