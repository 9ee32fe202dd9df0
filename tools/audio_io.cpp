#include "audio_io.h"

#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "cli.h"

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

// A whole stdin held in memory, so libsndfile can seek in it.
struct MemoryFile {
  std::string bytes;
  sf_count_t pos = 0;
};

sf_count_t MemLength(void* user) { return static_cast<MemoryFile*>(user)->bytes.size(); }

sf_count_t MemSeek(sf_count_t offset, int whence, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->bytes.size() : 0;
  const sf_count_t target = base + offset;
  if (target < 0 || target > static_cast<sf_count_t>(m->bytes.size())) return -1;
  m->pos = target;
  return m->pos;
}

sf_count_t MemRead(void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  const sf_count_t left = static_cast<sf_count_t>(m->bytes.size()) - m->pos;
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, left));
  std::memcpy(ptr, m->bytes.data() + m->pos, static_cast<size_t>(n));
  m->pos += n;
  return n;
}

sf_count_t MemWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t MemTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

std::string SlurpStdin() {
  std::string data;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) {
      data.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      return data;
    } else if (errno != EINTR) {
      throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
    }
  }
}

class SoundFileSource : public SampleSource {
 public:
  SoundFileSource(const std::string& path, int channel) : channel_(channel) {
    SF_INFO info{};
    if (path == "-") {
      memory_.reset(new MemoryFile{SlurpStdin(), 0});
      if (memory_->bytes.empty()) throw Error("standard input holds no audio");
      io_ = SF_VIRTUAL_IO{MemLength, MemSeek, MemRead, MemWrite, MemTell};
      file_ = sf_open_virtual(&io_, SFM_READ, &info, memory_.get());
    } else {
      // libsndfile words a missing file poorly; ask the system first.
      std::FILE* probe = std::fopen(path.c_str(), "rb");
      if (probe == nullptr) throw Error("cannot read '" + path + "': " + std::strerror(errno));
      std::fclose(probe);
      file_ = sf_open(path.c_str(), SFM_READ, &info);
    }
    const std::string name = path == "-" ? "standard input" : "'" + path + "'";
    if (file_ == nullptr) throw Error("cannot read " + name + ": " + sf_strerror(nullptr));
    rate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    if (frames_ <= 0 || channels_ <= 0 || rate_ <= 0) {
      sf_close(file_);
      file_ = nullptr;
      throw Error(name + " holds no audio");
    }
    if (channel_ < 1 || channel_ > channels_) {
      sf_close(file_);
      file_ = nullptr;
      throw Error(name + " has " + std::to_string(channels_) + " channel(s); channel " +
                  std::to_string(channel_) + " does not exist");
    }
  }
  ~SoundFileSource() override {
    if (file_ != nullptr) sf_close(file_);
  }

  size_t Read(float* out, size_t max) override {
    if (channels_ == 1) return static_cast<size_t>(sf_readf_float(file_, out, max));
    const size_t want = std::min<size_t>(max, 4096);
    frames_buf_.resize(want * channels_);
    const sf_count_t got = sf_readf_float(file_, frames_buf_.data(), want);
    for (sf_count_t i = 0; i < got; ++i) out[i] = frames_buf_[i * channels_ + (channel_ - 1)];
    return static_cast<size_t>(std::max<sf_count_t>(got, 0));
  }
  int Rate() const override { return rate_; }
  int64_t Length() const override { return frames_; }

 private:
  std::unique_ptr<MemoryFile> memory_;
  SF_VIRTUAL_IO io_{};
  SNDFILE* file_ = nullptr;
  int channel_;
  int rate_ = 0;
  int channels_ = 0;
  int64_t frames_ = 0;
  std::vector<float> frames_buf_;
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
      : inner_(std::move(inner)), rate_(rate) {
    soxr_error_t err = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_ = soxr_create(inner_->Rate(), rate_, 1, &err, nullptr, &quality, nullptr);
    if (soxr_ == nullptr || err != nullptr)
      throw Error(std::string("cannot resample: ") + (err != nullptr ? err : "soxr failed"));
    in_.resize(4096);
  }
  ~ResampledSource() override { soxr_delete(soxr_); }

  size_t Read(float* out, size_t max) override {
    while (!done_) {
      if (in_used_ == in_have_ && !inner_done_) {
        in_have_ = inner_->Read(in_.data(), in_.size());
        in_used_ = 0;
        inner_done_ = in_have_ == 0;
      }
      size_t consumed = 0, produced = 0;
      // A null input tells soxr the stream ended, so it flushes its tail.
      const float* in = inner_done_ ? nullptr : in_.data() + in_used_;
      soxr_error_t err = soxr_process(soxr_, in, in_have_ - in_used_, &consumed, out, max, &produced);
      if (err != nullptr) throw Error(std::string("cannot resample: ") + err);
      in_used_ += consumed;
      if (produced > 0) return produced;
      if (inner_done_) done_ = true;
    }
    return 0;
  }
  int Rate() const override { return rate_; }
  int64_t Length() const override {
    const int64_t n = inner_->Length();
    return n < 0 ? -1 : static_cast<int64_t>(static_cast<double>(n) * rate_ / inner_->Rate());
  }

 private:
  std::unique_ptr<SampleSource> inner_;
  int rate_;
  soxr_t soxr_ = nullptr;
  std::vector<float> in_;
  size_t in_have_ = 0, in_used_ = 0;
  bool inner_done_ = false, done_ = false;
};

}  // namespace

std::unique_ptr<SampleSource> OpenSoundFile(const std::string& path, int channel) {
  return std::unique_ptr<SampleSource>(new SoundFileSource(path, channel));
}

std::unique_ptr<SampleSource> OpenRawStream(std::FILE* stream, int rate) {
  return std::unique_ptr<SampleSource>(new RawSource(stream, rate));
}

std::unique_ptr<SampleSource> Resample(std::unique_ptr<SampleSource> inner, int rate) {
  if (inner->Rate() == rate) return inner;
  return std::unique_ptr<SampleSource>(new ResampledSource(std::move(inner), rate));
}

void WriteSoundFile(const std::string& path, const std::vector<float>& samples, int rate,
                    bool float_wav) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  const std::string ext =
      dot == std::string::npos || (slash != std::string::npos && dot < slash) ? ""
                                                                              : Lower(path.substr(dot + 1));
  int format;
  if (ext.empty() || ext == "wav") {
    format = SF_FORMAT_WAV | (float_wav ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  } else if (ext == "flac") {
    format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  } else if (ext == "ogg" || ext == "oga") {
    format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  } else if (ext == "aif" || ext == "aiff") {
    format = SF_FORMAT_AIFF | (float_wav ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  } else {
    throw Error("cannot tell the audio format of '" + path + "' (use .wav, .flac, .ogg or .aiff)");
  }
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  if (!sf_format_check(&info))
    throw Error("this libsndfile cannot write ." + ext + " files at " + std::to_string(rate) + " Hz");
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw Error("cannot write '" + path + "': " + sf_strerror(nullptr));
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t written = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  const std::string err = sf_strerror(file);
  if (sf_close(file) != 0 || written != static_cast<sf_count_t>(samples.size()))
    throw Error("cannot write '" + path + "': " + err);
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

std::vector<float> ReadAll(SampleSource& source) {
  std::vector<float> all;
  std::vector<float> buf(8192);
  while (size_t n = source.Read(buf.data(), buf.size())) all.insert(all.end(), buf.begin(), buf.begin() + n);
  return all;
}

}  // namespace cli
