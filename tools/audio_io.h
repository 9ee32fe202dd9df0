// Audio in and out: sound files through libsndfile, raw float32 streams,
// and rate conversion through libsoxr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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
  // Seconds of audio a file's header promised when its data ended before
  // them (a file cut short); -1 otherwise. Meaningful once it was read.
  virtual double PromisedSeconds() const { return -1.0; }
};

// Every channel of a sound file, or of standard input for "-" (read as it
// arrives). Throws Error when it cannot be read or holds no audio.
std::unique_ptr<SampleSource> OpenSoundFile(const std::string& path);

// Raw float32 little-endian mono samples from `stream` (not owned).
std::unique_ptr<SampleSource> OpenRawStream(std::FILE* stream, int rate);

// `inner` converted to `rate` Hz (all its channels); `inner` itself when it
// already runs at `rate`.
std::unique_ptr<SampleSource> Resample(std::unique_ptr<SampleSource> inner, int rate);

// Mono `samples` at `from` Hz converted to `to` Hz, as a whole.
std::vector<float> ResampleAll(const std::vector<float>& samples, int from, int to);

// Writes mono samples in the format the extension names (.wav, .flac, .ogg,
// .aiff; none means WAV) through a temporary file, so a failed write leaves
// nothing behind. WAV is 16-bit unless `float_wav`. Throws Error.
void WriteSoundFile(const std::string& path, const std::vector<float>& samples, int rate,
                    bool float_wav);

// Writes raw float32 little-endian samples. Throws Error on a write failure.
void WriteRaw(std::FILE* stream, const std::vector<float>& samples);

}  // namespace cli
