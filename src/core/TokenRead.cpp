#include "core/TokenRead.h"

#include <algorithm>

#include "Globals.h"
#include "core/OrderedSum.h"
#include "core/ToneRanking.h"

namespace QUORLAX {

using namespace ranking;

namespace {

constexpr int kNumTones = BandGeometry::kNumTones;

// The decoders' frames: rows of bins, band levels as double sums of the bins
// one by one, dB in double precision (the protocol's figures, to the bit).
struct SpectraFrames {
  using Level = double;
  const BandGeometry& g;
  const SpectraView& ring;

  int Slots() const { return ring.slots; }
  int SpecSize() const { return ring.specSize; }
  Level WindowMean(int firstSlot, int h) const {
    double sum = 0.0;
    for (int s = 0; s < h; ++s) sum = SumInOrder(sum, ring.Row(firstSlot + s) + g.beginBin, g.BandBins());
    return sum / (static_cast<double>(g.BandBins()) * h);
  }
  // The frame's own level only decides whether it holds energy: an estimate
  // settles that unless it lies near the edge.
  bool FrameHasEnergy(int slot) const {
    const float* row = ring.Row(slot);
    const int bandBins = g.BandBins();
    const double rough = RoughSum(row + g.beginBin, bandBins) / bandBins;
    return rough >= 4.0 * FLT_MIN && rough <= 1e30 ? true : HasEnergy(SumInOrder(0.0, row + g.beginBin, bandBins) / bandBins);
  }
  void Tones(int slot, int shift, float* t) const {
    const float* row = ring.Row(slot);
    for (int i = 0; i < kNumTones; ++i) t[i] = BandGeometry::ToneSum(row, g.toneBins[i] + g.shiftBins[shift]);
  }
  static float Db(double q) { return LevelDb(q); }
  // Double-precision levels of single-precision sums over a band mean that
  // holds energy never overflow or vanish.
  static bool Representable(double, double) { return true; }
  float Energy(float t, int h) const {
    return static_cast<float>(static_cast<double>(t) * ring.specSize / static_cast<float>(h));
  }
};

// The per-frame records of the window at firstSlot.
template <class Frames>
void MeasureFrames(const Frames& src, int firstSlot, int ordinal, sTokenProbs* frames) {
  using Level = typename Frames::Level;
  const int n = src.Slots();
  const int h = n / 2;
  const int shift = ordinal % MultiToneBand::kMaxShifts;

  // Mean band level over the window, on the unshifted range.
  const Level energyBlock = src.WindowMean(firstSlot, h);

  float ratios[kNumTones];
  for (int s = 0; s < h; ++s) {
    const int slot = (firstSlot + s) % n;
    sTokenProbs& rec = frames[s];
    if (!HasEnergy(energyBlock) || !src.FrameHasEnergy(slot)) {
      rec = sTokenProbs{-1, 0.0f, -1, -1, 0.0f, 0.0f, 0.0f};
      continue;
    }
    float t[kNumTones];
    src.Tones(slot, shift, t);
    auto level = [&](int i) { return t[i] / BandGeometry::kMeasuredBins / energyBlock; };
    int best, second;
    // Sums that stand clear decide alone (clearTopTwo); then only their two
    // levels are taken, with levels of 4 FLT_MIN / 3 and more finite.
    if (clearTopTwo(t, kNumTones, &best, &second) && t[second] >= 4.0f * FLT_MIN &&
        Frames::Representable(level(best), level(second))) {
      ratios[best] = Frames::Db(level(best));
      ratios[second] = Frames::Db(level(second));
    } else {
      Level q[kNumTones];
      for (int i = 0; i < kNumTones; ++i) q[i] = level(i);
      if (topTwoLevels(q, kNumTones, &best, &second, &ratios[0], &ratios[1], Frames::Db)) {
        // Only the two levels that count were taken; keep them where the rule below reads them.
        const float bestDb = ratios[0], secondDb = ratios[1];
        ratios[best] = bestDb;
        ratios[second] = secondDb;
      } else {
        for (int i = 0; i < kNumTones; ++i) ratios[i] = Frames::Db(q[i]);
        best = Globals::maxValueIdx(ratios, kNumTones);
        second = Globals::secondValueIdx(ratios, kNumTones);
      }
    }
    const int top = toneOrNone(best, ratios);
    const int next = top < 0 ? -1 : toneOrNone(second, ratios);
    rec.idxToneMax = top;
    rec.idxToneSecond = next;
    rec.energyRatioToneMax = top < 0 ? 0.0f : ratios[top];
    rec.energyRatioToneSecond = next < 0 ? 0.0f : ratios[next];
    rec.energyToken = (top < 0 ? 0.0f : src.Energy(t[top], h)) + (next < 0 ? 0.0f : src.Energy(t[next], h));
  }
}

template <class Frames>
TokenDecision Read(const BandGeometry& g, const Frames& src, int firstSlot, int ordinal, sTokenProbs* frames) {
  using Level = typename Frames::Level;
  const int h = src.Slots() / 2;
  if (!g.fits || h < 1) return {-1, 0.0f, 0.0f, 0, 0.0f};
  MeasureFrames(src, firstSlot, ordinal, frames);

  int toneVotes[kNumTones] = {};
  for (int s = 0; s < h; ++s) {
    sTokenProbs& rec = frames[s];
    if (rec.idxToneMax >= 0) toneVotes[rec.idxToneMax]++;
    if (rec.idxToneSecond >= 0) toneVotes[rec.idxToneSecond]++;
    rec.idxToken = MultiToneBand::TokenOf(rec.idxToneMax, rec.idxToneSecond);
    rec.energyRatioToken = (rec.energyRatioToneMax + rec.energyRatioToneSecond) * 0.5f;
  }
  const int max1 = Globals::maxValueIdx(toneVotes, kNumTones);
  const int max2 = Globals::secondValueIdx(toneVotes, kNumTones);
  int token = MultiToneBand::TokenOf(max1, max2);
  if (token < 0) {
    // The two most-voted tones name no token: take the valid pair with the
    // most votes, so the position is filled and the clock stays aligned.
    token = MultiToneBand::StrongestToken(toneVotes);
  }
  float prob = 0.0f;
  float energy = 0.0f;
  int agreeing = 0;
  Level toneEnergy = 0;
  for (int s = 0; s < h; ++s) {
    const sTokenProbs& rec = frames[s];
    if (rec.idxToken == token) {
      prob += rec.energyRatioToken;
      energy += rec.energyToken;
      ++agreeing;
      toneEnergy += rec.energyToken;
    }
  }
  // energyToken is two tones' three-bin sums scaled by specSize / H.
  const float toneLevel =
      agreeing > 0 ? static_cast<float>(toneEnergy / agreeing * h / src.SpecSize() / Level(2)) : 0.0f;
  return {token, prob / static_cast<float>(h), energy / static_cast<float>(h), agreeing, toneLevel};
}

}  // namespace

TokenDecision ReadToken(const BandGeometry& g, const SpectraView& ring, int firstSlot, int ordinal, sTokenProbs* frames) {
  return Read(g, SpectraFrames{g, ring}, firstSlot, ordinal, frames);
}

}  // namespace QUORLAX
