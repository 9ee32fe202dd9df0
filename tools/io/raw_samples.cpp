#include "io/raw_samples.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "cli.h"

namespace cli {
namespace {

bool HostIsLittleEndian() {
  const uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// N bytes in little-endian order as they lie in this host's memory (the same
// swap turns them back).
template <size_t N>
void FromLittleEndian(const char* in, unsigned char (&out)[N]) {
  static const bool little = HostIsLittleEndian();
  for (size_t i = 0; i < N; ++i) out[i] = static_cast<unsigned char>(in[little ? i : N - 1 - i]);
}

class RawSamples : public LiveSource {
 public:
  RawSamples(ByteReader read, int rate, RawFormat format, const std::string& what, std::string head, int64_t limit)
      : read_(std::move(read)), rate_(rate), s16_(format == RawFormat::kInt16), width_(s16_ ? 2 : 4),
        what_(what), bytes_(std::move(head)), limit_(limit) {}

  size_t Read(float* out, size_t max) override {
    if (limit_ >= 0) max = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(max), limit_ - taken_));
    while (max > 0) {
      const size_t whole = bytes_.size() / width_;
      if (whole > 0 || eof_) {
        const size_t n = std::min(whole, max);
        for (size_t i = 0; i < n; ++i) out[i] = Sample(bytes_.data() + i * width_);
        bytes_.erase(0, n * width_);
        taken_ += static_cast<int64_t>(n);
        return n;  // 0 at the end; a trailing partial sample is dropped
      }
      char buf[16384];
      const size_t got = read_(buf, sizeof buf);
      if (got == 0) eof_ = true;
      bytes_.append(buf, got);
    }
    return 0;
  }
  int Rate() const override { return rate_; }
  const std::string& What() const override { return what_; }
  double ReachedInput() const override { return static_cast<double>(taken_); }

 private:
  float Sample(const char* p) const {
    if (s16_) {
      unsigned char b[2];
      FromLittleEndian(p, b);
      int16_t v;
      std::memcpy(&v, b, 2);
      return static_cast<float>(v) / 32768.0f;
    }
    unsigned char b[4];
    FromLittleEndian(p, b);
    float f;
    std::memcpy(&f, b, 4);
    return f;
  }

  ByteReader read_;
  int rate_;
  bool s16_;
  size_t width_;
  std::string what_;
  std::string bytes_;
  int64_t limit_;
  int64_t taken_ = 0;
  bool eof_ = false;
};

}  // namespace

ByteReader ReadFd(int fd) {
  return [fd](char* buf, size_t size) -> size_t {
    for (;;) {
      const ssize_t n = ::read(fd, buf, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
    }
  };
}

std::unique_ptr<LiveSource> OpenRawSamples(ByteReader read, int rate, RawFormat format, const std::string& what,
                                           std::string head, int64_t limit) {
  return std::unique_ptr<LiveSource>(new RawSamples(std::move(read), rate, format, what, std::move(head), limit));
}

void WriteRaw(std::FILE* stream, const std::vector<float>& samples) {
  std::vector<unsigned char> bytes(samples.size() * 4);
  for (size_t i = 0; i < samples.size(); ++i) {
    char b[4];
    std::memcpy(b, &samples[i], 4);
    unsigned char little[4];
    FromLittleEndian(b, little);
    std::memcpy(bytes.data() + 4 * i, little, 4);
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size() || std::fflush(stream) != 0)
    throw Error(std::string("cannot write audio: ") + std::strerror(errno));
}

}  // namespace cli
