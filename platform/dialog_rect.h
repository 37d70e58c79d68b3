// A control's place in a dialog template, in dialog units: what the window
// system converts with the dialog font's average character size (a horizontal
// unit is a quarter of the average character width, a vertical unit an eighth of
// the character height).
#pragma once

namespace fx60::ui {

struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

}  // namespace fx60::ui
