// The station's two dialog templates: the main dialog (102) and the about box
// (100), in dialog units of their font, "宋体" 9 point. The Qt windows are laid
// out from these tables; the Windows resource script carries the same, which a
// test of the Windows build compares.
#pragma once

#include <array>
#include <string_view>

#include "platform/dialog_rect.h"
#include "station/texts.h"

namespace fx60::station::ui {

using fx60::ui::DialogRect;

enum class ControlKind {
  FlatButton,
  DefaultButton,
  HiddenButton,  // present, hidden and disabled
  Edit,          // one line, scrolling sideways
  MultiLineEdit,
  StatusLine,    // bordered, disabled
  Picture,       // a bitmap centred at its own size
  Label,
  RightLabel,
  GroupBox,
  Logo,          // bitmap 139 at its own size from the top-left corner
  Icon,          // icon 128 at the system's icon size
};

struct ControlTemplate {
  int id;                  // kNoId for the controls without one
  std::string_view name;   // the object name of a control without an id
  ControlKind kind;
  std::string_view caption;
  DialogRect rect;
};

inline constexpr int kNoId = -1;
inline constexpr int kDialogFontPoints = 9;

// Template 102.
inline constexpr int kMainDialogWidth = 339;
inline constexpr int kMainDialogHeight = 215;
inline constexpr std::string_view kMainDialogTitle = "居民身份证阅读器_KT340-115";
inline constexpr std::string_view kAboutDialogTitle = texts::kAboutCaption;

// Group boxes first, so that the controls inside them lie on top.
inline constexpr std::array<ControlTemplate, 29> kMainDialogControls{{
    {kNoId, "personal-group", ControlKind::GroupBox, "个人信息", {74, 4, 185, 89}},
    {kNoId, "card-group", ControlKind::GroupBox, " 证件", {74, 98, 185, 89}},
    {kNoId, "logo", ControlKind::Logo, "", {3, 4, 67, 67}},
    {1000, "", ControlKind::Edit, "", {101, 20, 64, 12}},
    {1001, "", ControlKind::Edit, "", {211, 20, 40, 12}},
    {1002, "", ControlKind::Edit, "", {101, 40, 64, 12}},
    {1003, "", ControlKind::Edit, "", {211, 40, 40, 12}},
    {1004, "", ControlKind::MultiLineEdit, "", {101, 63, 150, 22}},
    {1005, "", ControlKind::Edit, "", {120, 114, 131, 12}},
    {1006, "", ControlKind::Edit, "", {120, 138, 131, 12}},
    {1007, "", ControlKind::Edit, "", {120, 163, 131, 12}},
    {1016, "", ControlKind::FlatButton, texts::kSerialButton, {265, 98, 60, 14}},
    {1018, "", ControlKind::FlatButton, texts::kCollectIdle, {265, 113, 60, 14}},
    {3, "", ControlKind::FlatButton, texts::kCompareIdle, {265, 128, 60, 14}},
    {4, "", ControlKind::FlatButton, texts::kVerifyIdle, {265, 143, 60, 14}},
    {1042, "", ControlKind::FlatButton, texts::kClearButton, {265, 158, 60, 14}},
    {2, "", ControlKind::FlatButton, texts::kExitButton, {265, 173, 60, 14}},
    {1009, "", ControlKind::Picture, "", {263, 7, 70, 85}},
    {1011, "", ControlKind::Picture, "", {1, 101, 70, 85}},
    {1017, "", ControlKind::StatusLine, "", {3, 201, 331, 12}},
    {1019, "", ControlKind::Label, "姓名", {79, 21, 17, 8}},
    {1020, "", ControlKind::RightLabel, "性别", {188, 21, 17, 8}},
    {1021, "", ControlKind::Label, "民族", {79, 42, 17, 8}},
    {1022, "", ControlKind::RightLabel, "出生日期", {166, 42, 39, 8}},
    {1023, "", ControlKind::Label, "住址", {79, 63, 17, 8}},
    {1024, "", ControlKind::Label, "身份号码", {82, 117, 33, 8}},
    {1025, "", ControlKind::Label, "签发机关", {82, 141, 33, 8}},
    {1026, "", ControlKind::Label, "有效期限", {82, 165, 33, 8}},
    {1, "", ControlKind::HiddenButton, "确认", {200, 189, 60, 14}},
}};

// Template 100, the about box.
inline constexpr int kAboutDialogWidth = 235;
inline constexpr int kAboutDialogHeight = 55;
inline constexpr int kAboutOkId = 1;
inline constexpr std::array<ControlTemplate, 4> kAboutDialogControls{{
    {kNoId, "icon", ControlKind::Icon, "", {11, 17, 20, 20}},
    {kNoId, "version", ControlKind::Label, texts::kAboutVersion, {42, 14, 130, 8}},
    {kNoId, "notice", ControlKind::Label, texts::kAboutNotice, {42, 26, 130, 8}},
    {kAboutOkId, "", ControlKind::DefaultButton, "确定", {178, 7, 50, 14}},
}};

}  // namespace fx60::station::ui
