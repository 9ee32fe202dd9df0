// A reader that follows one transmission from its front door: it measures
// every token's nine tones at their exact frequencies on the grid moved by
// the sender's pitch offset (ToneMatch), over the token's span on a clock
// that learns the sender's tempo. After each token the decided pair's tones
// are measured just inside the token's two edges; their balance says how far
// the clock is early or late, and a two-state filter (the door boundary and
// the token period) takes it in, each measurement weighted by its noise. Its
// state lives in the object; nothing allocates.
#pragma once

#include <cstdint>

#include "core/MessageReadOut.h"
#include "core/MultiToneBand.h"
#include "ReedSolomon.h"
#include "core/SingleMath.h"
#include "core/ToneMatch.h"

namespace QUORLAX {

// The clock: token k (1 is the second door token) starts at
// origin + boundary + (k - 1) * period, boundary and period estimated with
// their covariance. Positions are single precision from a whole-sample
// origin near the door, so they keep a hundredth of a sample however long
// the stream.
class TokenClock {
 public:
  // `boundary` (samples after `origin`) within about `boundarySpread`
  // samples, `period` within `periodSpread` (one standard deviation each).
  void Begin(long long origin, float boundary, float boundarySpread, float period, float periodSpread);
  // Where token `token` starts, in samples after Origin().
  float StartOf(int token) const { return boundary_ + static_cast<float>(token - 1) * period_; }
  long long Origin() const { return origin_; }
  // The stream position at `offset` samples after the origin, to the nearest sample.
  long long At(float offset) const;
  float Period() const { return period_; }
  float Boundary() const { return boundary_; }
  // The point `at` tokens from the start of token 1 (StartOf(1) + (at - 1)
  // * period) was measured `error` samples later than the clock has it
  // (with variance `variance`).
  void Correct(float at, float error, float variance);

 private:
  long long origin_ = 0;
  float boundary_ = 0.0f, period_ = 0.0f, nominal_ = 0.0f;
  float pBB_ = 0.0f, pBP_ = 0.0f, pPP_ = 0.0f;  // covariance
};

// One token as read: each tone's energy over it, in 16 bits (a third of a
// percent), and the pair of tones with the most energy between them.
struct TokenReading {
  std::uint16_t energy[MultiToneBand::kNumTones];  // single::Pack16
  std::uint8_t token;                              // 0..31

  float Energy(int tone) const { return single::Unpack16(energy[tone]); }
  // Mean energy of its two tones, and of the seven others.
  float PairEnergy() const;
  float NoiseEnergy() const;
};

class TokenFollower {
 public:
  // A transmission heard at `rate`, sent on one of the `count` senders'
  // `grids` (`grid` the door search's guess; the grids must outlive the
  // reading), its tones `scale` times that grid's, whose second door token
  // starts `boundary` samples after `origin` (a position in the history's
  // stream) with tokens of `tokenSamples`.
  void Begin(const MultiToneBand* grids, int count, int grid, float rate, float scale, long long origin, float boundary,
             int tokenSamples);
  // True when the next thing to read lies in the history (its last sample
  // has arrived).
  bool Ready(const SampleHistory& history) const;
  // Reads it: the second door token's edges first (to set the clock), then
  // one message token per call.
  void ReadNext(const SampleHistory& history);
  bool Done() const { return read_ == kMessageTokens; }

  static constexpr int kMessageTokens = 18;
  const TokenReading& Reading(int i) const { return readings_[i]; }
  int Read() const { return read_; }
  const TokenClock& Clock() const { return clock_; }
  int Grid() const { return grid_; }
  float Scale() const { return scale_; }
  // What a tone of amplitude 1 reads over a message token's span.
  float FullScale() const { return fullScale_; }

 private:
  // The tones of message token `ordinal` (1..18) or, for 0, the door's.
  void TonesOf(int ordinal, float* hz) const;
  // The tone door token `which` (0, 1) sounds.
  static int DoorTone(int which = 1);
  // Measures how far token `token`'s `count` tones at `hz` lie from where
  // the clock puts them (over noise of `noise` energy per sample and tone),
  // and tells the clock.
  void Align(const SampleHistory& history, int token, const float* hz, int count, float noise);
  long long NeedUntil() const;
  // How far token `start` is from where the `count` tones at `hz` start
  // (*error) and how surely (*variance); false when the answer lies beyond
  // the gates' proportional range (measure again there). Nothing written
  // when the gates hear none.
  bool GateError(const SampleHistory& history, float start, const float* hz, int count, float noise, float* error,
                 float* variance);
  // Where token `token` (0, 1: the door) is measured.
  void Span(int token, long long* from, int* n, int* edge) const;
  // The door's two tokens: their tones' peaks choose the grid and refine the
  // pitch offset, the second one's edges the clock.
  void ReadDoor(const SampleHistory& history);
  // Where a tone near `hz` peaks over [from, from + n), and its energy there.
  float FindPeak(const SampleHistory& history, long long from, int n, int edge, float hz, float* level);

  const MultiToneBand* grids_ = nullptr;
  int gridCount_ = 1, grid_ = 0;
  float rate_ = 0.0f;
  float scale_ = 1.0f;
  TokenClock clock_;
  bool doorAligned_ = false;
  int read_ = 0;  // message tokens read
  float fullScale_ = 0.0f;
  TokenReading readings_[kMessageTokens] = {};
};

// The message a finished reading holds, with the 9 characters and a zero
// byte in `text`: every token decided afresh with each tone weighed against
// its own noise floor, the protocol's read-out (ReadOutTokens), and when that
// fails, the least sure tokens taken as unknown (2, 4, ... 8 of them) with
// Reed-Solomon erasure decoding, a word taken only where the tokens point to
// it.
ReadOut ReadMessage(const TokenFollower& follower, ReedSolomon& codec, char* text);

}  // namespace QUORLAX
