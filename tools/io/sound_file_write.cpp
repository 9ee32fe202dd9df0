// Writing sound files through libsndfile: whole files that appear complete or
// not at all, and recordings that grow as a device is heard.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli.h"
#include "io/output_file.h"
#include "io/sound_file.h"
#include "text.h"

namespace cli {
namespace {

// libsndfile writes through these so the errno of a failed write is kept:
// its own message for a full disk names the codec, not the disk.
sf_count_t OutLength(void* user) {
  struct stat st {};
  return ::fstat(static_cast<OutputFile*>(user)->fd(), &st) == 0 ? st.st_size : -1;
}

sf_count_t OutSeek(sf_count_t offset, int whence, void* user) {
  auto* out = static_cast<OutputFile*>(user);
  const off_t at = ::lseek(out->fd(), offset, whence);
  if (at < 0) out->RecordError(errno);
  return at;
}

sf_count_t OutRead(void* ptr, sf_count_t count, void* user) {
  const ssize_t n = ::read(static_cast<OutputFile*>(user)->fd(), ptr, static_cast<size_t>(count));
  return n < 0 ? 0 : n;
}

sf_count_t OutWrite(const void* ptr, sf_count_t count, void* user) {
  auto* out = static_cast<OutputFile*>(user);
  const char* p = static_cast<const char*>(ptr);
  sf_count_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(out->fd(), p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      out->RecordError(n < 0 ? errno : EIO);
      break;
    }
    done += n;
  }
  return done;
}

sf_count_t OutTell(void* user) { return ::lseek(static_cast<OutputFile*>(user)->fd(), 0, SEEK_CUR); }

}  // namespace

int SoundFormatFor(const std::string& path, int rate, bool float_samples) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  const std::string ext =
      dot == std::string::npos || (slash != std::string::npos && dot < slash) ? ""
                                                                              : Lower(path.substr(dot + 1));
  int format;
  if (ext.empty() || ext == "wav") {
    // Float data in plain WAV gets a format chunk without its size field;
    // the extensible header is complete.
    format = float_samples ? SF_FORMAT_WAVEX | SF_FORMAT_FLOAT : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  } else if (ext == "flac") {
    format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  } else if (ext == "ogg" || ext == "oga") {
    format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  } else if (ext == "aif" || ext == "aiff") {
    format = SF_FORMAT_AIFF | (float_samples ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  } else {
    throw Error("cannot tell the audio format of '" + path + "' (use .wav, .flac, .ogg or .aiff)");
  }
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  if (!sf_format_check(&info))
    throw Error("this libsndfile cannot write ." + ext + " files at " + std::to_string(rate) + " Hz");
  return format;
}

void WriteSoundFile(const std::string& path, const std::vector<float>& samples, int rate,
                    bool float_wav) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SoundFormatFor(path, rate, float_wav);
  OutputFile out(path);
  SF_VIRTUAL_IO io{OutLength, OutSeek, OutRead, OutWrite, OutTell};
  SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &out);
  if (file == nullptr) {
    const std::string why = out.error() != 0 ? std::strerror(out.error()) : sf_strerror(nullptr);
    throw Error("cannot write '" + path + "': " + why);
  }
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t written = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  const std::string err = sf_strerror(file);
  const bool closed = sf_close(file) == 0;
  if (out.error() == 0 && (!closed || written != static_cast<sf_count_t>(samples.size())))
    throw Error("cannot write '" + path + "': " + err);
  out.Commit();  // names the system's reason when a write failed
}

Recorder::Recorder(const std::string& path, int rate) : path_(path) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SoundFormatFor(path, rate, true);
  file_ = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file_ == nullptr) throw Error("cannot write '" + path + "': " + sf_strerror(nullptr));
  // Keep a WAV or AIFF header current, so the file is whole even if the
  // program is cut short (Ogg has no such header, and is spoilt by trying).
  const int major = info.format & SF_FORMAT_TYPEMASK;
  if (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_AIFF)
    sf_command(file_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
}

Recorder::~Recorder() { sf_close(file_); }

void Recorder::Write(const float* samples, size_t count) {
  if (sf_writef_float(file_, samples, static_cast<sf_count_t>(count)) != static_cast<sf_count_t>(count))
    throw Error("cannot write '" + path_ + "': " + sf_strerror(file_));
}

}  // namespace cli
