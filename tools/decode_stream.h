// The one decoding loop behind decode, listen and demo: feeds a configured
// decoder in fixed pushes, drains its events and reports whole messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {

class SampleSource;

struct Message {
  std::string text;
  bool ok = false;         // passed its check
  int band = -1;           // QUORLAX_GetDecodedMode
  float confidence = 0.0f;
  float level_db = 0.0f;   // may be -infinity
  double time_s = 0.0;     // estimated start of the transmission in the input
  int channel = 0;         // 1-based channel it was heard on, when that is shown
};

class DecodeStream {
 public:
  using Sink = std::function<void(const Message&)>;
  // Told the estimated start (s) of each front door as it is found.
  using DoorSink = std::function<void(double)>;

  // Throws Error when the mode cannot decode at `rate`.
  DecodeStream(const ModeChoice& choice, int rate, Sink sink, DoorSink door = nullptr);
  ~DecodeStream();
  DecodeStream(const DecodeStream&) = delete;
  DecodeStream& operator=(const DecodeStream&) = delete;

  void Push(const float* samples, size_t count);
  // Flushes the partial push and the closing silence.
  void Finish();

  int Rate() const { return rate_; }
  int64_t SamplesIn() const { return input_samples_; }

 private:
  void FeedBlock();
  void Handle(int event);
  void Drain();
  void PushSilence(int64_t count);
  void Emit();

  void* handle_ = nullptr;
  int rate_;
  Sink sink_;
  DoorSink door_;
  std::vector<float> block_;
  size_t filled_ = 0;
  int64_t lead_;                // silence pushed ahead of the input
  int64_t fed_ = 0;             // samples handed to the decoder
  int64_t input_samples_ = 0;   // samples of the caller's input taken
  int64_t door_fed_ = -1;       // fed_ when the last front door was reported
};

// Rate at which `choice` decodes a stream recorded at `rate`: the rate itself
// when the mode works there, 48000 otherwise.
int DecodingRateFor(const ModeChoice& choice, int rate);

// One channel (0-based) to decode and where its messages go.
struct ChannelSink {
  int channel;
  DecodeStream::Sink sink;
  DecodeStream::DoorSink door = nullptr;
};

// Decodes channels of `input` (already at a rate the mode decodes at) until it
// ends, calling `progress` (0..1) now and then; returns the frames read.
int64_t DecodeChannels(SampleSource& input, const ModeChoice& choice, const std::vector<ChannelSink>& sinks,
                       const std::function<void(double)>& progress);

}  // namespace cli
