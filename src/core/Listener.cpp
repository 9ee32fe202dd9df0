#include "core/Listener.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/AnalysisSizes.h"
#include "core/BandTable.h"
#include "Globals.h"
#include "core/MessageReadOut.h"
#include "ZunCoreLib_api.h"
#include "core/ListenerWindow.h"
#include "core/Modes.h"
#include "core/SingleMath.h"

namespace QUORLAX {

namespace {

constexpr int kRecentOk = 16;
constexpr float kNoLevelDb = -200.0f;
// Above what a float's power can hold: hostile samples summed past it read this, never infinity.
constexpr float kMaxLevelDb = 400.0f;
// A message's tones above the rest of the band count up to this (dB).
constexpr float kClearDb = 60.0f;

// The door search looks at every stride-th hop: four frames to a window,
// some 11 ms apart at every rate (Hann windows overlapping by three quarters
// weigh every sample alike; more frames spend time and memory and find no
// more doors).
int doorStrideFor(int window, int hop) { return std::max(1, window / 4 / hop); }

// Samples a reader may still need behind the newest: a door is accepted at
// most a token after its best alignment (DoorFinder), its reader then looks
// back over both door tokens, and a sender may be slow.
int historyFor(int tokenSamples, int window) { return tokenSamples * 16 / 5 + window; }

// The grid senders at the other protocol rate use for band `heard`: their
// tones snap to that rate's bins.
MultiToneBand OtherRateGrid(int heard, const ListenerSettings& s) {
  const float otherRate = s.sampleRate == 48000.0f ? 44100.0f : 48000.0f;
  return MultiToneBand::Compute(heard, otherRate, AnalysisWindowFor(otherRate), s.customBaseHz, s.customSeparation);
}

}  // namespace

int Listener::Check(const ListenerSettings& s) {
  if (s.readers < 1 || s.readers > kMaxCapacity || s.queue < 1 || s.queue > kMaxCapacity)
    return QUORLAX_ERROR_INVALID_ARGUMENT;
  return modes::Check(s.mode, s.sampleRate, s.customBaseHz, s.customSeparation);
}

Listener::Listener(const ListenerSettings& settings, unsigned char* block, size_t bytes, Arena& arena)
    : settings_(settings),
      window_(AnalysisWindowFor(settings.sampleRate)),
      hop_(AnalysisHopFor(settings.sampleRate)),
      tokenSamples_(Globals::samplesPerToken(settings.sampleRate)),
      doorStride_(doorStrideFor(window_, hop_)),
      doorHalf_((tokenSamples_ + doorStride_ * hop_ / 2) / (doorStride_ * hop_)),
      block_(block),
      blockBytes_(bytes),
      window_fn_(ListenerWindow(window_)),
      fft_(CFFTOoura::Kernel::kAuto) {
  LayOut(arena);
}

size_t Listener::Bytes(const ListenerSettings& settings) {
  Arena counting;
  counting.Take<unsigned char>(sizeof(Listener));
  Listener probe(settings, nullptr, 0, counting);
  return Arena::BlockBytes(counting.Used());
}

Listener* Listener::Place(void* block, size_t bytes, const ListenerSettings& settings) {
  if (block == nullptr || bytes < Bytes(settings)) return nullptr;
  Arena arena(block, bytes);
  void* self = arena.Take<unsigned char>(sizeof(Listener));
  Listener* l = new (self) Listener(settings, static_cast<unsigned char*>(block), bytes, arena);
  l->Prepare();
  return l;
}

void Listener::LayOut(Arena& arena) {
  readers_ = arena.Take<Reader>(static_cast<size_t>(settings_.readers));
  failedPending_ = arena.Take<HeardMessage>(static_cast<size_t>(settings_.readers));
  recentOk_ = arena.Take<Span>(kRecentOk);
  out_ = Queue<HeardMessage>{arena.Take<HeardMessage>(static_cast<size_t>(settings_.queue)), settings_.queue, 0, 0};
  doorsOpened_ = Queue<HeardDoor>{arena.Take<HeardDoor>(kDoors), kDoors, 0, 0};
  fftTables_ = arena.Take<float>(CFFTOoura::TableFloats(window_));
  history_ = SampleHistory(historyFor(tokenSamples_, window_), arena);
  bandsOffset_ = arena.Used();
  LayOutBands(arena);
}

void Listener::LayOutBands(Arena& arena) {
  int heard[modes::kMaxHeard];
  bandCount_ = modes::BandsHeard(settings_.mode, heard);
  for (int b = 0; b < bandCount_; ++b) {
    const MultiToneBand band =
        MultiToneBand::Compute(heard[b], settings_.sampleRate, window_, settings_.customBaseHz, settings_.customSeparation);
    geometry_[b] = BandGeometry(band, window_ / 2 + 1);
    bandModes_[b] = Globals::bandOfDecodingMode(heard[b])->mode;
    senderGrids_[b][0] = band;
    int grids = 1;
    const MultiToneBand other = OtherRateGrid(heard[b], settings_);
    if (other.Fits() && std::memcmp(other.toneHz, band.toneHz, sizeof band.toneHz) != 0) senderGrids_[b][grids++] = other;
    senderGridCount_[b] = grids;
    float gridHz[MultiToneBand::kSenderGrids][BandGeometry::kNumTones];
    for (int n = 0; n < grids; ++n)
      for (int i = 0; i < BandGeometry::kNumTones; ++i) gridHz[n][i] = senderGrids_[b][n].toneHz[i];
    doors_[b] =
        DoorFinder(geometry_[b], gridHz, grids, 2 * doorHalf_, doorHalf_, window_ / (doorStride_ * hop_), kMaxOffset,
                   settings_.mode == QUORLAX_MODE_CUSTOM, arena);
  }
}

void Listener::Prepare() {
  fft_.PrepareIn(window_, fftTables_);
  for (int i = 0; i < settings_.readers; ++i) readers_[i].active = false;
  ResetStream();
}

int Listener::SetCustom(float baseHz, int separation) {
  if (settings_.mode != QUORLAX_MODE_CUSTOM) return QUORLAX_NOT_READY;
  ListenerSettings next = settings_;
  next.customBaseHz = baseHz;
  next.customSeparation = separation;
  const int check = Check(next);
  if (check != QUORLAX_OK) return check;
  if (Bytes(next) > blockBytes_) return QUORLAX_ERROR_OUT_OF_MEMORY;
  settings_ = next;
  for (int i = 0; i < settings_.readers; ++i) readers_[i].active = false;
  activeReaders_ = 0;
  failedCount_ = 0;
  // Only the bands' arrays change: lay them out again where they were (the
  // layout before them is the same for every grid).
  Arena arena(block_, blockBytes_);
  arena.Skip(bandsOffset_);
  LayOutBands(arena);
  ResetStream();
  return QUORLAX_OK;
}

void Listener::ResetStream() {
  // The lead-in: a window of silence, of which the first frame keeps all but a hop.
  untilFrame_ = hop_;
  history_.Append(nullptr, window_);
  segmentFrames_ = 0;
  segmentStart_ = samplesIn_;
  segmentHeard_ = history_.End();
  for (int b = 0; b < bandCount_; ++b) doors_[b].Clear();
}

void Listener::Push(const float* samples, long long count) {
  while (count > 0) {
    const int take = static_cast<int>(std::min<long long>(count, untilFrame_));
    samplesIn_ += take;
    Append(samples, take);
    samples += take;
    count -= take;
  }
}

void Listener::Append(const float* samples, int n) {
  while (n > 0) {
    // A frame ends at a multiple of the hop, so never past the ring's end.
    const int take = std::min(n, untilFrame_);
    history_.Append(samples, take);
    if (samples != nullptr) samples += take;
    n -= take;
    untilFrame_ -= take;
    if (untilFrame_ == 0) {
      Hop();
      untilFrame_ = hop_;
    }
  }
}

void Listener::Hop() {
  if (segmentFrames_ % doorStride_ == 0) {
    // The frame is the history's last window, as its readers hear it.
    const int half = window_ / 2;
    float* first = fft_.frameHalf(0);
    float* second = fft_.frameHalf(1);
    history_.Read(history_.End() - window_, half, first);
    history_.Read(history_.End() - half, half, second);
    const float* spectrum = fft_.powerSpectrumOfFrame({first, half, second}, window_fn_);
    for (int b = 0; b < bandCount_; ++b) {
      DoorSighting door;
      if (doors_[b].Add(spectrum, segmentFrames_ / doorStride_, &door)) StartReader(b, door);
    }
  }
  ++frameCount_;
  ++segmentFrames_;
  StepReaders();
  ResolveFailed(false);
#ifdef QUORLAX_HARDENED
  Validate();
#endif
}

void Listener::StartReader(int band, const DoorSighting& door) {
  // The search's frame f is the window that ends f strides and a hop into
  // the stream; the door's boundary lies where the window `door.after`
  // frames after door.frame is centred.
  const int doorHop = doorStride_ * hop_;
  const long long origin = segmentHeard_ + door.frame * doorHop + hop_ - window_ / 2;
  const float boundary = door.after * static_cast<float>(doorHop);
  const long long doorStart = origin + static_cast<int>(boundary) - tokenSamples_;
  doorsOpened_.Push(HeardDoor{bandModes_[band], std::max(segmentStart_, CallerSample(doorStart))});
  Reader* free = nullptr;
  for (int i = 0; i < settings_.readers && free == nullptr; ++i)
    if (!readers_[i].active) free = &readers_[i];
  if (free == nullptr) return;  // every reader busy: this door goes unread
  free->active = true;
  free->band = static_cast<uint8_t>(band);
  free->follow.Begin(senderGrids_[band], senderGridCount_[band], door.grid, settings_.sampleRate, door.scale, origin,
                     boundary, tokenSamples_);
  ++activeReaders_;
}

void Listener::StepReaders() {
  if (activeReaders_ == 0) return;
  for (int i = 0; i < settings_.readers; ++i) {
    Reader& r = readers_[i];
    while (r.active && r.follow.Ready(history_)) {
      r.follow.ReadNext(history_);
      if (r.follow.Done()) FinishReader(r);
    }
  }
}

void Listener::FinishReader(Reader& r) {
  r.active = false;
  --activeReaders_;
  const TokenFollower& f = r.follow;
  float snr = 0.0f, level = 0.0f;
  for (int i = 0; i < TokenFollower::kMessageTokens; ++i) {
    const TokenReading& t = f.Reading(i);
    const float pair = t.PairEnergy(), noise = t.NoiseEnergy();
    const float clear = pair / std::max(noise, 1e-30f);
    snr += clear > 0.0f ? std::min(kClearDb, single::Db10(clear)) : 0.0f;
    level += std::max(0.0f, pair - noise);
  }
  snr /= static_cast<float>(TokenFollower::kMessageTokens);
  level /= static_cast<float>(TokenFollower::kMessageTokens);
  HeardMessage m{};
  const ReadOut ro = ReadMessage(f, codec_, m.text);
  const TokenClock& clock = f.Clock();
  m.ok = ro.ok;
  m.mode = bandModes_[r.band];
  m.start = std::max(segmentStart_, CallerSample(clock.At(clock.StartOf(0))));
  m.end = CallerSample(clock.At(clock.StartOf(Globals::numTotalTokens)));
  m.snrDb = snr;
  m.confidence = MessageConfidence(m.snrDb, ro.correctionShare);
  m.corrected = Globals::numTotalTokens - Globals::numCorrectionTokens - ro.unchanged;
  const float fullScale = f.FullScale();
  m.levelDb = level > 0.0f && fullScale > 0.0f ? std::min(kMaxLevelDb, std::max(kNoLevelDb, single::Db10(level / fullScale))) : kNoLevelDb;
  m.pitchOffset = f.Scale() - 1.0f;
  m.tempoOffset = static_cast<float>(tokenSamples_) / clock.Period() - 1.0f;
  if (m.ok) {
    // A second reader of the same transmission (a door that held long
    // enough to be accepted twice) reports nothing new.
    if (Covered(m, true)) return;
    Span& s = recentOk_[recentOkNext_];
    s = Span{m.start, m.end, m.mode, {}};
    std::memcpy(s.text, m.text, sizeof s.text);
    recentOkNext_ = (recentOkNext_ + 1) % kRecentOk;
    Emit(m);
  } else if (settings_.reportFailed && failedCount_ < settings_.readers) {
    failedPending_[failedCount_++] = m;
  }
}

bool Listener::Covered(const HeardMessage& m, bool sameText) const {
  for (int k = 0; k < kRecentOk; ++k) {
    const Span& s = recentOk_[k];
    if (s.end > s.start && m.start < s.end && s.start < m.end &&
        (!sameText || (s.mode == m.mode && std::memcmp(s.text, m.text, sizeof s.text) == 0)))
      return true;
  }
  return false;
}

void Listener::ResolveFailed(bool force) {
  // A failed reading waits until any transmission overlapping it would have
  // completed, then is reported unless a passing message covers its time.
  const long long now = segmentStart_ + segmentFrames_ * hop_;
  const long long wait = static_cast<long long>(Globals::numTotalTokens + 2) * tokenSamples_;
  int kept = 0;
  for (int i = 0; i < failedCount_; ++i) {
    const HeardMessage& m = failedPending_[i];
    if (!force && now < m.end + wait) {
      failedPending_[kept++] = m;
      continue;
    }
    if (!Covered(m, false)) Emit(m);
  }
  failedCount_ = kept;
}

void Listener::Emit(const HeardMessage& m) {
  // Nobody took the oldest: it makes room, and the loss is counted.
  if (out_.Push(m)) ++dropped_;
}

void Listener::Flush() {
  // Silence until every reading has run its course (zeros name no tone, so
  // no new door opens), then report everything and start a new stream.
  const long long realSamples = samplesIn_;
  for (int hops = 0;; ++hops) {
    bool watching = false;
    for (int b = 0; b < bandCount_; ++b) watching |= doors_[b].Watching();
    if (activeReaders_ == 0 && !watching && hops * hop_ >= window_) break;
    // Zeros up to the next frame, not counted: the tail is not part of the caller's stream.
    Append(nullptr, untilFrame_);
  }
  samplesIn_ = realSamples;
  ResolveFailed(true);
  ResetStream();
}

bool Listener::NextDoor(HeardDoor* out) { return doorsOpened_.Pop(out); }

bool Listener::Next(HeardMessage* out) { return out_.Pop(out); }

#ifdef QUORLAX_HARDENED
void Listener::Validate() const {
  // A listener whose bookkeeping went wrong must stop here, not read past its
  // arrays later: hardened builds check after every hop.
  auto fail = [](const char* what) {
    std::fprintf(stderr, "quorlax: listener state corrupt: %s\n", what);
    std::abort();
  };
  int active = 0;
  for (int i = 0; i < settings_.readers; ++i) {
    const Reader& r = readers_[i];
    if (!r.active) continue;
    ++active;
    if (r.band >= bandCount_) fail("reader band");
    if (r.follow.Read() < 0 || r.follow.Read() >= TokenFollower::kMessageTokens) fail("reader token count");
    const float period = r.follow.Clock().Period();
    if (!(r.follow.Clock().Boundary() > -1e9f && r.follow.Clock().Boundary() < 1e9f) || !(period > 0.0f))
      fail("reader clock");
  }
  if (active != activeReaders_) fail("active reader count");
  if (untilFrame_ < 0 || untilFrame_ > hop_) fail("sample position");
  if (out_.count < 0 || out_.count > out_.capacity || failedCount_ < 0 || failedCount_ > settings_.readers)
    fail("queue count");
  for (int b = 0; b < bandCount_; ++b)
    if (!doors_[b].SumsSane()) fail("door sums");
}
#endif

}  // namespace QUORLAX
