// Swaps parts of the algorithm engine for the lifetime of a test.
#pragma once

#include <array>
#include <cstdint>

#include "driver/algorithm_engine.h"
#include "driver/feature_template.h"

namespace fx60::testing {

class ScopedEngine {
 public:
  ScopedEngine() : saved_(algorithmEngine()) {}
  ~ScopedEngine() { algorithmEngine() = saved_; }
  ScopedEngine(const ScopedEngine&) = delete;
  ScopedEngine& operator=(const ScopedEngine&) = delete;
  AlgorithmEngine& engine() { return algorithmEngine(); }

 private:
  AlgorithmEngine saved_;
};

// An unsealed template of one minutia whose quality byte is `quality`, as a
// scripted extraction writes it.
inline void writeOneMinutiaTemplate(uint8_t* tpl, int quality) {
  std::array<uint8_t, kPackedMinutiaeSize> packed{};
  packed[1] = 1;
  packed[2] = 100;
  packed[5] = 0xFC;
  WriteTemplate(packed.data(), tpl);
  tpl[kTemplateQualityByte] = static_cast<uint8_t>(quality);
  updateCheckByte(tpl);
}

}  // namespace fx60::testing
