// Windowed short-time spectrum of one analysis frame.
#pragma once

#include <vector>

#include "fftooura/fftsg.h"

namespace QUORLAX {

enum Mode { kMagnitudeSpectrum = 0, kEnergySpectrum = 1 };

class SpectralAnalysis {
 public:
  SpectralAnalysis(Mode _mode, int _fftSize, int _windowSize, int _hopSize);
  ~SpectralAnalysis();
  SpectralAnalysis(const SpectralAnalysis&) = delete;
  SpectralAnalysis& operator=(const SpectralAnalysis&) = delete;

  // Windows the first mFftSize samples of _inputBuffer and writes
  // mSpecSize values to magSpectrum (energy or magnitude per `mode`) and,
  // when imagSpectrum is not null, the sine-part of each bin (the DC and
  // Nyquist bins get 0). Allocates nothing.
  void doFFT(float* _inputBuffer, float* magSpectrum, float* imagSpectrum);

  // Chooses the bins doFFTBins computes: offsets[b], b = 0..mSpecSize-1, is
  // bin b's place in a row or -1 (see CFFTOoura::PlanBins for the margins).
  void PlanBins(const int* offsets);
  // Energies of the planned bins of the windowed frame into `row`, each at
  // its place, with doFFT's values. Allocates nothing.
  void doFFTBins(const float* frame, float* row);

  // Four-term Blackman-Harris-like window scaled so its samples sum to 2.
  void generateBlackmanHarris74Window(float* window, int size);
  // The same window for analysers that keep it in memory of their own.
  static void FillWindow(float* window, int size);

  Mode mode;
  CFFTOoura* fftooura;
  float* inputBuffer;
  int mFftSize;
  int mWindowSize;
  int mHopSize;
  int mSpecSize;
  float* mSpecMag;
  float* mSpecPhase;
  float* mWindow;

 private:
  bool fusedPlan_ = false;     // the transform writes the planned bins itself
  std::vector<int> offsets_;  // otherwise: copied out of mSpecMag
};

}  // namespace QUORLAX
