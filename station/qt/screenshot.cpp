#include "station/qt/screenshot.h"

#include <QApplication>
#include <QDialog>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QWidget>
#include <vector>

namespace fx60::station::ui {

namespace {

constexpr int kTitleHeight = 24;
constexpr int kMargin = 16;
constexpr int kTitleIconSize = 16;

// The windows to show: the main one, then the other visible windows, the active
// one last (on top).
std::vector<QWidget*> windowsInStackingOrder(QWidget* main) {
  std::vector<QWidget*> windows;
  if (main != nullptr && main->isVisible()) windows.push_back(main);
  QWidget* active = QApplication::activeModalWidget();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget == main || widget == active || !widget->isVisible() || !qobject_cast<QDialog*>(widget)) continue;
    windows.push_back(widget);
  }
  if (active != nullptr && active != main && active->isVisible()) windows.push_back(active);
  return windows;
}

QRect frameOf(const QWidget* window) { return window->geometry().adjusted(-1, -kTitleHeight - 1, 1, 1); }

void drawTitleBar(QPainter& painter, const QWidget* window, const QRect& frame) {
  const QRect bar(frame.left(), frame.top(), frame.width(), kTitleHeight + 1);
  QLinearGradient shade(bar.topLeft(), bar.bottomLeft());
  shade.setColorAt(0, QColor(0xf2, 0xf5, 0xf8));
  shade.setColorAt(1, QColor(0xdc, 0xe3, 0xea));
  painter.fillRect(bar, shade);
  painter.setPen(QColor(0x8c, 0x9a, 0xa8));
  painter.drawRect(frame.adjusted(0, 0, -1, -1));
  painter.drawLine(bar.bottomLeft(), bar.bottomRight());

  int textLeft = bar.left() + 8;
  const QIcon icon = window->windowIcon();
  if (!icon.isNull()) {
    const int top = bar.top() + (kTitleHeight - kTitleIconSize) / 2 + 1;
    painter.drawPixmap(textLeft, top, icon.pixmap(kTitleIconSize, kTitleIconSize));
    textLeft += kTitleIconSize + 6;
  }
  painter.setFont(window->font());
  painter.setPen(QColor(0x1f, 0x2d, 0x3d));
  const QRect textArea(textLeft, bar.top() + 1, bar.right() - textLeft - 8, kTitleHeight);
  painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
}

}  // namespace

QImage screenshotOfWindows(QWidget* main) {
  const std::vector<QWidget*> windows = windowsInStackingOrder(main);
  if (windows.empty()) return {};
  QRect all;
  for (const QWidget* window : windows) all |= frameOf(window);
  all.adjust(-kMargin, -kMargin, kMargin, kMargin);

  QImage picture(all.size(), QImage::Format_RGB32);
  picture.fill(QColor(0x5b, 0x6b, 0x7b));
  QPainter painter(&picture);
  painter.translate(-all.topLeft());
  for (QWidget* window : windows) {
    const QRect frame = frameOf(window);
    drawTitleBar(painter, window, frame);
    painter.drawPixmap(window->geometry().topLeft(), window->grab());
  }
  return picture;
}

bool saveScreenshot(QWidget* main, const QString& file, QString& error) {
  const QImage picture = screenshotOfWindows(main);
  if (picture.isNull()) {
    error = QStringLiteral("no window is open");
    return false;
  }
  QImageWriter writer(file, "png");
  if (writer.write(picture)) return true;
  error = writer.errorString();
  return false;
}

}  // namespace fx60::station::ui
