#include "core/DoorSearch.h"

#include <algorithm>

#include "core/OrderedSum.h"
#include "core/ToneRanking.h"

namespace QUORLAX {

using namespace ranking;

DoorSearch::DoorSearch(const BandGeometry& geometry, int slots, Arena& arena)
    : geometry_(&geometry),
      slots_(slots),
      strongest_(arena.Take<int>(static_cast<size_t>(slots))),
      second_(arena.Take<int>(static_cast<size_t>(slots))) {
  if (strongest_ != nullptr && second_ != nullptr) Clear();
}

void DoorSearch::Clear() {
  std::fill(strongest_, strongest_ + slots_, -1);
  std::fill(second_, second_ + slots_, -1);
}

namespace {

// The decoders' levels: band sums over a spectrum's bins, dB in double precision.
struct SpectrumLevels {
  const BandGeometry& g;
  const float* spectrum;
  double ApproxMean() const { return RoughSum(spectrum + g.beginBin, g.BandBins()) / g.BandBins(); }
  bool Mean(float* energyBlock) const { return g.StartLevel(spectrum, energyBlock, nullptr); }
  static float Db(float q) { return LevelDb(static_cast<double>(q)); }
};

}  // namespace

void DoorSearch::RankTones(const float* spectrum, int slot) {
  const BandGeometry& g = *geometry_;
  if (!g.fits) {
    strongest_[slot] = second_[slot] = -1;
    return;
  }
  float t[BandGeometry::kNumTones];
  for (int i = 0; i < BandGeometry::kNumTones; ++i) t[i] = BandGeometry::ToneSum(spectrum, g.toneBins[i]);
  Rank(t, SpectrumLevels{g, spectrum}, slot);
}

template <class Levels>
void DoorSearch::Rank(const float* t, const Levels& levels, int slot) {
  constexpr int kNumTones = BandGeometry::kNumTones;
  int top, next;
  if (rankBySums(t, kNumTones, levels.ApproxMean(), &top, &next)) {
    strongest_[slot] = top;
    second_[slot] = next;
    return;
  }
  float energyBlock;
  if (!levels.Mean(&energyBlock)) {
    strongest_[slot] = second_[slot] = -1;
    return;
  }
  float q[kNumTones];
  for (int i = 0; i < kNumTones; ++i) q[i] = t[i] / BandGeometry::kMeasuredBins / energyBlock;
  float topDb, nextDb;
  if (!topTwoLevels(q, kNumTones, &top, &next, &topDb, &nextDb, Levels::Db)) {
    // Stable descending bubble sort of every level: equal (or NaN) levels keep tone order.
    float sorted[kNumTones];
    int idx[kNumTones];
    for (int i = 0; i < kNumTones; ++i) {
      sorted[i] = Levels::Db(q[i]);
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
  strongest_[slot] = topDb == kNoLevel ? -1 : top;
  second_[slot] = nextDb == kNoLevel ? -1 : next;
}

bool DoorSearch::FrontDoorAt(const SpectraView& ring, int firstSlot) const {
  const int n = ring.slots;
  const int h = n / 2;
  const int t = ring.toleranceFrames;
  int first = 0;
  for (int i = 0; i < h; ++i) first += strongest_[(firstSlot + i) % n] == geometry_->frontDoorTone1;
  if (first < h - t) return false;
  int second = 0;
  for (int i = h; i < n; ++i) {
    const int slot = (firstSlot + i) % n;
    second += strongest_[slot] == geometry_->frontDoorTone2 || second_[slot] == geometry_->frontDoorTone2;
  }
  return second >= h - 2 * t;
}

bool DoorSearch::SearchFrontDoor(const SpectraView& ring, int writePos, int* readPos) const {
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

}  // namespace QUORLAX
