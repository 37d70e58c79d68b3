#include "match/alignment_kernels.h"

#include "match/sqrt_tables.h"

namespace fx60::match::alignment_kernels {

// (moment + 64 W + W / 2) / W - 64, the division by the reciprocal table.
int meanOffset(int64_t weightSum, int64_t moment) {
  if (weightSum == 0) return 0;
  int64_t numerator = moment + 64 * weightSum + weightSum / 2;
  while (weightSum > kReciprocalTableSize - 1) {
    weightSum >>= 1;
    numerator >>= 1;
  }
  return static_cast<int>((numerator * ReciprocalTable[weightSum]) >> 24) - 64;
}

}  // namespace fx60::match::alignment_kernels
