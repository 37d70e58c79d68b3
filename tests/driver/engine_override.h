// Swaps parts of the algorithm engine for the lifetime of a test.
#pragma once

#include "driver/algorithm_engine.h"

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

}  // namespace fx60::testing
