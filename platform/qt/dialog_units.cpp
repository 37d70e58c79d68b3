#include "platform/qt/dialog_units.h"

#include <QFontMetrics>

namespace fx60::ui {

DialogBaseUnits baseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

int unitsToPixels(int units, int base, int divisor) {
  const long long product = static_cast<long long>(units) * base;
  const long long half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : -((-product + half) / divisor));
}

QRect toPixels(const DialogRect& rect, const DialogBaseUnits& base) {
  return QRect(unitsToPixels(rect.x, base.averageWidth, 4), unitsToPixels(rect.y, base.height, 8),
               unitsToPixels(rect.width, base.averageWidth, 4), unitsToPixels(rect.height, base.height, 8));
}

QSize toPixels(int width, int height, const DialogBaseUnits& base) {
  return QSize(unitsToPixels(width, base.averageWidth, 4), unitsToPixels(height, base.height, 8));
}

}  // namespace fx60::ui
