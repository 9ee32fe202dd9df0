#include "core/MultiToneSynth.h"

#include <algorithm>
#include <cmath>

namespace QUORLAX {

namespace {

// sin(x) for 0 <= x < ~7 to within about an ulp of the correctly rounded
// value, so the float samples match libm's. Plain double arithmetic, no
// branches or calls: a loop of these vectorises.
inline double sinSmall(double x) {
  constexpr double kInvPi = 0x1.45f306dc9c883p-2;
  constexpr double kRound = 0x1.8p52;  // adding and removing it rounds to an integer
  // pi in three parts; the first two have short mantissas so k * part is exact.
  constexpr double kPi1 = 0x1.921fb544p+1, kPi2 = 0x1.0b4611a6p-33, kPi3 = 0x1.3198a2e037073p-68;
  const double k = (x * kInvPi + kRound) - kRound;
  const double r = ((x - k * kPi1) - k * kPi2) - k * kPi3;  // |r| <= pi/2
  const double r2 = r * r;
  // Taylor terms r^3/3! .. r^23/23!; the first one left out is below 1e-20.
  constexpr double f3 = 6.0, f5 = f3 * 20, f7 = f5 * 42, f9 = f7 * 72, f11 = f9 * 110, f13 = f11 * 156,
                   f15 = f13 * 210, f17 = f15 * 272, f19 = f17 * 342, f21 = f19 * 420, f23 = f21 * 506;
  double p = -1.0 / f23;
  p = p * r2 + 1.0 / f21;
  p = p * r2 - 1.0 / f19;
  p = p * r2 + 1.0 / f17;
  p = p * r2 - 1.0 / f15;
  p = p * r2 + 1.0 / f13;
  p = p * r2 - 1.0 / f11;
  p = p * r2 + 1.0 / f9;
  p = p * r2 - 1.0 / f7;
  p = p * r2 + 1.0 / f5;
  p = p * r2 - 1.0 / f3;
  const double s = r + r * (r2 * p);
  // (-1)^k without integer conversion: h is 0 for even k and +-0.5 for odd.
  const double half = 0.5 * k;
  const double h = half - ((half + kRound) - kRound);
  return s * (1.0 - 8.0 * h * h);
}

// sinSmall is within 2^-52 of libm's sin (measured; 2^-51 assumed), so a
// sample summed from sines weighted by at most `weight` in all is within
// weight * 2^-48 + |v| * 2^-50 of the libm-based one (products and sum
// rounded differently included, with margin). If the float rounding of
// that whole interval is one value, it is the libm-based sample; otherwise
// (zero crossings where the tones cancel, near ties) libm decides.
inline bool settled(double v, double weight) {
  const double d = weight * 0x1p-48 + std::fabs(v) * 0x1p-50;
  const float f = static_cast<float>(v);
  return static_cast<float>(v - d) == f && static_cast<float>(v + d) == f;
}

}  // namespace

MultiToneSynth::MultiToneSynth(const MultiToneBand& band, float sampleRate)
    : band_(band), rate_(sampleRate), samplesPerToken_(static_cast<int>(Globals::durToken * sampleRate)) {}

void MultiToneSynth::Start(const int* tokens) {
  for (int j = 0; j < Globals::numTotalTokens; ++j) tokens_[j] = tokens[j];
  token_ = 0;
  at_ = 0;
  phase1_ = phase2_ = 0.0;
  BeginToken();
}

void MultiToneSynth::BeginToken() {
  const int j = token_;
  const float tokenLength = Globals::durToken * rate_;
  const double deltaTime = 1.0 / rate_;
  const double twoPi = static_cast<double>(Globals::pi) + static_cast<double>(Globals::pi);
  fadeBegin_ = static_cast<int>(Globals::durFade * tokenLength);
  fadeEnd_ = static_cast<int>(tokenLength * 0.1f);
  int gap = static_cast<int>(tokenLength * 0.05f);

  int tones[2];
  band_.TonesOf(tokens_[j], tones);
  float freqs[2] = {band_.toneHz[tones[0]], band_.toneHz[tones[1]]};
  gains_[0] = band_.toneGain[tones[0]];
  gains_[1] = band_.toneGain[tones[1]];
  if (j >= Globals::numFrontDoorTokens) {
    const int steps = (j - 1) % 3;
    for (float& f : freqs) f += steps * band_.shiftHz;
  }

  factor_ = static_cast<float>(Globals::tokenAmplitude - 0.05);
  if (j == 0) {
    gap = 0;
    factor_ = static_cast<float>(factor_ + 0.05);
    fadeEnd_ = static_cast<int>((rate_ * Globals::durToken) * 0.05f);
  } else if (j == 1) {
    factor_ = static_cast<float>(factor_ + 0.025);
  }
  step1_ = freqs[0] * twoPi * deltaTime;
  step2_ = freqs[1] * twoPi * deltaTime;
  silentFrom_ = samplesPerToken_ - gap;
  holdUntil_ = samplesPerToken_ - fadeEnd_ - gap;
  twoTones_ = j >= Globals::numFrontDoorTokens;
  audibleUntil_ = std::max(silentFrom_, fadeBegin_);
}

int MultiToneSynth::Render(float* out, int count) {
  const double twoPi = static_cast<double>(Globals::pi) + static_cast<double>(Globals::pi);
  // Phases by the scalar recurrence, sines a block at a time (vectorised),
  // then the envelope.
  constexpr int kBlock = 128;
  double ph1[kBlock], ph2[kBlock], sin1[kBlock], sin2[kBlock];
  int written = 0;
  while (written < count && token_ < Globals::numTotalTokens) {
    const int n0 = at_;
    const int cnt = std::min({kBlock, samplesPerToken_ - n0, count - written});
    for (int t = 0; t < cnt; ++t) {
      phase1_ += step1_;
      if (phase1_ > twoPi) phase1_ -= twoPi;
      phase2_ += step2_;
      if (phase2_ > twoPi) phase2_ -= twoPi;
      ph1[t] = phase1_;
      ph2[t] = phase2_;
    }
    const int live = std::max(0, std::min(cnt, audibleUntil_ - n0));
    for (int t = 0; t < live; ++t) sin1[t] = sinSmall(ph1[t]);
    if (twoTones_)
      for (int t = 0; t < live; ++t) sin2[t] = sinSmall(ph2[t]);
    float* o = out + written;
    for (int t = 0; t < cnt; ++t) {
      const int n = n0 + t;
      float g;
      if (n < fadeBegin_) {
        g = factor_ * n / fadeBegin_;
      } else if (n >= silentFrom_) {
        o[t] = 0.0f;
        continue;
      } else if (n <= holdUntil_) {
        g = factor_;
      } else {
        g = factor_ * (silentFrom_ - n) / fadeEnd_;
      }
      if (!twoTones_) {
        const double a = g * gains_[0];
        const double v = a * sin1[t];
        o[t] = settled(v, std::fabs(a)) ? static_cast<float>(v) : static_cast<float>(a * std::sin(ph1[t]));
      } else {
        const double a = g * 0.5 * gains_[0], b = 0.5 * gains_[1] * g;
        const double v = a * sin1[t] + b * sin2[t];
        o[t] = settled(v, std::fabs(a) + std::fabs(b))
                   ? static_cast<float>(v)
                   : static_cast<float>(a * std::sin(ph1[t]) + b * std::sin(ph2[t]));
      }
    }
    written += cnt;
    at_ += cnt;
    if (at_ == samplesPerToken_) {
      at_ = 0;
      if (++token_ < Globals::numTotalTokens) BeginToken();
    }
  }
  return written;
}

}  // namespace QUORLAX
