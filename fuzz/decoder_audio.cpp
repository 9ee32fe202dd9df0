// Decoder fed arbitrary audio: raw float bit patterns (NaN, infinities,
// denormals), special values, full-scale runs, silence and slices of real
// transmissions, pushed in sizes taken from the input, in modes 2..6 at
// 44100 or 48000 Hz. Every result must be one the interface documents.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "fuzz_common.h"
#include "fuzz_transmission.h"

namespace {

bool IsEvent(int r) { return r == -1 || r == -2 || r == -3 || (r >= 0 && r <= 31); }

void CheckMessage(void* h) {
  char text[10];
  std::memset(text, 'x', sizeof text);
  const int r = QUORLAX_GetDecodedData(text, h);
  QFUZZ_CHECK(r == 9 || r == -9 || r == -1);
  if (r == -1) {
    QFUZZ_CHECK(text[0] == '\0');
  } else {
    for (int i = 0; i < 9; ++i) QFUZZ_CHECK(std::strchr(qfuzz::kAlphabet, text[i]) != nullptr && text[i] != '\0');
    QFUZZ_CHECK(text[9] == '\0');
  }
  const float c = QUORLAX_GetConfidence(h);
  const float ce = QUORLAX_GetConfidenceError(h);
  QFUZZ_CHECK(c >= 0.0f && c <= 1.0f);
  QFUZZ_CHECK(ce >= 0.0f && ce <= 1.0f);
  const int band = QUORLAX_GetDecodedMode(h);
  QFUZZ_CHECK(band >= -1 && band <= 3);
  (void)QUORLAX_GetConfidenceNoise(h);
  (void)QUORLAX_GetReceivedZunsVolume(h);
}

// Pushes, then drains with empty pushes as a host does.
size_t gPushed = 0;  // samples this input has pushed; bounded to keep executions fast
constexpr size_t kMaxSamplesPerInput = 240000;

void Push(void* h, float* buf, int size, std::vector<float>& spectrum) {
  if (size > 0) gPushed += static_cast<size_t>(size);
  int r = QUORLAX_DecodeAudioBuffer(buf, size, h);
  if (r == -6 || r == -4) {
    QFUZZ_CHECK(r == -4 ? (size < 0 || (buf == nullptr && size > 0)) : size > 0);
    r = QUORLAX_DecodeAudioBuffer(nullptr, 0, h);
  }
  for (int guard = 0; r != -1; ++guard) {
    QFUZZ_CHECK(IsEvent(r));
    QFUZZ_CHECK(guard < 100000);
    if (r == -3) CheckMessage(h);
    r = QUORLAX_DecodeAudioBuffer(nullptr, 0, h);
  }
  QFUZZ_CHECK(QUORLAX_GetSpectrum(spectrum.data(), h) == static_cast<int>(spectrum.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qfuzz::Bytes in(data, size);
  const uint8_t head = in.u8();
  const int mode = qfuzz::ModeOf(head);
  const float rate = qfuzz::RateOf(head);

  std::unique_ptr<void, void (*)(void*)> h(QUORLAX_Create(), QUORLAX_Destroy);
  QFUZZ_CHECK(QUORLAX_Configure(mode, rate, 1024, h.get()) == 0);
  std::vector<float> spectrum(1024);  // exactly window / 2, so ASan sees any overrun
  std::vector<float> buf;

  int ops = 0;
  gPushed = 0;
  while (!in.empty() && ops++ < 64 && gPushed < kMaxSamplesPerInput) {
    const uint8_t op = in.u8();
    const int n = in.u16() % 8500;  // a little past the ring's free space at times
    buf.assign(static_cast<size_t>(n), 0.0f);
    switch (op % 7) {
      case 0:
      case 1:
      case 2:  // raw bit patterns, special values, 16-bit samples
        qfuzz::FillHostile(in, op % 7, buf);
        break;
      case 3: {  // a slice of a real transmission, scaled, with one special value dropped in
        const int band = (mode == 5) ? 2 + in.u8() % 3 : mode;
        const std::string text = qfuzz::Text(in);
        const std::vector<float>& tx = qfuzz::Transmission(band, rate, text);
        const size_t from = (static_cast<size_t>(in.u16()) * 8) % tx.size();
        const float gain = in.u8() / 64.0f;
        const float poke = in.pick(qfuzz::kSpecialSamples);
        const int pokeAt = n > 0 ? in.u16() % n : 0;
        buf.resize(std::min<size_t>(static_cast<size_t>(n), tx.size() - from));
        for (size_t i = 0; i < buf.size(); ++i) buf[i] = tx[from + i] * gain;
        if (!buf.empty() && (op & 0x80)) buf[static_cast<size_t>(pokeAt) % buf.size()] = poke;
        break;
      }
      case 4: {  // a whole transmission in small pieces, the main decoding path
        const int band = (mode == 5) ? 2 + in.u8() % 3 : mode;
        const std::string text = qfuzz::Text(in);
        std::vector<float> tx(2048, 0.0f);
        const std::vector<float>& t = qfuzz::Transmission(band, rate, text);
        tx.insert(tx.end(), t.begin(), t.end());
        tx.resize(tx.size() + 4096, 0.0f);
        const int piece = 1 + in.u16() % 4096;
        for (size_t pos = 0; pos < tx.size(); pos += piece) {
          const int len = static_cast<int>(std::min<size_t>(piece, tx.size() - pos));
          Push(h.get(), tx.data() + pos, len, spectrum);
        }
        continue;
      }
      case 5:  // the invalid pushes
        Push(h.get(), nullptr, n + 1, spectrum);
        Push(h.get(), buf.data(), -1 - n, spectrum);
        continue;
      default:  // silence, or an empty push
        if (op & 0x80) buf.clear();
        break;
    }
    Push(h.get(), buf.empty() ? nullptr : buf.data(), static_cast<int>(buf.size()), spectrum);
  }
  return 0;
}
