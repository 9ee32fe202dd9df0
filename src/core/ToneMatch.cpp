#include "core/ToneMatch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/SingleMath.h"

namespace QUORLAX {

namespace {

constexpr float kPi = 3.14159265358979f;

}  // namespace

SampleHistory::SampleHistory(int samples, Arena& arena) : capacity_((samples + kBlock - 1) / kBlock * kBlock) {
  data_ = arena.Take<signed char>(static_cast<size_t>(capacity_));
  shift_ = arena.Take<signed char>(static_cast<size_t>(capacity_ / kBlock));
  waiting_ = arena.Take<float>(kBlock);
}

namespace {

typedef float Lanes __attribute__((vector_size(16)));
constexpr int kLanes = 4;

// 2^e for -126 <= e <= 127.
float PowerOfTwo(int e) {
  const std::uint32_t bits = static_cast<std::uint32_t>(e + 127) << 23;
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

}  // namespace

QUORLAX_VECTOR_CLONES void SampleHistory::Append(const float* x, int n) {
  while (n > 0) {
    const int at = static_cast<int>(end_ % kBlock);
    const int take = std::min(n, kBlock - at);
    float* __restrict to = waiting_ + at;
    if (x == nullptr) {
      std::fill(to, to + take, 0.0f);
    } else {
      for (int i = 0; i < take; ++i) {
        // Not finite names no tone (false for not-a-number too).
        const float v = (x[i] < 0.0f ? -x[i] : x[i]) <= std::numeric_limits<float>::max() ? x[i] : 0.0f;
        to[i] = v < kLoudest ? (v > -kLoudest ? v : -kLoudest) : kLoudest;
      }
      x += take;
    }
    end_ += take;
    n -= take;
    if (at + take == kBlock) Commit(static_cast<int>((end_ - 1) % capacity_) / kBlock);
  }
}

QUORLAX_VECTOR_CLONES void SampleHistory::Commit(int block) {
  const float* __restrict from = waiting_;
  // The loudest magnitude by its bits: finite floats' magnitudes order as
  // their bits do (the waiting samples are finite), and integers vectorise.
  std::int32_t most = 0;
  for (int i = 0; i < kBlock; ++i) {
    std::int32_t bits;
    std::memcpy(&bits, from + i, sizeof bits);
    bits &= 0x7fffffff;
    most = most > bits ? most : bits;
  }
  // The loudest sample, m 2^e with 1 <= m < 2, scaled below 2^(kBits - 1)
  // by 2^(kBits - 2 - e).
  int shift = 0;
  if (most > 0) {
    const int e = (most >> 23) - 127;
    shift = std::max(-100, std::min(120, kBits - 2 - e));
  }
  const float scale = PowerOfTwo(shift);
  constexpr int top = (1 << (kBits - 1)) - 1;
  signed char* __restrict to = data_ + block * kBlock;
  for (int i = 0; i < kBlock; ++i) {
    // Rounded halves away from zero; a peak just under 2^(kBits - 1) would
    // round onto it and wrap to the other sign, so it is held at the top.
    const float v = from[i] * scale;
    const int r = static_cast<int>(v + (v >= 0.0f ? 0.5f : -0.5f));
    to[i] = static_cast<signed char>(r < top ? (r > -top ? r : -top) : top);
  }
  shift_[block] = static_cast<signed char>(shift);
}

QUORLAX_VECTOR_CLONES void SampleHistory::Read(long long from, int n, float* out) const {
  // The block still being filled is read where it waits.
  const long long waitingFrom = end_ - end_ % kBlock;
  const int whole = static_cast<int>(std::max(0LL, std::min<long long>(n, waitingFrom - from)));
  int i = 0;
  while (i < whole) {
    // A run within one block of the ring, at its scale.
    const int at = static_cast<int>((from + i) % capacity_);
    const int run = std::min(whole - i, kBlock - at % kBlock);
    const float unit = PowerOfTwo(-shift_[at / kBlock]);
    const signed char* __restrict q = data_ + at;
    float* __restrict o = out + i;
    for (int k = 0; k < run; ++k) o[k] = static_cast<float>(q[k]) * unit;
    i += run;
  }
  for (; i < n; ++i) out[i] = waiting_[from + i - waitingFrom];
}

void ToneBank::Tune(const float* hz, int count, float rate) {
  count_ = std::min(count, kMaxTones);
  for (int j = 0; j < kMaxTones; ++j) {
    omega_[j] = j < count_ ? 2.0f * kPi * hz[j] / rate : 0.0f;
    float c, s;
    single::CosSin(omega_[j], &c, &s);
    coef_[j] = j < count_ ? 2.0f * c : 0.0f;
  }
}

namespace {

constexpr int kChunk = 64;  // samples of each part at a time: 1 KB of stack
// The stretch is measured as this many parts side by side, each its own
// recurrence: one recurrence's every step waits on the last, several keep
// the processor busy. Their sums are turned to one phase and added.
constexpr int kParts = 4;

// The Goertzel recurrence of every tone over one chunk of each part, four
// tones to a vector: s = x + c s1 - s2.
template <int Vectors>
void Run(const float (*x)[kChunk], int n, const Lanes* coef, Lanes (*s1)[kParts], Lanes (*s2)[kParts]) {
  Lanes a[Vectors][kParts], b[Vectors][kParts], c[Vectors];
  for (int v = 0; v < Vectors; ++v) {
    c[v] = coef[v];
    for (int p = 0; p < kParts; ++p) {
      a[v][p] = s1[v][p];
      b[v][p] = s2[v][p];
    }
  }
  // Two samples a turn, so the two states trade places without moves: after
  // it, a is the newest state and b the one before.
  int i = 0;
  for (; i + 1 < n; i += 2) {
    for (int p = 0; p < kParts; ++p) {
      const Lanes x0 = {x[p][i], x[p][i], x[p][i], x[p][i]};
      const Lanes x1 = {x[p][i + 1], x[p][i + 1], x[p][i + 1], x[p][i + 1]};
      for (int v = 0; v < Vectors; ++v) {
        b[v][p] = x0 + c[v] * a[v][p] - b[v][p];
        a[v][p] = x1 + c[v] * b[v][p] - a[v][p];
      }
    }
  }
  if (i < n) {
    for (int p = 0; p < kParts; ++p) {
      const Lanes xi = {x[p][i], x[p][i], x[p][i], x[p][i]};
      for (int v = 0; v < Vectors; ++v) {
        const Lanes next = xi + c[v] * a[v][p] - b[v][p];
        b[v][p] = a[v][p];
        a[v][p] = next;
      }
    }
  }
  for (int v = 0; v < Vectors; ++v)
    for (int p = 0; p < kParts; ++p) {
      s1[v][p] = a[v][p];
      s2[v][p] = b[v][p];
    }
}

// Multiplies x[0..count) by a raised-cosine edge, 0.5 (1 - cos(step (j +
// 0.5))) for j = first, first + 1, ... (its mirror image when closing): four
// samples at a time, their phases turned together.
void Weigh(float* x, int count, int first, float step, bool opening) {
  Lanes c, s;
  for (int l = 0; l < kLanes; ++l) {
    float cl, sl;
    single::CosSin(step * (static_cast<float>(first + l) + 0.5f), &cl, &sl);
    c[l] = cl;
    s[l] = sl;
  }
  float tc, ts;
  single::CosSin(static_cast<float>(kLanes) * step, &tc, &ts);
  const float sign = opening ? -0.5f : 0.5f;
  int k = 0;
  for (; k + kLanes <= count; k += kLanes) {
    Lanes v;
    std::memcpy(&v, x + k, sizeof v);
    v *= 0.5f + sign * c;
    std::memcpy(x + k, &v, sizeof v);
    const Lanes nc = c * tc - s * ts;
    s = s * tc + c * ts;
    c = nc;
  }
  for (int l = 0; k < count; ++k, ++l) x[k] *= 0.5f + sign * c[l];
}

}  // namespace

void ToneBank::Measure(const SampleHistory& history, long long from, int n, int edge, float* energies) {
  edge = std::max(0, std::min(edge, n / 2));
  constexpr int kVectors = kMaxTones / kLanes;
  Lanes coef[kVectors], s1[kVectors][kParts] = {}, s2[kVectors][kParts] = {};
  std::memcpy(coef, coef_, sizeof coef);
  const int vectors = (count_ + kLanes - 1) / kLanes;
  const float step = edge > 0 ? kPi / static_cast<float>(edge) : 0.0f;
  // Part p holds samples [p * m, (p + 1) * m); beyond n, zeros.
  const int m = (n + kParts - 1) / kParts;
  float chunk[kParts][kChunk];
  for (int done = 0; done < m; done += kChunk) {
    const int len = std::min(kChunk, m - done);
    for (int p = 0; p < kParts; ++p) {
      // This part's samples (weighted where they lie in an edge).
      const int at = p * m + done;
      const int real = std::max(0, std::min(len, n - at));
      if (real > 0) {
        history.Read(from + at, real, chunk[p]);
        const int rising = std::min(at + real, edge) - at;
        if (rising > 0) Weigh(chunk[p], rising, at, step, true);
        const int falling = std::max(at, n - edge);
        if (falling < at + real) Weigh(chunk[p] + (falling - at), at + real - falling, falling - (n - edge), step, false);
      }
      std::fill(chunk[p] + real, chunk[p] + len, 0.0f);
    }
    if (vectors <= 1)
      Run<1>(chunk, len, coef, s1, s2);
    else if (vectors == 2)
      Run<2>(chunk, len, coef, s1, s2);
    else
      Run<kVectors>(chunk, len, coef, s1, s2);
  }
  // Each part's sum is e^(i w (m - 1)) (s1 - e^(-i w) s2) of its own samples;
  // the whole stretch's, up to one common phase, adds them turned by
  // e^(-i w p m).
  for (int j = 0; j < count_; ++j) {
    const float w = omega_[j];
    float cw, sw, cm, sm;
    single::CosSin(w, &cw, &sw);
    single::CosSin(w * static_cast<float>(m), &cm, &sm);
    float re = 0.0f, im = 0.0f, tr = 1.0f, ti = 0.0f;  // the turn e^(-i w p m)
    for (int p = 0; p < kParts; ++p) {
      const float a = s1[j / kLanes][p][j % kLanes], b = s2[j / kLanes][p][j % kLanes];
      const float yr = a - cw * b, yi = sw * b;  // s1 - e^(-i w) s2
      re += tr * yr - ti * yi;
      im += tr * yi + ti * yr;
      const float nr = tr * cm + ti * sm;
      ti = ti * cm - tr * sm;
      tr = nr;
    }
    energies[j] = re * re + im * im;
  }
  const float half = 0.5f * static_cast<float>(n - edge);
  scale_ = half * half;
}

float PeakOffset(float below, float at, float above) {
  // A tie with a neighbour (a tone half way between, its powers rounded
  // alike) puts the peak half way.
  if (!(below > 0.0f && above > 0.0f && at >= below && at >= above && (at > below || at > above))) return 0.0f;
  const float l = single::Log(below), c = single::Log(at), r = single::Log(above);
  return std::max(-0.5f, std::min(0.5f, 0.5f * (l - r) / (l - 2.0f * c + r)));
}

}  // namespace QUORLAX
