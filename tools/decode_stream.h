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
};

class DecodeStream {
 public:
  using Sink = std::function<void(const Message&)>;

  // Throws Error when the mode cannot decode at `rate`.
  DecodeStream(const ModeChoice& choice, int rate, Sink sink);
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

// Decodes a whole source at the right rate, calling `progress` (0..1) now and then.
void DecodeSource(std::unique_ptr<SampleSource> source, const ModeChoice& choice,
                  const DecodeStream::Sink& sink, const std::function<void(double)>& progress);

}  // namespace cli
