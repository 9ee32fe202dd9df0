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
#include "SpectralAnalysis.h"
#include "ZunCoreLib_api.h"
#include "core/Modes.h"

namespace QUORLAX {

namespace {

constexpr int kMaxReaders = 128;
constexpr int kMaxClusters = 32;
constexpr int kRecentOk = 16;
constexpr float kNoLevelDb = -200.0f;
constexpr double kPi = 3.14159265358979323846;

int slotsFor(float rate, int hop) {
  return static_cast<int>(rate * Globals::durToken * 2 / static_cast<float>(hop) + 0.5f);
}

}  // namespace

int Listener::Check(const ListenerSettings& s) {
  return modes::Check(s.mode, s.sampleRate, s.customBaseHz, s.customSeparation);
}

Listener::Listener(const ListenerSettings& settings, unsigned char* block, size_t bytes, Arena& arena)
    : settings_(settings),
      window_(AnalysisWindowFor(settings.sampleRate)),
      hop_(AnalysisHopFor(settings.sampleRate)),
      slots_(slotsFor(settings.sampleRate, hop_)),
      half_(slots_ / 2),
      lead_(window_ - hop_),
      tokenSamples_(Globals::samplesPerToken(settings.sampleRate)),
      doorStride_(std::max(1, 256 / hop_)),
      block_(block),
      blockBytes_(bytes),
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
  readers_ = arena.Take<Reader>(kMaxReaders);
  clusters_ = arena.Take<Cluster>(kMaxClusters);
  failedPending_ = arena.Take<HeardMessage>(kMaxReaders);
  recentOk_ = arena.Take<Span>(kRecentOk);
  out_ = Queue<HeardMessage>{arena.Take<HeardMessage>(kQueue), kQueue, 0, 0};
  doorsOpened_ = Queue<HeardDoor>{arena.Take<HeardDoor>(kDoors), kDoors, 0, 0};
  samples_ = arena.Take<float>(2 * static_cast<size_t>(window_));
  window_fn_ = arena.Take<float>(static_cast<size_t>(window_));
  fftTables_ = arena.Take<float>(CFFTOoura::TableFloats(window_));
  binPlan_ = arena.Take<int>(CFFTOoura::BinPlanInts(window_));
  frames_ = arena.Take<sTokenProbs>(static_cast<size_t>(half_ + 1));
  bandsOffset_ = arena.Used();
  LayOutBands(arena);
}

void Listener::LayOutBands(Arena& arena) {
  int heard[modes::kMaxHeard];
  bandCount_ = modes::BandsHeard(settings_.mode, heard);
  SpectraRing::Range ranges[kMaxBands];
  for (int b = 0; b < bandCount_; ++b) {
    const MultiToneBand band =
        MultiToneBand::Compute(heard[b], settings_.sampleRate, window_, settings_.customBaseHz, settings_.customSeparation);
    geometry_[b] = BandGeometry(band, window_ / 2 + 1);
    bandModes_[b] = Globals::bandOfDecodingMode(heard[b])->mode;
    ranges[b] = geometry_[b].ReadRange();
    doors_[b] = DoorSearch(geometry_[b], slots_, arena);
    levels_[b] = SlotLevels(slots_, arena);
  }
  // The ring last: the only array whose size depends on the grid.
  ring_ = SpectraRing(slots_, window_ / 2 + 1, static_cast<int>(slots_ * 0.5 * 0.05 + 0.5), ranges, bandCount_,
                      arena);
}

void Listener::Prepare() {
  SpectralAnalysis::FillWindow(window_fn_, window_);
  fft_.PrepareIn(window_, fftTables_);
  PrepareBands();
  for (int i = 0; i < kMaxClusters; ++i) clusters_[i].live = false;
  ResetStream();
}

void Listener::PrepareBands() {
  fft_.PlanBinsIn(window_, ring_.Offsets(), binPlan_);
  for (int b = 0; b < bandCount_; ++b) {
    views_[b] = ring_.View(b);
    // The level a full-scale tone on the band's grid reads, for calibration
    // (the stream starts afresh after this).
    const double w = 2.0 * kPi * geometry_[b].band.toneHz[0] / settings_.sampleRate;
    for (int i = 0; i < window_; ++i) samples_[i] = static_cast<float>(std::sin(w * i));
    fft_.powerBins(samples_, window_fn_, ring_.Row(0));
    const float* row = views_[b].Row(0);
    const int bin = geometry_[b].toneBins[0];
    fullScale_[b] = geometry_[b].fits ? row[bin - 1] + row[bin] + row[bin + 1] : 0.0f;
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
  for (int i = 0; i < kMaxReaders; ++i) readers_[i].active = false;
  for (int i = 0; i < kMaxClusters; ++i) clusters_[i].live = false;
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

void Listener::TakeOver(const Listener& old) {
  for (int i = 0; i < old.out_.count; ++i) Emit(old.out_.items[(old.out_.head + i) % old.out_.capacity]);
  for (int i = 0; i < old.doorsOpened_.count; ++i)
    doorsOpened_.items[i] = old.doorsOpened_.items[(old.doorsOpened_.head + i) % old.doorsOpened_.capacity];
  doorsOpened_.head = 0;
  doorsOpened_.count = old.doorsOpened_.count;
  dropped_ = old.dropped_;
  settings_.reportFailed = old.settings_.reportFailed;
  samplesIn_ = old.samplesIn_;
  frameCount_ = old.frameCount_;
  for (int i = 0; i < kRecentOk; ++i) recentOk_[i] = old.recentOk_[i];
  recentOkNext_ = old.recentOkNext_;
  ResetStream();
}

void Listener::ResetStream() {
  // The lead-in: window minus hop of silence.
  std::fill(samples_, samples_ + lead_, 0.0f);
  fill_ = lead_;
  untilFrame_ = window_ - lead_;
  write_ = 0;
  storedFrames_ = 0;
  segmentFrames_ = 0;
  segmentStart_ = samplesIn_;
  for (int b = 0; b < bandCount_; ++b) {
    doors_[b].Clear();
    levels_[b].Clear();
  }
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
  const int capacity = 2 * window_;
  while (n > 0) {
    const int take = std::min(n, untilFrame_);
    if (fill_ + take > capacity) {
      // Only the last window can still belong to a frame.
      std::memmove(samples_, samples_ + fill_ - window_, sizeof(float) * window_);
      fill_ = window_;
    }
    if (samples != nullptr) {
      std::memcpy(samples_ + fill_, samples, sizeof(float) * take);
      samples += take;
    } else {
      std::fill(samples_ + fill_, samples_ + fill_ + take, 0.0f);
    }
    fill_ += take;
    n -= take;
    untilFrame_ -= take;
    if (untilFrame_ == 0) {
      Hop(samples_ + fill_ - window_);
      untilFrame_ = hop_;
    }
  }
}

void Listener::Hop(const float* frame) {
  fft_.powerBins(frame, window_fn_, ring_.Row(write_));
  for (int b = 0; b < bandCount_; ++b) {
    levels_[b].Forget(write_);
    doors_[b].RankAndSlide(views_[b].Row(write_), write_);
  }
  storedFrames_ = std::min(storedFrames_ + 1, slots_);
  write_ = (write_ + 1) % slots_;
  StepReaders();
  if (storedFrames_ == slots_) {
    // The N most recent hops, oldest first.
    for (int b = 0; b < bandCount_; ++b)
      if (doors_[b].DoorInNewest(views_[b])) StartReader(b);
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
  for (int i = 0; i < kMaxReaders; ++i)
    if (!readers_[i].active) {
      free = &readers_[i];
      break;
    }
  int& open = openCluster_[band];
  if (open >= 0 && frameCount_ - clusters_[open].anchorFrame > half_) open = -1;
  // Neighbouring doors of one transmission are read every few milliseconds,
  // not at every hop: a hop or two of misalignment costs a token nothing.
  if (open >= 0 && (frameCount_ - clusters_[open].anchorFrame) % doorStride_ != 0) return;
  if (open < 0) {
    for (int i = 0; i < kMaxClusters; ++i)
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
    c.anchorFrame = frameCount_;
    Queue<HeardDoor>& q = doorsOpened_;
    q.items[(q.head + q.count) % q.capacity] = HeardDoor{bandModes_[band], DoorStart()};
    if (q.count < q.capacity)
      ++q.count;
    else
      q.head = (q.head + 1) % q.capacity;
  }
  if (free == nullptr) return;
  Reader& r = *free;
  r = Reader{};
  r.active = true;
  ++activeReaders_;
  r.band = band;
  r.clockStart = write_;
  r.clockFrames = 0.0;
  r.readPos = write_;
  r.ordinal = 1;
  r.values[r.count++] = Globals::getIdxFromChar(Globals::frontDoorTokens[0]);
  r.values[r.count++] = Globals::getIdxFromChar(Globals::frontDoorTokens[1]);
  r.doorFrame = frameCount_;
  r.start = DoorStart();
  r.cluster = open;
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
  for (int i = 0; i < kMaxReaders; ++i) {
    Reader& r = readers_[i];
    if (!r.active) continue;
    const SpectraView& ring = views_[r.band];
    if (ring.Filled(write_, r.readPos) < half_) continue;
    const TokenDecision d = ReadToken(geometry_[r.band], ring, r.readPos, r.ordinal, &levels_[r.band], frames_);
    r.ratioSum += d.energyRatio;
    if (d.agreeing > 0) {
      r.levelSum += d.toneLevel;
      ++r.levelTokens;
    }
    r.readPos = NextTokenWindow(r.clockStart, &r.clockFrames, slots_);
    if (d.token < 0) continue;
    r.values[r.count++] = d.token;
    ++r.ordinal;
    if (r.count == Globals::numTotalTokens) FinishReader(r);
  }
}

void Listener::FinishReader(Reader& r) {
  r.active = false;
  --activeReaders_;
  HeardMessage m{};
  int received[Globals::numTotalTokens];
  const ReadOut ro = ReadOutTokens(codec_, r.values, received, m.text);
  const float ratio = r.ratioSum / static_cast<float>(Globals::numMessageTokens);
  m.ok = ro.ok;
  m.mode = bandModes_[r.band];
  m.start = r.start;
  m.end = r.start + static_cast<long long>(Globals::numTotalTokens) * tokenSamples_;
  m.confidence = MessageConfidence(ratio, ro.correctionShare);
  m.snrDb = ratio;
  m.corrected = Globals::numTotalTokens - Globals::numCorrectionTokens - ro.unchanged;
  const double level = r.levelTokens > 0 ? r.levelSum / r.levelTokens / fullScale_[r.band] : 0.0;
  m.levelDb = level > 0.0 ? std::max(kNoLevelDb, static_cast<float>(10.0 * std::log10(level))) : kNoLevelDb;
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
  for (int i = 0; i < kMaxClusters; ++i) {
    Cluster& c = clusters_[i];
    if (!c.live || c.readers > 0) continue;
    const bool accepting = openCluster_[c.band] == i && frameCount_ - c.anchorFrame <= half_;
    if (accepting && !force) continue;
    if (openCluster_[c.band] == i) openCluster_[c.band] = -1;
    c.live = false;
    --liveClusters_;
    if (c.haveOk) {
      recentOk_[recentOkNext_] = Span{c.bestOk.start, c.bestOk.end};
      recentOkNext_ = (recentOkNext_ + 1) % kRecentOk;
      Emit(c.bestOk);
    } else if (c.haveFailed && settings_.reportFailed && failedCount_ < kMaxReaders) {
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
  Queue<HeardMessage>& q = out_;
  if (q.count == q.capacity) {
    // Nobody took the oldest: it makes room, and the loss is counted.
    q.head = (q.head + 1) % q.capacity;
    --q.count;
    ++dropped_;
  }
  q.items[(q.head + q.count) % q.capacity] = m;
  ++q.count;
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

bool Listener::NextDoor(HeardDoor* out) {
  Queue<HeardDoor>& q = doorsOpened_;
  if (q.count == 0) return false;
  *out = q.items[q.head];
  q.head = (q.head + 1) % q.capacity;
  --q.count;
  return true;
}

bool Listener::Next(HeardMessage* out) {
  Queue<HeardMessage>& q = out_;
  if (q.count == 0) return false;
  *out = q.items[q.head];
  q.head = (q.head + 1) % q.capacity;
  --q.count;
  return true;
}

void Listener::Validate() const {
  // A listener whose bookkeeping went wrong must stop here, not read past its
  // arrays later: hardened builds check after every hop.
  auto fail = [](const char* what) {
    std::fprintf(stderr, "quorlax: listener state corrupt: %s\n", what);
    std::abort();
  };
  int active = 0;
  int clusterReaders[kMaxClusters] = {};
  for (int i = 0; i < kMaxReaders; ++i) {
    const Reader& r = readers_[i];
    if (!r.active) continue;
    ++active;
    if (r.band < 0 || r.band >= bandCount_) fail("reader band");
    if (r.readPos < 0 || r.readPos >= slots_ || r.clockStart < 0 || r.clockStart >= slots_) fail("reader position");
    if (r.count < Globals::numFrontDoorTokens || r.count >= Globals::numTotalTokens) fail("reader token count");
    if (r.cluster < 0 || r.cluster >= kMaxClusters || !clusters_[r.cluster].live) fail("reader cluster");
    ++clusterReaders[r.cluster];
  }
  if (active != activeReaders_) fail("active reader count");
  int live = 0;
  for (int i = 0; i < kMaxClusters; ++i) {
    if (!clusters_[i].live) continue;
    ++live;
    if (clusters_[i].readers != clusterReaders[i]) fail("cluster reader count");
  }
  if (live != liveClusters_) fail("live cluster count");
  if (write_ < 0 || write_ >= slots_ || storedFrames_ < 0 || storedFrames_ > slots_) fail("ring position");
  if (fill_ < window_ - hop_ || fill_ > 2 * window_ || untilFrame_ < 0 || untilFrame_ > window_) fail("sample position");
  if (out_.count < 0 || out_.count > out_.capacity || failedCount_ < 0 || failedCount_ > kMaxReaders)
    fail("queue count");
  for (int b = 0; b < bandCount_; ++b)
    if (!doors_[b].CountsMatch((write_ + slots_ - 1) % slots_)) fail("door counts");
}

}  // namespace QUORLAX
