// Filters that work cell row by cell row on 3 x 3 pixel blocks keep their output
// in a small ring and write a block row back only three block rows (nine pixel
// rows) later, further than any of their kernels reaches: every tap therefore
// reads pixels from before the pass, with no full-size copy of the image.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "extract/grid.h"

namespace fx60::extract {

using BlockRow = std::array<uint8_t, kCellSpacing * kWidth>;

// Runs filterCellRow(r, blockRow) for every cell row and writes each block row
// back into the image once no later row can read the pixels it replaces.
template <typename FilterCellRow>
void filterByBlockRows(uint8_t* image, FilterCellRow filterCellRow) {
  constexpr int kRingSlots = 3;
  const auto writeBack = [image](int r, const BlockRow& block) {
    for (int by = 0; by < kCellSpacing; ++by) {
      const int y = kCellSpacing * r + 1 + by;
      std::memcpy(image + y * kWidth + 1, block.data() + by * kWidth + 1, kCellSpacing * kGridColumns);
    }
  };
  std::array<BlockRow, kRingSlots> ring{};
  for (int r = 0; r < kGridRows; ++r) {
    if (r >= kRingSlots) writeBack(r - kRingSlots, ring[r % kRingSlots]);
    filterCellRow(r, ring[r % kRingSlots]);
  }
  for (int r = kGridRows - kRingSlots; r < kGridRows; ++r) writeBack(r, ring[r % kRingSlots]);
}

}  // namespace fx60::extract
