#include "Listener.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AnalysisSizes.h"
#include "BandTable.h"
#include "Globals.h"
#include "MessageReadOut.h"
#include "ZunCoreLib_api.h"

namespace QUORLAX {

namespace {

constexpr int kMaxReaders = 128;
constexpr int kMaxClusters = 32;
constexpr int kRecentOk = 16;
constexpr float kNoLevelDb = -200.0f;
constexpr double kPi = 3.14159265358979323846;

// The bands a mode hears, as band-table decoding modes.
std::vector<int> bandsHeardBy(int mode) {
  std::vector<int> out;
  for (const Globals::BandRow& row : Globals::bandTable)
    if (mode == QUORLAX_MODE_ALL ? row.heardInModeAll : row.mode == mode) out.push_back(row.decodingMode);
  return out;
}

float confidenceOf(float meanRatio, int unchanged) {
  const float norm = meanRatio <= 0.0f ? 0.0f : (meanRatio >= 15.0f ? 1.0f : meanRatio / 15.0f);
  return norm * (static_cast<float>(unchanged) / (Globals::numTotalTokens - Globals::numCorrectionTokens));
}

}  // namespace

int Listener::Check(int mode, float samplingRate, float customBaseHz, int customSeparation) {
  if (mode < QUORLAX_MODE_AUDIBLE || mode > QUORLAX_MODE_CUSTOM) return QUORLAX_NOT_READY;
  if (customSeparation < 0) return QUORLAX_ERROR_INVALID_ARGUMENT;
  if (!std::isfinite(samplingRate) || samplingRate <= 0.0f || !std::isfinite(customBaseHz) || customBaseHz <= 0.0f ||
      customSeparation > 1000)
    return QUORLAX_ERROR_UNSUPPORTED;
  const int window = AnalysisWindowFor(samplingRate);
  for (int decodingMode : bandsHeardBy(mode))
    if (!MultiToneBand::MakeIsolated(decodingMode, samplingRate, window, customBaseHz, customSeparation).Fits())
      return QUORLAX_ERROR_UNSUPPORTED;
  return QUORLAX_OK;
}

Listener::Listener(int mode, float samplingRate, float customBaseHz, int customSeparation)
    : mode_(mode),
      rate_(samplingRate),
      window_(AnalysisWindowFor(samplingRate)),
      hop_(AnalysisHopFor(samplingRate)),
      slots_(static_cast<int>(samplingRate * Globals::durToken * 2 / static_cast<float>(hop_) + 0.5f)),
      half_(slots_ / 2),
      lead_(window_ - hop_),
      tokenSamples_(Globals::samplesPerToken(samplingRate)),
      doorStride_(std::max(1, 256 / hop_)),
      customBase_(customBaseHz),
      customSeparation_(customSeparation),
      analysis_(kEnergySpectrum, window_, window_, hop_),
      samples_(2 * static_cast<size_t>(window_), 0.0f),
      readers_(kMaxReaders),
      clusters_(kMaxClusters),
      recentOk_(kRecentOk, Span{0, 0}),
      scratchReceived_(Globals::numTotalTokens) {
  for (Reader& r : readers_) r.values.reserve(Globals::numTotalTokens);
  failedPending_.reserve(kMaxReaders);
  BuildBands();
  ResetStream();
}

void Listener::BuildBands() {
  bands_.clear();
  bandModes_.clear();
  fullScale_.clear();
  for (int decodingMode : bandsHeardBy(mode_)) {
    const MultiToneBand band = MultiToneBand::MakeIsolated(decodingMode, rate_, window_, customBase_, customSeparation_);
    bands_.emplace_back(band, slots_, analysis_.mSpecSize);
    bandModes_.push_back(Globals::bandOfDecodingMode(decodingMode)->mode);
    // The level a full-scale tone on the band's grid reads, for calibration
    // (the stream starts afresh after this).
    const double w = 2.0 * kPi * band.toneHz[0] / rate_;
    for (int i = 0; i < window_; ++i) samples_[i] = static_cast<float>(std::sin(w * i));
    analysis_.doFFT(samples_.data(), analysis_.mSpecMag, nullptr);
    const int bin = bands_.back().toneBins[0];
    fullScale_.push_back(analysis_.mSpecMag[bin - 1] + analysis_.mSpecMag[bin] + analysis_.mSpecMag[bin + 1]);
  }
  openCluster_.assign(bands_.size(), -1);
  std::vector<SpectraRing::Range> ranges;
  for (const MultiToneDetector& b : bands_) ranges.push_back(b.ReadRange());
  ring_.reset(new SpectraRing(slots_, analysis_.mSpecSize, static_cast<int>(slots_ * 0.5 * 0.05 + 0.5), ranges));
  views_.clear();
  for (int b = 0; b < static_cast<int>(bands_.size()); ++b) views_.push_back(ring_->View(b));
  analysis_.PlanBins(ring_->Offsets());
}

int Listener::SetCustom(float baseHz, int separation) {
  if (mode_ != QUORLAX_MODE_CUSTOM) return QUORLAX_NOT_READY;
  const int check = Check(mode_, rate_, baseHz, separation);
  if (check != QUORLAX_OK) return check;
  customBase_ = baseHz;
  customSeparation_ = separation;
  for (Reader& r : readers_) r.active = false;
  for (Cluster& c : clusters_) c.live = false;
  activeReaders_ = liveClusters_ = 0;
  failedPending_.clear();
  BuildBands();
  ResetStream();
  return QUORLAX_OK;
}

void Listener::ResetStream() {
  // The lead-in: window minus hop of silence.
  std::fill(samples_.begin(), samples_.begin() + lead_, 0.0f);
  fill_ = lead_;
  untilFrame_ = window_ - lead_;
  write_ = 0;
  storedFrames_ = 0;
  segmentFrames_ = 0;
  segmentStart_ = samplesIn_;
  for (MultiToneDetector& b : bands_) b.Clear();
  std::fill(openCluster_.begin(), openCluster_.end(), -1);
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
    const int take = std::min(n, untilFrame_);
    if (fill_ + take > static_cast<int>(samples_.size())) {
      // Only the last window can still belong to a frame.
      std::memmove(samples_.data(), samples_.data() + fill_ - window_, sizeof(float) * window_);
      fill_ = window_;
    }
    if (samples != nullptr) {
      std::memcpy(samples_.data() + fill_, samples, sizeof(float) * take);
      samples += take;
    } else {
      std::fill(samples_.begin() + fill_, samples_.begin() + fill_ + take, 0.0f);
    }
    fill_ += take;
    n -= take;
    untilFrame_ -= take;
    if (untilFrame_ == 0) {
      Hop(samples_.data() + fill_ - window_);
      untilFrame_ = hop_;
    }
  }
}

void Listener::Hop(const float* frame) {
  analysis_.doFFTBins(frame, ring_->Row(write_));
  for (int b = 0; b < static_cast<int>(bands_.size()); ++b) bands_[b].RankAndSlide(views_[b].Row(write_), write_);
  storedFrames_ = std::min(storedFrames_ + 1, slots_);
  write_ = (write_ + 1) % slots_;
  StepReaders();
  if (storedFrames_ == slots_) {
    // The N most recent hops, oldest first.
    for (int b = 0; b < static_cast<int>(bands_.size()); ++b)
      if (bands_[b].DoorInNewest(views_[b])) StartReader(b);
  }
  ++frameCount_;
  ++segmentFrames_;
  ResolveClusters(false);
  ResolveFailed(false);
}

void Listener::StartReader(int band) {
  Reader* free = nullptr;
  for (Reader& r : readers_)
    if (!r.active) {
      free = &r;
      break;
    }
  int& open = openCluster_[band];
  if (open >= 0 && frameCount_ - clusters_[open].anchorFrame > half_) open = -1;
  // Neighbouring doors of one transmission are read every few milliseconds,
  // not at every hop: a hop or two of misalignment costs a token nothing.
  if (open >= 0 && (frameCount_ - clusters_[open].anchorFrame) % doorStride_ != 0) return;
  if (open < 0) {
    for (int i = 0; i < static_cast<int>(clusters_.size()); ++i)
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
    doors_[(doorHead_ + doorCount_) % kDoors] = HeardDoor{bandModes_[band], DoorStart()};
    if (doorCount_ < kDoors)
      ++doorCount_;
    else
      doorHead_ = (doorHead_ + 1) % kDoors;
  }
  if (free == nullptr) return;
  Reader& r = *free;
  r.active = true;
  ++activeReaders_;
  r.band = band;
  r.clockStart = write_;
  r.clockFrames = 0.0;
  r.readPos = write_;
  r.ordinal = 1;
  r.values.clear();
  r.values.push_back(Globals::getIdxFromChar(Globals::frontDoorTokens[0]));
  r.values.push_back(Globals::getIdxFromChar(Globals::frontDoorTokens[1]));
  r.ratioSum = 0.0f;
  r.levelSum = 0.0;
  r.levelTokens = 0;
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
  for (Reader& r : readers_) {
    if (!r.active) continue;
    const SpectraView& ring = views_[r.band];
    if (ring.Filled(write_, r.readPos) < half_) continue;
    MultiToneDetector& band = bands_[r.band];
    band.ComputeWindowStats(ring, r.readPos, r.ordinal, true);
    const MultiToneDetector::Decision d = band.DecideToken(ring, r.readPos);
    r.ratioSum += d.energyRatio;
    if (d.agreeing > 0) {
      r.levelSum += d.toneLevel;
      ++r.levelTokens;
    }
    r.readPos = NextTokenWindow(r.clockStart, &r.clockFrames, slots_);
    if (d.token < 0) continue;
    r.values.push_back(d.token);
    ++r.ordinal;
    if (static_cast<int>(r.values.size()) == Globals::numTotalTokens) FinishReader(r);
  }
}

void Listener::FinishReader(Reader& r) {
  r.active = false;
  --activeReaders_;
  HeardMessage m{};
  const ReadOut ro = ReadOutTokens(codec_, r.values, scratchReceived_.data(), m.text);
  m.ok = ro.ok;
  m.mode = bandModes_[r.band];
  m.start = r.start;
  m.end = r.start + static_cast<long long>(Globals::numTotalTokens) * tokenSamples_;
  m.confidence = confidenceOf(r.ratioSum / static_cast<float>(Globals::numMessageTokens), ro.unchanged);
  const double level = r.levelTokens > 0 ? r.levelSum / r.levelTokens / fullScale_[r.band] : 0.0;
  m.levelDb = level > 0.0 ? std::max(kNoLevelDb, static_cast<float>(10.0 * std::log10(level))) : kNoLevelDb;
  Cluster& c = clusters_[r.cluster];
  c.readers--;
  // The best-aligned reader has the clearest tones: rank by confidence, then
  // by the level of its tones above the band.
  const float ratio = r.ratioSum / static_cast<float>(Globals::numMessageTokens);
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
  for (int i = 0; i < static_cast<int>(clusters_.size()); ++i) {
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
    } else if (c.haveFailed && reportFailed_ && failedPending_.size() < failedPending_.capacity()) {
      failedPending_.push_back(c.bestFailed);
    }
  }
}

void Listener::ResolveFailed(bool force) {
  // A failed reading waits until any transmission overlapping it would have
  // completed, then is reported unless a passing message covers its time.
  const long long now = segmentStart_ + segmentFrames_ * hop_;
  const long long wait = static_cast<long long>(Globals::numTotalTokens + 2) * tokenSamples_;
  size_t kept = 0;
  for (size_t i = 0; i < failedPending_.size(); ++i) {
    const HeardMessage& m = failedPending_[i];
    if (!force && now < m.end + wait) {
      failedPending_[kept++] = m;
      continue;
    }
    bool covered = false;
    for (const Span& s : recentOk_) covered |= s.end > s.start && m.start < s.end && s.start < m.end;
    if (!covered) Emit(m);
  }
  failedPending_.resize(kept);
}

void Listener::Emit(const HeardMessage& m) { out_.push_back(m); }

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
  if (doorCount_ == 0) return false;
  *out = doors_[doorHead_];
  doorHead_ = (doorHead_ + 1) % kDoors;
  --doorCount_;
  return true;
}

bool Listener::Next(HeardMessage* out) {
  if (out_.empty()) return false;
  *out = out_.front();
  out_.pop_front();
  return true;
}

}  // namespace QUORLAX
