#include "core/TokenFollow.h"

#include <algorithm>
#include <cmath>

#include "Globals.h"
#include "core/ErasureDecode.h"
#include "core/SingleMath.h"

namespace QUORLAX {

namespace {

// Tokens a reading may take as unknown when the plain read-out fails, and
// how high their reading must rank the value that decoding gives them
// (below kErasedRank tokens) or, for a token not taken as unknown but
// changed, below kChangedRank.
constexpr int kMostUnsure = 8;
constexpr int kErasedRank = 8, kChangedRank = 3;

// Where a token is measured, in token periods from its start: its tones
// sound from a fade-in over the first 7.5 % to a fade-out that ends at 95 %.
constexpr float kSpanFrom = 0.02f, kSpanTo = 0.93f;
constexpr float kSpanEdge = 0.1f;  // raised-cosine edges, as a share of the span
// The clock's gates: centred where each fade is half way, this wide each side.
constexpr float kRiseAt = 0.0375f, kFallAt = 0.9f, kGate = 0.1f;
// What the clock never learns below: the model's own error (per token), and
// how far a sender's tempo may wander from token to token.
constexpr float kModelSpread = 0.002f, kTempoWander = 0.0005f;
// Tempos beyond this are not followed: the period stays within it of the nominal.
constexpr float kTempoRange = 0.04f;

int Tokens() { return MultiToneBand::kNumTones; }

// Sum of the squared window over a span of n samples with edges of e.
float SquaredWindow(int n, int e) { return static_cast<float>(n) - 1.25f * static_cast<float>(e); }

// The largest whole number not above x (|x| < 2^31).
int Floor(float x) {
  const int i = static_cast<int>(x);
  return static_cast<float>(i) > x ? i - 1 : i;
}

}  // namespace

float TokenReading::PairEnergy() const {
  int pair[2];
  MultiToneBand::TonesOf(token, pair);
  return 0.5f * (Energy(pair[0]) + Energy(pair[1]));
}

float TokenReading::NoiseEnergy() const {
  int pair[2];
  MultiToneBand::TonesOf(token, pair);
  float noise = 0.0f;
  for (int i = 0; i < MultiToneBand::kNumTones; ++i)
    if (i != pair[0] && i != pair[1]) noise += Energy(i);
  return noise / static_cast<float>(MultiToneBand::kNumTones - 2);
}

void TokenClock::Begin(long long origin, float boundary, float boundarySpread, float period, float periodSpread) {
  origin_ = origin;
  boundary_ = boundary;
  period_ = nominal_ = period;
  pBB_ = boundarySpread * boundarySpread;
  pPP_ = periodSpread * periodSpread;
  pBP_ = 0.0f;
}

long long TokenClock::At(float offset) const { return origin_ + Floor(offset + 0.5f); }

void TokenClock::Correct(float at, float error, float variance) {
  const float h = at - 1.0f;
  const float a = pBB_ + h * pBP_, b = pBP_ + h * pPP_;
  const float s = a + h * b + variance;
  // Not a number fails every comparison: such a measurement is ignored.
  if (!(s > 0.0f) || !(error > -1e9f && error < 1e9f)) return;
  boundary_ += a / s * error;
  period_ = std::min(nominal_ * (1.0f + kTempoRange), std::max(nominal_ * (1.0f - kTempoRange), period_ + b / s * error));
  pBB_ -= a * a / s;
  pBP_ -= a * b / s;
  pPP_ -= b * b / s;
  const float wander = kTempoWander * period_;
  pPP_ += wander * wander;
}

void TokenFollower::Begin(const MultiToneBand* grids, int count, int grid, float rate, float scale, long long origin,
                          float boundary, int tokenSamples) {
  grids_ = grids;
  gridCount_ = std::max(1, std::min(count, MultiToneBand::kSenderGrids));
  grid_ = std::max(0, std::min(grid, gridCount_ - 1));
  rate_ = rate;
  scale_ = scale;
  const float token = static_cast<float>(tokenSamples);
  clock_.Begin(origin, boundary, 0.03f * token, token, 0.012f * token);
  doorAligned_ = false;
  read_ = 0;
  fullScale_ = 0.0f;
}

int TokenFollower::DoorTone(int which) {
  int pair[2];
  MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[which]), pair);
  return pair[0];
}

void TokenFollower::TonesOf(int ordinal, float* hz) const {
  const int steps = ordinal % MultiToneBand::kMaxShifts;
  const MultiToneBand& band = grids_[grid_];
  for (int i = 0; i < Tokens(); ++i) hz[i] = scale_ * (band.toneHz[i] + static_cast<float>(steps) * band.shiftHz);
}

long long TokenFollower::NeedUntil() const {
  const int token = doorAligned_ ? read_ + 2 : 1;
  // The last gate, and room to measure it again a gate's width later.
  return clock_.At(clock_.StartOf(token) + (kFallAt + 2.0f * kGate) * clock_.Period() + 0.5f) + 1;
}

bool TokenFollower::Ready(const SampleHistory& history) const { return history.End() >= NeedUntil(); }

bool TokenFollower::GateError(const SampleHistory& history, float start, const float* hz, int count, float noise,
                              float* error, float* variance) {
  // Hann gates, centred where the token's fades are half way: a rectangle
  // would let the neighbouring tokens' tones leak in through its sidelobes.
  const float period = clock_.Period();
  const int width = static_cast<int>(2.0f * kGate * period + 0.5f);
  const int edge = width / 2;
  const float half = 0.5f * static_cast<float>(width);
  const long long early = clock_.At(start + kRiseAt * period - half);
  const long long late = clock_.At(start + kFallAt * period - half);
  if (!history.Holds(early, width) || !history.Holds(late, width)) return true;
  ToneBank bank;
  bank.Tune(hz, count, rate_);
  float e[ToneBank::kMaxTones], l[ToneBank::kMaxTones];
  bank.Measure(history, early, width, edge, e);
  bank.Measure(history, late, width, edge, l);
  // Coherent amplitudes grow with the samples a tone covers in a gate, at the
  // window's weight where its edge passes (1 at the middle): the late gate
  // gains what the early one loses when the token starts later. A gate half
  // covered holds a quarter of its window's sum, so the two together are
  // half of it.
  const float gateNoise = noise * SquaredWindow(width, edge);
  float rise = 0.0f, fall = 0.0f;
  for (int i = 0; i < count; ++i) {
    rise += std::sqrt(std::max(0.0f, e[i] - gateNoise));
    fall += std::sqrt(std::max(0.0f, l[i] - gateNoise));
  }
  if (!(rise + fall > 0.0f)) return true;
  const float reach = 0.5f * static_cast<float>(width - edge);
  *error = reach * (fall - rise) / (fall + rise);
  const float model = kModelSpread * period;
  *variance = reach * reach * 2.0f * static_cast<float>(count) * gateNoise / ((rise + fall) * (rise + fall)) + model * model;
  // The gates answer in proportion only near their middle: far off, measure
  // again where the first answer put the token.
  return std::fabs(*error) < 0.25f * reach;
}

void TokenFollower::Align(const SampleHistory& history, int token, const float* hz, int count, float noise) {
  float error = 0.0f, variance = 0.0f, start = clock_.StartOf(token);
  bool settled = false;
  for (int pass = 0; pass < 2 && !settled; ++pass) {
    float more = 0.0f;
    variance = 0.0f;
    settled = GateError(history, start, hz, count, noise, &more, &variance);
    if (!(more > -1e9f && more < 1e9f) || !(variance > 0.0f)) return;
    error += more;
    start += more;
  }
  // The gates weigh where the token's rise and its fall are, so they tell
  // where its middle is: a period that is off moves that half as far again.
  clock_.Correct(static_cast<float>(token) + 0.5f * (kRiseAt + kFallAt), error, variance);
}

float TokenFollower::FindPeak(const SampleHistory& history, long long from, int n, int edge, float hz, float* level) {
  // Probes half a filter width apart, then once more closer in around the
  // best: near the top the fit of a parabola to their logarithms is true.
  constexpr int kProbes = 5;
  const float step = 0.5f * rate_ / static_cast<float>(n);
  float probe[kProbes], e[kProbes] = {};
  for (int k = 0; k < kProbes; ++k) probe[k] = hz + static_cast<float>(k - kProbes / 2) * step;
  if (!history.Holds(from, n)) return hz;
  ToneBank bank;
  bank.Tune(probe, kProbes, rate_);
  bank.Measure(history, from, n, edge, e);
  int top = 1;
  for (int k = 2; k < kProbes - 1; ++k)
    if (e[k] > e[top]) top = k;
  float peak = probe[top] + PeakOffset(e[top - 1], e[top], e[top + 1]) * step;
  const float near = 0.4f * step;
  const float again[3] = {peak - near, peak, peak + near};
  float f[3] = {};
  bank.Tune(again, 3, rate_);
  bank.Measure(history, from, n, edge, f);
  *level = f[1];
  return peak + PeakOffset(f[0], f[1], f[2]) * near;
}

void TokenFollower::ReadDoor(const SampleHistory& history) {
  // Each door token sounds its one tone. Where the two peak sets the pitch
  // offset more finely than the door search could, and tells the senders'
  // grids apart: their ratio is the grid's own, whatever the offset.
  const int tone[2] = {DoorTone(0), DoorTone(1)};
  float hz[MultiToneBand::kNumTones];
  TonesOf(0, hz);
  float peak[2], level[2] = {};
  int n = 0, edge = 0;
  long long from = 0;
  for (int d = 0; d < 2; ++d) {
    Span(d, &from, &n, &edge);
    peak[d] = FindPeak(history, from, n, edge, hz[tone[d]], &level[d]);
  }
  // The grid whose door tones stand in the ratio of the two peaks.
  float apart = HUGE_VALF;
  for (int g = 0; g < gridCount_; ++g) {
    const float ratio = grids_[g].toneHz[tone[1]] / grids_[g].toneHz[tone[0]];
    const float a = std::fabs(peak[1] / peak[0] / ratio - 1.0f);
    if (a < apart) {
      apart = a;
      grid_ = g;
    }
  }
  // The offset from both peaks, each weighed by its level and its frequency
  // squared (how finely it tells a pitch).
  const float* gridHz = grids_[grid_].toneHz;
  const float w0 = level[0] * peak[0] * peak[0], w1 = level[1] * peak[1] * peak[1];
  if (w0 + w1 > 0.0f) scale_ = (w0 * peak[0] / gridHz[tone[0]] + w1 * peak[1] / gridHz[tone[1]]) / (w0 + w1);
  // The second door token's other tones (those neither door token sounds) tell the noise.
  float quietHz[MultiToneBand::kNumTones], energy[ToneBank::kMaxTones] = {};
  int quiet = 0;
  for (int i = 0; i < Tokens(); ++i)
    if (i != tone[0] && i != tone[1]) quietHz[quiet++] = hz[i];
  if (history.Holds(from, n)) {
    ToneBank bank;
    bank.Tune(quietHz, quiet, rate_);
    bank.Measure(history, from, n, edge, energy);
  }
  float noise = 0.0f;
  for (int i = 0; i < quiet; ++i) noise += energy[i];
  noise /= static_cast<float>(quiet);
  Align(history, 1, &peak[1], 1, noise / SquaredWindow(n, edge));
  doorAligned_ = true;
}

void TokenFollower::Span(int token, long long* from, int* n, int* edge) const {
  const float period = clock_.Period();
  *from = clock_.At(clock_.StartOf(token) + kSpanFrom * period);
  *n = static_cast<int>((kSpanTo - kSpanFrom) * period + 0.5f);
  *edge = static_cast<int>(kSpanEdge * static_cast<float>(*n));
}

void TokenFollower::ReadNext(const SampleHistory& history) {
  if (!doorAligned_) {
    ReadDoor(history);
    return;
  }
  const int ordinal = read_ + 1;
  const int token = ordinal + 1;
  long long from;
  int n, edge;
  Span(token, &from, &n, &edge);
  float hz[ToneBank::kMaxTones];
  TonesOf(ordinal, hz);
  float energy[ToneBank::kMaxTones] = {};
  ToneBank bank;
  if (history.Holds(from, n)) {
    bank.Tune(hz, Tokens(), rate_);
    bank.Measure(history, from, n, edge, energy);
  }
  const float perSample = 1.0f / SquaredWindow(n, edge);

  // The pair of tones that names a token with the most energy between them.
  const int best = MultiToneBand::StrongestToken(energy);
  int p[2];
  MultiToneBand::TonesOf(best, p);
  float noise = 0.0f;
  for (int i = 0; i < Tokens(); ++i)
    if (i != p[0] && i != p[1]) noise += energy[i];
  noise /= static_cast<float>(Tokens() - 2);
  TokenReading& r = readings_[read_];
  r.token = static_cast<std::uint8_t>(best);
  for (int i = 0; i < Tokens(); ++i) r.energy[i] = single::Pack16(energy[i]);
  fullScale_ = bank.Scale();
  const float pairHz[2] = {hz[p[0]], hz[p[1]]};
  Align(history, token, pairHz, 2, noise * perSample);
  ++read_;
}

namespace {

// Every token of a reading decided afresh once all are in, each tone's
// energy weighed against its own noise floor: the mean energy of that tone
// in the tokens whose first decision did not sound it, smoothed across the
// grid by a straight line in dB. Noise that is not white, or a microphone
// whose response tilts across the band, raises some tones' floors above
// others'; in white noise the line is flat and the decisions those of the
// energies alone.
struct Decisions {
  static constexpr int kTokens = TokenFollower::kMessageTokens;
  float score[kTokens][MultiToneBand::kNumTokens];
  int token[kTokens];
  float margin[kTokens];  // best pair's score over the next best's

  explicit Decisions(const TokenFollower& f) {
    constexpr int kTones = MultiToneBand::kNumTones;
    float w = 0.0f, x = 0.0f, y = 0.0f, xx = 0.0f, xy = 0.0f;
    for (int i = 0; i < kTones; ++i) {
      float quiet = 0.0f;
      int silent = 0;
      for (int t = 0; t < kTokens; ++t) {
        int pair[2];
        MultiToneBand::TonesOf(f.Reading(t).token, pair);
        if (pair[0] == i || pair[1] == i) continue;
        quiet += f.Reading(t).Energy(i);
        ++silent;
      }
      if (silent == 0 || !(quiet > 0.0f) || !(quiet < HUGE_VALF)) continue;
      const float v = single::Log(quiet / static_cast<float>(silent));
      const float at = static_cast<float>(i);
      w += 1.0f;
      x += at;
      y += v;
      xx += at * at;
      xy += at * v;
    }
    const float det = w * xx - x * x;
    float inverseFloor[kTones];
    for (int i = 0; i < kTones; ++i)
      inverseFloor[i] =
          det > 0.0f ? single::Exp(-(y * xx - x * xy + static_cast<float>(i) * (w * xy - x * y)) / det) : 1.0f;
    for (int t = 0; t < kTokens; ++t) {
      float above[kTones];
      for (int i = 0; i < kTones; ++i)
        above[i] = std::max(0.0f, f.Reading(t).Energy(i)) * inverseFloor[i];
      float best = -1.0f, second = -1.0f;
      for (int v = 0; v < MultiToneBand::kNumTokens; ++v) {
        int pair[2];
        MultiToneBand::TonesOf(v, pair);
        const float sc = above[pair[0]] + above[pair[1]];
        score[t][v] = sc;
        if (sc > best) {
          second = best;
          best = sc;
          token[t] = v;
        } else if (sc > second) {
          second = sc;
        }
      }
      margin[t] = best - second;
    }
  }
  // How many other tokens' pairs score as high as value v at token t, or
  // higher: 0 only for a clear best (a token that holds no energy ties
  // everywhere and ranks last).
  int RankOf(int t, int v) const {
    int above = 0;
    for (int u = 0; u < MultiToneBand::kNumTokens; ++u) above += u != v && score[t][u] >= score[t][v];
    return above;
  }
};

}  // namespace

ReadOut ReadMessage(const TokenFollower& follower, ReedSolomon& codec, char* text) {
  constexpr int kDoor = Globals::numFrontDoorTokens;
  const Decisions decided(follower);
  int received[kCodeSymbols];
  received[0] = Globals::getIdxFromChar(Globals::frontDoorTokens[0]);
  received[1] = Globals::getIdxFromChar(Globals::frontDoorTokens[1]);
  for (int i = 0; i < TokenFollower::kMessageTokens; ++i) received[kDoor + i] = decided.token[i];
  int values[kCodeSymbols], asReceived[kCodeSymbols];
  std::copy(received, received + kCodeSymbols, values);
  const ReadOut plain = ReadOutTokens(codec, values, asReceived, text);
  if (plain.ok) return plain;

  // The least sure tokens first.
  int order[TokenFollower::kMessageTokens];
  for (int i = 0; i < TokenFollower::kMessageTokens; ++i) order[i] = i;
  std::sort(order, order + TokenFollower::kMessageTokens,
            [&](int a, int b) { return decided.margin[a] < decided.margin[b]; });
  for (int unsure = 2; unsure <= kMostUnsure; unsure += 2) {
    int erased[kMostUnsure];
    for (int k = 0; k < unsure; ++k) erased[k] = kDoor + order[k];
    int word[kCodeSymbols], changed = 0;
    if (!DecodeWithErasures(received, erased, unsure, word, &changed)) continue;
    // A word the tokens themselves point to: the door as sent, the check
    // token right, every value the code changed among the pairs its token's
    // reading ranked highest, and every erased value among the upper quarter.
    // Garbage passes all of them a few times in a million.
    bool plausible = word[0] == received[0] && word[1] == received[1];
    const int check = kDoor + Globals::numWordTokens;
    int sum = 0;
    for (int i = kDoor; i < check; ++i) sum += word[i];
    plausible &= word[check] == sum % MultiToneBand::kNumTokens;
    for (int i = 0; i < TokenFollower::kMessageTokens && plausible; ++i) {
      const int v = word[kDoor + i];
      const bool wasErased = std::find(erased, erased + unsure, kDoor + i) != erased + unsure;
      plausible &= decided.RankOf(i, v) < (wasErased ? kErasedRank : kChangedRank);
    }
    if (!plausible) continue;
    ReadOut out{true, 0, 0.0f};
    const int messageSymbols = Globals::numTotalTokens - Globals::numCorrectionTokens;
    for (int i = 0; i < messageSymbols; ++i) out.unchanged += word[i] == received[i];
    out.correctionShare = static_cast<float>(out.unchanged) / messageSymbols;
    for (int i = 0; i < Globals::numWordTokens; ++i) text[i] = Globals::getCharFromIdx(word[kDoor + i]);
    text[Globals::numWordTokens] = '\0';
    return out;
  }
  return plain;
}

}  // namespace QUORLAX
