// A message as the program takes it from the user, and the samples of its
// transmission at any rate the band fits in.
#include "message.h"

#include <cstdio>

#include "ZunCoreLib_api.h"
#include "io/resample.h"

namespace cli {
namespace {

constexpr int kEncodeBuffer = 1024;
constexpr int kMessageLength = 9;

bool InAlphabet(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'v') || (c >= 'A' && c <= 'V');
}

// Length of the UTF-8 sequence at s[i], or 0 when it is not a valid one.
size_t Utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t n = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return 0;
  return n;
}

// The character as the user typed it; bytes that are not text as \xNN.
std::string Shown(const std::string& s, size_t i, size_t n) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (n > 1 || (n == 1 && c >= 0x20 && c < 0x7f)) return s.substr(i, n);
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", c);
  return buf;
}

}  // namespace

// Positions count characters from 1, however many bytes each takes.
void CheckAlphabet(const std::string& s, const char* what) {
  size_t position = 1;
  for (size_t i = 0; i < s.size(); ++position) {
    const size_t n = Utf8Length(s, i);
    if (n != 1 || !InAlphabet(s[i]))
      throw Error("invalid character '" + Shown(s, i, n) + "' at position " + std::to_string(position) + " in " +
                  what + " (allowed: 0-9, a-v)");
    i += n;
  }
}

void CheckMessage(const std::string& msg) {
  CheckAlphabet(msg, "message");
  if (msg.size() != static_cast<size_t>(kMessageLength))
    throw Error("message '" + msg + "' has " + std::to_string(msg.size()) + " characters; it needs exactly " +
                std::to_string(kMessageLength));
}

namespace {

// A handle of the library's interface, destroyed with its owner.
struct Handle {
  void* h = QUORLAX_Create();
  Handle() {
    if (h == nullptr) throw Error("out of memory");
  }
  ~Handle() { QUORLAX_Destroy(h); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

// One transmission at a rate the library synthesises at.
std::vector<float> Synthesise(const std::string& msg, const ModeChoice& choice, int rate, int type,
                              const std::string& melody, const float* volume_db) {
  Handle handle;
  const int c = ConfigureHandle(handle.h, choice, rate, kEncodeBuffer);
  if (c != QUORLAX_OK) throw Error(ConfigureErrorText(c, choice, rate));
  if (volume_db != nullptr) {
    const int r = QUORLAX_SetSynthVolume(*volume_db, handle.h);
    if (r != QUORLAX_OK) throw Error(std::string("--volume: ") + QUORLAX_GetErrorText(r));
  }
  const int n = QUORLAX_EncodeDataToAudioBuffer(msg.data(), static_cast<int32_t>(msg.size()), type,
                                                melody.empty() ? nullptr : melody.data(),
                                                static_cast<int32_t>(melody.size()), handle.h);
  if (n < 0) {
    if (type == 2 && n == QUORLAX_ERROR_INVALID_ARGUMENT) {
      QUORLAX_ModeInfo info;
      info.size = sizeof info;
      std::string most;
      if (QUORLAX_GetModeInfo(choice.mode, static_cast<float>(rate), choice.base_hz, choice.separation, &info) ==
          QUORLAX_OK)
        most = " (at most " + std::to_string(info.max_encoded_samples / info.token_samples) + " at " +
               std::to_string(rate) + " Hz)";
      throw Error("melody of " + std::to_string(melody.size()) + " notes is too long" + most);
    }
    throw Error(std::string("cannot encode '") + msg + "': " + QUORLAX_GetErrorText(n));
  }
  std::vector<float> audio;
  audio.reserve(static_cast<size_t>(n));
  std::vector<float> buf(kEncodeBuffer);
  for (;;) {
    const int got = QUORLAX_GetEncodedAudioBuffer(buf.data(), handle.h);
    if (got < 0) throw Error(std::string("cannot encode: ") + QUORLAX_GetErrorText(got));
    if (got == 0) break;
    audio.insert(audio.end(), buf.begin(), buf.begin() + got);
  }
  return audio;
}

}  // namespace

std::vector<float> EncodeMessage(const std::string& msg, const ModeChoice& choice, int rate, int type,
                                 const std::string& melody, const float* volume_db) {
  if (!RateWorks(choice, rate)) throw Error(RateRefusal(choice, rate));
  if (IsLibraryRate(rate)) return Synthesise(msg, choice, rate, type, melody, volume_db);
  // Other rates: synthesised at the protocol's own rate and converted.
  return ResampleAll(Synthesise(msg, choice, kSynthRate, type, melody, volume_db), kSynthRate, rate);
}

}  // namespace cli
