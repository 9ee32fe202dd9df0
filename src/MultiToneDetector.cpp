#include "MultiToneDetector.h"

#include <cassert>
#include <cmath>

#include "Decoder.h"
#include "Globals.h"

namespace QUORLAX {

namespace {

constexpr int kMeasuredBins = 3;  // a tone's bin and one neighbour on each side

float toneSum(const float* spectrum, int bin) {
  float mags[kMeasuredBins] = {spectrum[bin - 1], spectrum[bin], spectrum[bin + 1]};
  return Globals::sum(mags, kMeasuredBins);
}

}  // namespace

MultiToneDetector::MultiToneDetector(const MultiToneBand& b, int blockSlots)
    : band(b),
      readPos(0),
      strongestTone(blockSlots, -1),
      secondTone(blockSlots, -1),
      windowMaxTone(blockSlots, -1),
      windowSecondTone(blockSlots, -1),
      stats(blockSlots, sTokenProbs{}),
      toneVotes{} {
  for (int i = 0; i < kNumTones; ++i) toneBins[i] = band.ToneBin(i);
  beginBin = toneBins[0];
  endBin = toneBins[kNumTones - 1];
  for (int k = 0; k < MultiToneBand::kMaxShifts; ++k) shiftBins[k] = band.ShiftBinsFor(k);
  assert(band.Fits() && "a band's bins must lie inside the spectrum");
  int pair[2];
  band.TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[0]), pair);
  frontDoorTone1 = pair[0];
  band.TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[1]), pair);
  frontDoorTone2 = pair[0];
}

void MultiToneDetector::ComputeStartStats(const float* spectrum, float* energyRatios) const {
  float energyBlock = 0.0f;
  for (int b = beginBin; b <= endBin; ++b) energyBlock += spectrum[b];
  energyBlock /= static_cast<float>(endBin - beginBin + 1);
  for (int i = 0; i < kNumTones; ++i) {
    const float s = toneSum(spectrum, toneBins[i]);
    energyRatios[i] = static_cast<float>(20 * std::log10(s / kMeasuredBins / energyBlock));
  }
}

void MultiToneDetector::RankStartTones(const float* spectrum, int slot) {
  float sorted[kNumTones];
  int idx[kNumTones];
  ComputeStartStats(spectrum, sorted);
  for (int i = 0; i < kNumTones; ++i) idx[i] = i;
  // Stable descending bubble sort: equal (or NaN) ratios keep tone order.
  for (int c = 0; c < kNumTones - 1; ++c) {
    for (int d = 0; d < kNumTones - 1 - c; ++d) {
      if (sorted[d + 1] > sorted[d]) {
        const float r = sorted[d];
        sorted[d] = sorted[d + 1];
        sorted[d + 1] = r;
        const int t = idx[d];
        idx[d] = idx[d + 1];
        idx[d + 1] = t;
      }
    }
  }
  strongestTone[slot] = idx[0];
  secondTone[slot] = idx[1];
}

bool MultiToneDetector::SearchFrontDoor(const Decoder& d, int writePos) {
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  const int t = d.mnToleranceFrames;
  for (;;) {
    if ((writePos - readPos + n) % n < n - 1) return false;
    int first = 0;
    for (int i = 0; i < h; ++i) first += strongestTone[(readPos + i) % n] == frontDoorTone1;
    if (first >= h - t) {
      int second = 0;
      for (int i = h; i < n; ++i) {
        const int slot = (readPos + i) % n;
        second += strongestTone[slot] == frontDoorTone2 || secondTone[slot] == frontDoorTone2;
      }
      if (second >= h - 2 * t) {
        readPos = writePos;
        return true;
      }
    }
    readPos = (readPos + 1) % n;
  }
}

void MultiToneDetector::ComputeWindowStats(const Decoder& d, int ordinal) {
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  if (n < 2) return;
  const int off = shiftBins[ordinal % MultiToneBand::kMaxShifts];
  const int specSize = d.mSpectralAnalysis->mSpecSize;

  // Mean band level over the window, on the unshifted range.
  double energyBlock = 0.0;
  for (int s = 0; s < h; ++s) {
    const float* row = d.mBlockSpecMag[(readPos + s) % n];
    for (int b = beginBin; b <= endBin; ++b) energyBlock += row[b];
  }
  energyBlock /= static_cast<double>(endBin - beginBin + 1) * h;

  float energy[kNumTones];
  float ratios[kNumTones];
  for (int s = 0; s < h; ++s) {
    const int slot = (readPos + s) % n;
    const float* row = d.mBlockSpecMag[slot];
    for (int i = 0; i < kNumTones; ++i) {
      const float sum = toneSum(row, toneBins[i] + off);
      energy[i] = static_cast<float>(static_cast<double>(sum) * specSize / static_cast<float>(h));
      ratios[i] = static_cast<float>(20 * std::log10(sum / kMeasuredBins / energyBlock));
    }
    const int top = Globals::maxValueIdx(ratios, kNumTones);
    const int next = Globals::secondValueIdx(ratios, kNumTones);
    windowMaxTone[slot] = top;
    windowSecondTone[slot] = next;
    sTokenProbs& rec = stats[slot];
    rec.idxToneMax = top;
    rec.idxToneSecond = next;
    rec.energyRatioToneMax = ratios[top];
    rec.energyRatioToneSecond = ratios[next];
    rec.energyToken = energy[top] + energy[next];
  }
}

int MultiToneDetector::DecideToken(const Decoder& d, float* confidence, float* volume) {
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  for (int& v : toneVotes) v = 0;
  for (int s = 0; s < h; ++s) {
    const int slot = (readPos + s) % n;
    toneVotes[windowMaxTone[slot]]++;
    toneVotes[windowSecondTone[slot]]++;
    sTokenProbs& rec = stats[slot];
    rec.idxToken = band.tonesToToken(rec.idxToneMax, rec.idxToneSecond);
    rec.energyRatioToken = (rec.energyRatioToneMax + rec.energyRatioToneSecond) * 0.5f;
  }
  const int max1 = Globals::maxValueIdx(toneVotes, kNumTones);
  const int max2 = Globals::secondValueIdx(toneVotes, kNumTones);
  int token = band.tonesToToken(max1, max2);
  if (token < 0) {
    // The two most-voted tones name no token: take the valid pair with the
    // most votes, so the position is filled and the clock stays aligned.
    int bestVotes = -1;
    for (int t = 0; t < Globals::numTokensAll; ++t) {
      int pair[2];
      band.TonesOf(t, pair);
      const int votes = toneVotes[pair[0]] + toneVotes[pair[1]];
      if (votes > bestVotes) {
        bestVotes = votes;
        token = t;
      }
    }
  }
  float prob = 0.0f;
  float energy = 0.0f;
  for (int s = 0; s < h; ++s) {
    const sTokenProbs& rec = stats[(readPos + s) % n];
    if (rec.idxToken == token) {
      prob += rec.energyRatioToken;
      energy += rec.energyToken;
    }
  }
  *confidence += prob / static_cast<float>(h);
  *volume += energy / static_cast<float>(h);
  return token;
}

}  // namespace QUORLAX
