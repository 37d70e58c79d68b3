// The generator's random numbers: a 64-bit mixing generator of our own, so that a
// seed gives the same numbers with every compiler and library (the standard
// library's distributions are allowed to differ between implementations).
#pragma once

#include <cstdint>

namespace fx60::synth {

// One step of the SplitMix64 finaliser: spreads every input bit over the output.
constexpr uint64_t mixBits(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A seed for a numbered sub-stream, e.g. finger 7 of seed 1: independent streams
// for different numbers.
constexpr uint64_t deriveSeed(uint64_t seed, uint64_t number) {
  return mixBits(mixBits(seed + 0x9E3779B97F4A7C15ull) ^ (number * 0xD1B54A32D192ED03ull + 0x8CB92BA72F3D8DD7ull));
}

class Random {
 public:
  explicit constexpr Random(uint64_t seed) : state_(seed) {}

  constexpr uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ull;
    return mixBits(state_);
  }

  // Uniform in [0, 1), 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  double uniform(double low, double high) { return low + (high - low) * uniform(); }

  // Uniform integer in [0, count).
  constexpr uint32_t below(uint32_t count) { return static_cast<uint32_t>(((next() >> 32) * count) >> 32); }

  bool chance(double probability) { return uniform() < probability; }

  // Roughly normal with mean 0 and deviation 1, bounded by +-3.46: the sum of four
  // uniform numbers, centred and scaled (cheap, and exact on every machine). The
  // draws are sequenced one by one: operands of + may be evaluated in any order.
  double normal() {
    double sum = 0;
    for (int i = 0; i < 4; ++i) sum += uniform();
    return (sum - 2.0) * 1.7320508075688772;
  }

  // An independent generator for a named part of the work, so that drawing more
  // numbers in one part does not change another.
  Random fork(uint64_t part) { return Random(deriveSeed(next(), part)); }

 private:
  uint64_t state_;
};

}  // namespace fx60::synth
