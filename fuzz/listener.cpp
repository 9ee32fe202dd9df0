// The listener fed arbitrary audio and calls: raw float bit patterns, special
// values, 16-bit samples, slices and whole transmissions in any push size,
// refused pushes, flushes, custom grids and failure reports, in modes 2..6 at
// 44100 or 48000 Hz, in the library's memory or a caller's block. Every result
// must be one the interface documents, and every message well formed.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "fuzz_common.h"
#include "fuzz_transmission.h"

namespace {

long long gPushed = 0;  // samples this input has pushed; bounded to keep executions fast
constexpr long long kMaxSamplesPerInput = 300000;

void TakeMessages(QUORLAX_Listener* l, int mode, float rate) {
  const long long token = static_cast<long long>(0.10448979586362839f * rate);
  QUORLAX_MessageEx m;
  for (int guard = 0;; ++guard) {
    std::memset(&m, 0x5a, sizeof m);
    m.size = sizeof m;
    const int r = QUORLAX_ListenerNextEx(l, &m);
    QFUZZ_CHECK(r == 0 || r == 1);
    if (r == 0) break;
    QFUZZ_CHECK(guard < 10000);
    for (int i = 0; i < 9; ++i) QFUZZ_CHECK(m.text[i] != '\0' && std::strchr(qfuzz::kAlphabet, m.text[i]) != nullptr);
    QFUZZ_CHECK(m.text[9] == '\0');
    QFUZZ_CHECK(m.ok == 0 || m.ok == 1);
    if (mode == QUORLAX_MODE_ALL)
      QFUZZ_CHECK(m.band == QUORLAX_MODE_AUDIBLE || m.band == QUORLAX_MODE_NONAUDIBLE ||
                  m.band == QUORLAX_MODE_COMPRESSION);
    else
      QFUZZ_CHECK(m.band == mode);
    QFUZZ_CHECK(m.start >= 0 && m.start <= gPushed);
    // The listener follows a sender's tempo within a few percent.
    QFUZZ_CHECK(std::llabs(m.end - m.start - 20 * token) <= token);
    QFUZZ_CHECK(std::fabs(m.pitch_offset) <= 0.025f && std::fabs(m.tempo_offset) <= 0.05f);
    // Hostile samples may be far louder than full scale: any finite level in the documented range.
    QFUZZ_CHECK(std::isfinite(m.level_db) && m.level_db >= -200.0f && m.level_db <= 400.0f);
    QFUZZ_CHECK(m.confidence >= 0.0f && m.confidence <= 1.0f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qfuzz::Bytes in(data, size);
  const uint8_t head = in.u8();
  const int mode = qfuzz::ModeOf(head);
  const float rate = qfuzz::RateOf(head);
  int error = -100;
  const bool callerMemory = head & 0x40;
  QUORLAX_ListenerConfig config;
  QUORLAX_ListenerConfigInit(&config, mode, rate);
  std::vector<unsigned char> block;
  QUORLAX_Listener* made;
  if (callerMemory) {
    const int64_t bytes = QUORLAX_ListenerSize(&config);
    QFUZZ_CHECK(bytes > 0);
    block.resize(static_cast<size_t>(bytes));
    made = QUORLAX_ListenerInit(block.data(), bytes, &config, &error);
  } else {
    made = QUORLAX_ListenerCreate(mode, rate, &error);
  }
  std::unique_ptr<QUORLAX_Listener, void (*)(QUORLAX_Listener*)> l(made, QUORLAX_ListenerDestroy);
  QFUZZ_CHECK(l != nullptr && error == 0);
  std::vector<float> buf;
  gPushed = 0;
  int ops = 0;
  while (!in.empty() && ops++ < 64 && gPushed < kMaxSamplesPerInput) {
    const uint8_t op = in.u8();
    const int n = in.u16() % 12000;
    buf.assign(static_cast<size_t>(n), 0.0f);
    switch (op % 9) {
      case 0:
      case 1:
      case 2:  // raw bit patterns, special values, 16-bit samples
        qfuzz::FillHostile(in, op % 9, buf);
        break;
      case 3: {  // a whole transmission, scaled, in pieces of any size
        const int band = mode == QUORLAX_MODE_ALL ? 2 + in.u8() % 3 : mode;
        const std::string text = qfuzz::Text(in);
        const std::vector<float> tx = qfuzz::Transmission(band, rate, text);
        const float gain = in.u8() / 64.0f;
        const int piece = 1 + in.u16() % 20000;
        const size_t from = (static_cast<size_t>(in.u16()) * 8) % tx.size();
        for (size_t pos = from; pos < tx.size(); pos += piece) {
          const int len = static_cast<int>(std::min<size_t>(piece, tx.size() - pos));
          buf.assign(tx.begin() + pos, tx.begin() + pos + len);
          for (float& v : buf) v *= gain;
          QFUZZ_CHECK(QUORLAX_ListenerPush(l.get(), buf.data(), len) == 0);
          gPushed += len;
          TakeMessages(l.get(), mode, rate);
        }
        continue;
      }
      case 4:  // the refused pushes change nothing
        QFUZZ_CHECK(QUORLAX_ListenerPush(l.get(), nullptr, n + 1) == QUORLAX_ERROR_INVALID_ARGUMENT);
        QFUZZ_CHECK(QUORLAX_ListenerPush(l.get(), buf.data(), -1 - n) == QUORLAX_ERROR_INVALID_ARGUMENT);
        QFUZZ_CHECK(QUORLAX_ListenerNext(l.get(), nullptr) == QUORLAX_ERROR_INVALID_ARGUMENT);
        continue;
      case 5:
        QFUZZ_CHECK(QUORLAX_ListenerFlush(l.get()) == 0);
        TakeMessages(l.get(), mode, rate);
        continue;
      case 6:
        QFUZZ_CHECK(QUORLAX_ListenerReportFailed(l.get(), op & 0x80) == 0);
        continue;
      case 7: {  // another custom grid: accepted, refused, or not a custom listener
        const float base = (op & 0x80) ? in.rawFloat() : 2000.0f + in.u16() % 20000;
        const int separation = static_cast<int8_t>(in.u8());
        const int r = QUORLAX_ListenerSetCustom(l.get(), base, separation);
        // A caller's block may be too small for a wider grid; the library's grows.
        QFUZZ_CHECK(r == 0 || r == -1 || r == -4 || r == -7 || (callerMemory && r == -8));
        QFUZZ_CHECK(mode == QUORLAX_MODE_CUSTOM ? r != -1 : r == -1);
        continue;
      }
      default:  // silence, or an empty push
        if (op & 0x80) buf.clear();
        break;
    }
    QFUZZ_CHECK(QUORLAX_ListenerPush(l.get(), buf.empty() ? nullptr : buf.data(), static_cast<int>(buf.size())) == 0);
    gPushed += static_cast<long long>(buf.size());
    TakeMessages(l.get(), mode, rate);
  }
  QFUZZ_CHECK(QUORLAX_ListenerFlush(l.get()) == 0);
  TakeMessages(l.get(), mode, rate);
  QFUZZ_CHECK(QUORLAX_ListenerDropped(l.get()) == 0);  // every message was taken as it came
  return 0;
}
