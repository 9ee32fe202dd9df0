#include "io/resample.h"

#include <soxr.h>

#include <algorithm>
#include <vector>

#include "cli.h"

namespace cli {
namespace {

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

}  // namespace cli
