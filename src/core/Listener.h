// A listener that never goes deaf and follows the sender: a spectrum at
// four frames to a window shared by every band, a front-door search on each
// in each band over every pitch offset within 2 % (DoorFinder), and for every door
// accepted a reader that measures the tones in the samples where the door
// says they are and learns the sender's tempo as it reads (TokenFollow).
// Readers that fail their check vanish unless failures are asked for.
//
// It owns the stream: callers push any number of samples and Flush at the
// end; a lead-in lets a stream that starts exactly with a transmission be
// heard, and Flush supplies the tail that completes what is in flight.
//
// It lives in one block of memory, the caller's or one the library allocated:
// every array is laid out at creation, and nothing allocates afterwards, not
// even when a message completes. Messages wait in a queue of fixed capacity;
// when the caller leaves it full, the oldest is dropped and counted.
//
// It keeps the samples of the last three tokens or so in 8 bits with a
// scale per 64 (the door search's frames and the readers' tones are read from
// them), and per band the bins its door search reads of two tokens of frames
// in 8 bits. Everything per hop is single precision without libm, so it
// fits a microcontroller's FPU and gives the same bits on every processor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ReedSolomon.h"
#include "core/Arena.h"
#include "core/BandGeometry.h"
#include "core/DoorFinder.h"
#include "core/TokenFollow.h"
#include "core/ToneMatch.h"
#include "fftooura/fftsg.h"

namespace QUORLAX {

struct HeardMessage {
  char text[10];
  bool ok;
  int mode;          // QUORLAX_MODE_* of the band
  long long start;   // first sample of the front door in the caller's stream
  long long end;     // one past the last token's last sample
  float levelDb;     // tone level, dB re a full-scale sine
  float confidence;  // as Decoder::GetConfidence
  float snrDb;       // mean level of its tones above the band, dB
  int corrected;     // message positions the correction changed
  float pitchOffset; // received tone frequencies over the grid's, minus 1
  float tempoOffset; // token rate heard over the nominal, minus 1
};

// A front door as it opens: the start of a reading, before its outcome.
struct HeardDoor {
  int mode;         // QUORLAX_MODE_* of the band
  long long start;  // estimated first sample of the door in the caller's stream
};

struct ListenerSettings {
  int mode;             // QUORLAX_MODE_*
  float sampleRate;     // Hz
  float customBaseHz;   // custom mode only
  int customSeparation;
  bool reportFailed;
  int readers;  // readings in flight at once
  int queue;    // completed messages held
};

class Listener {
 public:
  static constexpr int kMaxBands = 4;           // as many as a mode hears
  static constexpr int kReaders = 8;            // readings in flight (one per door), unless configured
  static constexpr int kQueue = 64;             // completed messages waiting for Next, unless configured
  static constexpr int kDoors = 32;             // front doors waiting for NextDoor
  static constexpr int kMaxCapacity = 1 << 16;  // of readers and queue
  static constexpr float kMaxOffset = 0.021f;   // pitch offsets searched, each way

  // 0 when the settings can be heard; otherwise the C interface's code
  // (-1 mode, -4 also for capacities outside 1..kMaxCapacity, -7). Pure:
  // reads and writes no process-wide setting.
  static int Check(const ListenerSettings& settings);
  // Bytes of a block that holds a listener with these settings (which must
  // pass Check), whatever the block's alignment.
  static size_t Bytes(const ListenerSettings& settings);
  // Builds a listener at the start of `block`; null when `bytes` is too small.
  static Listener* Place(void* block, size_t bytes, const ListenerSettings& settings);
  // Nothing to release: the block is its owner's.
  ~Listener() = default;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Custom mode: another grid (0, -1 not custom, -4, -7). Drops what is in
  // flight; queued messages and positions stay. Every grid needs the same
  // memory, so the block always suffices.
  int SetCustom(float baseHz, int separation);
  void ReportFailed(bool on) { settings_.reportFailed = on; }

  void Push(const float* samples, long long count);
  // End of stream: completes every reading, reports them, and starts afresh.
  void Flush();
  // Takes the oldest completed message; false when there is none.
  bool Next(HeardMessage* out);
  // Takes the oldest front door not yet taken (the newest kDoors are kept).
  bool NextDoor(HeardDoor* out);
  // Messages dropped because the queue was full when they completed.
  long long Dropped() const { return dropped_; }

  const ListenerSettings& Settings() const { return settings_; }

 private:
  struct Reader {
    bool active;
    uint8_t band;
    TokenFollower follow;
  };
  // A passing message's time, band and text: a second reading of the same
  // transmission is not reported again, nor a failed one over it.
  struct Span {
    long long start, end;
    int mode;
    char text[10];
  };
  template <class T>
  struct Queue {  // a ring of fixed capacity
    T* items;
    int capacity, head, count;
    // Appends; a full ring drops its oldest to make room, and says so.
    bool Push(const T& item) {
      const bool full = count == capacity;
      if (full) {
        head = (head + 1) % capacity;
        --count;
      }
      items[(head + count) % capacity] = item;
      ++count;
      return full;
    }
    bool Pop(T* out) {
      if (count == 0) return false;
      *out = items[head];
      head = (head + 1) % capacity;
      --count;
      return true;
    }
  };

  Listener(const ListenerSettings& settings, unsigned char* block, size_t bytes, Arena& arena);
  // Takes every array from `arena` in one fixed order: first those that keep
  // their size whatever the grid, then the bands' (LayOutBands).
  void LayOut(Arena& arena);
  void LayOutBands(Arena& arena);
  // Fills the transform's tables (placing only).
  void Prepare();
  void ResetStream();
  // Appends n samples (zeros when `samples` is null) and runs the hops they complete.
  void Append(const float* samples, int n);
  void Hop();
  void StartReader(int band, const DoorSighting& door);
  // A position in the history's stream, in the caller's samples.
  long long CallerSample(long long heard) const { return segmentStart_ + heard - segmentHeard_; }
  void StepReaders();
  void FinishReader(Reader& r);
  // True when a passing message of the same band and text covers m's time.
  bool Covered(const HeardMessage& m, bool sameText) const;
  void ResolveFailed(bool force);
  void Emit(const HeardMessage& m);
  // Hardened builds: the counts and positions the hop relies on.
  void Validate() const;

  ListenerSettings settings_;
  int window_, hop_, tokenSamples_;
  int doorStride_;  // the door search's frames are every doorStride_-th hop
  int doorHalf_;    // its frames to a token
  int bandCount_ = 0;
  int bandModes_[kMaxBands] = {};
  unsigned char* block_;  // where this listener lives
  size_t blockBytes_;
  size_t bandsOffset_ = 0;  // where the bands' arrays start in the block

  const float* window_fn_;  // the analysis window (constant data)
  CFFTOoura fft_;
  ReedSolomon codec_;
  float* fftTables_ = nullptr;  // the transform's tables and work memory
  int untilFrame_ = 0;  // samples until the next hop
  // Every sample appended (lead-ins and flushing tails too), for the door
  // search and the readers.
  SampleHistory history_;
  long long frameCount_ = 0;     // frames analysed since creation
  long long segmentFrames_ = 0;  // frames analysed in this stream
  long long segmentStart_ = 0;   // caller's sample where this stream began
  long long segmentHeard_ = 0;   // the history's position of that sample
  long long samplesIn_ = 0;

  // The bands: geometry, the grids senders at each protocol rate use (this
  // rate's first), and the door search of each (its arrays in the block).
  BandGeometry geometry_[kMaxBands];
  MultiToneBand senderGrids_[kMaxBands][MultiToneBand::kSenderGrids];
  int senderGridCount_[kMaxBands] = {};
  DoorFinder doors_[kMaxBands];

  Reader* readers_ = nullptr;
  int activeReaders_ = 0;
  HeardMessage* failedPending_ = nullptr;
  int failedCount_ = 0;
  Span* recentOk_ = nullptr;
  int recentOkNext_ = 0;
  Queue<HeardMessage> out_{};
  Queue<HeardDoor> doorsOpened_{};
  long long dropped_ = 0;
};

}  // namespace QUORLAX
