// Geometry shared by every extraction stage: the image, the half-scale image and
// the grid of cells that carries the orientation and period maps.
#pragma once

#include <array>
#include <cstdint>

namespace fx60::extract {

// Full image: 256 columns x 360 rows, row-major, pixel (x, y) at 256 y + x.
inline constexpr int kWidth = 256;
inline constexpr int kHeight = 360;
inline constexpr int kPixels = kWidth * kHeight;  // 92160

// Half-scale image kept in the first bytes of the working image between the
// preconditioning steps.
inline constexpr int kHalfWidth = kWidth / 2;    // 128
inline constexpr int kHalfHeight = kHeight / 2;  // 180
inline constexpr int kHalfPixels = kHalfWidth * kHalfHeight;  // 23040

// Grid of cells, 3 pixels apart; cell (r, c) is centred on pixel (3c + 2, 3r + 2).
inline constexpr int kCellSpacing = 3;
inline constexpr int kGridColumns = 84;
inline constexpr int kGridRows = 119;
inline constexpr int kGridCells = kGridColumns * kGridRows;  // 9996

constexpr int cellIndex(int r, int c) { return kGridColumns * r + c; }
constexpr int cellCentreX(int c) { return kCellSpacing * c + 2; }
constexpr int cellCentreY(int r) { return kCellSpacing * r + 2; }

// Ridge orientation: 0..119 in steps of 1.5 degrees, from +x towards +y.
inline constexpr int kOrientationSteps = 120;

// One byte per cell: bits 0..6 orientation, bit 7 set when the cell is background.
inline constexpr uint8_t kBackgroundFlag = 0x80;
inline constexpr uint8_t kOrientationMask = 0x7F;

using OrientationMap = std::array<uint8_t, kGridCells>;
// Local ridge period code per cell; 0 = no estimate or background.
using PeriodMap = std::array<uint8_t, kGridCells>;

constexpr bool isBackground(uint8_t cell) { return (cell & kBackgroundFlag) != 0; }
constexpr int orientationOf(uint8_t cell) { return cell & kOrientationMask; }

}  // namespace fx60::extract
