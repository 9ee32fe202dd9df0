#include "core/SingleToneDetector.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Globals.h"

namespace QUORLAX {

namespace {

constexpr int kMeasuredBins = 3;  // a token's bin and one neighbour on each side

// Float product widened to double, then rounded half up.
int binOf(float freq, float freq2Bin) { return static_cast<int>(static_cast<double>(freq * freq2Bin) + 0.5); }

float threeBinSum(const float* spectrum, int bin, float weight) {
  float mags[kMeasuredBins] = {spectrum[bin - 1], spectrum[bin], spectrum[bin + 1]};
  if (weight != 1.0f)
    for (float& m : mags) m *= weight;
  return Globals::sum(mags, kMeasuredBins);
}

}  // namespace

bool SingleToneDetector::Supports(const SingleToneGrid& grid, float samplingRate, int windowSize) {
  if (!(samplingRate > 0.0f) || windowSize < 4) return false;
  const float freq2Bin = static_cast<float>(windowSize) / samplingRate;
  const int first = binOf(grid.freqOf(0, samplingRate, windowSize), freq2Bin);
  const int last = binOf(grid.freqOf(*grid.numTokens - 1, samplingRate, windowSize), freq2Bin);
  return BinsInside(first - 1, last + 1, windowSize / 2 + 1);
}

SingleToneDetector::SingleToneDetector(const SingleToneGrid& grid, float samplingRate, int windowSize, int slots)
    : numTokens(*grid.numTokens),
      tokenBins(numTokens),
      deReverbWidth(grid.deReverbBinWidth),
      deReverbBins(windowSize / 2 + 1),
      fits(Supports(grid, samplingRate, windowSize)),
      frontDoorToken1(Globals::getIdxFromChar(Globals::frontDoorTokens[0])),
      frontDoorToken2(Globals::getIdxFromChar(Globals::frontDoorTokens[1])),
      strongestToken(slots, -1),
      secondToken(slots, -1),
      tokenVotes(numTokens, 0),
      energyRatios_(numTokens, 0.0f) {
  const float freq2Bin = static_cast<float>(windowSize) / samplingRate;
  for (int k = 0; k < numTokens; ++k) tokenBins[k] = binOf(grid.freqOf(k, samplingRate, windowSize), freq2Bin);
  beginBin = tokenBins[0];
  endBin = tokenBins[numTokens - 1];
  // Both block sums of one token land here; sized once so hops never allocate.
  sumPerFrame_.reserve(slots);
}

SpectraRing::Range SingleToneDetector::ReadRange(int specSize) const {
  int lo = beginBin, hi = endBin;
  for (int bin : tokenBins) {
    lo = std::min(lo, bin - std::max(deReverbWidth, 1));
    hi = std::max(hi, bin + std::max(deReverbWidth - 1, 1));
  }
  return {std::max(lo, 0), std::min(hi, specSize - 1)};
}

bool SingleToneDetector::ComputeStartStats(const float* spectrum, float* energyRatios) const {
  if (!fits) return false;
  const float energyBlock = Globals::mean(const_cast<float*>(spectrum) + beginBin, endBin - beginBin + 1);
  if (!HasEnergy(energyBlock)) return false;
  for (int j = 0; j < numTokens; ++j)
    energyRatios[j] = static_cast<float>(
        20 * std::log10(static_cast<double>(threeBinSum(spectrum, tokenBins[j], 1.0f) / 3 / energyBlock)));
  return true;
}

void SingleToneDetector::RankStartHop(const float* spectrum, int slot) {
  if (!ComputeStartStats(spectrum, energyRatios_.data())) {
    strongestToken[slot] = secondToken[slot] = -1;
    return;
  }
  strongestToken[slot] = Globals::maxValueIdx(energyRatios_.data(), numTokens);
  secondToken[slot] = Globals::secondValueIdx(energyRatios_.data(), numTokens);
}

bool SingleToneDetector::SearchFrontDoor(const SpectraView& ring, int writePos, int* readPos) const {
  if (!fits) return false;
  const int n = ring.slots;
  const int h = n / 2;
  const int nTol = static_cast<int>(0.1 * (n * 0.5) + 0.5);
  // The second token may still sit under the first one's reverberation.
  const int nReverb = static_cast<int>(n * 0.5 * 0.5 + 0.5);
  int& r = *readPos;
  while (ring.Filled(writePos, r) >= n - 1) {
    int first = 0, second = 0, secondAsSecond = 0;
    for (int i = 0; i < h; ++i) first += strongestToken[(r + i) % n] == frontDoorToken1;
    for (int i = h; i < n; ++i) {
      second += strongestToken[(r + i) % n] == frontDoorToken2;
      secondAsSecond += secondToken[(r + i) % n] == frontDoorToken2;
    }
    if (first >= h - nTol && (second >= h - nTol - nReverb || second + secondAsSecond >= h - nTol)) {
      r = writePos;
      return true;
    }
    r = (r + 1) % n;
  }
  return false;
}

float SingleToneDetector::BlockSums(const SpectraView& ring, int firstSlot, int midFreqBin, int width, int nbins,
                                    std::vector<float>& sumPerFrame) const {
  const int h = ring.slots / 2;
  const int lbin = std::max({midFreqBin - width, 0, ring.firstBin});
  const int rbin = std::min({midFreqBin + width, nbins, ring.specSize, ring.lastBin + 1});
  float mean = 0.0f;
  for (int s = 0; s < h; ++s) {
    const float* frame = ring.Row(firstSlot + s);
    float sumFr = 0.0f;
    for (int b = lbin; b < rbin; ++b) sumFr += frame[b];
    sumPerFrame.push_back(sumFr);
    mean += sumFr;
  }
  return h > 0 ? mean / static_cast<float>(h) : 0.0f;
}

void SingleToneDetector::DeReverb(const SpectraView& ring, int firstSlot, int nbins, const int* freqsBins) {
  const int h = ring.slots / 2;
  if (!fits || h < 2) return;
  const int width = deReverbWidth;
  std::vector<float>& sums = sumPerFrame_;
  for (int i = 0; i < numTokens; ++i) {
    const int b = freqsBins[i];
    sums.clear();
    const float meanCur = BlockSums(ring, firstSlot, b, width, nbins, sums);
    const float diffBeginEndCur = (sums[0] + sums[1]) - (sums[h - 2] + sums[h - 1]);
    const float meanLast = BlockSums(ring, firstSlot + h, b, width, nbins, sums);
    // A token fainter than the previous window's level (-2 dB) that decays
    // across its own window is mostly the previous token's tail.
    if (!(meanCur < 0.7943282 * meanLast && diffBeginEndCur > 0)) continue;
    const int lo = std::max({b - width, 0, ring.firstBin});
    const int hi = std::min({b + width - 1, ring.specSize - 1, ring.lastBin});
    for (int s = 0; s < h; ++s) {
      float* frame = ring.MutableRow(firstSlot + s);
      for (int bin = lo; bin <= hi; ++bin) frame[bin] *= 0.05f;
    }
  }
}

void SingleToneDetector::ComputeWindowStats(const SpectraView& ring, int firstSlot,
                                            const std::vector<int>& decoded) {
  const int n = ring.slots;
  if (!fits || n < 2) return;
  const int h = n / 2;
  const int bandBins = endBin - beginBin + 1;
  double energy = 0.0;
  for (int s = 0; s < h; ++s) {
    const float* frame = ring.Row(firstSlot + s);
    for (int b = beginBin; b <= endBin; ++b) energy += frame[b];
  }
  const double energyBlock = energy / (static_cast<double>(bandBins) * h);

  // The same tone in consecutive slots blurs into one under reverberation,
  // so the tokens just read are handicapped; before any token is read the
  // front door stands in for them.
  const int nv = static_cast<int>(decoded.size());
  const int last = nv >= 1 ? decoded[nv - 1] : frontDoorToken2;
  const int beforeLast = nv >= 2 ? decoded[nv - 2] : (nv == 0 ? frontDoorToken1 : -1);
  const int third = nv >= 3 ? decoded[nv - 3] : -1;

  for (int s = 0; s < h; ++s) {
    const int slot = (firstSlot + s) % n;
    const float* frame = ring.Row(slot);
    double frameLevel = 0.0;
    for (int b = beginBin; b <= endBin; ++b) frameLevel += frame[b];
    if (!HasEnergy(energyBlock) || !HasEnergy(frameLevel / bandBins)) {
      strongestToken[slot] = -1;
      continue;
    }
    for (int idx = 0; idx < numTokens; ++idx) {
      float penalty = 1.0f;
      if (idx == last) penalty *= 0.2f;
      if (idx == beforeLast) penalty *= 0.4f;
      if (idx == third) penalty *= 0.7f;
      energyRatios_[idx] =
          static_cast<float>(20 * std::log10(threeBinSum(frame, tokenBins[idx], penalty) / 3 / energyBlock));
    }
    strongestToken[slot] = Globals::maxValueIdx(energyRatios_.data(), numTokens);
  }
}

int SingleToneDetector::DecideToken(const SpectraView& ring, int firstSlot, int writePos,
                                    const std::vector<int>& decoded) {
  const int n = ring.slots;
  const int h = n / 2;
  if (ring.Filled(writePos, firstSlot) < h) return -1;
  DeReverb(ring, firstSlot, deReverbBins, tokenBins.data());
  ComputeWindowStats(ring, firstSlot, decoded);
  std::fill(tokenVotes.begin(), tokenVotes.end(), 0);
  // The first frames of a window still hold the previous token's tail.
  const int reverbFrames = static_cast<int>(static_cast<float>(n) * 0.5f * 0.1f + 0.5f);
  for (int i = reverbFrames; i < h; ++i) {
    const int token = strongestToken[(firstSlot + i) % n];
    if (token >= 0 && token < numTokens) ++tokenVotes[token];
  }
  return Globals::maxValueIdx(tokenVotes.data(), numTokens);
}

}  // namespace QUORLAX
