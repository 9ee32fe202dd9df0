// Single-producer single-consumer ring of floats: the capture callback
// writes, one reader thread reads. No locks, no allocation after construction.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace quorlax_device {

class FloatRing {
 public:
  explicit FloatRing(size_t capacity) : buf_(capacity + 1) {}

  size_t Capacity() const { return buf_.size() - 1; }

  // Writes every `stride`-th sample of `in` (one channel of interleaved frames);
  // returns how many fitted.
  size_t Write(const float* in, size_t frames, size_t stride) {
    const size_t w = write_.load(std::memory_order_relaxed);
    const size_t r = read_.load(std::memory_order_acquire);
    const size_t size = buf_.size();
    const size_t free = (r + size - w - 1) % size;
    const size_t n = std::min(frames, free);
    size_t at = w;
    for (size_t i = 0; i < n; ++i) {
      buf_[at] = in[i * stride];
      if (++at == size) at = 0;
    }
    write_.store(at, std::memory_order_release);
    return n;
  }

  size_t Read(float* out, size_t max) {
    const size_t r = read_.load(std::memory_order_relaxed);
    const size_t w = write_.load(std::memory_order_acquire);
    const size_t size = buf_.size();
    const size_t have = (w + size - r) % size;
    const size_t n = std::min(max, have);
    const size_t first = std::min(n, size - r);
    std::copy_n(buf_.data() + r, first, out);
    std::copy_n(buf_.data(), n - first, out + first);
    read_.store((r + n) % size, std::memory_order_release);
    return n;
  }

 private:
  std::vector<float> buf_;
  std::atomic<size_t> write_{0};
  std::atomic<size_t> read_{0};
};

}  // namespace quorlax_device
