// The capture ring of the sound-device layer: order, capacity, drops, one
// channel out of interleaved frames, and a writer and reader on two threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "../device/ring.h"

using quorlax_device::FloatRing;

namespace {

unsigned Seed() {
  const unsigned seed = std::random_device{}();
  std::printf("seed %u\n", seed);
  return seed;
}

}  // namespace

TEST(DeviceRing, KeepsOrderAcrossWrapsAndDropsWhatDoesNotFit) {
  const unsigned seed = Seed();
  std::mt19937 rng(seed);
  for (size_t capacity : {1u, 7u, 64u, 1000u}) {
    FloatRing ring(capacity);
    ASSERT_EQ(ring.Capacity(), capacity);
    std::vector<float> written, read;
    size_t held = 0, dropped = 0, next = 0;
    for (int step = 0; step < 2000; ++step) {
      const size_t n = std::uniform_int_distribution<size_t>(0, 2 * capacity)(rng);
      std::vector<float> in(n);
      for (float& x : in) x = static_cast<float>(next++);
      const size_t kept = ring.Write(in.data(), n, 1);
      ASSERT_EQ(kept, std::min(n, capacity - held)) << "seed " << seed;
      written.insert(written.end(), in.begin(), in.begin() + kept);
      dropped += n - kept;
      held += kept;
      const size_t want = std::uniform_int_distribution<size_t>(0, 2 * capacity)(rng);
      std::vector<float> out(want);
      const size_t got = ring.Read(out.data(), want);
      ASSERT_EQ(got, std::min(want, held)) << "seed " << seed;
      read.insert(read.end(), out.begin(), out.begin() + got);
      held -= got;
    }
    std::vector<float> rest(capacity);
    read.insert(read.end(), rest.begin(), rest.begin() + ring.Read(rest.data(), capacity));
    EXPECT_EQ(read, written) << "capacity " << capacity << ", seed " << seed;
    EXPECT_EQ(written.size() + dropped, next);
  }
}

TEST(DeviceRing, TakesTheFirstChannelOfInterleavedFrames) {
  FloatRing ring(16);
  const std::vector<float> stereo = {1, -1, 2, -2, 3, -3, 4, -4, 5, -5};
  EXPECT_EQ(ring.Write(stereo.data(), 5, 2), 5u);
  std::vector<float> out(8);
  ASSERT_EQ(ring.Read(out.data(), 8), 5u);
  EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 5), (std::vector<float>{1, 2, 3, 4, 5}));
}

TEST(DeviceRing, AWriterAndAReaderOnTwoThreadsLoseNothingThatWasKept) {
  const unsigned seed = Seed();
  FloatRing ring(257);
  constexpr int kTotal = 200000;
  std::atomic<bool> done{false};
  std::vector<float> kept_by_writer;
  std::thread writer([&] {
    std::mt19937 rng(seed);
    std::vector<float> block(100);
    int next = 0;
    while (next < kTotal) {
      const size_t n = std::uniform_int_distribution<size_t>(1, block.size())(rng);
      for (size_t i = 0; i < n; ++i) block[i] = static_cast<float>(next + static_cast<int>(i));
      const size_t kept = ring.Write(block.data(), n, 1);
      kept_by_writer.insert(kept_by_writer.end(), block.begin(), block.begin() + kept);
      next += static_cast<int>(n);
    }
    done.store(true);
  });
  std::vector<float> got;
  std::vector<float> out(64);
  for (;;) {
    const bool finished = done.load();
    const size_t n = ring.Read(out.data(), out.size());
    got.insert(got.end(), out.begin(), out.begin() + n);
    if (finished && n == 0) break;
  }
  writer.join();
  EXPECT_EQ(got, kept_by_writer) << "seed " << seed;
  EXPECT_GT(got.size(), 0u);
}
