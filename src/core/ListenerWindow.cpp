#include "core/ListenerWindow.h"

#include "core/AnalysisWindow.h"

namespace QUORLAX {

namespace {

// cos x for 0 <= x < 20 in double precision, to within a few units in its
// last place, as the compiler can work it out: x less the nearest multiple
// of pi / 2 (in three parts, the first short enough that k times it is
// exact), then the Taylor series of sine or cosine to the 25th power, which
// leaves less than 1e-19 for |r| <= pi / 4.
constexpr double CosDouble(double x) {
  constexpr double kTwoOverPi = 0.63661977236758134308;
  constexpr double kHalfPi1 = 0x1.921fb544p+0, kHalfPi2 = 0x1.0b4611a6p-34, kHalfPi3 = 0x1.3198a2e037073p-69;
  const int k = static_cast<int>(x * kTwoOverPi + 0.5);
  const double r = ((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3;
  const double r2 = r * r;
  double cos = 1.0, sin = 1.0, term = 1.0;
  for (int n = 2; n <= 24; n += 2) {
    term = -term * r2 / ((n - 1) * n);
    cos += term;
  }
  term = 1.0;
  for (int n = 3; n <= 25; n += 2) {
    term = -term * r2 / ((n - 1) * n);
    sin += term;
  }
  sin *= r;
  switch (k % 4) {
    case 0: return cos;
    case 1: return -sin;
    case 2: return -cos;
    default: return sin;
  }
}

template <int N>
struct Table {
  float w[N];
};

template <int N>
constexpr Table<N> MakeWindow() {
  Table<N> t{};
  FillAnalysisWindow(t.w, N, [](float x) { return static_cast<float>(CosDouble(static_cast<double>(x))); });
  return t;
}

constexpr Table<1024> kWindow1024 = MakeWindow<1024>();
constexpr Table<2048> kWindow2048 = MakeWindow<2048>();

}  // namespace

const float* ListenerWindow(int size) {
  return size == 1024 ? kWindow1024.w : (size == 2048 ? kWindow2048.w : nullptr);
}

}  // namespace QUORLAX
