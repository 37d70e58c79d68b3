// Small helpers shared by the fuzz targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <span>

namespace fx60::fuzz {

// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define FX60_FUZZ_CHECK(condition) \
  do {                             \
    if (!(condition)) ::fx60::fuzz::fail(#condition); \
  } while (0)

// Reads the fuzzer's bytes front to back; past the end it yields zeros.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  size_t remaining() const { return size_ - std::min(at_, size_); }

  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }

  // Copies the next out.size() bytes into out, zero-filling what is missing.
  void fill(std::span<uint8_t> out) {
    const size_t n = std::min(out.size(), remaining());
    if (n > 0) std::copy_n(data_ + at_, n, out.begin());
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), uint8_t{0});
    at_ += n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace fx60::fuzz
