// Dialogs laid out as their templates give them: in dialog units, which the
// platform the design was made for converts with the dialog font's average
// character size. A horizontal unit is a quarter of the average character width,
// a vertical unit an eighth of the character height.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/dialog_rect.h"

namespace fx60::ui {

// The size of the font's average character, in pixels.
struct DialogBaseUnits {
  int averageWidth = 0;
  int height = 0;
};

// The average width is that of the 52 Latin letters, rounded to whole pixels as
// the platform rounds it; the height is the font's ascent plus descent.
DialogBaseUnits baseUnitsOf(const QFont& font);

// units * base / divisor, rounded to the nearest pixel (halves away from zero).
int unitsToPixels(int units, int base, int divisor);

// Each of x, y, width and height converted on its own.
QRect toPixels(const DialogRect& rect, const DialogBaseUnits& base);
QSize toPixels(int width, int height, const DialogBaseUnits& base);

}  // namespace fx60::ui
