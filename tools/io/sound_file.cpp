// Reading sound files, and standard input holding one, through libsndfile.
#include "io/sound_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli.h"
#include "muted_stderr.h"
#include "text.h"

namespace cli {
namespace {

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

}  // namespace

std::unique_ptr<SampleSource> OpenSoundFile(const std::string& path) {
  return std::unique_ptr<SampleSource>(new SoundFileSource(path));
}

}  // namespace cli
