#include "station/qt/about_dialog.h"

#include <QPushButton>

#include "platform/qt/dialog_font.h"
#include "station/qt/dialog_builder.h"
#include "station/qt/station_bitmaps.h"

namespace fx60::station::ui {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QString::fromLatin1(kObjectName));
  setWindowTitle(QString::fromUtf8(kAboutDialogTitle.data(), static_cast<qsizetype>(kAboutDialogTitle.size())));
  setWindowIcon(stationIcon());
  setFont(fx60::ui::dialogFont(kDialogFontPoints));
  const auto base = fx60::ui::baseUnitsOf(font());
  setFixedSize(fx60::ui::toPixels(kAboutDialogWidth, kAboutDialogHeight, base));
  const auto controls = createControls(this, kAboutDialogControls, base);
  connect(static_cast<QPushButton*>(controls.at(kAboutOkId)), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace fx60::station::ui
