// The Reed-Solomon decoder on arbitrary 20-symbol words (any int values), and
// on real code words with up to eight symbols changed. Tables must never be
// indexed out of range (ASan); a word declared correctable must come out with
// zero syndromes, computed here from an independent GF(32); a word within
// four symbols of a code word must come back as exactly that code word.
#include <vector>

#include "ReedSolomon.h"
#include "fuzz_common.h"

namespace {

constexpr int kN = 31;
constexpr int kParity = 8;
constexpr int kMsg = 12;

struct Field {
  int exp[2 * kN];
  int log[kN + 1];
  Field() {
    int v = 1;
    for (int i = 0; i < kN; ++i) {
      exp[i] = exp[i + kN] = v;
      log[v] = i;
      v <<= 1;
      if (v & 32) v ^= 0x25;  // x^5 + x^2 + 1
    }
    log[0] = -1;
  }
  int mul(int a, int b) const { return (a == 0 || b == 0) ? 0 : exp[log[a] + log[b]]; }
};

const Field& GF() {
  static const Field f;
  return f;
}

// S_i = word(alpha^i), i = 1..8, word[j] the coefficient of x^j.
bool ZeroSyndromes(const int* word) {
  const Field& f = GF();
  for (int i = 1; i <= kParity; ++i) {
    int sum = 0;
    for (int j = 0; j < kN; ++j) sum ^= f.mul(word[j], f.exp[(i * j) % kN]);
    if (sum != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QUORLAX::ReedSolomon rs;  // one codec: state left by one word must not hurt the next
  qfuzz::Bytes in(data, size);
  const uint8_t how = in.u8();

  std::vector<int> word(kMsg + kParity);
  std::vector<int> sent;
  int changed = 0;
  if (how & 1) {
    // A real code word, then up to eight changed symbols.
    std::vector<int> msg(kMsg);
    for (int& m : msg) m = in.u8() & 31;
    rs.SetMessage(msg);
    rs.Encode();
    rs.GetCode(sent);
    QFUZZ_CHECK(sent.size() == word.size());
    word = sent;
    const int flips = (how >> 1) % 9;
    for (int k = 0; k < flips; ++k) {
      const int pos = in.u8() % static_cast<int>(word.size());
      const int val = in.u8() & 31;
      word[pos] = val;
    }
    for (size_t i = 0; i < word.size(); ++i) changed += word[i] != sent[i];
  } else {
    // Any ints: SetCode must mask them.
    for (int& w : word) w = (how & 2) ? in.i32() : in.u8();
  }

  rs.msg_len = kMsg;
  rs.SetCode(word);
  rs.Decode();

  int recd[kN];
  for (int j = 0; j < kN; ++j) {
    recd[j] = rs.recd[j];
    QFUZZ_CHECK(recd[j] >= 0 && recd[j] < 32);
  }
  std::vector<int> out;
  rs.GetMessage(out);
  QFUZZ_CHECK(out.size() == static_cast<size_t>(kMsg));
  for (int j = 0; j < kMsg; ++j) QFUZZ_CHECK(out[j] == recd[kParity + j]);

  if (rs.mLastDecodeCorrectable) {
    QFUZZ_CHECK(ZeroSyndromes(recd));
#ifndef QFUZZ_RS_LENIENT_PADDING  // defined only to look past this check while exploring
    // A correction never reaches past the shortened word.
    for (int j = kParity + kMsg; j < kN; ++j) QFUZZ_CHECK(recd[j] == 0);
#endif
    // It changes at most four symbols of what was received.
    int fixes = 0;
    for (int j = 0; j < kParity; ++j) fixes += recd[j] != (word[kMsg + j] & 31);
    for (int j = 0; j < kMsg; ++j) fixes += recd[kParity + j] != (word[j] & 31);
    QFUZZ_CHECK(fixes <= 4);
  }
  if (!sent.empty() && changed <= 4) {
    QFUZZ_CHECK(rs.mLastDecodeCorrectable);
    for (int j = 0; j < kMsg; ++j) QFUZZ_CHECK(out[j] == sent[j]);
    for (int j = 0; j < kParity; ++j) QFUZZ_CHECK(recd[j] == sent[kMsg + j]);
  }
  return 0;
}
