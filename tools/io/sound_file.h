// Sound files through libsndfile: reading any format it knows (also from
// standard input as it arrives), writing whole files, and recording.
#pragma once

#include <sndfile.h>

#include <memory>
#include <string>
#include <vector>

#include "io/sample_source.h"

namespace cli {

// Every channel of a sound file, or of standard input for "-" (read as it
// arrives). Throws Error when it cannot be read or holds no audio.
std::unique_ptr<SampleSource> OpenSoundFile(const std::string& path);

// libsndfile's format for a file of mono samples named `path`: the
// extension says which (.wav, .flac, .ogg, .aiff; none means WAV), 16-bit
// unless `float_samples` (WAV and AIFF). Throws Error naming the choices.
int SoundFormatFor(const std::string& path, int rate, bool float_samples);

// Writes mono samples in the format SoundFormatFor names through a
// temporary file, so a failed write leaves nothing behind. Throws Error.
void WriteSoundFile(const std::string& path, const std::vector<float>& samples, int rate, bool float_wav);

// Appends what was heard to a sound file in the format its name says (float
// samples where the format has them), so a session can be looked at later.
class Recorder {
 public:
  Recorder(const std::string& path, int rate);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  // Throws Error when the samples cannot be written.
  void Write(const float* samples, size_t count);

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
};

}  // namespace cli
