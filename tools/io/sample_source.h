// What every input of the program is to the commands: a stream of frames of
// float samples, from a sound file, raw samples, a device or a converter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace cli {

// A stream of interleaved frames of float samples.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // Up to `max` frames (Channels() samples each) into `out`; 0 only at the end.
  virtual size_t Read(float* out, size_t max) = 0;
  virtual int Rate() const = 0;
  virtual int Channels() const { return 1; }
  // Frames in the whole stream at Rate(), or -1 when unknown.
  virtual int64_t Length() const = 0;
  // Starts again from the first frame; false when the input cannot go back.
  virtual bool Rewind() { return false; }
  // Once read to its end: what went wrong with a file cut short or damaged
  // on the way ("ends after 1.20 s, short of the 2.00 s its header
  // announces: ..."), to follow its name; empty for a whole file.
  virtual std::string Damage() const { return ""; }
};

// A live input (a device, or standard input as it arrives), which also knows
// how far its input has got.
class LiveSource : public SampleSource {
 public:
  int64_t Length() const override { return -1; }
  // What it reads from, for messages: "'pulse'", "standard input".
  virtual const std::string& What() const = 0;
  // Samples that have reached the input, also those not yet read.
  virtual double ReachedInput() const = 0;
};

}  // namespace cli
