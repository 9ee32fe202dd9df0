#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DecoderAudibleMode.h"
#include "DecoderNonAudibleMode.h"
#include "EncoderAudibleMode.h"
#include "EncoderNonAudibleMode.h"
#include "Globals.h"
#include "test_support.h"

using namespace QUORLAX;

// Counts heap allocations so that the per-hop path can be shown to make none.
// GCC takes the malloc/free pair behind replaced operators for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static std::atomic<long> gAllocations{0};
void* operator new(std::size_t n) {
  ++gAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

constexpr int kChunk = 1024;

// Exposes the frame the encoders send.
struct FrameProbe : EncoderAudible {
  FrameProbe() : EncoderAudible(44100.0f, kChunk, 2048) {}
  using EncoderAudible::BuildFrame;
};

std::vector<int> frameOf(const std::string& msg) {
  FrameProbe probe;
  return probe.BuildFrame(msg.c_str(), static_cast<int>(msg.size()));
}

struct Config {
  bool audible;
  float rate;
  int window;
  int hop;
};

std::unique_ptr<Encoder> makeEncoder(const Config& c) {
  if (c.audible) return std::make_unique<EncoderAudible>(c.rate, kChunk, c.window);
  return std::make_unique<EncoderNonAudible>(c.rate, kChunk, c.window);
}

std::unique_ptr<Decoder> makeDecoder(const Config& c) {
  if (c.audible) return std::make_unique<DecoderAudible>(c.rate, kChunk, c.window);
  return std::make_unique<DecoderNonAudible>(c.rate, kChunk, c.window);
}

std::vector<float> encode(Encoder& enc, const std::string& msg, int type = 0,
                          const std::string& melody = "") {
  const int n = enc.EncodeDataToAudioBuffer(msg.c_str(), type, static_cast<int>(msg.size()), melody.c_str(),
                                            static_cast<int>(melody.size()));
  if (n <= 0) return {};
  return std::vector<float>(enc.mAudioBufferEncodedString, enc.mAudioBufferEncodedString + n);
}

// Lead-in that puts the first full analysis window at the first sample.
std::vector<float> padded(const Config& c, const std::vector<float>& tx) {
  std::vector<float> x(c.window - c.hop, 0.0f);
  x.insert(x.end(), tx.begin(), tx.end());
  x.resize(x.size() + 4 * kChunk, 0.0f);
  return x;
}

struct Outcome {
  std::vector<int> events;
  int readOut = -100;
  std::string text;
};

// Pushes 1024-sample chunks, draining each event with empty pushes; reads
// the message out at the first -3.
Outcome run(Decoder& dec, const std::vector<float>& x) {
  Outcome o;
  std::vector<float> chunk(kChunk);
  auto record = [&](int e) {
    o.events.push_back(e);
    if (e == -3 && o.readOut == -100) {
      char buf[32] = {};
      o.readOut = dec.GetDecodedData(buf);
      o.text = buf;
    }
  };
  for (size_t pos = 0; pos + kChunk <= x.size(); pos += kChunk) {
    std::memcpy(chunk.data(), x.data() + pos, sizeof(float) * kChunk);
    int e = dec.DecodeAudioBuffer(chunk.data(), kChunk);
    while (e != -1) {
      record(e);
      e = dec.DecodeAudioBuffer(nullptr, 0);
    }
  }
  return o;
}

std::vector<int> expectedEvents(const std::string& msg) {
  const std::vector<int> frame = frameOf(msg);
  std::vector<int> ev{-2};
  ev.insert(ev.end(), frame.begin() + 2, frame.end());
  ev.push_back(-3);
  return ev;
}

void expectDecodes(const Outcome& o, const std::string& msg) {
  EXPECT_EQ(o.events, expectedEvents(msg));
  EXPECT_EQ(o.readOut, 9);
  EXPECT_EQ(o.text, msg);
}

// Seeded Gaussian samples, the same on every standard library.
class Gaussian {
 public:
  explicit Gaussian(unsigned seed) : rng_(seed) {}
  double operator()() {
    const double u1 = (double(rng_()) + 1.0) / 4294967297.0;
    const double u2 = double(rng_()) / 4294967296.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
  }

 private:
  std::mt19937 rng_;
};

const Config kAudible44{true, 44100.0f, 2048, 256};
const Config kAudible48{true, 48000.0f, 2048, 64};
const Config kAudible22{true, 22050.0f, 1024, 128};
const Config kNonAudible44{false, 44100.0f, 2048, 256};
const Config kNonAudible48{false, 48000.0f, 2048, 64};

std::string name(const Config& c) {
  return std::string(c.audible ? "Audible" : "NonAudible") + std::to_string(static_cast<int>(c.rate));
}

// ---------------------------------------------------------------------------
// Round trips.

struct RoundTripCase {
  Config config;
  std::string msg;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, DecodesEveryToken) {
  const RoundTripCase& p = GetParam();
  auto enc = makeEncoder(p.config);
  auto dec = makeDecoder(p.config);
  const Outcome o = run(*dec, padded(p.config, encode(*enc, p.msg)));
  expectDecodes(o, p.msg);
  EXPECT_EQ(dec->GetConfidence(), 0.0f);
  EXPECT_TRUE(std::isinf(dec->GetReceivedZunsVolume()) && dec->GetReceivedZunsVolume() < 0);
}

INSTANTIATE_TEST_SUITE_P(
    Grids, RoundTrip,
    ::testing::Values(RoundTripCase{kAudible44, "hello1234"}, RoundTripCase{kAudible48, "hello1234"},
                      RoundTripCase{kAudible22, "hello1234"}, RoundTripCase{kNonAudible44, "hello1234"},
                      RoundTripCase{kNonAudible48, "hello1234"}, RoundTripCase{kAudible44, "aaaaaaaaa"},
                      RoundTripCase{kAudible44, "abababab0"}, RoundTripCase{kNonAudible44, "aaaaaaaaa"},
                      RoundTripCase{kNonAudible48, "abababab0"}, RoundTripCase{kAudible48, "aaaaaaaaa"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& i) {
      return name(i.param.config) + "_" + i.param.msg;
    });

class Noisy : public ::testing::TestWithParam<Config> {};

TEST_P(Noisy, DecodesInWhiteNoise) {
  const Config c = GetParam();
  auto enc = makeEncoder(c);
  auto dec = makeDecoder(c);
  std::vector<float> x = padded(c, encode(*enc, "hello1234"));
  double power = 0.0;
  for (float v : x) power += double(v) * v;
  power /= 20 * Globals::samplesPerToken(c.rate);
  const double snrDb = -5.0;  // over the whole band; about 7 dB above where decoding starts to fail
  const double sigma = std::sqrt(power / std::pow(10.0, snrDb / 10.0));
  Gaussian noise(1234);
  for (float& v : x) v = static_cast<float>(v + sigma * noise());
  expectDecodes(run(*dec, x), "hello1234");
}

INSTANTIATE_TEST_SUITE_P(Grids, Noisy, ::testing::Values(kAudible44, kAudible48, kNonAudible44),
                         [](const ::testing::TestParamInfo<Config>& i) { return name(i.param); });

// A second transmission on the same stream decodes too, and once the first
// has sized everything, decoding it allocates nothing.
TEST(Stream, BackToBackWithoutAllocation) {
  for (const Config& c : {kAudible44, kNonAudible48}) {
    auto enc = makeEncoder(c);
    auto dec = makeDecoder(c);
    const std::vector<float> first = padded(c, encode(*enc, "hello1234"));
    const std::vector<float> second = padded(c, encode(*enc, "vutsrqpon"));
    expectDecodes(run(*dec, first), "hello1234");
    std::vector<float> chunk(kChunk);
    std::vector<int> events;
    events.reserve(64);
    const long before = gAllocations;
    ASSERT_GT(before, 0);  // the counter is live
    for (size_t pos = 0; pos + kChunk <= second.size(); pos += kChunk) {
      std::memcpy(chunk.data(), second.data() + pos, sizeof(float) * kChunk);
      for (int e = dec->DecodeAudioBuffer(chunk.data(), kChunk); e != -1;
           e = dec->DecodeAudioBuffer(nullptr, 0))
        events.push_back(e);
    }
    EXPECT_EQ(gAllocations - before, 0) << name(c);
    EXPECT_EQ(events, expectedEvents("vutsrqpon")) << name(c);
    char text[32] = {};
    EXPECT_EQ(dec->GetDecodedData(text), 9);
    EXPECT_STREQ(text, "vutsrqpon");
  }
}

// ---------------------------------------------------------------------------
// Reverberation.

void fft(std::vector<std::complex<double>>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double ang = 2 * M_PI / double(len) * (inverse ? 1 : -1);
    const std::complex<double> wl(std::cos(ang), std::sin(ang));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0);
      for (size_t k = 0; k < len / 2; ++k, w *= wl) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
  if (inverse)
    for (auto& v : a) v /= double(n);
}

std::vector<float> convolve(const std::vector<float>& x, const std::vector<float>& h) {
  size_t n = 1;
  while (n < x.size() + h.size()) n <<= 1;
  std::vector<std::complex<double>> a(n), b(n);
  for (size_t i = 0; i < x.size(); ++i) a[i] = x[i];
  for (size_t i = 0; i < h.size(); ++i) b[i] = h[i];
  fft(a, false);
  fft(b, false);
  for (size_t i = 0; i < n; ++i) a[i] *= b[i];
  fft(a, true);
  std::vector<float> y(x.size() + h.size() - 1);
  for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(a[i].real());
  return y;
}

// Direct path plus an exponentially decaying noise tail (RT60 `rt60` s)
// carrying `tailToDirectDb` of the direct path's energy.
std::vector<float> roomResponse(float rate, double rt60, double tailToDirectDb, unsigned seed) {
  const size_t n = static_cast<size_t>(rt60 * rate);
  std::vector<float> h(n);
  Gaussian g(seed);
  double energy = 0.0;
  std::vector<double> tail(n);
  for (size_t i = 1; i < n; ++i) {
    tail[i] = g() * std::exp(-6.907755 * double(i) / (rt60 * rate));
    energy += tail[i] * tail[i];
  }
  const double scale = std::sqrt(std::pow(10.0, tailToDirectDb / 10.0) / energy);
  h[0] = 1.0f;
  for (size_t i = 1; i < n; ++i) h[i] = static_cast<float>(tail[i] * scale);
  return h;
}

int tokenErrors(const Outcome& o, const std::string& msg) {
  const std::vector<int> want = expectedEvents(msg);
  int errors = 0;
  for (size_t i = 1; i + 1 < want.size(); ++i) errors += i >= o.events.size() || o.events[i] != want[i];
  return errors;
}

// RT60 0.5 s, reverberant tail 12 dB above the direct path. The bin limit
// mEndBin - mBeginBin + 1 leaves tokens 16..31 untreated; here it costs a
// token that the spectrum-wide limit keeps (Reed-Solomon still repairs it).
TEST(Reverb, SpectrumWideLimitKeepsEveryToken) {
  const Config c = kAudible44;
  EncoderAudible enc(c.rate, kChunk, c.window);
  const std::vector<float> x =
      convolve(padded(c, encode(enc, "hello1234")), roomResponse(c.rate, 0.5, 12.0, 6));

  DecoderAudible dec(c.rate, kChunk, c.window);
  ASSERT_EQ(dec.mSingleTone->deReverbBins, dec.mSpectralAnalysis->mSpecSize);
  expectDecodes(run(dec, x), "hello1234");

  DecoderAudible narrow(c.rate, kChunk, c.window);
  narrow.mSingleTone->deReverbBins = narrow.mEndBin - narrow.mBeginBin + 1;
  const Outcome o = run(narrow, x);
  EXPECT_GT(tokenErrors(o, "hello1234"), 0);
  EXPECT_EQ(o.readOut, 9);
}

// ---------------------------------------------------------------------------
// Encoder output.

struct SlotCase {
  float rate;
  int samplesPerDigit, fadeBegin, gap;
  uint32_t crc;  // of the whole "hello1234" transmission
};

class SlotTiming : public ::testing::TestWithParam<SlotCase> {};

TEST_P(SlotTiming, SlotsFollowTheEnvelope) {
  const SlotCase s = GetParam();
  const int window = s.rate == 22050.0f ? 1024 : 2048;
  EncoderAudible enc(s.rate, kChunk, window);
  const std::vector<float> y = encode(enc, "hello1234");
  ASSERT_EQ(y.size(), size_t(20) * s.samplesPerDigit);
  EXPECT_EQ(qtest::Crc32(y.data(), y.size() * sizeof(float)), s.crc);
  for (int slot = 0; slot < 20; ++slot) {
    const float* x = y.data() + slot * s.samplesPerDigit;
    EXPECT_EQ(x[0], 0.0f);
    // The fade-in is over at fadeBegin: the envelope is flat from there on.
    float peakIn = 0.0f, peakOut = 0.0f;
    for (int t = 0; t < s.fadeBegin / 4; ++t) peakIn = std::max(peakIn, std::fabs(x[t]));
    for (int t = s.fadeBegin; t < s.fadeBegin + 400; ++t) peakOut = std::max(peakOut, std::fabs(x[t]));
    EXPECT_LT(peakIn, 0.3f * peakOut) << "slot " << slot;
    int zerosAtEnd = 0;
    while (zerosAtEnd < s.samplesPerDigit && x[s.samplesPerDigit - 1 - zerosAtEnd] == 0.0f) ++zerosAtEnd;
    if (slot == 0)
      EXPECT_EQ(zerosAtEnd, 0);
    else
      EXPECT_EQ(zerosAtEnd, s.gap);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, SlotTiming,
                         ::testing::Values(SlotCase{44100.0f, 4608, 345, 460, 0x5ddbe7e1u},
                                           SlotCase{48000.0f, 5015, 376, 501, 0xc579c23eu},
                                           SlotCase{22050.0f, 2304, 172, 230, 0x3a570bf1u}));

TEST(Encoder, LengthsTypesAndRejection) {
  for (const Config& c : {kAudible44, kNonAudible44, kAudible48, kNonAudible48}) {
    auto enc = makeEncoder(c);
    const std::vector<float> plain = encode(*enc, "hello1234", 0);
    EXPECT_EQ(plain.size(), c.rate == 44100.0f ? 92160u : 100300u) << name(c);
    EXPECT_EQ(encode(*enc, "hello1234", 3), plain) << name(c);
    const std::vector<float> synth = encode(*enc, "hello1234", 1);
    EXPECT_EQ(synth.size(), plain.size());
    EXPECT_NE(synth, plain);

    const int spd = Globals::samplesPerToken(c.rate);
    EXPECT_EQ(encode(*enc, "hello1234", 2, "abc").size(), plain.size());
    EXPECT_EQ(encode(*enc, "hello1234", 2, std::string(25, 'c')).size(), size_t(25) * spd);

    encode(*enc, "hello1234", 0);
    const int before = enc->mNumSamplesEncodedString;
    EXPECT_EQ(enc->EncodeDataToAudioBuffer("hello123", 0, 8, "", 0), -4);
    EXPECT_EQ(enc->EncodeDataToAudioBuffer("hello12!4", 0, 9, "", 0), -4);
    EXPECT_EQ(enc->EncodeDataToAudioBuffer("hello1234", 2, 9, nullptr, 3), -4);
    EXPECT_EQ(enc->mNumSamplesEncodedString, before);
    EXPECT_EQ(std::vector<float>(enc->mAudioBufferEncodedString, enc->mAudioBufferEncodedString + before),
              plain);
  }
}

TEST(Encoder, MelodyBlendsUnderTheData) {
  const struct {
    float rate;
    int window, spd;
    uint32_t crc;  // of "hello1234" under the melody "a5"
  } cases[] = {{44100.0f, 2048, 4608, 0xa13ec791u}, {48000.0f, 2048, 5015, 0x1ef444dfu},
               {22050.0f, 1024, 2304, 0xa6cdef6cu}};
  for (const auto& c : cases) {
    EncoderAudible enc(c.rate, kChunk, c.window);
    const std::vector<float> plain = encode(enc, "hello1234");
    const std::vector<float> mixed = encode(enc, "hello1234", 2, "a5");
    ASSERT_EQ(mixed.size(), plain.size());
    EXPECT_EQ(qtest::Crc32(mixed.data(), mixed.size() * sizeof(float)), c.crc) << c.rate;
    EXPECT_NE(mixed[c.spd / 2], plain[c.spd / 2]);
    // Only the first two slots carry notes.
    EXPECT_TRUE(std::equal(mixed.begin() + 2 * c.spd, mixed.end(), plain.begin() + 2 * c.spd)) << c.rate;
  }
}

// ---------------------------------------------------------------------------
// Decoder configuration and front door.

struct GridCase {
  Config config;
  bool supported;
  int beginBin, endBin, mode;
};

class Grid : public ::testing::TestWithParam<GridCase> {};

TEST_P(Grid, BinsModeAndSupport) {
  const GridCase g = GetParam();
  const Config& c = g.config;
  const bool supported =
      c.audible ? DecoderAudible::Supports(c.rate, c.window) : DecoderNonAudible::Supports(c.rate, c.window);
  EXPECT_EQ(supported, g.supported);
  if (!supported) {
    // The decoder stays inert rather than read past the spectrum.
    auto dec = makeDecoder(c);
    auto enc = makeEncoder(kNonAudible44);
    EXPECT_TRUE(run(*dec, padded(c, encode(*enc, "hello1234"))).events.empty());
    return;
  }
  auto dec = makeDecoder(c);
  EXPECT_EQ(dec->GetDecodedMode(), g.mode);
  EXPECT_EQ(dec->mBeginBin, g.beginBin);
  EXPECT_EQ(dec->mEndBin, g.endBin);
  EXPECT_EQ(dec->mBinWidth, 1);  // the de-reverberation width is the detector's own
  EXPECT_EQ(dec->mFreqsBins[0], g.beginBin);
  EXPECT_EQ(dec->mFreqsBins[31], g.endBin);
  EXPECT_TRUE(dec->mBands.empty());
}

INSTANTIATE_TEST_SUITE_P(Grids, Grid,
                         ::testing::Values(GridCase{kAudible44, true, 153, 463, 0},
                                           GridCase{kNonAudible44, true, 780, 997, 1},
                                           GridCase{kAudible48, true, 141, 420, 0},
                                           GridCase{kNonAudible48, true, 717, 934, 1},
                                           GridCase{kAudible22, true, 153, 463, 0},
                                           GridCase{{false, 22050.0f, 1024, 128}, false, 0, 0, 1}),
                         [](const ::testing::TestParamInfo<GridCase>& i) { return name(i.param.config); });

struct DoorCase {
  Config config;
  int first, second, secondAsSecond;
  bool found;
};

class FrontDoor : public ::testing::TestWithParam<DoorCase> {};

TEST_P(FrontDoor, Thresholds) {
  const DoorCase d = GetParam();
  auto owner = makeDecoder(d.config);
  auto& dec = static_cast<DecoderAudible&>(*owner);
  const int n = dec.mSizeBlockCircularBuffer, h = n / 2;
  dec.mReadPosInBlockCircularBuffer = 0;
  dec.mWritePosInBlockCircularBuffer = n - 1;
  for (int i = 0; i < n; ++i) {
    const bool firstHalf = i < h;
    const int k = firstHalf ? i : i - h;
    dec.mBlockEnergyRatiosTokenIdx[i] = firstHalf ? (k < d.first ? 1 : 7) : (k < d.second ? 19 : 7);
    dec.mBlockEnergyRatiosTokenIdx2[i] =
        !firstHalf && k >= d.second && k < d.second + d.secondAsSecond ? 19 : 3;
  }
  EXPECT_EQ(dec.mSingleTone->SearchFrontDoor(dec.Spectra(), dec.mWritePosInBlockCircularBuffer,
                                             &dec.mReadPosInBlockCircularBuffer),
            d.found);
  EXPECT_EQ(dec.mReadPosInBlockCircularBuffer, d.found ? n - 1 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FrontDoor,
    ::testing::Values(DoorCase{kAudible44, 16, 7, 0, true}, DoorCase{kAudible44, 16, 6, 0, false},
                      DoorCase{kAudible44, 15, 18, 0, false}, DoorCase{kAudible44, 18, 6, 10, true},
                      DoorCase{kAudible44, 18, 6, 9, false}, DoorCase{kAudible48, 70, 31, 0, true},
                      DoorCase{kAudible48, 70, 30, 0, false}, DoorCase{kAudible48, 69, 79, 0, false},
                      DoorCase{kAudible48, 78, 30, 40, true}, DoorCase{kAudible48, 78, 30, 39, false}));

}  // namespace
