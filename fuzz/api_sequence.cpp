// Sequences of C interface calls on up to three handles: null, unconfigured,
// configured with odd rates and buffer sizes, reconfigured mid-stream,
// re-based custom grids, encode/drain/reset, pushes of every size. Buffers
// always back the sizes claimed; a null buffer comes only with a size the
// library must refuse. Every result must be one the header documents.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Globals.h"
#include "ZunCoreLib_api.h"
#include "fuzz_common.h"

namespace {

constexpr int kSlots = 3;
constexpr int kMaxDrainBuffer = 1 << 20;  // larger configured sizes are not drained

struct Slot {
  void* h = nullptr;
  int bufferSize = 0;  // as last configured
  std::vector<float> lastDrain;
};

bool IsDecodeResult(int r) { return r >= -6 && r <= 31; }

const float kRates[] = {44100.0f, 48000.0f, 22050.0f, 11050.0f, 16000.0f, 8000.0f, 96000.0f, 0.0f, -44100.0f,
                        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        44100.5f, 1.0f, 1e9f};
const int32_t kBufferSizes[] = {1024, 1, 2, 64, 256, 4096, 44100, 1 << 20, 0, -1, -4096,
                                std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
const int32_t kSizes[] = {9, 9, 9, 0, 1, 8, 10, -1, -9, 64, std::numeric_limits<int32_t>::max(),
                          std::numeric_limits<int32_t>::min()};
const float kBases[] = {12000.0f, 3000.0f, 100.0f, 1.0f, 20000.0f, 21000.0f, 23000.0f, 0.0f, -5.0f,
                        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::denorm_min(), 1e30f};
const int kSeparations[] = {1, 0, 2, 5, 30, 100, 1000, 1001, -1, std::numeric_limits<int>::max(),
                            std::numeric_limits<int>::min()};

float SaneFloat(qfuzz::Bytes& in) {
  const float f = in.rawFloat();
  return (in.u8() & 1) ? f : (static_cast<int16_t>(in.u16()) / 32768.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Process-wide settings go back to their defaults so every input replays alike.
  Globals::freqBaseForCustomMultiTone = 12000.0f;
  Globals::zunsSeparationForCustomMultiTone = 1;
  Globals::synthVolume = 0.0f;
  Globals::synthMode = 0;

  qfuzz::Bytes in(data, size);
  Slot slots[kSlots];
  std::vector<float> audio;   // what the last drains produced, fed back to decoders
  std::vector<float> scratch;
  std::vector<float> spectrum(1024);
  int steps = 0;

  while (!in.empty() && steps++ < 200) {
    const uint8_t op = in.u8();
    const uint8_t which = in.u8();
    Slot& s = slots[which % kSlots];
    // One call in sixteen goes to a null handle instead.
    void* h = (which & 0xF0) == 0xF0 ? nullptr : s.h;

    switch (op % 18) {
      case 0:
        if (s.h == nullptr) s.h = QUORLAX_Create();
        QFUZZ_CHECK(s.h != nullptr);
        break;
      case 1:
        QUORLAX_Destroy(h);
        if (h != nullptr) s = Slot{};
        break;
      case 2: {
        const int mode = static_cast<int>(in.u8() % 10) - 1;
        const float rate = in.pick(kRates);
        const int32_t buf = (in.u8() & 3) == 3 ? 1 + in.u16() : in.pick(kBufferSizes);
        const int r = QUORLAX_Configure(mode, rate, buf, h);
        if (h == nullptr) {
          QFUZZ_CHECK(r == -5);
        } else {
          QFUZZ_CHECK(r == 0 || r == -1 || r == -7);
          if (mode < 2 || mode > 6) QFUZZ_CHECK(r == -1);
          s.bufferSize = buf;
          if (r != 0) QFUZZ_CHECK(QUORLAX_DecodeAudioBuffer(nullptr, 0, h) == -5);
        }
        break;
      }
      case 3: {
        const float base = (in.u8() & 3) == 0 ? in.rawFloat() : in.pick(kBases);
        const int sep = in.pick(kSeparations);
        const int r = QUORLAX_SetCustomBaseFreq(base, sep, h);
        QFUZZ_CHECK(h == nullptr ? r == -5 : (r == 0 || r == -4 || r == -7 || r == -5));
        if (sep < 0 && h != nullptr) QFUZZ_CHECK(r == -4);
        break;
      }
      case 4: {  // encode a text
        const int32_t claimed = in.pick(kSizes);
        const int type = static_cast<int>(in.u8() % 5) - 1;
        const bool nullText = (in.u8() & 7) == 0;
        std::string text;
        const int textBytes = claimed > 0 && claimed <= 64 ? claimed : 0;
        for (int i = 0; i < textBytes; ++i) text += static_cast<char>(in.u8() % 4 ? "0123456789abcdefghijklmnopqrstuvABC"[in.u8() % 35] : in.u8());
        // Unbacked sizes go only with a null buffer.
        const char* textPtr = nullText || (claimed > 64) ? nullptr : text.c_str();
        int32_t melodySize = static_cast<int32_t>(in.u8() % 48) - 4;
        std::string melody;
        for (int i = 0; i < std::max(melodySize, 0); ++i) melody += static_cast<char>(in.u8());
        const char* melodyPtr = (in.u8() & 7) == 0 ? nullptr : melody.data();
        if (melodyPtr == nullptr && (in.u8() & 1)) melodySize = std::numeric_limits<int32_t>::max();
        const int r = QUORLAX_EncodeDataToAudioBuffer(textPtr, claimed, type, melodyPtr, melodySize, h);
        QFUZZ_CHECK(r > 0 || r == -4 || r == -5);
        if (claimed != 9 || textPtr == nullptr) QFUZZ_CHECK(r == -4 || r == -5);
        break;
      }
      case 5: {  // drain all, or a few buffers
        if (h == nullptr) {
          scratch.assign(1, 0.0f);
          QFUZZ_CHECK(QUORLAX_GetEncodedAudioBuffer(scratch.data(), h) == -5);
          break;
        }
        if (s.bufferSize <= 0 || s.bufferSize > kMaxDrainBuffer) break;
        scratch.assign(static_cast<size_t>(s.bufferSize), 0.0f);
        const int maxCalls = (op & 0x80) ? 1 + in.u8() % 4 : 1 << 20;
        audio.clear();
        for (int call = 0; call < maxCalls; ++call) {
          const int r = QUORLAX_GetEncodedAudioBuffer(scratch.data(), h);
          QFUZZ_CHECK(r >= -5 && r <= std::max(s.bufferSize, 0) && r != -1 && r != -2 && r != -3);
          if (r <= 0) break;
          for (int i = 0; i < r; ++i) QFUZZ_CHECK(std::isfinite(scratch[i]));
          audio.insert(audio.end(), scratch.begin(), scratch.begin() + r);
        }
        break;
      }
      case 6: {
        const int r = QUORLAX_GetEncodedAudioBuffer(nullptr, h);
        QFUZZ_CHECK(r == -4 || r == -5);
        break;
      }
      case 7: {
        const int r = QUORLAX_ResetEncodedAudioBuffer(h);
        QFUZZ_CHECK(r == 0 || r == -5);
        break;
      }
      case 8: {  // push drained audio (or noise) in pieces, draining events
        const int piece = 1 + in.u16() % 9000;
        if (audio.empty() || (op & 0x80)) {
          audio.resize(1 + in.u16() % 9000);
          for (float& v : audio) v = SaneFloat(in);
        }
        for (size_t pos = 0; pos < audio.size(); pos += piece) {
          const int len = static_cast<int>(std::min<size_t>(piece, audio.size() - pos));
          int r = QUORLAX_DecodeAudioBuffer(audio.data() + pos, len, h);
          for (int guard = 0; r != -1 && r != -5 && r != -6; ++guard) {
            QFUZZ_CHECK(IsDecodeResult(r) && r != -4 && guard < 100000);
            char text[10];
            if (r == -3) QFUZZ_CHECK(QUORLAX_GetDecodedData(text, h) != -5);
            r = QUORLAX_DecodeAudioBuffer(nullptr, 0, h);
          }
          if (r == -5 || r == -6) break;
        }
        break;
      }
      case 9: {  // refused pushes
        const int n = in.i32();
        const int r1 = QUORLAX_DecodeAudioBuffer(nullptr, n > 0 ? n : 1, h);
        QFUZZ_CHECK(r1 == -4 || r1 == -5);
        scratch.assign(4, 0.0f);
        const int r2 = QUORLAX_DecodeAudioBuffer(scratch.data(), n < 0 ? n : -1, h);
        QFUZZ_CHECK(r2 == -4 || r2 == -5);
        const int r3 = QUORLAX_DecodeAudioBuffer(nullptr, 0, h);
        QFUZZ_CHECK(IsDecodeResult(r3) && r3 != -4 && r3 != -6);
        break;
      }
      case 10: {
        char text[10];
        std::memset(text, 'x', sizeof text);
        const int r = QUORLAX_GetDecodedData((op & 0x80) ? nullptr : text, h);
        QFUZZ_CHECK(r == 9 || r == -9 || r == -1 || r == -4 || r == -5);
        break;
      }
      case 11: {
        const int r = QUORLAX_GetSpectrum((op & 0x80) ? nullptr : spectrum.data(), h);
        QFUZZ_CHECK(r == -4 || r == -5 || (r > 0 && r <= 1024));
        break;
      }
      case 12: {
        const float c = QUORLAX_GetConfidence(h), e = QUORLAX_GetConfidenceError(h);
        QFUZZ_CHECK(c >= 0.0f && c <= 1.0f && e >= 0.0f && e <= 1.0f);
        (void)QUORLAX_GetConfidenceNoise(h);
        (void)QUORLAX_GetReceivedZunsVolume(h);
        const int m = QUORLAX_GetDecodedMode(h);
        QFUZZ_CHECK(m >= -1 && m <= 3 ? true : m == -5);
        const float b = QUORLAX_GetDecodingBeginFreq(h), e2 = QUORLAX_GetDecodingEndFreq(h);
        QFUZZ_CHECK(std::isfinite(b) && std::isfinite(e2));
        break;
      }
      case 13: {  // an audio signature: backed, null, negative or empty
        int32_t n = static_cast<int32_t>(in.u16() % 6000);
        scratch.resize(static_cast<size_t>(n));
        for (float& v : scratch) v = static_cast<int16_t>(in.u16()) / 32768.0f;
        const uint8_t how = in.u8() % 4;
        const float* p = how == 0 ? nullptr : scratch.data();
        if (how == 1) n = -n - 1;
        if (how == 0 && (in.u8() & 1)) n = std::numeric_limits<int32_t>::max();
        if (how == 2) n = std::min<int32_t>(n, 0);
        const int r = QUORLAX_SetAudioSignature(n, p, h);
        QFUZZ_CHECK(r == 0 || r == -5);
        break;
      }
      case 14: {
        const int r = QUORLAX_SetSynthMode(in.i32(), h);
        QFUZZ_CHECK(r == 0 || r == -5);
        break;
      }
      case 15: {
        const float v = (in.u8() & 1) ? in.rawFloat() : static_cast<float>(static_cast<int8_t>(in.u8()));
        const int r = QUORLAX_SetSynthVolume(v, h);
        QFUZZ_CHECK(r == 0 || r == -4 || r == -5);
        break;
      }
      case 16: {
        char info[19];
        QFUZZ_CHECK(QUORLAX_GetVersionInfo((op & 0x80) ? nullptr : info) == ((op & 0x80) ? -4 : 18));
        QFUZZ_CHECK(QUORLAX_GetVersion() != nullptr);
        QFUZZ_CHECK(QUORLAX_GetErrorText(in.i32()) != nullptr);
        break;
      }
      default: {  // drain into a buffer exactly the configured size, then feed back
        if (s.bufferSize <= 0 || s.bufferSize > kMaxDrainBuffer || h == nullptr) break;
        std::vector<float> exact(static_cast<size_t>(s.bufferSize));
        const int r = QUORLAX_GetEncodedAudioBuffer(exact.data(), h);
        QFUZZ_CHECK(r == -5 || (r >= 0 && r <= s.bufferSize));
        if (r > 0) audio.assign(exact.begin(), exact.begin() + r);
        break;
      }
    }
  }
  for (Slot& s : slots) QUORLAX_Destroy(s.h);
  return 0;
}
