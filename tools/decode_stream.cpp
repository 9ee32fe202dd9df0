#include "decode_stream.h"

#include <algorithm>
#include <climits>

#include "ZunCoreLib_api.h"
#include "io/sample_source.h"

namespace cli {
namespace {

QUORLAX_Listener* NewListener(const ModeChoice& choice, int rate, bool failed, int* error) {
  QUORLAX_ListenerConfig config;
  QUORLAX_ListenerConfigInit(&config, choice.mode, static_cast<float>(rate));
  config.custom_base_hz = choice.base_hz;
  config.custom_separation = choice.separation;
  config.report_failed = failed ? 1 : 0;
  return QUORLAX_ListenerCreateEx(&config, error);
}

}  // namespace

int DecodingRateFor(const ModeChoice& choice, int rate) {
  return IsLibraryRate(rate) && Supported(choice, rate) == QUORLAX_OK ? rate : kDefaultRate;
}

DecodeStream::DecodeStream(const ModeChoice& choice, int rate, Sink sink, bool failed, DoorSink doors)
    : rate_(rate), sink_(std::move(sink)), doors_(std::move(doors)) {
  int error = 0;
  listener_ = NewListener(choice, rate, failed, &error);
  if (listener_ == nullptr) throw Error(ConfigureErrorText(error, choice, rate));
}

DecodeStream::~DecodeStream() { QUORLAX_ListenerDestroy(listener_); }

void DecodeStream::Push(const float* samples, size_t count) {
  while (count > 0) {
    const int n = static_cast<int>(std::min<size_t>(count, INT_MAX));
    const int r = QUORLAX_ListenerPush(listener_, samples, n);
    if (r != QUORLAX_OK) throw Error(std::string("decoder: ") + QUORLAX_GetErrorText(r));
    samples += n;
    count -= static_cast<size_t>(n);
  }
  Drain();
}

void DecodeStream::Finish() {
  QUORLAX_ListenerFlush(listener_);
  Drain();
}

void DecodeStream::Drain() {
  QUORLAX_Door door;
  while (QUORLAX_ListenerNextDoor(listener_, &door) == 1)
    if (doors_) doors_(door.band, static_cast<double>(door.start) / rate_);
  QUORLAX_Message in;
  while (QUORLAX_ListenerNext(listener_, &in) == 1) {
    Message m;
    m.text = in.text;
    m.ok = in.ok != 0;
    m.band = in.band;
    m.confidence = in.confidence;
    m.level_db = in.level_db;
    m.time_s = static_cast<double>(in.start) / rate_;
    m.end_s = static_cast<double>(in.end) / rate_;
    m.end = in.end;
    sink_(m);
  }
}

int64_t DecodeChannels(SampleSource& input, const ModeChoice& choice, const std::vector<ChannelSink>& sinks,
                       const std::function<void(double)>& progress) {
  const int rate = input.Rate();
  const int channels = input.Channels();
  std::vector<std::unique_ptr<DecodeStream>> streams;
  for (const ChannelSink& s : sinks) streams.emplace_back(new DecodeStream(choice, rate, s.sink, s.failed, s.doors));
  const int64_t total = input.Length();
  constexpr size_t kFrames = 4096;
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
