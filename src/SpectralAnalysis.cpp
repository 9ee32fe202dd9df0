#include "SpectralAnalysis.h"

#include <cmath>

#include "Globals.h"
#include "core/AnalysisWindow.h"

namespace QUORLAX {

SpectralAnalysis::SpectralAnalysis(Mode _mode, int _fftSize, int _windowSize, int _hopSize)
    : mode(_mode),
      fftooura(new CFFTOoura),
      inputBuffer(new float[_fftSize > 0 ? _fftSize : 0]()),
      mFftSize(_fftSize),
      mWindowSize(_windowSize),
      mHopSize(_hopSize),
      mSpecSize(_fftSize / 2 + 1),
      mSpecMag(new float[_fftSize / 2 + 1]()),
      mSpecPhase(new float[_fftSize / 2 + 1]()),
      mWindow(new float[_windowSize > 0 ? _windowSize : 0]()) {
  generateBlackmanHarris74Window(mWindow, mWindowSize);
  fftooura->Prepare(mFftSize);  // tables and work arrays now, not in a hop
}

SpectralAnalysis::~SpectralAnalysis() {
  delete fftooura;
  delete[] inputBuffer;
  delete[] mSpecMag;
  delete[] mSpecPhase;
  delete[] mWindow;
}

void SpectralAnalysis::generateBlackmanHarris74Window(float* window, int size) { FillWindow(window, size); }

void SpectralAnalysis::FillWindow(float* window, int size) {
  FillAnalysisWindow(window, size, [](float x) { return std::cos(x); });
}

void SpectralAnalysis::PlanBins(const int* offsets) {
  fusedPlan_ = mode == kEnergySpectrum && mWindowSize >= mFftSize && mFftSize >= 64 &&
               mFftSize <= CFFTOoura::kMaxN && (mFftSize & (mFftSize - 1)) == 0;
  if (fusedPlan_) {
    fftooura->PlanBins(mFftSize, offsets);
    offsets_.clear();
  } else {
    offsets_.assign(offsets, offsets + mSpecSize);
  }
}

void SpectralAnalysis::doFFTBins(const float* frame, float* row) {
  if (fusedPlan_) {
    fftooura->powerBins(frame, mWindow, row);
    return;
  }
  doFFT(const_cast<float*>(frame), mSpecMag, nullptr);
  for (int b = 0; b < static_cast<int>(offsets_.size()); ++b)
    if (offsets_[b] >= 0) row[offsets_[b]] = mSpecMag[b];
}

void SpectralAnalysis::doFFT(float* _inputBuffer, float* magSpectrum, float* imagSpectrum) {
  const int half = mFftSize / 2;
  if (half < 1) return;
  // The common case: window, transform and energies in one pass, with no
  // packed intermediate.
  if (mode == kEnergySpectrum && imagSpectrum == nullptr && mWindowSize >= mFftSize && mFftSize >= 4 &&
      mFftSize <= CFFTOoura::kMaxN && (mFftSize & (mFftSize - 1)) == 0) {
    fftooura->powerSpectrum(mFftSize, _inputBuffer, mWindow, magSpectrum);
    return;
  }
  // Samples past the window (a window shorter than the frame) are zeroed
  // rather than read out of bounds.
  const int windowed = mWindowSize < mFftSize ? mWindowSize : mFftSize;
  for (int i = 0; i < windowed; ++i) inputBuffer[i] = mWindow[i] * _inputBuffer[i];
  for (int i = windowed; i < mFftSize; ++i) inputBuffer[i] = 0.0f;

  const int n = 2 * half;
  fftooura->rdft(n, 1, inputBuffer);

  // The transform's sine sums carry a plus sign; bins report the minus
  // sign. Squares don't care, so only the imaginary output flips.
  const float* x = inputBuffer;
  if (mode == kEnergySpectrum) {
    magSpectrum[0] = x[0] * x[0];
    for (int k = 1; k < half; ++k) magSpectrum[k] = x[2 * k] * x[2 * k] + x[2 * k + 1] * x[2 * k + 1];
    magSpectrum[half] = x[1] * x[1];
  } else {
    magSpectrum[0] = std::fabs(x[0]);
    for (int k = 1; k < half; ++k)
      magSpectrum[k] = std::sqrt(x[2 * k] * x[2 * k] + x[2 * k + 1] * x[2 * k + 1]);
    magSpectrum[half] = std::fabs(x[1]);
  }
  if (imagSpectrum != nullptr) {
    imagSpectrum[0] = 0.0f;
    for (int k = 1; k < half; ++k) imagSpectrum[k] = -x[2 * k + 1];
    imagSpectrum[half] = 0.0f;
  }
}

}  // namespace QUORLAX
