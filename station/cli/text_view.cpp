#include "station/cli/text_view.h"

#include <filesystem>

namespace fx60::station {

std::string_view controlLabel(ControlId id) {
  switch (id) {
    case ControlId::Name: return "姓名";
    case ControlId::Sex: return "性别";
    case ControlId::Nation: return "民族";
    case ControlId::BirthDate: return "出生日期";
    case ControlId::Address: return "住址";
    case ControlId::IdNumber: return "身份号码";
    case ControlId::Authority: return "签发机关";
    case ControlId::Validity: return "有效期限";
    case ControlId::SerialButton: return texts::kSerialButton;
    case ControlId::CollectButton: return texts::kCollectIdle;
    case ControlId::CompareButton: return texts::kCompareIdle;
    case ControlId::VerifyButton: return texts::kVerifyIdle;
    case ControlId::ClearButton: return texts::kClearButton;
    case ControlId::ExitButton: return texts::kExitButton;
    default: return "";
  }
}

namespace {

std::string controlName(ControlId id) {
  return std::to_string(static_cast<int>(id)) + " " + std::string(controlLabel(id));
}

std::string_view iconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Stop: return "stop";
    case MessageIcon::Information: return "information";
    case MessageIcon::None: break;
  }
  return "none";
}

}  // namespace

void TextView::print(const std::string& line) { out_ << line << std::endl; }

void TextView::setFieldText(ControlId field, const std::string& text) {
  auto [entry, added] = fields_.try_emplace(field, text);
  if (!added && entry->second == text) return;  // only changes are worth a line
  entry->second = text;
  if (added && text.empty()) return;
  print("field " + controlName(field) + ": " + text);
}

void TextView::setStatusText(const std::string& text) {
  status_ = text;
  print("status: " + text);
}

void TextView::setButtonCaption(ControlId button, const std::string& caption) {
  print("caption " + std::to_string(static_cast<int>(button)) + ": " + caption);
}

void TextView::setButtonEnabled(ControlId button, bool enabled) {
  auto [entry, added] = enabled_.try_emplace(button, true);
  if (entry->second == enabled) return;
  entry->second = enabled;
  print("button " + controlName(button) + (enabled ? ": enabled" : ": disabled"));
}

void TextView::showPhoto(const std::filesystem::path& bitmapFile) {
  std::error_code error;
  const std::string shown = !bitmapFile.empty() && std::filesystem::is_regular_file(bitmapFile, error)
                                ? bitmapFile.string()
                                : std::string();
  if (shown == photo_) return;
  photo_ = shown;
  print("photo: " + (shown.empty() ? std::string("none") : shown));
}

void TextView::redrawFingerprint(const std::filesystem::path& imageFile) {
  std::error_code error;
  print("fingerprint: " + (std::filesystem::is_regular_file(imageFile, error) ? imageFile.string() : std::string("none")));
}

void TextView::showMessageBox(const MessageBox& box, std::function<void()> dismissed) {
  print("box: " + box.text + " | caption: " + (box.caption.empty() ? std::string("(default)") : box.caption) +
        " | icon: " + std::string(iconName(box.icon)) + " | owner: " + (box.ownedByDialog ? "dialog" : "none"));
  loop_.post(std::move(dismissed));  // OK, after the presenter has gone on
}

void TextView::closeMessageBox(uint64_t /*id*/) {}  // every box is answered at once

void TextView::closeDialog() {
  if (closed_) return;
  closed_ = true;
  print("closed");
}

}  // namespace fx60::station
