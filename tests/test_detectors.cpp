// The multi-tone front-door rule at its exact thresholds: one frame stricter
// or looser anywhere must fail here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Globals.h"
#include "core/Arena.h"
#include "core/BandGeometry.h"
#include "core/DoorSearch.h"
#include "core/TokenRead.h"

using namespace QUORLAX;

namespace {

// One band's geometry and door search, its arrays in a block of its own.
struct Detector {
  Detector(const MultiToneBand& band, int slots) : g(band, 1025), block(1 << 16), doors(g, slots, block.arena()) {}
  BandGeometry g;
  ArenaBlock block;
  DoorSearch doors;
};

struct DoorCase {
  float rate;
  int slots, tolerance;
  int first;       // frames of the older half ranking tone 0 first
  int second;      // frames of the newer half ranking tone 2 first
  int asSecond;    // further frames of the newer half ranking it second
  bool found;
};

class MultiToneDoor : public ::testing::TestWithParam<DoorCase> {};

TEST_P(MultiToneDoor, Thresholds) {
  const DoorCase c = GetParam();
  Globals::init(2048, c.rate);
  Detector d(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, c.rate, 2048), c.slots);
  ASSERT_EQ(d.g.frontDoorTone1, 0);
  ASSERT_EQ(d.g.frontDoorTone2, 2);
  std::vector<float> row(1025, 0.0f);
  const SpectraView ring{row.data(), 0, c.slots, 1025, c.tolerance, 0, 1024};  // every slot the same row
  const int h = c.slots / 2;
  const int start = 5;  // the window wraps round the ring
  for (int i = 0; i < c.slots; ++i) {
    const int slot = (start + i) % c.slots;
    const int k = i < h ? i : i - h;
    d.doors.Record(slot, i < h ? (k < c.first ? 0 : 4) : (k < c.second ? 2 : 4),
                   i >= h && k >= c.second && k < c.second + c.asSecond ? 2 : 6);
  }
  EXPECT_EQ(d.doors.FrontDoorAt(ring, start), c.found);
  int readPos = start;
  const int writePos = (start + c.slots - 1) % c.slots;
  EXPECT_EQ(d.doors.SearchFrontDoor(ring, writePos, &readPos), c.found);
  EXPECT_EQ(readPos, c.found ? writePos : (start + 1) % c.slots);
}

// 44100 Hz: N = 36, tolerance 1: 17 of 18 and 16 of 18. 48000 Hz: N = 157,
// tolerance 4: 74 of 78 and 70 of 79.
INSTANTIATE_TEST_SUITE_P(
    Rates, MultiToneDoor,
    ::testing::Values(DoorCase{44100.0f, 36, 1, 17, 16, 0, true}, DoorCase{44100.0f, 36, 1, 16, 18, 0, false},
                      DoorCase{44100.0f, 36, 1, 17, 15, 0, false}, DoorCase{44100.0f, 36, 1, 18, 10, 6, true},
                      DoorCase{44100.0f, 36, 1, 18, 10, 5, false}, DoorCase{48000.0f, 157, 4, 74, 70, 0, true},
                      DoorCase{48000.0f, 157, 4, 73, 79, 0, false}, DoorCase{48000.0f, 157, 4, 74, 69, 0, false},
                      DoorCase{48000.0f, 157, 4, 78, 60, 10, true}, DoorCase{48000.0f, 157, 4, 78, 60, 9, false}));

}  // namespace

namespace {

// The ranking takes logarithms only where they can decide; it must rank
// exactly as a stable sort of every tone's level in dB, near-ties included.
TEST(MultiToneRanking, SameAsSortingEveryLevel) {
  Globals::init(2048, 44100.0f);
  Detector d(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, 44100.0f, 2048), 36);
  std::mt19937 rng(11);
  std::vector<float> s(1025);
  int nearTies = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    for (float& v : s) v = static_cast<float>(rng() % 1000) / 100.0f;
    // Tone sums equal, or a few float steps apart, or zero.
    const float base = 1.0f + static_cast<float>(rng() % 1000);
    for (int i = 0; i < 9; ++i) {
      const int kind = static_cast<int>(rng() % 4);
      if (kind == 0) continue;
      float v = kind == 3 ? 0.0f : base;
      for (unsigned k = rng() % 4; k > 0 && kind == 2; --k) v = std::nextafter(v, 1e9f);
      for (int b = -1; b <= 1; ++b) s[d.g.toneBins[i] + b] = v;
      nearTies += kind == 2;
    }
    float ratios[9];
    int idx[9];
    ASSERT_TRUE(d.g.ComputeStartStats(s.data(), ratios));
    for (int i = 0; i < 9; ++i) idx[i] = i;
    std::stable_sort(idx, idx + 9, [&](int a, int b) { return ratios[a] > ratios[b]; });
    d.doors.RankTones(s.data(), 0);
    ASSERT_EQ(d.doors.Strongest(0), std::isinf(ratios[idx[0]]) ? -1 : idx[0]) << "trial " << trial;
    ASSERT_EQ(d.doors.Second(0), std::isinf(ratios[idx[1]]) ? -1 : idx[1]) << "trial " << trial;
  }
  EXPECT_GT(nearTies, 1000);
}

}  // namespace

namespace {

// Levels spread over many decades, with the three strongest tones now and
// then placed right at the 0.1% where the ranking stops trusting the sums
// alone: the same two as sorting every level in dB, each time.
TEST(MultiToneRanking, SameAsSortingEveryLevelAcrossDecades) {
  Globals::init(2048, 48000.0f);
  for (int bandMode : {Globals::DECODING_MODE_AUDIBLE, Globals::DECODING_MODE_NONAUDIBLE}) {
    Detector d(MultiToneBand::Make(bandMode, 48000.0f, 2048), 157);
    const unsigned seed = 17u + static_cast<unsigned>(bandMode);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> s(1025);
    int silent = 0;
    for (int trial = 0; trial < 20000; ++trial) {
      // Down to where the band mean is denormal and names no tone.
      const float floor = std::pow(10.0f, -44.0f + 74.0f * unit(rng));
      for (float& v : s) v = floor * unit(rng);
      float sums[9];
      for (int i = 0; i < 9; ++i) sums[i] = floor * std::pow(10.0f, 6.0f * unit(rng));
      // The second and third strongest 0.1% apart, or the first two, or equal.
      const int a = static_cast<int>(rng() % 9), b = static_cast<int>(rng() % 9);
      const float ratio[] = {1.0f, 1.001f, 1.0009999f, 1.0010001f, 0.999f, 1.00001f};
      if (a != b) sums[a] = sums[b] * ratio[rng() % 6];
      for (int i = 0; i < 9; ++i) {
        const int bin = d.g.toneBins[i];
        s[bin - 1] = sums[i] * 0.25f;
        s[bin] = sums[i] * 0.5f;
        s[bin + 1] = sums[i] * 0.25f;
      }
      float ratios[9];
      int idx[9];
      d.doors.RankTones(s.data(), 0);
      if (!d.g.ComputeStartStats(s.data(), ratios)) {
        ASSERT_EQ(d.doors.Strongest(0), -1) << "seed " << seed << " trial " << trial;
        ASSERT_EQ(d.doors.Second(0), -1) << "seed " << seed << " trial " << trial;
        ++silent;
        continue;
      }
      for (int i = 0; i < 9; ++i) idx[i] = i;
      std::stable_sort(idx, idx + 9, [&](int x, int y) { return ratios[x] > ratios[y]; });
      ASSERT_EQ(d.doors.Strongest(0), std::isinf(ratios[idx[0]]) ? -1 : idx[0]) << "seed " << seed << " trial " << trial;
      ASSERT_EQ(d.doors.Second(0), std::isinf(ratios[idx[1]]) ? -1 : idx[1]) << "seed " << seed << " trial " << trial;
    }
    EXPECT_GT(silent, 100) << "seed " << seed;  // the floor reaches bands without energy
  }
}

}  // namespace

namespace {

// A token window's statistics: per frame the two loudest tones by their
// level in dB over the window's band mean (ties to the lower tone), and those
// levels, whether the sums stand clear of each other or tie to a float step.
TEST(MultiToneWindow, FramesRankTheirLevelsInDb) {
  Globals::init(2048, 44100.0f);
  Detector d(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, 44100.0f, 2048), 36);
  const int slots = 36, h = slots / 2;
  std::vector<float> spectra(static_cast<size_t>(slots) * 1025, 0.0f);
  const SpectraView ring{spectra.data(), 1025, slots, 1025, 1, 0, 1024};
  const unsigned seed = 23u;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 300; ++trial) {
    const int ordinal = 1 + trial % 18;
    const int off = d.g.shiftBins[ordinal % MultiToneBand::kMaxShifts];
    const int first = static_cast<int>(rng() % slots);
    const float floor = std::pow(10.0f, -12.0f + 24.0f * unit(rng));
    for (float& v : spectra) v = floor * unit(rng);
    for (int s = 0; s < h; ++s) {
      float* row = ring.MutableRow(first + s);
      float sums[9];
      for (float& v : sums) v = floor * std::pow(10.0f, 4.0f * unit(rng));
      const int a = static_cast<int>(rng() % 9), b = static_cast<int>(rng() % 9);
      const float ratio[] = {1.0f, 1.001f, 1.0009999f, 1.0010001f, 1.0000001f, 1.00001f};
      if (a != b) sums[a] = sums[b] * ratio[rng() % 6];
      for (int i = 0; i < 9; ++i) {
        const int bin = d.g.toneBins[i] + off;
        row[bin - 1] = row[bin + 1] = sums[i] * 0.25f;
        row[bin] = sums[i] * 0.5f;
      }
    }
    std::vector<sTokenProbs> frames(h);
    ReadToken(d.g, ring, first, ordinal, frames.data());
    double level = 0.0;
    for (int s = 0; s < h; ++s)
      for (int b = d.g.beginBin; b <= d.g.endBin; ++b) level += ring.Row(first + s)[b];
    level /= static_cast<double>(d.g.endBin - d.g.beginBin + 1) * h;
    for (int s = 0; s < h; ++s) {
      const float* row = ring.Row(first + s);
      float db[9];
      int idx[9];
      for (int i = 0; i < 9; ++i) {
        const int bin = d.g.toneBins[i] + off;
        const float sum = row[bin - 1] + row[bin] + row[bin + 1];
        db[i] = static_cast<float>(20 * std::log10(sum / 3 / level));
        idx[i] = i;
      }
      std::stable_sort(idx, idx + 9, [&](int x, int y) { return db[x] > db[y]; });
      const sTokenProbs& rec = frames[s];
      ASSERT_EQ(rec.idxToneMax, idx[0]) << "seed " << seed << " trial " << trial << " frame " << s;
      ASSERT_EQ(rec.idxToneSecond, idx[1]) << "seed " << seed << " trial " << trial << " frame " << s;
      ASSERT_EQ(rec.energyRatioToneMax, db[idx[0]]) << "seed " << seed << " trial " << trial << " frame " << s;
      ASSERT_EQ(rec.energyRatioToneSecond, db[idx[1]]) << "seed " << seed << " trial " << trial << " frame " << s;
    }
  }
}

}  // namespace
