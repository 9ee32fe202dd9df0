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
// a few loud frames must not outweigh the rest); measurements see them whole
// as kept (a band's tones cannot reach the top code: the band's mean holds
// them), so a door tone twice as loud as its rival is seen so however loud
// both are, and every sum stays finite.
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
constexpr float kSteadyPitch = 0.4f;
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
// Door tones this far above the floors' line (30 dB) are weighed as they are.
constexpr float kCleanAbove = 1000.0f;
// Bins read beside a tone at most.
constexpr int kReach = std::max(kPeakReach, kFloorBeside + 1);
// Frames looked at for the boundary between the door tokens, at most.
constexpr int kMaxBoundaryFrames = 128;

}  // namespace

DoorFinder::DoorFinder(const BandGeometry& g, const float (*gridHz)[BandGeometry::kNumTones], int grids, int slots,
                       int half, int windowFrames, float maxOffset, bool anyGrid, Arena& arena)
    : geometry_(&g), slots_(slots), half_(half), windowFrames_(windowFrames), examineEvery_(std::max(1, windowFrames / 8)) {
  const bool planned = Plan(gridHz, grids, maxOffset);
  // Room for what this grid needs, or for what any grid of the spectrum could.
  const int specSize = g.band.SpectrumSize();
  const int widest = 2 * static_cast<int>(std::ceil(maxOffset * static_cast<float>(specSize))) + 1;
  int offsets = offsets_, rowBins = rowBins_, span = span_;
  if (anyGrid) {
    offsets = std::max(offsets, widest);
    rowBins = std::max(rowBins, std::min(specSize + 2 * kReach, BandGeometry::kNumTones * (widest + 2 * kReach + 1)));
    span = std::max(span, specSize + 2 * kReach);
  } else if (!planned) {
    return;
  }
  bin2_ = arena.Take<int>(static_cast<size_t>(offsets));
  older_ = arena.Take<int>(static_cast<size_t>(offsets));
  newer_ = arena.Take<int>(static_cast<size_t>(offsets));
  firstSteps_ = arena.Take<short>(static_cast<size_t>(offsets) * slots);
  secondSteps_ = arena.Take<short>(static_cast<size_t>(offsets) * slots);
  inverseLevel_ = arena.Take<float>(static_cast<size_t>(slots));
  ring_ = arena.Take<std::uint8_t>(static_cast<size_t>(rowBins) * slots);
  place_ = arena.Take<short>(static_cast<size_t>(span));
  if (bin2_ == nullptr || !planned) {  // counting, or nothing to search
    offsets_ = 0;
    return;
  }
  for (int k = 0; k < offsets_; ++k) bin2_[k] = BinAt(g.frontDoorTone2, k);
  std::fill(place_, place_ + span_, short{-1});
  for (int r = 0; r < runCount_; ++r)
    for (int j = 0; j < runs_[r].count; ++j) place_[runs_[r].first + j - ringFirst_] = static_cast<short>(runs_[r].at + j);
  Clear();
}

bool DoorFinder::Plan(const float (*gridHz)[BandGeometry::kNumTones], int grids, float maxOffset) {
  const BandGeometry& g = *geometry_;
  offsets_ = rowBins_ = span_ = 0;
  if (!g.fits) return false;
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
    return false;
  }
  // The band's level: the mean over every bin a tone of any offset can take.
  levelFirst_ = BinAt(0, 0);
  levelLast_ = BinAt(BandGeometry::kNumTones - 1, offsets_ - 1);
  // The bins kept: around each tone, as far as any offset moves it and a
  // check reads beside it (runs that meet are joined).
  ringFirst_ = levelFirst_ - kReach;
  span_ = levelLast_ + kReach - ringFirst_ + 1;
  runCount_ = 0;
  rowBins_ = 0;
  for (int i = 0; i < BandGeometry::kNumTones; ++i) {
    const int lo = BinAt(i, 0) - kReach, hi = BinAt(i, offsets_ - 1) + kReach;
    Run* last = runCount_ > 0 ? &runs_[runCount_ - 1] : nullptr;
    if (last != nullptr && lo <= last->first + last->count) {
      const int grown = std::max(last->count, hi - last->first + 1);
      rowBins_ += grown - last->count;
      last->count = grown;
    } else {
      runs_[runCount_++] = Run{lo, hi - lo + 1, rowBins_};
      rowBins_ += hi - lo + 1;
    }
  }
  return true;
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
  std::fill(ring_, ring_ + static_cast<long>(rowBins_) * slots_, std::uint8_t{0});
  open_ = haveBest_ = false;
  quietUntil_ = 0;
}

float DoorFinder::Value(long long frame, int bin, float most) const {
  const int slot = static_cast<int>(frame % slots_);
  const float v = single::Unpack8(ring_[static_cast<long>(slot) * rowBins_ + place_[bin - ringFirst_]]);
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

QUORLAX_VECTOR_CLONES void DoorFinder::Store(const float* spectrum, long long frame) {
  const int slot = static_cast<int>(frame % slots_);
  // Kept in band means: the detail a door's checks need fits 8 bits there.
  const float inverse = inverseLevel_[slot];
  for (int r = 0; r < runCount_; ++r) {
    std::uint8_t* __restrict kept = ring_ + static_cast<long>(slot) * rowBins_ + runs_[r].at;
    const float* __restrict from = spectrum + runs_[r].first;
    const int count = runs_[r].count;
    for (int j = 0; j < count; ++j) kept[j] = single::Pack8(from[j] * inverse);
  }
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
  // Of equal scores the latest counts: levels count up to a limit, so a
  // loud door held longer than a token scores alike from where it starts to
  // where the real door ends, and the real door is the last.
  if (best >= 0 && score >= peakScore_) {
    peakScore_ = score;
    peakFrame_ = frame;
  }
  // The shape is examined at every sighting that scores no less than the
  // last that passed (a door's frames lie some 10 ms apart: each alignment
  // is a chance to see it whole), every few milliseconds at most.
  if (best >= 0 && (!haveBest_ || score >= passedScore_) && frame - examinedFrame_ >= examineEvery_) {
    examinedFrame_ = frame;
    DoorSighting seen;
    if (Examine(frame, best, &seen)) {
      best_ = seen;
      haveBest_ = true;
      passedScore_ = score;
    }
  }
  // The best alignment lies a third of a token back: the door passed it. (A
  // door held longer than a token, as a talker can make it, keeps the score
  // rising until the real one: the search waits for it.)
  if (frame - peakFrame_ <= half_ / 3) return false;
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
    float slope = det > 0.0f ? std::max(-most, std::min(most, (w * xy - x * y) / det)) : 0.0f;
    // Door tones that stand far above the line are clean: the floors beside
    // them are their own leakage, whose tilt says nothing of the response.
    if (w > 0.0f) {
      const float middle = (y - slope * x) / w;
      float tone1 = 0.0f, tone2 = 0.0f;
      for (int j = 0; j < half_; ++j) {
        tone1 += Value(olderFirst + j, bins[t1], kMaxValue);
        tone2 += Value(newerFirst + j, bins[t2], kMaxValue);
      }
      const float h = static_cast<float>(half_);
      if (tone1 > kCleanAbove * h * single::Exp(middle + slope * static_cast<float>(t1)) &&
          tone2 > kCleanAbove * h * single::Exp(middle + slope * static_cast<float>(t2)))
        slope = 0.0f;
    }
    for (int i = 0; i < kTones; ++i) floor[i] = single::Exp(slope * (static_cast<float>(i) - 0.5f * (kTones - 1)));
  }
  float older[kTones] = {}, newer[kTones] = {};
  int olderWins = 0, newerWins = 0;
  // A frame at each end of each token is left out: the search's frames are
  // aligned to within half a frame, and a fast sender's door is shorter.
  const int trim = half_ > 4 ? 1 : 0;
  for (int j = trim; j < half_ - trim; ++j) {
    float a[kTones], b[kTones];
    for (int i = 0; i < kTones; ++i) {
      const float over = floor[i] > 0.0f ? 1.0f / floor[i] : 0.0f;
      a[i] = Value(olderFirst + j, bins[i], kMaxValue) * over;
      b[i] = Value(newerFirst + j, bins[i], kMaxValue) * over;
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
  const float steady = kSteady * static_cast<float>(half_ - 2 * trim);
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
  const int part = (half_ - 2 * trim + 1) / 2;
  const float drift1 = peak(t1, olderFirst + half_ - trim - part, part) - peak(t1, olderFirst + trim, part);
  const float drift2 = peak(t2, newerFirst + half_ - trim - part, part) - peak(t2, newerFirst + trim, part);
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
