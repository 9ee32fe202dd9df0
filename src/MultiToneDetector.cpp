#include "MultiToneDetector.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "Globals.h"
#include "OrderedSum.h"

namespace QUORLAX {

namespace {

constexpr int kMeasuredBins = 3;  // a tone's bin and one neighbour on each side
constexpr float kNoLevel = -HUGE_VALF;

// Globals::sum of the three bins, in its order.
float toneSum(const float* spectrum, int bin) {
  return ((0.0f + spectrum[bin - 1]) + spectrum[bin]) + spectrum[bin + 1];
}

// A tone whose bins are all zero has no level: it cannot be the strongest or
// second-strongest of a frame.
int toneOrNone(int tone, const float* ratios) { return ratios[tone] == kNoLevel ? -1 : tone; }

float levelDb(double quotient) { return static_cast<float>(20 * std::log10(quotient)); }

// The strongest and second-strongest of the tones by their levels in dB,
// 20 log10(q) in single precision, ties to the lower tone: what ranking every
// level would give. Only quotients close enough to the second largest to tie
// with it after rounding need their logarithm (relative 1e-4 is 0.00087 dB,
// many single-precision steps of any level a spectrum can have). False, with
// nothing written, when a quotient is not a number: then every level counts.
template <typename Q>
bool topTwoLevels(const Q* q, int n, int* top, int* next, float* topDb, float* nextDb) {
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
    const float db = levelDb(static_cast<double>(q[i]));
    if (t < 0 || db > dbT) {
      u = t;
      dbU = dbT;
      t = i;
      dbT = db;
    } else if (u < 0 || db > dbU) {
      u = i;
      dbU = db;
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
bool clearTopTwo(const float* t, int n, int* top, int* next) {
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
  if (!finite || b < 0) return false;
  if (!(rest < tb * (1.0 - 1e-3))) return false;
  if (ta != tb && ta < tb * (1.0 + 1e-3)) return false;
  *top = a;  // with equal sums, the lower tone: a comes first
  *next = b;
  return true;
}

// The same for the search's single-precision levels over the band mean,
// of which `approxMean` is within 1e-4 (RoughSum over the bins): it holds
// energy, and neither level overflows or vanishes.
bool rankBySums(const float* t, int n, double approxMean, int* top, int* next) {
  if (!(approxMean >= 4.0 * FLT_MIN && approxMean <= 1e30)) return false;
  if (!clearTopTwo(t, n, top, next)) return false;
  return t[*top] < 1e30 * approxMean && t[*next] > 1e-30 * approxMean;
}

}  // namespace

MultiToneDetector::MultiToneDetector(const MultiToneBand& b, int slots, int specSize)
    : band(b),
      strongestTone(slots, -1),
      secondTone(slots, -1),
      windowMaxTone(slots, -1),
      windowSecondTone(slots, -1),
      stats(slots, sTokenProbs{}),
      slotLevel(slots, 0.0),
      levelKept(slots, 0),
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

SpectraRing::Range MultiToneDetector::ReadRange() const {
  if (!fits) return {0, -1};
  return {beginBin - 1, endBin + shiftBins[MultiToneBand::kMaxShifts - 1] + 1};
}

bool MultiToneDetector::StartLevel(const float* spectrum, float* energyBlock, double* level) const {
  if (!fits) return false;
  float sum = 0.0f;
  if (level != nullptr) {
    double wide = 0.0;
    for (int b = beginBin; b <= endBin; ++b) {
      sum += spectrum[b];
      wide += spectrum[b];
    }
    *level = wide;
  } else {
    for (int b = beginBin; b <= endBin; ++b) sum += spectrum[b];
  }
  *energyBlock = sum / static_cast<float>(endBin - beginBin + 1);
  return HasEnergy(*energyBlock);
}

bool MultiToneDetector::ComputeStartStats(const float* spectrum, float* energyRatios, double* level) const {
  float energyBlock;
  if (!StartLevel(spectrum, &energyBlock, level)) return false;
  for (int i = 0; i < kNumTones; ++i)
    energyRatios[i] = levelDb(static_cast<double>(toneSum(spectrum, toneBins[i]) / kMeasuredBins / energyBlock));
  return true;
}

void MultiToneDetector::RankAndSlide(const float* spectrum, int slot) {
  const int n = static_cast<int>(strongestTone.size());
  const int h = n / 2;
  auto first = [&](int s) { return strongestTone[s % n] == frontDoorTone1; };
  auto second = [&](int s) { return strongestTone[s % n] == frontDoorTone2 || secondTone[s % n] == frontDoorTone2; };
  // The window ending at slot - 1 becomes the one ending at slot: slot itself
  // leaves the older half and re-enters the newer one with its new ranking,
  // and slot + h crosses from the newer half to the older.
  slideFirst += first(slot + h) - first(slot);
  slideSecond -= second(slot + h);
  levelKept[slot] = 0;
  RankTones(spectrum, slot);
  slideSecond += second(slot);
}

bool MultiToneDetector::DoorInNewest(const SpectraView& ring) const {
  const int h = ring.slots / 2;
  return slideFirst >= h - ring.toleranceFrames && slideSecond >= h - 2 * ring.toleranceFrames;
}

void MultiToneDetector::Clear() {
  std::fill(strongestTone.begin(), strongestTone.end(), -1);
  std::fill(secondTone.begin(), secondTone.end(), -1);
  std::fill(levelKept.begin(), levelKept.end(), 0);
  slideFirst = slideSecond = 0;
}

void MultiToneDetector::RankStartTones(const float* spectrum, int slot) { RankTones(spectrum, slot); }

double MultiToneDetector::LevelAt(const SpectraView& ring, int slot) {
  if (!levelKept[slot]) {
    slotLevel[slot] = SumInOrder(0.0, ring.Row(slot) + beginBin, endBin - beginBin + 1);
    levelKept[slot] = 1;
  }
  return slotLevel[slot];
}

void MultiToneDetector::RankTones(const float* spectrum, int slot) {
  if (!fits) {
    strongestTone[slot] = secondTone[slot] = -1;
    return;
  }
  float t[kNumTones];
  for (int i = 0; i < kNumTones; ++i) t[i] = toneSum(spectrum, toneBins[i]);
  const int bandBins = endBin - beginBin + 1;
  int top, next;
  if (rankBySums(t, kNumTones, RoughSum(spectrum + beginBin, bandBins) / bandBins, &top, &next)) {
    strongestTone[slot] = top;
    secondTone[slot] = next;
    return;
  }
  float energyBlock;
  if (!StartLevel(spectrum, &energyBlock, nullptr)) {
    strongestTone[slot] = secondTone[slot] = -1;
    return;
  }
  float q[kNumTones];
  for (int i = 0; i < kNumTones; ++i) q[i] = t[i] / kMeasuredBins / energyBlock;
  float topDb, nextDb;
  if (!topTwoLevels(q, kNumTones, &top, &next, &topDb, &nextDb)) {
    // Stable descending bubble sort of every level: equal (or NaN) levels keep tone order.
    float sorted[kNumTones];
    int idx[kNumTones];
    for (int i = 0; i < kNumTones; ++i) {
      sorted[i] = levelDb(static_cast<double>(q[i]));
      idx[i] = i;
    }
    for (int c = 0; c < kNumTones - 1; ++c) {
      for (int d = 0; d < kNumTones - 1 - c; ++d) {
        if (sorted[d + 1] > sorted[d]) {
          std::swap(sorted[d], sorted[d + 1]);
          std::swap(idx[d], idx[d + 1]);
        }
      }
    }
    top = idx[0];
    next = idx[1];
    topDb = sorted[0];
    nextDb = sorted[1];
  }
  strongestTone[slot] = topDb == kNoLevel ? -1 : top;
  secondTone[slot] = nextDb == kNoLevel ? -1 : next;
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

void MultiToneDetector::ComputeWindowStats(const SpectraView& ring, int firstSlot, int ordinal, bool keptLevels) {
  const int n = ring.slots;
  const int h = n / 2;
  if (!fits || n < 2) return;
  const int off = shiftBins[ordinal % MultiToneBand::kMaxShifts];
  const int bandBins = endBin - beginBin + 1;

  // Mean band level over the window, on the unshifted range.
  double energyBlock = 0.0;
  for (int s = 0; s < h; ++s) {
    if (keptLevels) {
      energyBlock += LevelAt(ring, (firstSlot + s) % n);
      continue;
    }
    energyBlock = SumInOrder(energyBlock, ring.Row(firstSlot + s) + beginBin, bandBins);
  }
  energyBlock /= static_cast<double>(bandBins) * h;

  float ratios[kNumTones];
  for (int s = 0; s < h; ++s) {
    const int slot = (firstSlot + s) % n;
    const float* row = ring.Row(slot);
    sTokenProbs& rec = stats[slot];
    // The frame's own level only decides whether it holds energy: an
    // estimate settles that unless it lies near the edge.
    bool frameEnergy;
    if (keptLevels) {
      frameEnergy = HasEnergy(LevelAt(ring, slot) / bandBins);
    } else {
      const double rough = RoughSum(row + beginBin, bandBins) / bandBins;
      frameEnergy = rough >= 4.0 * FLT_MIN && rough <= 1e30 ? true
                                                            : HasEnergy(SumInOrder(0.0, row + beginBin, bandBins) / bandBins);
    }
    if (!HasEnergy(energyBlock) || !frameEnergy) {
      windowMaxTone[slot] = windowSecondTone[slot] = -1;
      rec = sTokenProbs{-1, 0.0f, -1, -1, 0.0f, 0.0f, 0.0f};
      continue;
    }
    float t[kNumTones];
    for (int i = 0; i < kNumTones; ++i) t[i] = toneSum(row, toneBins[i] + off);
    auto level = [&](int i) { return t[i] / kMeasuredBins / energyBlock; };
    int best, second;
    // Sums that stand clear decide alone (clearTopTwo); then only their two
    // levels are taken, with levels of 4 FLT_MIN / 3 and more finite.
    if (clearTopTwo(t, kNumTones, &best, &second) && t[second] >= 4.0f * FLT_MIN) {
      ratios[best] = levelDb(level(best));
      ratios[second] = levelDb(level(second));
    } else {
      double q[kNumTones];
      for (int i = 0; i < kNumTones; ++i) q[i] = level(i);
      if (topTwoLevels(q, kNumTones, &best, &second, &ratios[0], &ratios[1])) {
        // Only the two levels that count were taken; keep them where the rule below reads them.
        const float bestDb = ratios[0], secondDb = ratios[1];
        ratios[best] = bestDb;
        ratios[second] = secondDb;
      } else {
        for (int i = 0; i < kNumTones; ++i) ratios[i] = levelDb(q[i]);
        best = Globals::maxValueIdx(ratios, kNumTones);
        second = Globals::secondValueIdx(ratios, kNumTones);
      }
    }
    const int top = toneOrNone(best, ratios);
    const int next = top < 0 ? -1 : toneOrNone(second, ratios);
    auto energy = [&](int i) {
      return static_cast<float>(static_cast<double>(t[i]) * ring.specSize / static_cast<float>(h));
    };
    windowMaxTone[slot] = top;
    windowSecondTone[slot] = next;
    rec.idxToneMax = top;
    rec.idxToneSecond = next;
    rec.energyRatioToneMax = top < 0 ? 0.0f : ratios[top];
    rec.energyRatioToneSecond = next < 0 ? 0.0f : ratios[next];
    rec.energyToken = (top < 0 ? 0.0f : energy(top)) + (next < 0 ? 0.0f : energy(next));
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
