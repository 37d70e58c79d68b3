#include "station/qt/dialog_builder.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include "station/qt/station_bitmaps.h"

namespace fx60::station::ui {

namespace {

constexpr int kLogoResource = 139;
constexpr int kSystemIconSize = 32;

QString text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

QLabel* plainLabel(const QString& caption, Qt::Alignment alignment, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment);
  return label;
}

QWidget* createControl(const ControlTemplate& control, QWidget* dialog) {
  const QString caption = text(control.caption);
  switch (control.kind) {
    case ControlKind::FlatButton:
    case ControlKind::DefaultButton:
    case ControlKind::HiddenButton: {
      auto* button = new QPushButton(caption, dialog);
      button->setFlat(control.kind == ControlKind::FlatButton);
      // Enter presses no button: only the template's default button, if any.
      button->setAutoDefault(false);
      button->setDefault(control.kind == ControlKind::DefaultButton);
      if (control.kind == ControlKind::HiddenButton) {
        button->setEnabled(false);
        button->hide();
      }
      return button;
    }
    case ControlKind::Edit:
      return new QLineEdit(dialog);
    case ControlKind::MultiLineEdit: {
      auto* edit = new QPlainTextEdit(dialog);
      edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      edit->setTabChangesFocus(true);
      edit->document()->setDocumentMargin(1);
      return edit;
    }
    case ControlKind::StatusLine: {
      auto* edit = new QLineEdit(dialog);
      edit->setFrame(true);
      edit->setEnabled(false);
      // Disabled, so the operator cannot type there, but as easy to read as any
      // field: it carries the station's prompts and results.
      QPalette palette = edit->palette();
      palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x26, 0x36, 0x48));
      palette.setColor(QPalette::Disabled, QPalette::Base, QColor(0xf1, 0xf4, 0xf7));
      edit->setPalette(palette);
      return edit;
    }
    case ControlKind::Picture: {
      auto* picture = new QLabel(dialog);
      picture->setAlignment(Qt::AlignCenter);
      return picture;
    }
    case ControlKind::Label:
      return plainLabel(caption, Qt::AlignLeft | Qt::AlignTop, dialog);
    case ControlKind::RightLabel:
      return plainLabel(caption, Qt::AlignRight | Qt::AlignTop, dialog);
    case ControlKind::GroupBox:
      return new QGroupBox(caption, dialog);
    case ControlKind::Logo: {
      auto* logo = new QLabel(dialog);
      logo->setPixmap(QPixmap::fromImage(stationBitmap(kLogoResource)));
      return logo;
    }
    case ControlKind::Icon: {
      auto* icon = new QLabel(dialog);
      icon->setPixmap(stationIcon().pixmap(kSystemIconSize, kSystemIconSize));
      return icon;
    }
  }
  return new QWidget(dialog);
}

}  // namespace

QString controlName(const ControlTemplate& control) {
  return control.id == kNoId ? text(control.name) : QString::number(control.id);
}

std::map<int, QWidget*> createControls(QWidget* dialog, std::span<const ControlTemplate> controls,
                                       const fx60::ui::DialogBaseUnits& base) {
  std::map<int, QWidget*> byId;
  for (const ControlTemplate& control : controls) {
    QWidget* widget = createControl(control, dialog);
    widget->setObjectName(controlName(control));
    QRect rect = fx60::ui::toPixels(control.rect, base);
    // A bitmap or icon control takes the size of its picture.
    if (control.kind == ControlKind::Logo || control.kind == ControlKind::Icon) {
      const QPixmap picture = static_cast<QLabel*>(widget)->pixmap();
      if (!picture.isNull()) rect.setSize(picture.deviceIndependentSize().toSize());
    }
    widget->setGeometry(rect);
    if (control.id != kNoId) byId[control.id] = widget;
  }
  return byId;
}

}  // namespace fx60::station::ui
