// A listener that never goes deaf: one spectrum per hop shared by every band
// and every reader, a front-door search in each band at every hop, and a
// reader with its own token clock for every door accepted. Readers that catch
// the same transmission at neighbouring hops give one report; readers that
// fail their check vanish unless failures are asked for.
//
// It owns the stream: callers push any number of samples and Flush at the
// end; a lead-in lets a stream that starts exactly with a transmission be
// heard, and Flush supplies the tail that completes what is in flight.
// Per hop it allocates nothing; messages are queued as they complete.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "MultiToneDetector.h"
#include "ReedSolomon.h"
#include "SpectraRing.h"
#include "SpectralAnalysis.h"

namespace QUORLAX {

struct HeardMessage {
  char text[10];
  bool ok;
  int mode;          // QUORLAX_MODE_* of the band
  long long start;   // first sample of the front door in the caller's stream
  long long end;     // one past the last token's last sample
  float levelDb;     // tone level, dB re a full-scale sine
  float confidence;  // as Decoder::GetConfidence
};

// A front door as it opens: the start of a reading, before its outcome.
struct HeardDoor {
  int mode;         // QUORLAX_MODE_* of the band
  long long start;  // estimated first sample of the door in the caller's stream
};

class Listener {
 public:
  // 0 when `mode` (QUORLAX_MODE_*) can be heard at `samplingRate` with this
  // custom grid; otherwise the C interface's code (-1 mode, -4, -7).
  static int Check(int mode, float samplingRate, float customBaseHz, int customSeparation);

  // The configuration must pass Check. Throws only std::bad_alloc.
  Listener(int mode, float samplingRate, float customBaseHz, int customSeparation);

  // Custom mode: another grid (0, -1 not custom, -4, -7). Drops what is in flight.
  int SetCustom(float baseHz, int separation);
  void ReportFailed(bool on) { reportFailed_ = on; }

  void Push(const float* samples, long long count);
  // End of stream: completes every reading, reports them, and starts afresh.
  void Flush();
  // Takes the oldest completed message; false when there is none.
  bool Next(HeardMessage* out);
  // Takes the oldest front door not yet taken (the newest kDoors are kept).
  bool NextDoor(HeardDoor* out);
  static constexpr int kDoors = 32;

  int Mode() const { return mode_; }
  float SampleRate() const { return rate_; }

 private:
  struct Reader {
    bool active = false;
    int band = 0;
    int clockStart = 0;
    double clockFrames = 0.0;
    int readPos = 0;
    int ordinal = 1;  // the message token being read, 1..18
    std::vector<int> values;
    float ratioSum = 0.0f;
    double levelSum = 0.0;
    int levelTokens = 0;
    long long start = 0;
    long long doorFrame = 0;
    int cluster = 0;
  };
  // Readers of one band whose doors lie within a token of the first one.
  struct Cluster {
    bool live = false;
    int band = 0;
    long long anchorFrame = 0;
    int readers = 0;
    bool haveOk = false, haveFailed = false;
    HeardMessage bestOk{}, bestFailed{};
    float bestOkRatio = 0.0f, bestFailedRatio = 0.0f;
  };
  struct Span {
    long long start, end;
  };

  void BuildBands();
  void ResetStream();
  // Appends n samples (zeros when `samples` is null) and runs the hops they complete.
  void Append(const float* samples, int n);
  void Hop(const float* frame);
  void StartReader(int band);
  long long DoorStart() const;
  void StepReaders();
  void FinishReader(Reader& r);
  void ResolveClusters(bool force);
  void ResolveFailed(bool force);
  void Emit(const HeardMessage& m);

  int mode_;
  float rate_;
  int window_, hop_, slots_, half_, lead_, tokenSamples_;
  int doorStride_;  // hops between the doors of one cluster that get a reader
  float customBase_;
  int customSeparation_;
  bool reportFailed_ = false;

  SpectralAnalysis analysis_;
  ReedSolomon codec_;
  // Samples in arrival order, the newest at fill_; each frame is analysed
  // where it lies, and the last window slides back to the front when full.
  std::vector<float> samples_;
  int fill_ = 0;
  int untilFrame_ = 0;
  std::unique_ptr<SpectraRing> ring_;  // the bands' bins of the last N hops
  std::vector<SpectraView> views_;     // per band
  int write_ = 0;
  int storedFrames_ = 0;
  long long frameCount_ = 0;      // frames analysed since creation
  long long segmentFrames_ = 0;   // frames analysed in this stream
  long long segmentStart_ = 0;    // caller's sample where this stream began
  long long samplesIn_ = 0;

  std::vector<MultiToneDetector> bands_;
  std::vector<int> bandModes_;
  std::vector<float> fullScale_;  // three-bin energy of a full-scale tone, per band
  std::vector<int> openCluster_;  // per band, -1 when none accepts doors
  std::vector<Reader> readers_;
  std::vector<Cluster> clusters_;
  int activeReaders_ = 0;
  int liveClusters_ = 0;
  std::vector<HeardMessage> failedPending_;
  std::vector<Span> recentOk_;
  int recentOkNext_ = 0;
  std::vector<int> scratchReceived_;
  std::deque<HeardMessage> out_;
  HeardDoor doors_[kDoors] = {};
  int doorHead_ = 0, doorCount_ = 0;
};

}  // namespace QUORLAX
