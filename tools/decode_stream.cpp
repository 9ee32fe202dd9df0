#include "decode_stream.h"

#include <algorithm>
#include <cmath>

#include "ZunCoreLib_api.h"
#include "audio_io.h"

namespace cli {
namespace {

constexpr int kPush = 1024;
constexpr int kTailSilence = 4096;
constexpr int kTokens = 20;

// The decoder's first analysis frame ends where the input begins, so a
// transmission at sample 0 still has frames before its front door:
// window minus hop at each rate.
int64_t LeadSilence(int rate) {
  if (rate == 48000) return 2048 - 64;
  if (rate == 22050) return 1024 - 128;
  return 2048 - 256;
}

int TokenSamples(int rate) { return static_cast<int>(0.10448979586362839f * static_cast<float>(rate)); }

// How far the input had gone past a transmission's start when its front
// door was reported, in tokens: measured on clean and noisy recordings.
constexpr double kDoorLagTokens = 2.0;

}  // namespace

int DecodingRateFor(const ModeChoice& choice, int rate) {
  if (rate != 44100 && rate != 48000 && rate != 22050) return 48000;
  void* probe = QUORLAX_Create();
  if (probe == nullptr) throw Error("out of memory");
  const int r = ConfigureHandle(probe, choice, rate, kPush);
  QUORLAX_Destroy(probe);
  return r == QUORLAX_OK ? rate : 48000;
}

DecodeStream::DecodeStream(const ModeChoice& choice, int rate, Sink sink, DoorSink door)
    : rate_(rate), sink_(std::move(sink)), door_(std::move(door)), block_(kPush), lead_(LeadSilence(rate)) {
  handle_ = QUORLAX_Create();
  if (handle_ == nullptr) throw Error("out of memory");
  const int r = ConfigureHandle(handle_, choice, rate, kPush);
  if (r != QUORLAX_OK) {
    QUORLAX_Destroy(handle_);
    handle_ = nullptr;
    throw Error(ConfigureErrorText(r, choice, rate));
  }
  PushSilence(lead_);
}

DecodeStream::~DecodeStream() { QUORLAX_Destroy(handle_); }

void DecodeStream::PushSilence(int64_t count) {
  while (count > 0) {
    const size_t n = std::min<int64_t>(count, static_cast<int64_t>(kPush - filled_));
    std::fill(block_.begin() + filled_, block_.begin() + filled_ + n, 0.0f);
    filled_ += n;
    count -= n;
    if (filled_ == static_cast<size_t>(kPush)) FeedBlock();
  }
}

void DecodeStream::Push(const float* samples, size_t count) {
  input_samples_ += static_cast<int64_t>(count);
  while (count > 0) {
    const size_t n = std::min(count, kPush - filled_);
    std::copy(samples, samples + n, block_.begin() + filled_);
    filled_ += n;
    samples += n;
    count -= n;
    if (filled_ == static_cast<size_t>(kPush)) FeedBlock();
  }
}

void DecodeStream::Finish() {
  PushSilence(kTailSilence);
  if (filled_ > 0) FeedBlock();
}

void DecodeStream::FeedBlock() {
  const int size = static_cast<int>(filled_);
  filled_ = 0;
  int r = QUORLAX_DecodeAudioBuffer(block_.data(), size, handle_);
  if (r == QUORLAX_ERROR_BUFFER_FULL) {
    Drain();
    r = QUORLAX_DecodeAudioBuffer(block_.data(), size, handle_);
  }
  if (r == QUORLAX_ERROR_BUFFER_FULL || r == QUORLAX_ERROR_INVALID_ARGUMENT ||
      r == QUORLAX_ERROR_NOT_CONFIGURED)
    throw Error(std::string("decoder: ") + QUORLAX_GetErrorText(r));
  fed_ += size;
  Handle(r);
  Drain();
}

void DecodeStream::Drain() {
  for (;;) {
    const int r = QUORLAX_DecodeAudioBuffer(nullptr, 0, handle_);
    if (r == QUORLAX_NOT_READY) return;
    if (r == QUORLAX_ERROR_INVALID_ARGUMENT || r == QUORLAX_ERROR_NOT_CONFIGURED ||
        r == QUORLAX_ERROR_BUFFER_FULL)
      throw Error(std::string("decoder: ") + QUORLAX_GetErrorText(r));
    Handle(r);
  }
}

void DecodeStream::Handle(int event) {
  if (event == QUORLAX_FRONT_DOOR) {
    door_fed_ = fed_;
    if (door_)
      door_(std::max(0.0, (static_cast<double>(fed_) - kDoorLagTokens * TokenSamples(rate_) -
                           static_cast<double>(lead_)) / rate_));
  }
  if (event == QUORLAX_MESSAGE_COMPLETE) Emit();
}

void DecodeStream::Emit() {
  char text[16] = {0};
  const int r = QUORLAX_GetDecodedData(text, handle_);
  if (r != 9 && r != QUORLAX_CHECK_FAILED) return;
  Message m;
  m.text = text;
  m.ok = r == 9;
  m.band = QUORLAX_GetDecodedMode(handle_);
  m.confidence = QUORLAX_GetConfidence(handle_);
  m.level_db = QUORLAX_GetReceivedZunsVolume(handle_);
  const double token = TokenSamples(rate_);
  // Without a front door report, count back a whole transmission instead.
  const double end = door_fed_ >= 0 ? static_cast<double>(door_fed_) - kDoorLagTokens * token
                                    : static_cast<double>(fed_) - kTokens * token;
  m.time_s = std::max(0.0, (end - static_cast<double>(lead_)) / rate_);
  door_fed_ = -1;
  sink_(m);
}

int64_t DecodeChannels(SampleSource& input, const ModeChoice& choice, const std::vector<ChannelSink>& sinks,
                       const std::function<void(double)>& progress) {
  const int rate = input.Rate();
  const int channels = input.Channels();
  std::vector<std::unique_ptr<DecodeStream>> streams;
  for (const ChannelSink& s : sinks) streams.emplace_back(new DecodeStream(choice, rate, s.sink, s.door));
  const int64_t total = input.Length();
  constexpr size_t kFrames = kPush * 4;
  std::vector<float> buf(kFrames * static_cast<size_t>(channels));
  std::vector<float> one(kFrames);
  int64_t frames = 0, next_report = 0;
  while (size_t n = input.Read(buf.data(), kFrames)) {
    for (size_t k = 0; k < sinks.size(); ++k) {
      if (channels == 1) {
        streams[k]->Push(buf.data(), n);
        continue;
      }
      const int c = sinks[k].channel;
      for (size_t i = 0; i < n; ++i) one[i] = buf[i * channels + c];
      streams[k]->Push(one.data(), n);
    }
    frames += static_cast<int64_t>(n);
    if (progress && total > 0 && frames >= next_report) {
      progress(std::min(1.0, static_cast<double>(frames) / static_cast<double>(total)));
      next_report = frames + rate / 2;
    }
  }
  for (auto& s : streams) s->Finish();
  if (progress && total > 0) progress(1.0);
  return frames;
}

}  // namespace cli
