// Audio in and out: sound files through libsndfile, raw float32 streams,
// and rate conversion through libsoxr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace cli {

// A mono stream of float samples.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // Up to `max` samples into `out`; 0 only at the end of the stream.
  virtual size_t Read(float* out, size_t max) = 0;
  virtual int Rate() const = 0;
  // Samples in the whole stream at Rate(), or -1 when unknown.
  virtual int64_t Length() const = 0;
};

// One channel (1-based) of a sound file; "-" reads a whole file from stdin.
// Throws Error when the file cannot be read, holds no audio or lacks the channel.
std::unique_ptr<SampleSource> OpenSoundFile(const std::string& path, int channel);

// Raw float32 little-endian mono samples from `stream` (not owned).
std::unique_ptr<SampleSource> OpenRawStream(std::FILE* stream, int rate);

// `inner` converted to `rate` Hz; `inner` itself when it already runs at `rate`.
std::unique_ptr<SampleSource> Resample(std::unique_ptr<SampleSource> inner, int rate);

// Writes mono samples in the format the extension names (.wav, .flac, .ogg,
// .aiff; none means WAV). WAV is 16-bit unless `float_wav`. Throws Error.
void WriteSoundFile(const std::string& path, const std::vector<float>& samples, int rate,
                    bool float_wav);

// Writes raw float32 little-endian samples. Throws Error on a write failure.
void WriteRaw(std::FILE* stream, const std::vector<float>& samples);

// Reads a whole source into memory.
std::vector<float> ReadAll(SampleSource& source);

}  // namespace cli
