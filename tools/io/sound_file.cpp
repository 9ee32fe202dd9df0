#include "audio_io.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "cli.h"
#include "muted_stderr.h"
#include "output_file.h"

namespace cli {
namespace {

bool HostIsLittleEndian() {
  const uint32_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Standard input as a forward-only stream for libsndfile's virtual I/O. Its
// first bytes stay so that a decoder may go back to re-read the header;
// past them it can only move forward. FLAC needs this: libsndfile's pipe
// reading handles WAV, AIFF, AU and Ogg but not FLAC.
class ForwardStream {
 public:
  explicit ForwardStream(int fd) : fd_(fd) {}

  static sf_count_t Length(void*) { return SF_COUNT_MAX; }
  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    auto* s = static_cast<ForwardStream*>(user);
    const sf_count_t target = whence == SEEK_SET ? offset : whence == SEEK_CUR ? s->pos_ + offset : -1;
    if (target < 0) return -1;
    if (target < s->got_ && target >= static_cast<sf_count_t>(s->head_.size())) return -1;  // gone
    char skip[65536];
    while (s->got_ < target) {
      const sf_count_t n = s->Fill(skip, std::min<sf_count_t>(sizeof skip, target - s->got_));
      if (n == 0) return -1;
    }
    s->pos_ = target;
    return target;
  }
  static sf_count_t Read(void* ptr, sf_count_t count, void* user) {
    auto* s = static_cast<ForwardStream*>(user);
    char* out = static_cast<char*>(ptr);
    sf_count_t done = 0;
    if (s->pos_ < s->got_) {
      const sf_count_t kept = static_cast<sf_count_t>(s->head_.size());
      if (s->pos_ >= kept) return 0;
      done = std::min(count, kept - s->pos_);
      std::memcpy(out, s->head_.data() + s->pos_, static_cast<size_t>(done));
      s->pos_ += done;
    }
    if (done < count && s->pos_ == s->got_) {
      const sf_count_t n = s->Fill(out + done, count - done);
      done += n;
      s->pos_ += n;
    }
    return done;
  }
  static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
  static sf_count_t Tell(void* user) { return static_cast<ForwardStream*>(user)->pos_; }

 private:
  static constexpr sf_count_t kHead = 1 << 20;

  sf_count_t Fill(char* out, sf_count_t count) {
    sf_count_t done = 0;
    while (done < count) {
      const ssize_t n = ::read(fd_, out + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
      if (n == 0) break;
      done += n;
    }
    if (got_ < kHead) head_.append(out, static_cast<size_t>(std::min(done, kHead - got_)));
    got_ += done;
    return done;
  }

  int fd_;
  std::string head_;
  sf_count_t pos_ = 0, got_ = 0;
};

// The first bytes waiting in a pipe, left in it (tee(2) copies without
// consuming); empty when `fd` is not a pipe. *ended: the pipe closed empty.
std::string PeekPipe(int fd, size_t count, bool* ended) {
  *ended = false;
  int p[2];
  if (::pipe(p) != 0) return "";
  std::string bytes;
  const ssize_t n = ::tee(fd, p[1], count, 0);
  *ended = n == 0;
  if (n > 0) {
    bytes.resize(static_cast<size_t>(n));
    if (::read(p[0], &bytes[0], bytes.size()) != n) bytes.clear();
  }
  ::close(p[0]);
  ::close(p[1]);
  return bytes;
}

int BytesPerSample(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: return 1;
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 4;
  }
}

// libsndfile's MPEG decoder prints notes of its own about frames it cannot
// read; the program says what went wrong in a line of its own instead.
using quorlax_device::MutedStderr;

// libsndfile's answer when no decoder took a file it could open ("File does
// not exist or is not a regular file"): by then the file is known to exist.
constexpr int kNoDecoderTookIt = 7;

std::string SecondsText(double t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", t);
  return buf;
}

// libsndfile's own words for an error, without its "Error : " in front.
std::string ErrorText(SNDFILE* file) {
  std::string text = sf_strerror(file);
  const std::string prefix = "Error : ";
  if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

class SoundFileSource : public SampleSource {
 public:
  explicit SoundFileSource(const std::string& path) {
    name_ = path == "-" ? "standard input" : "'" + path + "'";
    SF_INFO info{};
    struct stat st {};
    if (path == "-") {
      const bool regular = ::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
      bool ended = false;
      const std::string magic = regular ? "" : PeekPipe(STDIN_FILENO, 4, &ended);
      if (ended) throw Error("standard input holds no audio");
      MutedStderr quiet;
      if (!regular && magic == "fLaC") {
        stream_.reset(new ForwardStream(STDIN_FILENO));
        io_ = SF_VIRTUAL_IO{ForwardStream::Length, ForwardStream::Seek, ForwardStream::Read, ForwardStream::Write,
                            ForwardStream::Tell};
        file_ = sf_open_virtual(&io_, SFM_READ, &info, stream_.get());
      } else {
        // libsndfile reads a pipe as it arrives and seeks in a redirected file.
        file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
      }
      pipe_ = !regular;
    } else {
      // libsndfile words a missing file, a folder or an empty one poorly; ask the system first.
      std::FILE* probe = std::fopen(path.c_str(), "rb");
      if (probe == nullptr) throw Error("cannot read " + name_ + ": " + std::strerror(errno));
      const bool got_stat = ::fstat(fileno(probe), &st) == 0;
      std::fclose(probe);
      if (got_stat && S_ISDIR(st.st_mode))
        throw Error(name_ + " is a folder: decode reads one file (quorlax scan decodes every sound file in folders)");
      if (got_stat && S_ISREG(st.st_mode) && st.st_size == 0) throw Error(name_ + " is empty: it holds no audio");
      MutedStderr quiet;
      file_ = sf_open(path.c_str(), SFM_READ, &info);
    }
    if (file_ == nullptr) {
      const int code = sf_error(nullptr);
      if (code == SF_ERR_UNRECOGNISED_FORMAT)
        throw Error("cannot read " + name_ + ": not a sound file libsndfile knows (raw float32 samples "
                    "need --raw -r RATE)");
      if (code == kNoDecoderTookIt)
        throw Error("cannot read " + name_ + ": no decoder of libsndfile could read it (damaged, or not the "
                    "format its name says)");
      throw Error("cannot read " + name_ + ": " + sf_strerror(nullptr));
    }
    rate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    format_ = info.format;
    if (frames_ <= 0 || channels_ <= 0 || rate_ <= 0) {
      sf_close(file_);
      file_ = nullptr;
      throw Error(name_ + " holds no audio");
    }
  }
  ~SoundFileSource() override {
    if (file_ != nullptr) sf_close(file_);
  }

  size_t Read(float* out, size_t max) override {
    MutedStderr quiet((format_ & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG);
    const sf_count_t got = sf_readf_float(file_, out, static_cast<sf_count_t>(max));
    if (got <= 0) {
      if (sf_error(file_) != SF_ERR_NO_ERROR && error_.empty()) error_ = ErrorText(file_);
      return 0;
    }
    read_ += got;
    return static_cast<size_t>(got);
  }
  int Rate() const override { return rate_; }
  int Channels() const override { return channels_; }
  int64_t Length() const override { return pipe_ ? -1 : frames_; }
  bool Rewind() override {
    if (pipe_ || sf_seek(file_, 0, SEEK_SET) != 0) return false;
    read_ = 0;
    error_.clear();
    return true;
  }

  std::string Damage() const override {
    const int64_t promised = Promised();
    const std::string why = error_.empty() ? "" : " (" + error_ + ")";
    if (promised > read_)
      return "ends after " + SecondsText(static_cast<double>(read_) / rate_) + ", short of the " +
             SecondsText(static_cast<double>(promised) / rate_) + " its header announces: it was cut off" +
             (error_.empty() ? "" : " or damaged" + why);
    if (!error_.empty()) return "is damaged after " + SecondsText(static_cast<double>(read_) / rate_) + why;
    return "";
  }

 private:
  // Frames the header promised when fewer were there to read; -1 otherwise.
  int64_t Promised() const {
    if (pipe_) {
      // Streamed WAVs announce a length of about 2 or 4 GB to mean "unknown".
      const int64_t bytes = frames_ * channels_ * BytesPerSample(format_);
      return read_ < frames_ && bytes < 0x7f000000 ? frames_ : -1;
    }
    // A WAV cut short: libsndfile reads what is there and logs what the
    // header said, "data : <header's bytes> (should be <bytes present>)".
    char log[4096] = {0};
    sf_command(file_, SFC_GET_LOG_INFO, log, sizeof log);
    for (const char* line = log; line != nullptr && *line != '\0';) {
      long long said = 0, present = 0;
      if (std::sscanf(line, "data : %lld (should be %lld)", &said, &present) == 2 && present > 0 && said > present)
        return static_cast<int64_t>(static_cast<double>(frames_) * static_cast<double>(said) /
                                    static_cast<double>(present));
      line = std::strchr(line, '\n');
      if (line != nullptr) ++line;
    }
    // Other formats (FLAC) keep the header's count and stop reading early.
    return read_ < frames_ ? frames_ : -1;
  }

  std::string name_;
  std::unique_ptr<ForwardStream> stream_;
  SF_VIRTUAL_IO io_{};
  SNDFILE* file_ = nullptr;
  bool pipe_ = false;
  int rate_ = 0;
  int channels_ = 0;
  int format_ = 0;
  int64_t frames_ = 0;
  int64_t read_ = 0;
  std::string error_;  // libsndfile's words for a read that failed
};

// Reads with read(2) so a live stream is handed on as soon as it arrives.
class RawSource : public SampleSource {
 public:
  RawSource(std::FILE* stream, int rate) : fd_(fileno(stream)), rate_(rate) {}

  size_t Read(float* out, size_t max) override {
    for (;;) {
      const size_t room = max * 4 - carry_;
      if (bytes_.size() < max * 4) bytes_.resize(max * 4);
      const ssize_t n = eof_ ? 0 : ::read(fd_, bytes_.data() + carry_, room);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
      if (n == 0) eof_ = true;  // a trailing partial sample is dropped
      const size_t have = carry_ + static_cast<size_t>(n);
      const size_t count = have / 4;
      if (count == 0 && !eof_) {
        carry_ = have;
        continue;
      }
      for (size_t i = 0; i < count; ++i) {
        unsigned char b[4];
        std::memcpy(b, bytes_.data() + 4 * i, 4);
        if (!little_) std::swap(b[0], b[3]), std::swap(b[1], b[2]);
        std::memcpy(out + i, b, 4);
      }
      carry_ = have - count * 4;
      std::memmove(bytes_.data(), bytes_.data() + count * 4, carry_);
      return count;
    }
  }
  int Rate() const override { return rate_; }
  int64_t Length() const override { return -1; }

 private:
  int fd_;
  int rate_;
  bool little_ = HostIsLittleEndian();
  bool eof_ = false;
  std::vector<char> bytes_;
  size_t carry_ = 0;
};

class ResampledSource : public SampleSource {
 public:
  ResampledSource(std::unique_ptr<SampleSource> inner, int rate)
      : inner_(std::move(inner)), rate_(rate), channels_(inner_->Channels()) {
    soxr_error_t err = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_ = soxr_create(inner_->Rate(), rate_, static_cast<unsigned>(channels_), &err, nullptr, &quality, nullptr);
    if (soxr_ == nullptr || err != nullptr)
      throw Error(std::string("cannot resample: ") + (err != nullptr ? err : "soxr failed"));
    in_.resize(4096 * static_cast<size_t>(channels_));
  }
  ~ResampledSource() override { soxr_delete(soxr_); }

  size_t Read(float* out, size_t max) override {
    while (!done_) {
      if (in_used_ == in_have_ && !inner_done_) {
        in_have_ = inner_->Read(in_.data(), in_.size() / channels_);
        in_used_ = 0;
        inner_done_ = in_have_ == 0;
      }
      size_t consumed = 0, produced = 0;
      // A null input tells soxr the stream ended, so it flushes its tail.
      const float* in = inner_done_ ? nullptr : in_.data() + in_used_ * channels_;
      soxr_error_t err = soxr_process(soxr_, in, in_have_ - in_used_, &consumed, out, max, &produced);
      if (err != nullptr) throw Error(std::string("cannot resample: ") + err);
      in_used_ += consumed;
      if (produced > 0) return produced;
      if (inner_done_) done_ = true;
    }
    return 0;
  }
  int Rate() const override { return rate_; }
  int Channels() const override { return channels_; }
  int64_t Length() const override {
    const int64_t n = inner_->Length();
    return n < 0 ? -1 : static_cast<int64_t>(static_cast<double>(n) * rate_ / inner_->Rate());
  }
  bool Rewind() override {
    if (!inner_->Rewind()) return false;
    soxr_clear(soxr_);
    in_have_ = in_used_ = 0;
    inner_done_ = done_ = false;
    return true;
  }

 private:
  std::unique_ptr<SampleSource> inner_;
  int rate_;
  int channels_;
  soxr_t soxr_ = nullptr;
  std::vector<float> in_;
  size_t in_have_ = 0, in_used_ = 0;  // frames
  bool inner_done_ = false, done_ = false;
};

// A whole mono buffer, for converting what encode synthesised.
class BufferSource : public SampleSource {
 public:
  BufferSource(const std::vector<float>& samples, int rate) : samples_(samples), rate_(rate) {}
  size_t Read(float* out, size_t max) override {
    const size_t n = std::min(max, samples_.size() - pos_);
    std::copy(samples_.begin() + static_cast<std::ptrdiff_t>(pos_),
              samples_.begin() + static_cast<std::ptrdiff_t>(pos_ + n), out);
    pos_ += n;
    return n;
  }
  int Rate() const override { return rate_; }
  int64_t Length() const override { return static_cast<int64_t>(samples_.size()); }

 private:
  const std::vector<float>& samples_;
  int rate_;
  size_t pos_ = 0;
};

}  // namespace

std::unique_ptr<SampleSource> OpenSoundFile(const std::string& path) {
  return std::unique_ptr<SampleSource>(new SoundFileSource(path));
}

std::unique_ptr<SampleSource> OpenRawStream(std::FILE* stream, int rate) {
  return std::unique_ptr<SampleSource>(new RawSource(stream, rate));
}

std::unique_ptr<SampleSource> Resample(std::unique_ptr<SampleSource> inner, int rate) {
  if (inner->Rate() == rate) return inner;
  return std::unique_ptr<SampleSource>(new ResampledSource(std::move(inner), rate));
}

std::vector<float> ResampleAll(const std::vector<float>& samples, int from, int to) {
  ResampledSource converter(std::unique_ptr<SampleSource>(new BufferSource(samples, from)), to);
  std::vector<float> out;
  out.reserve(static_cast<size_t>(static_cast<double>(samples.size()) * to / from) + 16);
  std::vector<float> buf(8192);
  while (size_t n = converter.Read(buf.data(), buf.size())) out.insert(out.end(), buf.begin(), buf.begin() + n);
  return out;
}

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

void WriteRaw(std::FILE* stream, const std::vector<float>& samples) {
  std::vector<unsigned char> bytes(samples.size() * 4);
  const bool little = HostIsLittleEndian();
  for (size_t i = 0; i < samples.size(); ++i) {
    unsigned char b[4];
    std::memcpy(b, &samples[i], 4);
    if (!little) std::swap(b[0], b[3]), std::swap(b[1], b[2]);
    std::memcpy(bytes.data() + 4 * i, b, 4);
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size() || std::fflush(stream) != 0)
    throw Error(std::string("cannot write audio: ") + std::strerror(errno));
}

}  // namespace cli
