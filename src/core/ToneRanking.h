// How the detectors rank a band's tones: the two strongest of a frame, decided
// by the tones' sums where they stand clear and by their levels in dB where
// they might not, always as ranking every level would. Shared by the door
// search and the token read.
#pragma once

#include <cfloat>
#include <cmath>

#include "core/SpectraView.h"
#include "core/BandGeometry.h"

namespace QUORLAX {
namespace ranking {

constexpr float kNoLevel = -HUGE_VALF;

// A tone whose bins are all zero has no level: it cannot be the strongest or
// second-strongest of a frame.
inline int toneOrNone(int tone, const float* ratios) { return ratios[tone] == kNoLevel ? -1 : tone; }

// The strongest and second-strongest of the tones by their levels in dB,
// 20 log10(q) in single precision, ties to the lower tone: what ranking every
// level would give. Only quotients close enough to the second largest to tie
// with it after rounding need their logarithm (relative 1e-4 is 0.00087 dB,
// many single-precision steps of any level a spectrum can have). False, with
// nothing written, when a quotient is not a number: then every level counts.
// `db` gives a quotient's level (the decoders': LevelDb in double precision).
template <typename Q, class Db>
inline bool topTwoLevels(const Q* q, int n, int* top, int* next, float* topDb, float* nextDb, Db db) {
  int a = 0;
  for (int i = 0; i < n; ++i) {
    if (std::isnan(q[i])) return false;
    if (q[i] > q[a]) a = i;
  }
  int b = a == 0 ? 1 : 0;
  for (int i = 0; i < n; ++i)
    if (i != a && q[i] > q[b]) b = i;
  const Q close = q[b] - q[b] * static_cast<Q>(1e-4);
  int t = -1, u = -1;
  float dbT = 0.0f, dbU = 0.0f;
  for (int i = 0; i < n; ++i) {
    if (q[i] < close) continue;
    const float level = db(q[i]);
    if (t < 0 || level > dbT) {
      u = t;
      dbU = dbT;
      t = i;
      dbT = level;
    } else if (u < 0 || level > dbU) {
      u = i;
      dbU = level;
    }
  }
  *top = t;
  *next = u;
  *topDb = dbT;
  *nextDb = dbU;
  return true;
}

// The strongest and second-strongest tone when their three-bin sums alone
// decide: the two stand clear of the rest (0.1%, far beyond any rounding of
// the levels), and are equal or as clear of each other. A band mean then only
// divides every sum alike, and ranking every level in dB gives the same two,
// provided the two levels are finite (the callers check that). False where
// the sums might not decide.
inline bool clearTopTwo(const float* t, int n, int* top, int* next) {
  // One pass: the first of the largest (a), the first of the largest of the
  // others (b), and the largest of the rest.
  float ta = -1.0f, tb = -1.0f, rest = -1.0f;
  int a = -1, b = -1;
  bool finite = true;
  for (int i = 0; i < n; ++i) {
    const float x = t[i];
    finite &= x >= 0.0f && x <= FLT_MAX;
    if (x > ta) {
      rest = tb;
      tb = ta;
      b = a;
      ta = x;
      a = i;
    } else if (x > tb) {
      rest = tb;
      tb = x;
      b = i;
    } else if (x > rest) {
      rest = x;
    }
  }
  // Single-precision margins: 0.1% is so far beyond their rounding that a
  // double-precision test would decide the same (and the listener does no
  // double arithmetic per hop).
  if (!finite || b < 0) return false;
  if (!(rest < tb * (1.0f - 1e-3f))) return false;
  if (ta != tb && ta < tb * (1.0f + 1e-3f)) return false;
  *top = a;  // with equal sums, the lower tone: a comes first
  *next = b;
  return true;
}

// The same for the search's single-precision levels over the band mean,
// of which `approxMean` is within 1e-4 (the decoders' RoughSum over the bins,
// or the listener's exact single-precision mean): it holds energy, and
// neither level overflows or vanishes.
template <typename M>
inline bool rankBySums(const float* t, int n, M approxMean, int* top, int* next) {
  if (!(approxMean >= M(4) * M(FLT_MIN) && approxMean <= M(1e30))) return false;
  if (!clearTopTwo(t, n, top, next)) return false;
  // In single precision the first product may overflow (then any finite sum
  // passes, rightly) and the second vanish (then any positive sum still makes
  // a normal level).
  return t[*top] < M(1e30) * approxMean && t[*next] > M(1e-30) * approxMean;
}

}  // namespace ranking
}  // namespace QUORLAX
