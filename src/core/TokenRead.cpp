#include "core/TokenRead.h"

#include <algorithm>

#include "Globals.h"
#include "core/OrderedSum.h"
#include "core/ToneRanking.h"

namespace QUORLAX {

using namespace ranking;

SlotLevels::SlotLevels(int slots, Arena& arena)
    : slots_(slots), level_(arena.Take<double>(static_cast<size_t>(slots))), kept_(arena.Take<char>(static_cast<size_t>(slots))) {}

void SlotLevels::Clear() { std::fill(kept_, kept_ + slots_, 0); }

double SlotLevels::At(const BandGeometry& g, const SpectraView& ring, int slot) {
  if (!kept_[slot]) {
    level_[slot] = SumInOrder(0.0, ring.Row(slot) + g.beginBin, g.BandBins());
    kept_[slot] = 1;
  }
  return level_[slot];
}

namespace {

// The per-frame records of the window at firstSlot.
void MeasureFrames(const BandGeometry& g, const SpectraView& ring, int firstSlot, int ordinal, SlotLevels* levels,
                   sTokenProbs* frames) {
  constexpr int kNumTones = BandGeometry::kNumTones;
  const int n = ring.slots;
  const int h = n / 2;
  const int off = g.shiftBins[ordinal % MultiToneBand::kMaxShifts];
  const int bandBins = g.BandBins();

  // Mean band level over the window, on the unshifted range.
  double energyBlock = 0.0;
  for (int s = 0; s < h; ++s) {
    if (levels != nullptr) {
      energyBlock += levels->At(g, ring, (firstSlot + s) % n);
      continue;
    }
    energyBlock = SumInOrder(energyBlock, ring.Row(firstSlot + s) + g.beginBin, bandBins);
  }
  energyBlock /= static_cast<double>(bandBins) * h;

  float ratios[kNumTones];
  for (int s = 0; s < h; ++s) {
    const int slot = (firstSlot + s) % n;
    const float* row = ring.Row(slot);
    sTokenProbs& rec = frames[s];
    // The frame's own level only decides whether it holds energy: an
    // estimate settles that unless it lies near the edge.
    bool frameEnergy;
    if (levels != nullptr) {
      frameEnergy = HasEnergy(levels->At(g, ring, slot) / bandBins);
    } else {
      const double rough = RoughSum(row + g.beginBin, bandBins) / bandBins;
      frameEnergy = rough >= 4.0 * FLT_MIN && rough <= 1e30
                        ? true
                        : HasEnergy(SumInOrder(0.0, row + g.beginBin, bandBins) / bandBins);
    }
    if (!HasEnergy(energyBlock) || !frameEnergy) {
      rec = sTokenProbs{-1, 0.0f, -1, -1, 0.0f, 0.0f, 0.0f};
      continue;
    }
    float t[kNumTones];
    for (int i = 0; i < kNumTones; ++i) t[i] = BandGeometry::ToneSum(row, g.toneBins[i] + off);
    auto level = [&](int i) { return t[i] / BandGeometry::kMeasuredBins / energyBlock; };
    int best, second;
    // Sums that stand clear decide alone (clearTopTwo); then only their two
    // levels are taken, with levels of 4 FLT_MIN / 3 and more finite.
    if (clearTopTwo(t, kNumTones, &best, &second) && t[second] >= 4.0f * FLT_MIN) {
      ratios[best] = LevelDb(level(best));
      ratios[second] = LevelDb(level(second));
    } else {
      double q[kNumTones];
      for (int i = 0; i < kNumTones; ++i) q[i] = level(i);
      if (topTwoLevels(q, kNumTones, &best, &second, &ratios[0], &ratios[1])) {
        // Only the two levels that count were taken; keep them where the rule below reads them.
        const float bestDb = ratios[0], secondDb = ratios[1];
        ratios[best] = bestDb;
        ratios[second] = secondDb;
      } else {
        for (int i = 0; i < kNumTones; ++i) ratios[i] = LevelDb(q[i]);
        best = Globals::maxValueIdx(ratios, kNumTones);
        second = Globals::secondValueIdx(ratios, kNumTones);
      }
    }
    const int top = toneOrNone(best, ratios);
    const int next = top < 0 ? -1 : toneOrNone(second, ratios);
    auto energy = [&](int i) {
      return static_cast<float>(static_cast<double>(t[i]) * ring.specSize / static_cast<float>(h));
    };
    rec.idxToneMax = top;
    rec.idxToneSecond = next;
    rec.energyRatioToneMax = top < 0 ? 0.0f : ratios[top];
    rec.energyRatioToneSecond = next < 0 ? 0.0f : ratios[next];
    rec.energyToken = (top < 0 ? 0.0f : energy(top)) + (next < 0 ? 0.0f : energy(next));
  }
}

}  // namespace

TokenDecision ReadToken(const BandGeometry& g, const SpectraView& ring, int firstSlot, int ordinal,
                        SlotLevels* levels, sTokenProbs* frames) {
  constexpr int kNumTones = BandGeometry::kNumTones;
  const int n = ring.slots;
  const int h = n / 2;
  if (!g.fits || h < 1) return {-1, 0.0f, 0.0f, 0, 0.0f};
  MeasureFrames(g, ring, firstSlot, ordinal, levels, frames);

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
      agreeing > 0 ? static_cast<float>(toneEnergy / agreeing * h / ring.specSize / 2.0) : 0.0f;
  return {token, prob / static_cast<float>(h), energy / static_cast<float>(h), agreeing, toneLevel};
}

}  // namespace QUORLAX
