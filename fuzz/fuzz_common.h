// Byte reader and checks shared by the fuzz targets. A failed check aborts,
// so libFuzzer and the replay driver both report it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace qfuzz {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  size_t left() const { return n_; }
  // Past the end every read yields zeros, so short inputs stay meaningful.
  uint8_t u8() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  // Separate statements: the order of the reads must not depend on the compiler.
  uint16_t u16() {
    const unsigned lo = u8();
    const unsigned hi = u8();
    return static_cast<uint16_t>(lo | (hi << 8));
  }
  uint32_t u32() {
    const uint32_t lo = u16();
    const uint32_t hi = u16();
    return lo | (hi << 16);
  }
  int32_t i32() {
    const uint32_t v = u32();
    int32_t r;
    std::memcpy(&r, &v, sizeof r);
    return r;
  }
  float rawFloat() {
    const uint32_t v = u32();
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
  }
  template <typename T, size_t N>
  T pick(const T (&table)[N]) { return table[u8() % N]; }

 private:
  const uint8_t* p_;
  size_t n_;
};

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

// A configuration from one byte: any mode 2..6, at 44100 or 48000 Hz.
inline int ModeOf(uint8_t head) { return 2 + head % 5; }
inline float RateOf(uint8_t head) { return (head & 0x80) ? 48000.0f : 44100.0f; }

// Samples no microphone gives: NaNs, infinities, denormals, extremes.
constexpr float kSpecialSamples[] = {std::numeric_limits<float>::quiet_NaN(),
                                     -std::numeric_limits<float>::quiet_NaN(),
                                     std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::denorm_min(),
                                     -std::numeric_limits<float>::denorm_min(),
                                     std::numeric_limits<float>::min() / 4,
                                     std::numeric_limits<float>::max(),
                                     -std::numeric_limits<float>::max(),
                                     1.0f, -1.0f, 0.0f, -0.0f, 1e-30f, 1e30f};

// Fills `buf` (already sized) with hostile audio of kind 0 (raw bit patterns),
// 1 (a special value or an alternating pair of them) or 2 (16-bit samples).
inline void FillHostile(Bytes& in, int kind, std::vector<float>& buf) {
  const size_t n = buf.size();
  switch (kind) {
    case 0:
      for (size_t i = 0; i < n && !in.empty(); ++i) buf[i] = in.rawFloat();
      break;
    case 1: {
      const float a = in.pick(kSpecialSamples), b = in.pick(kSpecialSamples);
      for (size_t i = 0; i < n; ++i) buf[i] = (i & 1) ? b : a;
      break;
    }
    default:
      for (size_t i = 0; i < n && !in.empty(); ++i) buf[i] = static_cast<int16_t>(in.u16()) / 32768.0f;
      break;
  }
}

}  // namespace qfuzz

#define QFUZZ_CHECK(cond) \
  do {                    \
    if (!(cond)) qfuzz::Fail(__FILE__, __LINE__, #cond); \
  } while (0)
