#include "MultiToneDetector.h"

#include <cmath>

#include "Globals.h"

namespace QUORLAX {

namespace {

constexpr int kMeasuredBins = 3;  // a tone's bin and one neighbour on each side
constexpr float kNoLevel = -HUGE_VALF;

float toneSum(const float* spectrum, int bin) {
  float mags[kMeasuredBins] = {spectrum[bin - 1], spectrum[bin], spectrum[bin + 1]};
  return Globals::sum(mags, kMeasuredBins);
}

// A tone whose bins are all zero has no level: it cannot be the strongest or
// second-strongest of a frame.
int toneOrNone(int tone, const float* ratios) { return ratios[tone] == kNoLevel ? -1 : tone; }

}  // namespace

MultiToneDetector::MultiToneDetector(const MultiToneBand& b, int slots, int specSize)
    : band(b),
      strongestTone(slots, -1),
      secondTone(slots, -1),
      windowMaxTone(slots, -1),
      windowSecondTone(slots, -1),
      stats(slots, sTokenProbs{}),
      toneVotes{} {
  for (int i = 0; i < kNumTones; ++i) toneBins[i] = band.ToneBin(i);
  beginBin = toneBins[0];
  endBin = toneBins[kNumTones - 1];
  for (int k = 0; k < MultiToneBand::kMaxShifts; ++k) shiftBins[k] = band.ShiftBinsFor(k);
  fits = band.Fits() &&
         BinsInside(beginBin - 1, endBin + shiftBins[MultiToneBand::kMaxShifts - 1] + 1, specSize);
  int pair[2];
  MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[0]), pair);
  frontDoorTone1 = pair[0];
  MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[1]), pair);
  frontDoorTone2 = pair[0];
}

bool MultiToneDetector::ComputeStartStats(const float* spectrum, float* energyRatios) const {
  if (!fits) return false;
  float energyBlock = 0.0f;
  for (int b = beginBin; b <= endBin; ++b) energyBlock += spectrum[b];
  energyBlock /= static_cast<float>(endBin - beginBin + 1);
  if (!HasEnergy(energyBlock)) return false;
  for (int i = 0; i < kNumTones; ++i) {
    const float s = toneSum(spectrum, toneBins[i]);
    energyRatios[i] = static_cast<float>(20 * std::log10(static_cast<double>(s / kMeasuredBins / energyBlock)));
  }
  return true;
}

void MultiToneDetector::RankStartTones(const float* spectrum, int slot) {
  float sorted[kNumTones];
  int idx[kNumTones];
  if (!ComputeStartStats(spectrum, sorted)) {
    strongestTone[slot] = secondTone[slot] = -1;
    return;
  }
  for (int i = 0; i < kNumTones; ++i) idx[i] = i;
  // Stable descending bubble sort: equal ratios keep tone order.
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
  strongestTone[slot] = sorted[0] == kNoLevel ? -1 : idx[0];
  secondTone[slot] = sorted[1] == kNoLevel ? -1 : idx[1];
}

bool MultiToneDetector::FrontDoorAt(const SpectraView& ring, int firstSlot) const {
  const int n = ring.slots;
  const int h = n / 2;
  const int t = ring.toleranceFrames;
  int first = 0;
  for (int i = 0; i < h; ++i) first += strongestTone[(firstSlot + i) % n] == frontDoorTone1;
  if (first < h - t) return false;
  int second = 0;
  for (int i = h; i < n; ++i) {
    const int slot = (firstSlot + i) % n;
    second += strongestTone[slot] == frontDoorTone2 || secondTone[slot] == frontDoorTone2;
  }
  return second >= h - 2 * t;
}

bool MultiToneDetector::SearchFrontDoor(const SpectraView& ring, int writePos, int* readPos) const {
  int& r = *readPos;
  while (ring.Filled(writePos, r) >= ring.slots - 1) {
    if (FrontDoorAt(ring, r)) {
      r = writePos;
      return true;
    }
    r = (r + 1) % ring.slots;
  }
  return false;
}

void MultiToneDetector::ComputeWindowStats(const SpectraView& ring, int firstSlot, int ordinal) {
  const int n = ring.slots;
  const int h = n / 2;
  if (!fits || n < 2) return;
  const int off = shiftBins[ordinal % MultiToneBand::kMaxShifts];
  const int bandBins = endBin - beginBin + 1;

  // Mean band level over the window, on the unshifted range.
  double energyBlock = 0.0;
  for (int s = 0; s < h; ++s) {
    const float* row = ring.Row(firstSlot + s);
    for (int b = beginBin; b <= endBin; ++b) energyBlock += row[b];
  }
  energyBlock /= static_cast<double>(bandBins) * h;

  float energy[kNumTones];
  float ratios[kNumTones];
  for (int s = 0; s < h; ++s) {
    const int slot = (firstSlot + s) % n;
    const float* row = ring.Row(slot);
    sTokenProbs& rec = stats[slot];
    double frameLevel = 0.0;
    for (int b = beginBin; b <= endBin; ++b) frameLevel += row[b];
    if (!HasEnergy(energyBlock) || !HasEnergy(frameLevel / bandBins)) {
      windowMaxTone[slot] = windowSecondTone[slot] = -1;
      rec = sTokenProbs{-1, 0.0f, -1, -1, 0.0f, 0.0f, 0.0f};
      continue;
    }
    for (int i = 0; i < kNumTones; ++i) {
      const float sum = toneSum(row, toneBins[i] + off);
      energy[i] = static_cast<float>(static_cast<double>(sum) * ring.specSize / static_cast<float>(h));
      ratios[i] = static_cast<float>(20 * std::log10(sum / kMeasuredBins / energyBlock));
    }
    const int top = toneOrNone(Globals::maxValueIdx(ratios, kNumTones), ratios);
    const int next = top < 0 ? -1 : toneOrNone(Globals::secondValueIdx(ratios, kNumTones), ratios);
    windowMaxTone[slot] = top;
    windowSecondTone[slot] = next;
    rec.idxToneMax = top;
    rec.idxToneSecond = next;
    rec.energyRatioToneMax = top < 0 ? 0.0f : ratios[top];
    rec.energyRatioToneSecond = next < 0 ? 0.0f : ratios[next];
    rec.energyToken = (top < 0 ? 0.0f : energy[top]) + (next < 0 ? 0.0f : energy[next]);
  }
}

MultiToneDetector::Decision MultiToneDetector::DecideToken(const SpectraView& ring, int firstSlot) {
  const int n = ring.slots;
  const int h = n / 2;
  if (!fits || h < 1) return {-1, 0.0f, 0.0f, 0, 0.0f};
  for (int& v : toneVotes) v = 0;
  for (int s = 0; s < h; ++s) {
    const int slot = (firstSlot + s) % n;
    if (windowMaxTone[slot] >= 0) toneVotes[windowMaxTone[slot]]++;
    if (windowSecondTone[slot] >= 0) toneVotes[windowSecondTone[slot]]++;
    sTokenProbs& rec = stats[slot];
    rec.idxToken = MultiToneBand::TokenOf(rec.idxToneMax, rec.idxToneSecond);
    rec.energyRatioToken = (rec.energyRatioToneMax + rec.energyRatioToneSecond) * 0.5f;
  }
  const int max1 = Globals::maxValueIdx(toneVotes, kNumTones);
  const int max2 = Globals::secondValueIdx(toneVotes, kNumTones);
  int token = MultiToneBand::TokenOf(max1, max2);
  if (token < 0) {
    // The two most-voted tones name no token: take the valid pair with the
    // most votes, so the position is filled and the clock stays aligned.
    int bestVotes = -1;
    for (int t = 0; t < Globals::numTokensAll; ++t) {
      int pair[2];
      MultiToneBand::TonesOf(t, pair);
      const int votes = toneVotes[pair[0]] + toneVotes[pair[1]];
      if (votes > bestVotes) {
        bestVotes = votes;
        token = t;
      }
    }
  }
  float prob = 0.0f;
  float energy = 0.0f;
  int agreeing = 0;
  double toneEnergy = 0.0;
  for (int s = 0; s < h; ++s) {
    const sTokenProbs& rec = stats[(firstSlot + s) % n];
    if (rec.idxToken == token) {
      prob += rec.energyRatioToken;
      energy += rec.energyToken;
      ++agreeing;
      toneEnergy += rec.energyToken;
    }
  }
  // energyToken is two tones' three-bin sums scaled by specSize / H.
  const float toneLevel =
      agreeing > 0 ? static_cast<float>(toneEnergy / agreeing * h / ring.specSize / 2.0) : 0.0f;
  return {token, prob / static_cast<float>(h), energy / static_cast<float>(h), agreeing, toneLevel};
}

}  // namespace QUORLAX
