#include "sim/idcard/portrait.h"

#include <array>

namespace fx60::idcard {

namespace {

constexpr int kWidth = 2 * kPhotoWidth;
constexpr int kHeight = 2 * kPhotoHeight;

struct Colour {
  uint8_t r, g, b;
};

struct Style {
  Colour background;
  Colour skin;
  Colour hair;
  Colour clothes;
  int headHalfWidth;  // pixels
  int hairDrop;       // how far the hair reaches down the sides of the head
};

constexpr std::array<Style, kPortraitVariants> kStyles = {{
    {{236, 240, 244}, {226, 190, 160}, {40, 32, 28}, {52, 64, 92}, 44, 40},
    {{250, 250, 250}, {214, 172, 138}, {70, 50, 36}, {90, 90, 96}, 40, 70},
    {{228, 236, 248}, {236, 204, 178}, {24, 24, 24}, {30, 40, 50}, 46, 24},
    {{244, 240, 232}, {200, 160, 128}, {96, 72, 50}, {120, 40, 44}, 42, 56},
}};

struct Canvas {
  Picture picture{kWidth, kHeight, std::vector<uint8_t>(size_t{kWidth} * kHeight * 3)};

  void set(int x, int y, Colour c) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
    uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }

  // Fills the ellipse with centre (cx, cy) and half axes (rx, ry), rows from top to bottom only.
  void ellipse(int cx, int cy, int rx, int ry, Colour c, int top = 0, int bottom = kHeight) {
    for (int y = std::max(cy - ry, top); y <= std::min(cy + ry, bottom - 1); ++y)
      for (int x = cx - rx; x <= cx + rx; ++x) {
        const double dx = static_cast<double>(x - cx) / rx;
        const double dy = static_cast<double>(y - cy) / ry;
        if (dx * dx + dy * dy <= 1.0) set(x, y, c);
      }
  }

  void rectangle(int x0, int y0, int x1, int y1, Colour c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) set(x, y, c);
  }
};

}  // namespace

Picture drawPortrait(int variant) {
  const Style& style = kStyles[static_cast<size_t>(((variant % kPortraitVariants) + kPortraitVariants) % kPortraitVariants)];
  Canvas canvas;
  canvas.rectangle(0, 0, kWidth, kHeight, style.background);

  const int cx = kWidth / 2;
  const int headY = 100;
  const int headRy = style.headHalfWidth * 5 / 4;
  // Shoulders, neck, hair behind the head, the head, then the hair line above the forehead.
  canvas.ellipse(cx, kHeight + 20, 96, 84, style.clothes);
  canvas.rectangle(cx - style.headHalfWidth / 2, headY + headRy - 12, cx + style.headHalfWidth / 2, kHeight - 56,
                   style.skin);
  canvas.ellipse(cx, headY - 6, style.headHalfWidth + 6, headRy + 4, style.hair, 0, headY + style.hairDrop);
  canvas.ellipse(cx, headY, style.headHalfWidth, headRy, style.skin);
  canvas.ellipse(cx, headY - headRy / 2 - 4, style.headHalfWidth + 2, headRy / 2, style.hair, 0, headY - headRy / 2);
  return canvas.picture;
}

}  // namespace fx60::idcard
