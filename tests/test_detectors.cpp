// The multi-tone front-door rule at its exact thresholds: one frame stricter
// or looser anywhere must fail here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Globals.h"
#include "MultiToneDetector.h"

using namespace QUORLAX;

namespace {

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
  MultiToneDetector d(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, c.rate, 2048), c.slots, 1025);
  ASSERT_EQ(d.frontDoorTone1, 0);
  ASSERT_EQ(d.frontDoorTone2, 2);
  std::vector<float> row(1025, 0.0f);
  const SpectraView ring{row.data(), 0, c.slots, 1025, c.tolerance, 0, 1024};  // every slot the same row
  const int h = c.slots / 2;
  const int start = 5;  // the window wraps round the ring
  for (int i = 0; i < c.slots; ++i) {
    const int slot = (start + i) % c.slots;
    const int k = i < h ? i : i - h;
    d.strongestTone[slot] = i < h ? (k < c.first ? 0 : 4) : (k < c.second ? 2 : 4);
    d.secondTone[slot] = i >= h && k >= c.second && k < c.second + c.asSecond ? 2 : 6;
  }
  EXPECT_EQ(d.FrontDoorAt(ring, start), c.found);
  int readPos = start;
  const int writePos = (start + c.slots - 1) % c.slots;
  EXPECT_EQ(d.SearchFrontDoor(ring, writePos, &readPos), c.found);
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

// The listener's sliding counts agree with the full count at every hop.
TEST(MultiToneDoor, SlidingCountsMatchTheFullCount) {
  for (float rate : {44100.0f, 48000.0f}) {
    Globals::init(2048, rate);
    const int slots = rate == 44100.0f ? 36 : 157;
    const int tolerance = rate == 44100.0f ? 1 : 4;
    MultiToneDetector d(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, rate, 2048), slots, 1025);
    std::vector<float> spectra(static_cast<size_t>(slots) * 1025, 1.0f);
    const SpectraView ring{spectra.data(), 1025, slots, 1025, tolerance, 0, 1024};
    std::mt19937 rng(3);
    int doors = 0;
    for (int hop = 0; hop < 20 * slots; ++hop) {
      const int slot = hop % slots;
      // Runs of "tone 0 loud", "tone 2 loud" and noise, so that doors open.
      const int phase = (hop / (slots / 2)) % 4;
      float* s = ring.MutableRow(slot);
      for (int b = 0; b < 1025; ++b) s[b] = 1.0f + static_cast<float>(rng() % 100) / 100.0f;
      const int loud = phase == 0 ? 0 : (phase == 1 ? 2 : -1);
      if (loud >= 0 && rng() % 10 != 0)
        for (int k = -1; k <= 1; ++k) s[d.toneBins[loud] + k] = 50.0f;
      d.RankAndSlide(s, slot);
      if (hop + 1 < slots) continue;
      const bool full = d.FrontDoorAt(ring, (slot + 1) % slots);
      EXPECT_EQ(d.DoorInNewest(ring), full) << rate << " hop " << hop;
      doors += full;
    }
    EXPECT_GT(doors, 0) << rate;
  }
}

}  // namespace

namespace {

// The ranking takes logarithms only where they can decide; it must rank
// exactly as a stable sort of every tone's level in dB, near-ties included.
TEST(MultiToneRanking, SameAsSortingEveryLevel) {
  Globals::init(2048, 44100.0f);
  MultiToneDetector d(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, 44100.0f, 2048), 36, 1025);
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
      for (int b = -1; b <= 1; ++b) s[d.toneBins[i] + b] = v;
      nearTies += kind == 2;
    }
    float ratios[9];
    int idx[9];
    ASSERT_TRUE(d.ComputeStartStats(s.data(), ratios));
    for (int i = 0; i < 9; ++i) idx[i] = i;
    std::stable_sort(idx, idx + 9, [&](int a, int b) { return ratios[a] > ratios[b]; });
    d.RankStartTones(s.data(), 0);
    ASSERT_EQ(d.strongestTone[0], std::isinf(ratios[idx[0]]) ? -1 : idx[0]) << "trial " << trial;
    ASSERT_EQ(d.secondTone[0], std::isinf(ratios[idx[1]]) ? -1 : idx[1]) << "trial " << trial;
  }
  EXPECT_GT(nearTies, 1000);
}

}  // namespace
