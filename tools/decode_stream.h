// The one decoding loop behind decode, listen, scan and demo: the library's
// listener, fed any count of samples, reporting whole messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

struct QUORLAX_Listener;

namespace cli {

class SampleSource;

struct Message {
  std::string text;
  bool ok = false;         // passed its check
  int band = 0;            // QUORLAX_MODE_* of the band it was heard in
  float confidence = 0.0f;
  float level_db = 0.0f;   // dB re full scale; may be -infinity
  double time_s = 0.0;     // start of its front door in the input
  double end_s = 0.0;      // end of its last token
  int64_t end = 0;         // the same as a sample at the decoding rate (one past the last)
  int channel = 0;         // 1-based channel it was heard on, when that is shown
};

class DecodeStream {
 public:
  using Sink = std::function<void(const Message&)>;
  // A front door as it opens: its band (QUORLAX_MODE_*) and estimated time.
  using DoorSink = std::function<void(int band, double time_s)>;

  // `failed`: also report readings that failed their check; `doors`, when
  // set, hears each front door as it opens. Throws Error when the mode cannot
  // decode at `rate`.
  DecodeStream(const ModeChoice& choice, int rate, Sink sink, bool failed, DoorSink doors = nullptr);
  ~DecodeStream();
  DecodeStream(const DecodeStream&) = delete;
  DecodeStream& operator=(const DecodeStream&) = delete;

  void Push(const float* samples, size_t count);
  // End of stream: completes what is in flight.
  void Finish();

 private:
  void Drain();

  QUORLAX_Listener* listener_ = nullptr;
  int rate_;
  Sink sink_;
  DoorSink doors_;
};

// Rate at which `choice` decodes a stream recorded at `rate`: the rate itself
// when the library works there for the mode, 48000 otherwise.
int DecodingRateFor(const ModeChoice& choice, int rate);

// One channel (0-based) to decode and where its messages go.
struct ChannelSink {
  int channel;
  DecodeStream::Sink sink;
  bool failed = false;               // also readings that failed their check
  DecodeStream::DoorSink doors = nullptr;  // front doors as they open
};

// Decodes channels of `input` (already at a rate the mode decodes at) until it
// ends, calling `progress` (0..1) now and then; returns the frames read.
int64_t DecodeChannels(SampleSource& input, const ModeChoice& choice, const std::vector<ChannelSink>& sinks,
                       const std::function<void(double)>& progress);

}  // namespace cli
