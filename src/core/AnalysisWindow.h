// The analysis window of every reader: a four-term Blackman-Harris-like
// window scaled so its samples sum to 2, in single precision throughout,
// angle quotient first (the readers' levels are calibrated against exactly
// these values). `cos` takes and gives a float: the decoders use libm's
// single-precision cosine, the listener one rounded from double precision.
#pragma once

#include "Globals.h"

namespace QUORLAX {

template <class Cos>
constexpr void FillAnalysisWindow(float* window, int size, Cos cos) {
  if (size <= 0) return;
  if (size == 1) {  // the cosine grid needs two points; keep the sum at 2
    window[0] = 2.0f;
    return;
  }
  const float step = Globals::two_pi / static_cast<float>(size - 1);
  float fSum = 0.0f;
  for (int i = 0; i < size; ++i) {
    const float theta = step * static_cast<float>(i);
    window[i] = 0.47f - 0.45f * cos(theta) - 0.01f * cos(2.0f * theta) - 0.01f * cos(3.0f * theta);
    fSum += window[i];
  }
  const float norm = 0.5f * fSum;
  for (int i = 0; i < size; ++i) window[i] /= norm;
}

}  // namespace QUORLAX
