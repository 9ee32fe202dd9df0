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
  // Once read to its end: what went wrong with a file cut short or damaged
  // on the way ("ends after 1.20 s, short of the 2.00 s its header
  // announces: ..."), to follow its name; empty for a whole file.
  virtual std::string Damage() const { return ""; }
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

// libsndfile's format for a file of mono samples named `path`: the
// extension says which (.wav, .flac, .ogg, .aiff; none means WAV), 16-bit
// unless `float_samples` (WAV and AIFF). Throws Error naming the choices.
int SoundFormatFor(const std::string& path, int rate, bool float_samples);

// Writes mono samples in the format SoundFormatFor names through a
// temporary file, so a failed write leaves nothing behind. Throws Error.
void WriteSoundFile(const std::string& path, const std::vector<float>& samples, int rate,
                    bool float_wav);

// Writes raw float32 little-endian samples. Throws Error on a write failure.
void WriteRaw(std::FILE* stream, const std::vector<float>& samples);

}  // namespace cli
