// The about box (template 100): the icon, the program's name and version, a line
// about what it is for, and OK.
#pragma once

#include <QDialog>

namespace fx60::station::ui {

class CAboutDlg final : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent);

  static constexpr const char* kObjectName = "AboutDialog";
};

}  // namespace fx60::station::ui
