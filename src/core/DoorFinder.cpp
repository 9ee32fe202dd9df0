#include "core/DoorFinder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/SingleMath.h"
#include "core/SpectraView.h"
#include "core/ToneMatch.h"

namespace QUORLAX {

namespace {

// An offset is looked at when both door tones' mean levels over their
// tokens reach kSighted band means and one of them kOneClear (noise alone
// reads 1, and almost never lifts one half that high): a response that tilts
// across the band may leave either tone weak, never both.
constexpr float kSighted = 2.0f, kOneClear = 5.5f;
// How far a door tone's sum must stand above each other tone of the grid:
// both together (the product of the two margins), and each at least a little
// (a response that tilts across the band may leave one of them weak).
constexpr float kStandsClear = 2.5f, kStandsClearEach = 1.4f;
// Levels above this count no more in a search's sums (a tone is steady:
// a few loud frames must not outweigh the rest); measurements see them whole,
// up to kMaxValue, which keeps every sum finite.
constexpr float kCountsUpTo = 10.0f;
constexpr float kMaxValue = 1e6f;
// The search's sums add levels in steps of 1/kSteps band means, as integers:
// a frame's value leaves a sum exactly as it entered, so nothing drifts.
constexpr float kSteps = 1024.0f;
// A door's tones are steady and come from one sender: the pitch offsets
// their peaks give agree, and neither peak moves between the first and the
// second half of its token. Their disagreements, in bins, may add up (root
// of the sum of squares, the two movements counting half) to this much;
// speech and music rarely keep as still.
constexpr float kSteadyPitch = 0.5f;
// The share of the door tokens' frames (both together) in which its tone is
// the strongest of the grid.
constexpr float kSteady = 0.6f;
// Bins read beside a door tone to find its peak.
constexpr int kPeakReach = 2;
// A tone's floor is read this many bins beside it and one further (clear of
// its main lobe, short of the next tone of the narrowest grid).
constexpr int kFloorBeside = 3;
// Floors left out of the line across the grid, the highest; and the most
// that line may tilt from the grid's first tone to its last (natural log:
// 20 dB), beyond which the floors are a clean signal's own leakage.
constexpr int kFloorOutliers = 2;
constexpr float kMostFloorTilt = 4.6f;
// Bins read beside a tone at most.
constexpr int kReach = std::max(kPeakReach, kFloorBeside + 1);
// Frames looked at for the boundary between the door tokens, at most.
constexpr int kMaxBoundaryFrames = 128;

}  // namespace

DoorFinder::DoorFinder(const BandGeometry& g, const float (*gridHz)[BandGeometry::kNumTones], int grids, int slots,
                       int half, int windowFrames, float maxOffset, Arena& arena)
    : geometry_(&g), slots_(slots), half_(half), windowFrames_(windowFrames), examineEvery_(std::max(1, windowFrames / 8)) {
  if (!g.fits) return;
  const float binHz = g.band.sampleRate / static_cast<float>(g.band.windowSize);
  for (int i = 0; i < BandGeometry::kNumTones; ++i) toneBin_[i] = g.band.toneHz[i] / binHz;
  grids_ = std::min(grids, MultiToneBand::kSenderGrids);
  for (int n = 0; n < grids_; ++n) {
    gridBin1_[n] = gridHz[n][g.frontDoorTone1] / binHz;
    gridBin2_[n] = gridHz[n][g.frontDoorTone2] / binHz;
  }
  const int reach = static_cast<int>(std::ceil(maxOffset * toneBin_[0]));
  const int b0 = g.toneBins[0];
  int lo = -reach, hi = reach;
  lowOffset_ = lo;
  while (b0 + lo - kReach < 0) lowOffset_ = ++lo;
  const int specSize = g.band.SpectrumSize();
  offsets_ = hi - lo + 1;
  while (offsets_ > 0 && BinAt(BandGeometry::kNumTones - 1, offsets_ - 1) + kReach >= specSize) --offsets_;
  if (offsets_ <= 0) {
    offsets_ = 0;
    return;
  }
  // The band's level: the mean over every bin a tone of any offset can take.
  levelFirst_ = BinAt(0, 0);
  levelLast_ = BinAt(BandGeometry::kNumTones - 1, offsets_ - 1);
  ringFirst_ = levelFirst_ - kReach;
  ringBins_ = levelLast_ + kReach - ringFirst_ + 1;
  bin2_ = arena.Take<int>(static_cast<size_t>(offsets_));
  older_ = arena.Take<int>(static_cast<size_t>(offsets_));
  newer_ = arena.Take<int>(static_cast<size_t>(offsets_));
  firstSteps_ = arena.Take<short>(static_cast<size_t>(offsets_) * slots);
  secondSteps_ = arena.Take<short>(static_cast<size_t>(offsets_) * slots);
  inverseLevel_ = arena.Take<float>(static_cast<size_t>(slots));
  ring_ = arena.Take<std::uint16_t>(static_cast<size_t>(ringBins_) * slots);
  if (bin2_ == nullptr) return;  // counting
  for (int k = 0; k < offsets_; ++k) bin2_[k] = BinAt(g.frontDoorTone2, k);
  Clear();
}

float DoorFinder::Scale(int k) const {
  return static_cast<float>(geometry_->toneBins[0] + lowOffset_ + k) / toneBin_[0];
}

int DoorFinder::BinAt(int tone, int k) const {
  return static_cast<int>(toneBin_[tone] * Scale(k) + 0.5f);  // positive: truncation rounds down
}

void DoorFinder::Clear() {
  if (offsets_ == 0) return;
  std::fill(older_, older_ + offsets_, 0);
  std::fill(newer_, newer_ + offsets_, 0);
  std::fill(firstSteps_, firstSteps_ + static_cast<long>(offsets_) * slots_, 0);
  std::fill(secondSteps_, secondSteps_ + static_cast<long>(offsets_) * slots_, 0);
  std::fill(inverseLevel_, inverseLevel_ + slots_, 0.0f);
  std::fill(ring_, ring_ + static_cast<long>(ringBins_) * slots_, std::uint16_t{0});
  open_ = haveBest_ = false;
  quietUntil_ = 0;
}

namespace {

// A power's upper 16 bits, rounded to the nearest; and back.
inline std::uint16_t Half(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  if ((bits & 0x7f800000u) == 0x7f800000u) return static_cast<std::uint16_t>(bits >> 16);  // infinite or not a number
  bits += 0x7fffu + ((bits >> 16) & 1u);
  return static_cast<std::uint16_t>(bits >> 16);
}

inline float Whole(std::uint16_t h) {
  const std::uint32_t bits = static_cast<std::uint32_t>(h) << 16;
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

}  // namespace

float DoorFinder::Value(long long frame, int bin, float most) const {
  const int slot = static_cast<int>(frame % slots_);
  const float v = Whole(ring_[static_cast<long>(slot) * ringBins_ + (bin - ringFirst_)]) * inverseLevel_[slot];
  // Not a number (or less than nothing) names no tone.
  return v >= 0.0f ? std::min(v, most) : 0.0f;
}

bool DoorFinder::SumsSane() const {
  // Each sum holds a token's frames (fewer at the start of a stream), each
  // counting 0 to kCountsUpTo band means.
  const long long most = static_cast<long long>(kCountsUpTo * kSteps) * half_;
  for (int k = 0; k < offsets_; ++k)
    if (older_[k] < 0 || older_[k] > most || newer_[k] < 0 || newer_[k] > most) return false;
  return true;
}

namespace {

// Levels in steps, 0 to `most` (not a number and less than nothing: 0).
// Branch-free, so it runs on vectors.
inline int StepsOf(float level, float most) {
  float v = level > 0.0f ? level : 0.0f;
  v = v < most ? v : most;
  return static_cast<int>(v);
}

}  // namespace

void DoorFinder::Store(const float* spectrum, long long frame) {
  const int slot = static_cast<int>(frame % slots_);
  std::uint16_t* kept = ring_ + static_cast<long>(slot) * ringBins_;
  for (int i = 0; i < ringBins_; ++i) kept[i] = Half(spectrum[ringFirst_ + i]);
  const float scale = inverseLevel_[slot] * kSteps, most = kCountsUpTo * kSteps;
  const float* __restrict row = spectrum;
  // The first door tone's bins of every offset lie side by side.
  const float* __restrict first = row + geometry_->toneBins[0] + lowOffset_;
  const int* __restrict bins = bin2_;
  const int n = offsets_;
  short* __restrict one = firstSteps_ + static_cast<long>(slot) * n;
  short* __restrict two = secondSteps_ + static_cast<long>(slot) * n;
  for (int k = 0; k < n; ++k) one[k] = static_cast<short>(StepsOf(first[k] * scale, most));
  for (int k = 0; k < n; ++k) two[k] = static_cast<short>(StepsOf(row[bins[k]] * scale, most));
}

bool DoorFinder::Add(const float* spectrum, long long frame, DoorSighting* door) {
  if (offsets_ == 0) return false;
  const int slot = static_cast<int>(frame % slots_);
  const int bins = levelLast_ - levelFirst_ + 1;
  const float level = single::Sum(spectrum + levelFirst_, bins) / static_cast<float>(bins);
  inverseLevel_[slot] = HasEnergy(level) ? 1.0f / level : 0.0f;
  const int n = offsets_;
  int* __restrict older = older_;
  int* __restrict newer = newer_;
  auto stepsOf = [&](const short* steps, long long f) { return steps + (f % slots_) * n; };
  // The frame two tokens back leaves the older token (its steps are read
  // before this frame's take their place: with 2 * half slots it is the same).
  if (frame >= 2 * half_) {
    const short* __restrict leaving = stepsOf(firstSteps_, frame - 2 * half_);
    for (int k = 0; k < n; ++k) older[k] -= leaving[k];
  }
  Store(spectrum, frame);
  if (frame >= half_) {
    // The frame a token back moves from the newer token to the older.
    const short* __restrict one = stepsOf(firstSteps_, frame - half_);
    const short* __restrict two = stepsOf(secondSteps_, frame - half_);
    for (int k = 0; k < n; ++k) {
      older[k] += one[k];
      newer[k] -= two[k];
    }
  }
  const short* __restrict arriving = stepsOf(secondSteps_, frame);
  for (int k = 0; k < n; ++k) newer[k] += arriving[k];
  if (frame < 2 * half_ - 1) return false;

  int best = -1, score = 0;
  const int weaker = static_cast<int>(kSighted * kSteps) * half_, stronger = static_cast<int>(kOneClear * kSteps) * half_;
  for (int k = 0; k < n; ++k) {
    const int lo = std::min(older[k], newer[k]), hi = std::max(older[k], newer[k]);
    if (lo >= weaker && hi >= stronger && lo + hi > score) {
      score = lo + hi;
      best = k;
    }
  }
  if (!open_ && best >= 0 && frame >= quietUntil_) {
    open_ = true;
    haveBest_ = false;
    openFrame_ = peakFrame_ = frame;
    examinedFrame_ = frame - examineEvery_;
    peakScore_ = 0;
  }
  if (!open_) return false;
  if (best >= 0 && score > peakScore_) {
    peakScore_ = score;
    peakFrame_ = frame;
  }
  // The shape is examined at the best alignment so far, every few
  // milliseconds (short hops measure nearly the same thing hop after hop).
  if (peakFrame_ == frame && frame - examinedFrame_ >= examineEvery_) {
    examinedFrame_ = frame;
    DoorSighting seen;
    if (Examine(frame, best, &seen)) {
      best_ = seen;
      haveBest_ = true;
    }
  }
  // The best alignment lies a third of a token back: the door passed it.
  if (frame - peakFrame_ <= half_ / 3 && frame - openFrame_ < 2 * half_) return false;
  open_ = false;
  quietUntil_ = frame + half_;
  if (!haveBest_) return false;
  *door = best_;
  return true;
}

bool DoorFinder::Examine(long long newest, int k, DoorSighting* door) const {
  const BandGeometry& g = *geometry_;
  constexpr int kTones = BandGeometry::kNumTones;
  const long long olderFirst = newest - 2 * half_ + 1, newerFirst = newest - half_ + 1;
  const int t1 = g.frontDoorTone1, t2 = g.frontDoorTone2;
  int bins[kTones];
  for (int i = 0; i < kTones; ++i) bins[i] = BinAt(i, k);
  // Each tone against the tilt of the noise floor where it lies: noise that
  // is not white (pink noise, a microphone that tilts) lifts some tones'
  // floors above others', and against the band's mean the loudest end of the
  // grid would seem to hold a tone. The floor beside each tone (a few bins
  // off, over the middle of the two door tokens), then a straight line in dB
  // across the grid through all but the two highest (in the narrow grids the
  // tones of the tokens around the door, shifted, can fall beside a tone).
  float floor[kTones];
  {
    const int edgeFrames = half_ / 4;
    float logFloor[kTones];
    int order[kTones];
    for (int i = 0; i < kTones; ++i) {
      float sum = 0.0f;
      for (int r : {-kFloorBeside - 1, -kFloorBeside, kFloorBeside, kFloorBeside + 1})
        for (int j = edgeFrames; j < 2 * half_ - edgeFrames; ++j) sum += Value(olderFirst + j, bins[i] + r, kMaxValue);
      logFloor[i] = sum > 0.0f ? single::Log(sum / static_cast<float>(4 * (2 * half_ - 2 * edgeFrames))) : -HUGE_VALF;
      order[i] = i;
    }
    std::sort(order, order + kTones, [&](int a, int b) { return logFloor[a] < logFloor[b]; });
    float w = 0.0f, x = 0.0f, y = 0.0f, xx = 0.0f, xy = 0.0f;
    for (int n = 0; n < kTones - kFloorOutliers; ++n) {
      const int i = order[n];
      if (!(logFloor[i] > -HUGE_VALF && logFloor[i] < HUGE_VALF)) continue;
      const float at = static_cast<float>(i);
      w += 1.0f;
      x += at;
      y += logFloor[i];
      xx += at * at;
      xy += at * logFloor[i];
    }
    // Only the line's slope counts: levels stay in band means, their middle
    // where it was.
    const float det = w * xx - x * x;
    const float most = kMostFloorTilt / (kTones - 1);
    const float slope = det > 0.0f ? std::max(-most, std::min(most, (w * xy - x * y) / det)) : 0.0f;
    for (int i = 0; i < kTones; ++i) floor[i] = single::Exp(slope * (static_cast<float>(i) - 0.5f * (kTones - 1)));
  }
  float older[kTones] = {}, newer[kTones] = {};
  int olderWins = 0, newerWins = 0;
  for (int j = 0; j < half_; ++j) {
    float a[kTones], b[kTones];
    for (int i = 0; i < kTones; ++i) {
      const float over = floor[i] > 0.0f ? 1.0f / floor[i] : 0.0f;
      a[i] = std::min(kCountsUpTo, Value(olderFirst + j, bins[i], kMaxValue) * over);
      b[i] = std::min(kCountsUpTo, Value(newerFirst + j, bins[i], kMaxValue) * over);
      older[i] += a[i];
      newer[i] += b[i];
    }
    float restA = 0.0f, restB = 0.0f;
    for (int i = 0; i < kTones; ++i) {
      if (i != t1) restA = std::max(restA, a[i]);
      if (i != t1 && i != t2) restB = std::max(restB, b[i]);
    }
    olderWins += a[t1] > restA;
    newerWins += b[t2] > restB;
  }
  float rivalOlder = 0.0f, rivalNewer = 0.0f;
  for (int i = 0; i < kTones; ++i) {
    if (i != t1) rivalOlder = std::max(rivalOlder, older[i]);
    // The first door tone may still ring on into the second token.
    if (i != t1 && i != t2) rivalNewer = std::max(rivalNewer, newer[i]);
  }
  if (!(older[t1] >= kStandsClearEach * rivalOlder && newer[t2] >= kStandsClearEach * rivalNewer &&
        older[t1] * newer[t2] >= kStandsClear * kStandsClear * rivalOlder * rivalNewer))
    return false;
  const float steady = kSteady * static_cast<float>(half_);
  if (olderWins + newerWins < 2 * steady) return false;

  // Each door tone's peak, from the powers beside its bin over `frames` frames.
  auto peak = [&](int tone, long long first, int frames) {
    const int bin = BinAt(tone, k);
    float y[2 * kPeakReach + 1] = {};
    for (int r = -kPeakReach; r <= kPeakReach; ++r)
      for (int j = 0; j < frames; ++j) y[r + kPeakReach] += Value(first + j, bin + r, kMaxValue);
    int m = kPeakReach;
    if (y[m - 1] > y[m] && y[m - 1] >= y[m + 1]) --m;
    if (y[m + 1] > y[m]) ++m;
    return static_cast<float>(bin + m - kPeakReach) + PeakOffset(y[m - 1], y[m], y[m + 1]);
  };
  const int part = half_ / 2;
  const float drift1 = peak(t1, olderFirst + half_ - part, part) - peak(t1, olderFirst, part);
  const float drift2 = peak(t2, newerFirst + half_ - part, part) - peak(t2, newerFirst, part);
  // The senders' grid whose door tones the two peaks fit with one offset.
  const float p1 = peak(t1, olderFirst, half_), p2 = peak(t2, newerFirst, half_);
  int grid = 0;
  float apart = HUGE_VALF;
  for (int n = 0; n < grids_; ++n) {
    const float a = (p2 / gridBin2_[n] - p1 / gridBin1_[n]) * gridBin1_[n];
    if (std::fabs(a) < std::fabs(apart)) {
      apart = a;
      grid = n;
    }
  }
  if (!(apart * apart + 0.5f * (drift1 * drift1 + drift2 * drift2) <= kSteadyPitch * kSteadyPitch)) return false;
  // Each tone's offset weighs by its bin (the same error in bins is a
  // smaller one in pitch higher up) and its level (a weak tone's peak wanders).
  const float b1 = gridBin1_[grid], b2 = gridBin2_[grid];
  const float w1 = b1 * b1 * older[t1], w2 = b2 * b2 * newer[t2];
  door->grid = grid;
  door->scale = (w1 * (p1 / b1) + w2 * (p2 / b2)) / (w1 + w2);

  // The boundary: where the first tone gives way to the second, among the
  // frames whose windows can straddle it (the split that best separates the
  // two, then interpolated between its frames).
  const int bin1 = BinAt(t1, k), bin2 = BinAt(t2, k);
  const int reach = std::min({half_ - 1, windowFrames_ + 2, kMaxBoundaryFrames / 2});
  const long long first = newerFirst - reach;
  const int count = 2 * reach;
  if (count < 2) {
    door->frame = newerFirst - 1;
    door->after = 0.5f;
    return true;
  }
  float total = 0.0f;
  float u[kMaxBoundaryFrames];
  for (int j = 0; j < count; ++j) {
    u[j] = Value(first + j, bin1, kMaxValue) - Value(first + j, bin2, kMaxValue);
    total += u[j];
  }
  int split = 1;
  float run = 0.0f, bestJ = -HUGE_VALF;
  for (int m = 1; m < count; ++m) {
    run += u[m - 1];
    const float j = 2.0f * run - total;
    if (j > bestJ) {
      bestJ = j;
      split = m;
    }
  }
  float at = static_cast<float>(split) - 0.5f;
  if (u[split - 1] > 0.0f && u[split] < 0.0f) at = static_cast<float>(split - 1) + u[split - 1] / (u[split - 1] - u[split]);
  door->frame = first;
  door->after = at;
  return true;
}

}  // namespace QUORLAX
