// Analysis window and hop for a sample rate: shared by the decoders, the
// listener and the C interface, so that every reader of a stream frames it
// the same way.
#pragma once

namespace QUORLAX {

// The rates whose window is long enough for the bands (1024 samples or more):
// every other rate is resampled to one of these.
constexpr float kAnalysisRates[] = {22050.0f, 44100.0f, 48000.0f};

inline int AnalysisWindowFor(float samplingRate) {
  if (samplingRate == 48000.0f || samplingRate == 44100.0f) return 2048;
  if (samplingRate == 22050.0f) return 1024;
  if (samplingRate == 11050.0f) return 512;
  return 256;
}

inline int AnalysisHopFor(float samplingRate) {
  return samplingRate == 44100.0f ? 256 : (samplingRate == 22050.0f ? 128 : 64);
}

}  // namespace QUORLAX
