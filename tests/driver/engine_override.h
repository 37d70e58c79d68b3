// Swaps parts of the algorithm engine for the lifetime of a test.
#pragma once

#include <cstdint>

#include "driver/algorithm_engine.h"
#include "template/feature_template.h"

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
  const MinutiaRecord minutia{100, 0, 0};
  WriteTemplate({&minutia, 1}, tpl);
  tpl[kTemplateQualityByte] = static_cast<uint8_t>(quality);
  updateCheckByte(tpl);
}

}  // namespace fx60::testing
