// Real transmissions for the audio fuzz targets, synthesised from a few input
// bytes so that no audio needs to be stored in the corpora.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ZunCoreLib_api.h"
#include "fuzz_common.h"

namespace qfuzz {

constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";

// The transmission of `text` in `mode` at `rate`. Encoders are expensive to
// build: one per (mode, rate) for the whole run. The result lives until the
// next call.
inline const std::vector<float>& Transmission(int mode, float rate, const std::string& text) {
  struct Handles {
    std::map<std::pair<int, int>, void*> byKey;
    ~Handles() {
      for (auto& kv : byKey) QUORLAX_Destroy(kv.second);
    }
  };
  static Handles handles;
  static std::vector<float> out;
  void*& h = handles.byKey[{mode, static_cast<int>(rate)}];
  if (h == nullptr) {
    h = QUORLAX_Create();
    QFUZZ_CHECK(QUORLAX_Configure(mode, rate, 4096, h) == 0);
  }
  out.clear();
  const int n = QUORLAX_EncodeDataToAudioBuffer(text.c_str(), 9, 0, nullptr, 0, h);
  QFUZZ_CHECK(n > 0);
  std::vector<float> block(4096);
  int got;
  while ((got = QUORLAX_GetEncodedAudioBuffer(block.data(), h)) > 0) out.insert(out.end(), block.begin(), block.begin() + got);
  QFUZZ_CHECK(got == 0 && static_cast<int>(out.size()) == n);
  return out;
}

// Nine alphabet characters from nine input bytes.
inline std::string Text(Bytes& in) {
  std::string text;
  for (int i = 0; i < 9; ++i) text += kAlphabet[in.u8() % 32];
  return text;
}

}  // namespace qfuzz
