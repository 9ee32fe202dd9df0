// The encoder's message and melody text: arbitrary bytes, sizes and types.
// The result must be -4 or the sample count; after -4 the previous
// transmission must drain unchanged (same CRC); an accepted plain message
// must decode back to its text (checked on a share of inputs, it is slow).
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "fuzz_common.h"

namespace {

constexpr int kBuffer = 1024;

struct Drained {
  uint32_t crc;
  size_t count;
  bool finite;
  std::vector<float> audio;
};

uint32_t Crc32(const void* data, size_t bytes, uint32_t crc = 0xFFFFFFFFu) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < bytes; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

Drained Drain(void* h, bool keep) {
  Drained d{0xFFFFFFFFu, 0, true, {}};
  std::vector<float> block(kBuffer);
  int n;
  while ((n = QUORLAX_GetEncodedAudioBuffer(block.data(), h)) > 0) {
    QFUZZ_CHECK(n <= kBuffer);
    d.crc = Crc32(block.data(), sizeof(float) * n, d.crc);
    d.count += static_cast<size_t>(n);
    for (int i = 0; i < n; ++i) d.finite = d.finite && std::isfinite(block[i]);
    if (keep) d.audio.insert(d.audio.end(), block.begin(), block.begin() + n);
  }
  QFUZZ_CHECK(n == 0);
  return d;
}

bool InAlphabet(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'v') || (c >= 'A' && c <= 'V');
}

std::string Decode(int mode, float rate, const std::vector<float>& tx) {
  void* h = QUORLAX_Create();
  QFUZZ_CHECK(QUORLAX_Configure(mode, rate, kBuffer, h) == 0);
  std::vector<float> s(2048, 0.0f);
  s.insert(s.end(), tx.begin(), tx.end());
  s.resize(s.size() + 8192, 0.0f);
  std::string heard;
  for (size_t pos = 0; pos < s.size(); pos += 4096) {
    const int len = static_cast<int>(std::min<size_t>(4096, s.size() - pos));
    for (int r = QUORLAX_DecodeAudioBuffer(s.data() + pos, len, h); r != -1; r = QUORLAX_DecodeAudioBuffer(nullptr, 0, h)) {
      QFUZZ_CHECK(r >= -3);
      char text[10];
      if (r == -3 && QUORLAX_GetDecodedData(text, h) == 9) heard = text;
    }
  }
  QUORLAX_Destroy(h);
  return heard;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qfuzz::Bytes in(data, size);
  const uint8_t head = in.u8();
  const int mode = qfuzz::ModeOf(head);
  const float rate = qfuzz::RateOf(head);
  const bool checkDecode = (head & 0x40) != 0;

  void* h = QUORLAX_Create();
  QFUZZ_CHECK(QUORLAX_Configure(mode, rate, kBuffer, h) == 0);
  QFUZZ_CHECK(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h) > 0);
  const Drained before = Drain(h, false);

  int32_t size32;
  const uint8_t sizeSel = in.u8();
  switch (sizeSel % 8) {
    case 0: size32 = static_cast<int32_t>(in.u8() % 40); break;
    case 1: size32 = -static_cast<int32_t>(in.u8()) - 1; break;
    case 2: size32 = std::numeric_limits<int32_t>::max(); break;
    case 3: size32 = std::numeric_limits<int32_t>::min(); break;
    default: size32 = 9; break;
  }
  const int32_t type = (in.u8() & 3) == 0 ? in.i32() : static_cast<int32_t>(in.u8() % 4);
  const int textLen = size32 > 0 && size32 < 40 ? size32 : 0;
  std::string text;
  for (int i = 0; i < textLen; ++i) text += static_cast<char>(in.u8());
  // A null text or one whose size nothing backs must come with a null pointer.
  const char* textPtr = (size32 > 0 && size32 < 40 && !(sizeSel & 0x80)) ? text.data() : nullptr;

  int32_t melodySize;
  const uint8_t melSel = in.u8();
  switch (melSel % 6) {
    case 0: melodySize = -static_cast<int32_t>(in.u8()) - 1; break;
    case 1: melodySize = std::numeric_limits<int32_t>::max(); break;
    case 2: melodySize = 0; break;
    default: melodySize = static_cast<int32_t>(in.u16() % 200); break;
  }
  std::string melody;
  const bool melodyBacked = melodySize > 0 && melodySize < 200;
  if (melodyBacked) melody.resize(static_cast<size_t>(melodySize));
  for (char& c : melody) c = static_cast<char>(in.u8());
  const char* melodyPtr = melodyBacked && !(melSel & 0x80) ? melody.data() : nullptr;
  if (!melodyBacked && melodySize > 0) melodyPtr = nullptr;

  const int r = QUORLAX_EncodeDataToAudioBuffer(textPtr, size32, type, melodyPtr, melodySize, h);
  QFUZZ_CHECK(r > 0 || r == -4);

  bool valid = textPtr != nullptr && size32 == 9;
  for (int i = 0; valid && i < 9; ++i) valid = InAlphabet(text[static_cast<size_t>(i)]);
  if (type == 2) {
    const long long samplesPerToken = static_cast<long long>(0.10448979586362839f * rate);
    valid = valid && melodySize >= 0 && (melodySize == 0 || melodyPtr != nullptr) &&
            melodySize * samplesPerToken <= static_cast<long long>(rate * 10);
  }
  QFUZZ_CHECK(valid == (r > 0));

  if (r == -4) {
    QFUZZ_CHECK(QUORLAX_ResetEncodedAudioBuffer(h) == 0);
    const Drained again = Drain(h, false);
    QFUZZ_CHECK(again.count == before.count && again.crc == before.crc);
  } else {
    const Drained after = Drain(h, checkDecode && type != 1 && type != 2);
    QFUZZ_CHECK(after.count == static_cast<size_t>(r));
    QFUZZ_CHECK(after.finite);
    if (!after.audio.empty()) {
      std::string want = text.substr(0, 9);
      for (char& c : want) c = static_cast<char>(c >= 'A' && c <= 'V' ? c + 32 : c);
      const int listen = mode == 5 ? 5 : mode;
      QFUZZ_CHECK(Decode(listen, rate, after.audio) == want);
    }
  }
  QUORLAX_Destroy(h);
  return 0;
}
