// A user's C++ program against the installed library: the C header inside
// C++ code, and a round trip in every band at both common rates.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"

namespace {

struct Case {
  std::string text;
  int mode;
  float rate;
  int leadIn;  // one window less one hop of silence before the transmission
};

std::string roundTrip(const Case& c) {
  void* h = QUORLAX_Create();
  std::string heard;
  if (QUORLAX_Configure(c.mode, c.rate, 512, h) == QUORLAX_OK &&
      QUORLAX_EncodeDataToAudioBuffer(c.text.c_str(), 9, 0, nullptr, 0, h) > 0) {
    std::vector<float> stream(static_cast<size_t>(c.leadIn)), block(512);
    for (int n; (n = QUORLAX_GetEncodedAudioBuffer(block.data(), h)) > 0;)
      stream.insert(stream.end(), block.begin(), block.begin() + n);
    stream.resize(stream.size() + 4096);
    for (size_t pos = 0; pos < stream.size(); pos += 512) {
      const int count = static_cast<int>(std::min<size_t>(512, stream.size() - pos));
      for (int ev = QUORLAX_DecodeAudioBuffer(stream.data() + pos, count, h); ev != QUORLAX_NOT_READY;
           ev = QUORLAX_DecodeAudioBuffer(nullptr, 0, h)) {
        char text[30] = {};
        if (ev == QUORLAX_MESSAGE_COMPLETE && QUORLAX_GetDecodedData(text, h) == 9) heard = text;
      }
    }
  }
  QUORLAX_Destroy(h);
  return heard;
}

}  // namespace

int main() {
  const std::vector<Case> cases = {
      {"cpp000001", QUORLAX_MODE_AUDIBLE, 48000.f, 1984},
      {"cpp000002", QUORLAX_MODE_NONAUDIBLE, 44100.f, 1792},
      {"cpp000003", QUORLAX_MODE_COMPRESSION, 48000.f, 1984},
  };
  int failed = 0;
  for (const Case& c : cases) {
    const std::string heard = roundTrip(c);
    std::printf("mode %d at %.0f Hz: sent %s, heard '%s'\n", c.mode, static_cast<double>(c.rate),
                c.text.c_str(), heard.c_str());
    failed |= heard != c.text;
  }
  return failed;
}
