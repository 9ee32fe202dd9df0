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
constexpr double kPi = 3.14159265358979323846;

int slotsFor(float rate, int hop) {
  return static_cast<int>(rate * Globals::durToken * 2 / static_cast<float>(hop) + 0.5f);
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
      slots_(slotsFor(settings.sampleRate, hop_)),
      half_(slots_ / 2),
      tokenSamples_(Globals::samplesPerToken(settings.sampleRate)),
      doorStride_(std::max(1, 256 / hop_)),
      tolerance_(static_cast<int>(slots_ * 0.5 * 0.05 + 0.5)),
      clusterCount_(std::max(1, settings.readers / 4)),
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
  clusters_ = arena.Take<Cluster>(static_cast<size_t>(clusterCount_));
  failedPending_ = arena.Take<HeardMessage>(static_cast<size_t>(settings_.readers));
  recentOk_ = arena.Take<Span>(kRecentOk);
  out_ = Queue<HeardMessage>{arena.Take<HeardMessage>(static_cast<size_t>(settings_.queue)), settings_.queue, 0, 0};
  doorsOpened_ = Queue<HeardDoor>{arena.Take<HeardDoor>(kDoors), kDoors, 0, 0};
  samples_ = arena.Take<float>(static_cast<size_t>(window_));
  fftTables_ = arena.Take<float>(CFFTOoura::TableFloats(window_));
  frames_ = arena.Take<sTokenProbs>(static_cast<size_t>(half_ + 1));
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
    doors_[b] = DoorSearch(geometry_[b], slots_, arena);
    rows_[b] = arena.Take<SlotTones>(static_cast<size_t>(slots_));
  }
}

void Listener::Prepare() {
  fft_.PrepareIn(window_, fftTables_);
  PrepareBands();
  for (int i = 0; i < clusterCount_; ++i) clusters_[i].live = false;
  ResetStream();
}

void Listener::PrepareBands() {
  for (int b = 0; b < bandCount_; ++b) {
    // The level a full-scale tone on the band's grid reads, for calibration
    // (the stream starts afresh after this).
    const double w = 2.0 * kPi * geometry_[b].band.toneHz[0] / settings_.sampleRate;
    for (int i = 0; i < window_; ++i) samples_[i] = static_cast<float>(std::sin(w * i));
    const float* spectrum = fft_.powerSpectrumOfFrame({samples_, window_, samples_}, window_fn_);
    const int bin = geometry_[b].toneBins[0];
    fullScale_[b] = geometry_[b].fits ? BandGeometry::ToneSum(spectrum, bin) : 0.0f;
  }
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
  for (int i = 0; i < clusterCount_; ++i) clusters_[i].live = false;
  activeReaders_ = liveClusters_ = 0;
  failedCount_ = 0;
  // Only the bands' arrays change: lay them out again where they were (the
  // layout before them is the same for every grid).
  Arena arena(block_, blockBytes_);
  arena.Skip(bandsOffset_);
  LayOutBands(arena);
  PrepareBands();
  ResetStream();
  return QUORLAX_OK;
}

void Listener::ResetStream() {
  // The lead-in: a window of silence, of which the first frame keeps all but a hop.
  std::fill(samples_, samples_ + window_, 0.0f);
  at_ = 0;
  untilFrame_ = hop_;
  write_ = 0;
  storedFrames_ = 0;
  segmentFrames_ = 0;
  segmentStart_ = samplesIn_;
  for (int b = 0; b < bandCount_; ++b) doors_[b].Clear();
  std::fill(openCluster_, openCluster_ + kMaxBands, -1);
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
    if (samples != nullptr) {
      std::memcpy(samples_ + at_, samples, sizeof(float) * take);
      samples += take;
    } else {
      std::fill(samples_ + at_, samples_ + at_ + take, 0.0f);
    }
    at_ = (at_ + take) % window_;
    n -= take;
    untilFrame_ -= take;
    if (untilFrame_ == 0) {
      Hop();
      untilFrame_ = hop_;
    }
  }
}

void Listener::Hop() {
  const float* spectrum = fft_.powerSpectrumOfFrame({samples_ + at_, window_ - at_, samples_}, window_fn_);
  for (int b = 0; b < bandCount_; ++b) {
    SlotTones& row = rows_[b][write_];
    geometry_[b].MeasureSlot(spectrum, &row);
    doors_[b].RankAndSlide(row, write_);
  }
  storedFrames_ = std::min(storedFrames_ + 1, slots_);
  write_ = (write_ + 1) % slots_;
  StepReaders();
  if (storedFrames_ == slots_) {
    // The N most recent hops, oldest first.
    for (int b = 0; b < bandCount_; ++b)
      if (doors_[b].DoorInNewest(tolerance_)) StartReader(b);
  }
  ++frameCount_;
  ++segmentFrames_;
  ResolveClusters(false);
  ResolveFailed(false);
#ifdef QUORLAX_HARDENED
  Validate();
#endif
}

void Listener::StartReader(int band) {
  Reader* free = nullptr;
  for (int i = 0; i < settings_.readers; ++i)
    if (!readers_[i].active) {
      free = &readers_[i];
      break;
    }
  int& open = openCluster_[band];
  // A cluster takes doors until a token has passed without one: a talker can
  // make one transmission's door hold for longer than a token, and a cluster
  // closed a token after its first door then let the later doors read the
  // same transmission again.
  if (open >= 0 && frameCount_ - clusters_[open].lastDoorFrame > half_) open = -1;
  if (open >= 0) clusters_[open].lastDoorFrame = frameCount_;
  // Neighbouring doors of one transmission are read every few milliseconds,
  // not at every hop: a hop or two of misalignment costs a token nothing.
  if (open >= 0 && (frameCount_ - clusters_[open].anchorFrame) % doorStride_ != 0) return;
  if (open < 0) {
    for (int i = 0; i < clusterCount_; ++i)
      if (!clusters_[i].live) {
        open = i;
        break;
      }
    if (open < 0 || free == nullptr) return;  // every slot busy: this door goes unread
    Cluster& c = clusters_[open];
    c = Cluster{};
    c.live = true;
    ++liveClusters_;
    c.band = band;
    c.anchorFrame = c.lastDoorFrame = frameCount_;
    doorsOpened_.Push(HeardDoor{bandModes_[band], DoorStart()});
  }
  if (free == nullptr) return;
  Reader& r = *free;
  r = Reader{};
  r.active = true;
  ++activeReaders_;
  r.band = static_cast<uint8_t>(band);
  r.clockStart = static_cast<int16_t>(write_);
  r.readPos = static_cast<int16_t>(write_);
  r.ordinal = 1;
  r.values[r.count++] = static_cast<uint8_t>(Globals::getIdxFromChar(Globals::frontDoorTokens[0]));
  r.values[r.count++] = static_cast<uint8_t>(Globals::getIdxFromChar(Globals::frontDoorTokens[1]));
  r.start = DoorStart();
  r.cluster = static_cast<int16_t>(open);
  clusters_[open].readers++;
}

long long Listener::DoorStart() const {
  // The door is found when the second front-door token has filled the newer
  // half of the ring: two tokens before the end of this hop's window, less
  // the part of a window by which a well-aligned reader's frames trail the
  // token starts (measured: 3/8 of a window at every rate and band).
  const long long frameEnd = segmentStart_ + (segmentFrames_ + 1) * hop_;
  return std::max(segmentStart_, frameEnd - 2LL * tokenSamples_ - 3LL * window_ / 8);
}

void Listener::StepReaders() {
  if (activeReaders_ == 0) return;
  const int specSize = window_ / 2 + 1;
  for (int i = 0; i < settings_.readers; ++i) {
    Reader& r = readers_[i];
    if (!r.active) continue;
    const int filled = write_ >= r.readPos ? write_ - r.readPos : write_ - r.readPos + slots_;
    if (filled < half_) continue;
    const TokenDecision d = ReadToken(geometry_[r.band], rows_[r.band], slots_, specSize, r.readPos, r.ordinal, frames_);
    r.ratioSum += d.energyRatio;
    if (d.agreeing > 0) {
      r.levelSum += d.toneLevel;
      ++r.levelTokens;
    }
    r.readPos = static_cast<int16_t>(TokenWindowAfter(r.clockStart, ++r.tokensRead, slots_));
    if (d.token < 0) continue;
    r.values[r.count++] = static_cast<uint8_t>(d.token);
    ++r.ordinal;
    if (r.count == Globals::numTotalTokens) FinishReader(r);
  }
}

void Listener::FinishReader(Reader& r) {
  r.active = false;
  --activeReaders_;
  HeardMessage m{};
  int values[Globals::numTotalTokens];
  for (int i = 0; i < Globals::numTotalTokens; ++i) values[i] = r.values[i];
  int received[Globals::numTotalTokens];
  const ReadOut ro = ReadOutTokens(codec_, values, received, m.text);
  const float ratio = r.ratioSum / static_cast<float>(Globals::numMessageTokens);
  m.ok = ro.ok;
  m.mode = bandModes_[r.band];
  m.start = r.start;
  m.end = r.start + static_cast<long long>(Globals::numTotalTokens) * tokenSamples_;
  m.confidence = MessageConfidence(ratio, ro.correctionShare);
  m.snrDb = ratio;
  m.corrected = Globals::numTotalTokens - Globals::numCorrectionTokens - ro.unchanged;
  const float level = r.levelTokens > 0 ? r.levelSum / static_cast<float>(r.levelTokens) / fullScale_[r.band] : 0.0f;
  m.levelDb = level > 0.0f ? std::min(kMaxLevelDb, std::max(kNoLevelDb, single::Db10(level))) : kNoLevelDb;
  Cluster& c = clusters_[r.cluster];
  c.readers--;
  // The best-aligned reader has the clearest tones: rank by confidence, then
  // by the level of its tones above the band.
  HeardMessage& best = m.ok ? c.bestOk : c.bestFailed;
  float& bestRatio = m.ok ? c.bestOkRatio : c.bestFailedRatio;
  bool& have = m.ok ? c.haveOk : c.haveFailed;
  if (!have || m.confidence > best.confidence || (m.confidence == best.confidence && ratio > bestRatio)) {
    best = m;
    bestRatio = ratio;
  }
  have = true;
}

void Listener::ResolveClusters(bool force) {
  if (liveClusters_ == 0) return;
  for (int i = 0; i < clusterCount_; ++i) {
    Cluster& c = clusters_[i];
    if (!c.live || c.readers > 0) continue;
    const bool accepting = openCluster_[c.band] == i && frameCount_ - c.lastDoorFrame <= half_;
    if (accepting && !force) continue;
    if (openCluster_[c.band] == i) openCluster_[c.band] = -1;
    c.live = false;
    --liveClusters_;
    if (c.haveOk) {
      recentOk_[recentOkNext_] = Span{c.bestOk.start, c.bestOk.end};
      recentOkNext_ = (recentOkNext_ + 1) % kRecentOk;
      Emit(c.bestOk);
    } else if (c.haveFailed && settings_.reportFailed && failedCount_ < settings_.readers) {
      failedPending_[failedCount_++] = c.bestFailed;
    }
  }
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
    bool covered = false;
    for (int k = 0; k < kRecentOk; ++k) {
      const Span& s = recentOk_[k];
      covered |= s.end > s.start && m.start < s.end && s.start < m.end;
    }
    if (!covered) Emit(m);
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
    if (activeReaders_ == 0 && hops * hop_ >= window_) break;
    // Zeros up to the next frame, not counted: the tail is not part of the caller's stream.
    Append(nullptr, untilFrame_);
  }
  samplesIn_ = realSamples;
  ResolveClusters(true);
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
    if (r.readPos < 0 || r.readPos >= slots_ || r.clockStart < 0 || r.clockStart >= slots_) fail("reader position");
    if (r.count < Globals::numFrontDoorTokens || r.count >= Globals::numTotalTokens) fail("reader token count");
    if (r.cluster < 0 || r.cluster >= clusterCount_ || !clusters_[r.cluster].live) fail("reader cluster");
  }
  if (active != activeReaders_) fail("active reader count");
  int live = 0;
  for (int i = 0; i < clusterCount_; ++i) {
    if (!clusters_[i].live) continue;
    ++live;
    int readers = 0;
    for (int k = 0; k < settings_.readers; ++k) readers += readers_[k].active && readers_[k].cluster == i;
    if (clusters_[i].readers != readers) fail("cluster reader count");
  }
  if (live != liveClusters_) fail("live cluster count");
  if (write_ < 0 || write_ >= slots_ || storedFrames_ < 0 || storedFrames_ > slots_) fail("ring position");
  if (at_ < 0 || at_ >= window_ || at_ % hop_ != 0) fail("sample position");
  if (out_.count < 0 || out_.count > out_.capacity || failedCount_ < 0 || failedCount_ > settings_.readers)
    fail("queue count");
  for (int b = 0; b < bandCount_; ++b)
    if (!doors_[b].CountsMatch((write_ + slots_ - 1) % slots_)) fail("door counts");
}
#endif

}  // namespace QUORLAX
