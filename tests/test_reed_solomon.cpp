#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "ReedSolomon.h"

using QUORLAX::ReedSolomon;

namespace {

constexpr int kN = 31;
constexpr int kParity = 8;

// Field arithmetic built independently of the codec, so a wrong codec table
// cannot hide its own mistakes.
struct Gf32 {
  int exp[62];
  int log[32];
  Gf32() {
    int v = 1;
    for (int i = 0; i < 31; i++) {
      exp[i] = exp[i + 31] = v;
      log[v] = i;
      v <<= 1;
      if (v & 32) v ^= 0x25;  // x^5 + x^2 + 1
    }
    log[0] = -1;
  }
  int Mul(int a, int b) const { return (a == 0 || b == 0) ? 0 : exp[log[a] + log[b]]; }
};
const Gf32 kGf;

// Evaluates the full 31-symbol word (coefficient j of x^j) at alpha^1..alpha^8.
bool AllSyndromesZero(const int* word) {
  for (int i = 1; i <= kParity; i++) {
    int sum = 0;
    for (int j = 0; j < kN; j++) sum ^= kGf.Mul(word[j], kGf.exp[(i * j) % kN]);
    if (sum != 0) return false;
  }
  return true;
}

std::vector<int> EncodeMessage(ReedSolomon& rs, const std::vector<int>& message) {
  rs.SetMessage(message);
  rs.Encode();
  std::vector<int> code;
  rs.GetCode(code);
  return code;
}

std::vector<int> RandomMessage(std::mt19937& rng, int len) {
  std::uniform_int_distribution<int> sym(0, 31);
  std::vector<int> m(len);
  for (int& v : m) v = sym(rng);
  return m;
}

// Decodes `received` and checks the codec restored `sent` exactly, parity
// included, with the shortened tail still zero.
::testing::AssertionResult DecodesTo(ReedSolomon& rs, const std::vector<int>& received,
                                     const std::vector<int>& sent) {
  const int len = static_cast<int>(sent.size()) - kParity;
  rs.SetCode(received);
  rs.Decode();
  if (!rs.mLastDecodeCorrectable) return ::testing::AssertionFailure() << "gave up";
  for (int i = 0; i < kParity; i++)
    if (rs.recd[i] != sent[len + i]) return ::testing::AssertionFailure() << "parity " << i;
  for (int i = 0; i < len; i++)
    if (rs.recd[kParity + i] != sent[i]) return ::testing::AssertionFailure() << "message " << i;
  for (int i = kParity + len; i < kN; i++)
    if (rs.recd[i] != 0) return ::testing::AssertionFailure() << "tail " << i;
  std::vector<int> message;
  rs.GetMessage(message);
  if (message != std::vector<int>(sent.begin(), sent.begin() + len))
    return ::testing::AssertionFailure() << "GetMessage";
  return ::testing::AssertionSuccess();
}

// Adds `count` distinct-position nonzero errors to `code`.
std::vector<int> Corrupt(std::mt19937& rng, std::vector<int> code, int count) {
  std::vector<int> pos(code.size());
  for (size_t i = 0; i < pos.size(); i++) pos[i] = static_cast<int>(i);
  std::shuffle(pos.begin(), pos.end(), rng);
  std::uniform_int_distribution<int> val(1, 31);
  for (int i = 0; i < count; i++) code[pos[i]] ^= val(rng);
  return code;
}

}  // namespace

TEST(ReedSolomonTables, FieldMatchesPrimitivePolynomial) {
  ReedSolomon rs;
  const int head[10] = {1, 2, 4, 8, 16, 5, 10, 20, 13, 26};
  for (int i = 0; i < 10; i++) EXPECT_EQ(rs.alpha_to[i], head[i]) << i;
  EXPECT_EQ(rs.alpha_to[30], 18);
  EXPECT_EQ(rs.index_of[0], -1);
  for (int i = 0; i < kN; i++) {
    EXPECT_EQ(rs.alpha_to[i], kGf.exp[i]) << i;
    EXPECT_EQ(rs.index_of[rs.alpha_to[i]], i) << i;
  }
}

TEST(ReedSolomonTables, GeneratorPolynomialIndexForm) {
  ReedSolomon rs;
  const int expected[9] = {5, 30, 9, 1, 19, 23, 22, 3, 0};
  const int poly[9] = {5, 18, 26, 2, 6, 15, 21, 8, 1};
  for (int i = 0; i <= kParity; i++) {
    EXPECT_EQ(rs.gg[i], expected[i]) << i;
    EXPECT_EQ(rs.alpha_to[rs.gg[i]], poly[i]) << i;
  }
}

struct Golden {
  std::vector<int> message;
  std::vector<int> parity;
};

TEST(ReedSolomonEncode, GoldenVectors) {
  const Golden cases[] = {
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {15, 8, 6, 14, 7, 13, 21, 28}},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {5, 18, 26, 2, 6, 15, 21, 8}},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}},
      {{1, 19, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {28, 1, 8, 13, 8, 4, 8, 10}},
      {{1, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13}, {13, 31, 21, 23, 7, 15, 12, 5}},
      {{1, 19, 17, 14, 21, 21, 24, 31, 31, 31, 31, 29}, {23, 16, 20, 30, 25, 26, 2, 7}},
  };
  ReedSolomon rs;
  for (const Golden& c : cases) {
    std::vector<int> expected = c.message;
    expected.insert(expected.end(), c.parity.begin(), c.parity.end());
    EXPECT_EQ(EncodeMessage(rs, c.message), expected);
  }
}

TEST(ReedSolomonEncode, CodeWordsHaveZeroSyndromesForAnyLength) {
  std::mt19937 rng(7);
  ReedSolomon rs;
  for (int len = 0; len <= 23; len++) {
    for (int trial = 0; trial < 50; trial++) {
      const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, len));
      ASSERT_EQ(static_cast<int>(code.size()), len + kParity);
      int word[kN] = {};
      for (int i = 0; i < kParity; i++) word[i] = code[len + i];
      for (int i = 0; i < len; i++) word[kParity + i] = code[i];
      ASSERT_TRUE(AllSyndromesZero(word)) << "len " << len;
    }
  }
}

TEST(ReedSolomonEncode, OversizedMessageIsIgnored) {
  ReedSolomon rs;
  const std::vector<int> code = EncodeMessage(rs, {1, 2, 3});
  rs.SetMessage(std::vector<int>(24, 5));
  EXPECT_EQ(rs.msg_len, 3);
  rs.Encode();
  std::vector<int> again;
  rs.GetCode(again);
  EXPECT_EQ(again, code);
}

TEST(ReedSolomonEncode, OutOfRangeMessageValuesAreMasked) {
  ReedSolomon rs;
  EXPECT_EQ(EncodeMessage(rs, {32 + 1, -1, 1000, INT_MIN, INT_MAX}),
            EncodeMessage(rs, {1, 31, 1000 & 31, 0, 31}));
}

TEST(ReedSolomonDecode, NoErrorsLeavesWordUnchanged) {
  std::mt19937 rng(11);
  ReedSolomon rs;
  for (int trial = 0; trial < 200; trial++) {
    const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, 12));
    ASSERT_TRUE(DecodesTo(rs, code, code));
  }
}

TEST(ReedSolomonDecode, EverySingleError) {
  ReedSolomon rs;
  const std::vector<int> code = EncodeMessage(rs, {1, 19, 17, 14, 21, 21, 24, 31, 31, 31, 31, 29});
  for (size_t pos = 0; pos < code.size(); pos++) {
    for (int e = 1; e < 32; e++) {
      std::vector<int> bad = code;
      bad[pos] ^= e;
      ASSERT_TRUE(DecodesTo(rs, bad, code)) << "pos " << pos << " e " << e;
      EXPECT_EQ(rs.err[pos < 12 ? kParity + pos : pos - 12], e);
    }
  }
}

TEST(ReedSolomonDecode, EveryPairOfPositions) {
  const uint32_t seed = 2024;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> val(1, 31);
  ReedSolomon rs;
  for (int trial = 0; trial < 4; trial++) {
    const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, 12));
    for (size_t a = 0; a < code.size(); a++) {
      for (size_t b = a + 1; b < code.size(); b++) {
        for (int k = 0; k < 4; k++) {
          std::vector<int> bad = code;
          bad[a] ^= val(rng);
          bad[b] ^= val(rng);
          ASSERT_TRUE(DecodesTo(rs, bad, code)) << "seed " << seed << " pos " << a << "," << b;
        }
      }
    }
  }
}

class ReedSolomonRandomErrors : public ::testing::TestWithParam<int> {};

TEST_P(ReedSolomonRandomErrors, CorrectedExactly) {
  const int errors = GetParam();
  const uint32_t seed = 1000 + errors;
  std::mt19937 rng(seed);
  ReedSolomon rs;
  for (int trial = 0; trial < 20000; trial++) {
    const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, 12));
    ASSERT_TRUE(DecodesTo(rs, Corrupt(rng, code, errors), code))
        << "seed " << seed << " trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(ThreeAndFour, ReedSolomonRandomErrors, ::testing::Values(3, 4));

TEST(ReedSolomonDecode, OtherMessageLengths) {
  std::mt19937 rng(99);
  ReedSolomon rs;
  for (int len : {0, 1, 5, 9, 14}) {
    for (int trial = 0; trial < 2000; trial++) {
      const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, len));
      const int errors = trial % 5;
      ASSERT_TRUE(DecodesTo(rs, Corrupt(rng, code, errors), code))
          << "len " << len << " trial " << trial;
    }
  }
}

TEST(ReedSolomonDecode, TooManyErrorsNeverYieldInvalidWord) {
  const uint32_t seed = 31337;
  std::mt19937 rng(seed);
  ReedSolomon rs;
  int accepted = 0, gaveUp = 0;
  for (int errors = 5; errors <= 20; errors++) {
    for (int trial = 0; trial < 3000; trial++) {
      const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, 12));
      rs.SetCode(Corrupt(rng, code, errors));
      rs.Decode();
      for (int i = 0; i < kN; i++) ASSERT_TRUE(rs.recd[i] >= 0 && rs.recd[i] < 32);
      if (rs.mLastDecodeCorrectable) {
        accepted++;
        // A shortened word may be "corrected" into the zero tail; the full
        // word is still a code word.
        ASSERT_TRUE(AllSyndromesZero(rs.recd)) << "seed " << seed << " errors " << errors;
      } else {
        gaveUp++;
      }
    }
  }
  EXPECT_GT(gaveUp, 0);
  EXPECT_GT(accepted, 0);  // miscorrection is possible; those words must still be valid
}

// An uncorrectable word either comes back exactly as received (the locator
// gave up) or, when an error was located in the never-sent positions, as a
// word of the full 31-symbol code whose never-sent part is not zero.
TEST(ReedSolomonDecode, UncorrectableWordIsReceivedOrAFullCodeword) {
  std::mt19937 rng(5);
  ReedSolomon rs;
  int gaveUp = 0, outside = 0;
  for (int trial = 0; trial < 4000 && (gaveUp < 200 || outside < 20); trial++) {
    const std::vector<int> bad = Corrupt(rng, EncodeMessage(rs, RandomMessage(rng, 12)), 8);
    rs.SetCode(bad);
    rs.Decode();
    if (rs.mLastDecodeCorrectable) continue;
    std::vector<int> message;
    rs.GetMessage(message);
    const std::vector<int> received(bad.begin(), bad.begin() + 12);
    bool parityKept = true;
    for (int i = 0; i < kParity; i++) parityKept &= rs.recd[i] == bad[12 + i];
    if (message == received && parityKept) {
      gaveUp++;
      continue;
    }
    outside++;
    bool neverSentNonZero = false;
    for (int i = kParity + 12; i < kN; i++) neverSentNonZero |= rs.recd[i] != 0;
    EXPECT_TRUE(neverSentNonZero) << "trial " << trial;
    for (int power = 1; power <= kParity; power++) {
      int syndrome = 0;  // r(alpha^power) of the corrected full word
      for (int j = 0; j < kN; j++)
        if (rs.recd[j] != 0) syndrome ^= rs.alpha_to[(rs.index_of[rs.recd[j]] + power * j) % kN];
      EXPECT_EQ(syndrome, 0) << "trial " << trial << " power " << power;
    }
  }
  EXPECT_GE(gaveUp, 200);
  EXPECT_GE(outside, 20);
}

TEST(ReedSolomonSetCode, RejectedInputsChangeNothing) {
  ReedSolomon rs;
  const std::vector<int> code = EncodeMessage(rs, {1, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13});
  rs.SetCode(code);
  std::vector<int> before(rs.recd, rs.recd + kN);
  const std::vector<std::vector<int>> rejected = {
      std::vector<int>(23, 7), std::vector<int>(40, 7), std::vector<int>(19, 7), {}};
  for (const auto& r : rejected) {
    rs.SetCode(r);
    EXPECT_EQ(std::vector<int>(rs.recd, rs.recd + kN), before) << "size " << r.size();
  }
  rs.Decode();
  std::vector<int> message;
  rs.GetMessage(message);
  EXPECT_EQ(message, std::vector<int>(code.begin(), code.begin() + 12));
}

TEST(ReedSolomonSetCode, OutOfRangeSymbolsAreMasked) {
  ReedSolomon rs;
  const std::vector<int> code = EncodeMessage(rs, {1, 19, 17, 14, 21, 21, 24, 31, 31, 31, 31, 29});
  std::vector<int> wild = code;
  wild[0] += 32;
  wild[5] += 64 * 1000;
  wild[13] -= 32;
  EXPECT_TRUE(DecodesTo(rs, wild, code));

  const int extremes[] = {-1, 32, 33, 1000, -1000, INT_MIN, INT_MAX};
  for (int v : extremes) {
    rs.SetCode(std::vector<int>(20, v));
    rs.Decode();
    for (int i = 0; i < kN; i++) ASSERT_TRUE(rs.recd[i] >= 0 && rs.recd[i] < 32) << v;
  }
}

TEST(ReedSolomonDecode, FreshCodecDecodesZeroWord) {
  ReedSolomon rs;
  EXPECT_FALSE(rs.mLastDecodeCorrectable);
  rs.Decode();
  EXPECT_TRUE(rs.mLastDecodeCorrectable);
  std::vector<int> message;
  rs.GetMessage(message);
  EXPECT_EQ(message, std::vector<int>(12, 0));
}

TEST(ReedSolomonDecode, FlagTracksTheLatestDecode) {
  std::mt19937 rng(3);
  ReedSolomon rs;
  const std::vector<int> code = EncodeMessage(rs, RandomMessage(rng, 12));
  std::vector<int> hopeless;
  for (int trial = 0; trial < 1000 && hopeless.empty(); trial++) {
    std::vector<int> bad = Corrupt(rng, code, 10);
    rs.SetCode(bad);
    rs.Decode();
    if (!rs.mLastDecodeCorrectable) hopeless = bad;
  }
  ASSERT_FALSE(hopeless.empty());
  EXPECT_TRUE(DecodesTo(rs, code, code));
  rs.SetCode(hopeless);
  rs.Decode();
  EXPECT_FALSE(rs.mLastDecodeCorrectable);
}

// The 7-root generator has S1..S7 = 0 but S8 != 0, which drives the locator
// straight to degree 8 in the last step: one past what a row can hold.
TEST(ReedSolomonDecode, DegreeEightLocatorStaysInBounds) {
  int g7[kParity] = {1};
  for (int r = 1; r <= 7; r++) {
    for (int i = r; i > 0; i--) g7[i] = g7[i - 1] ^ kGf.Mul(g7[i], kGf.exp[r]);
    g7[0] = kGf.Mul(g7[0], kGf.exp[r]);
  }
  ASSERT_EQ(g7[7], 1);
  std::vector<int> code(12, 0);
  code.insert(code.end(), g7, g7 + kParity);

  ReedSolomon rs;
  rs.SetCode(code);
  rs.Decode();
  EXPECT_FALSE(rs.mLastDecodeCorrectable);
  for (int i = 0; i < kParity; i++) EXPECT_EQ(rs.recd[i], g7[i]);
  for (int j = 1; j < 8; j++) EXPECT_EQ(rs.s[j], -1) << j;
  EXPECT_NE(rs.s[8], -1);
}

TEST(ReedSolomonDecode, ErrorsInNeverSentPositionsAreNotACorrection) {
  // Within four symbols of a codeword of the full 31-symbol code, but only by
  // "errors" in the shortened positions that are known to be zero (a fuzzing
  // find): the corrections in the message are made, yet it is not a correction.
  ReedSolomon rs;
  const std::vector<int> word = {1, 16, 4, 24, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  rs.msg_len = 12;
  rs.SetCode(word);
  rs.Decode();
  EXPECT_FALSE(rs.mLastDecodeCorrectable);
  bool neverSentNonZero = false;
  for (int i = kParity + 12; i < kN; i++) neverSentNonZero |= rs.recd[i] != 0;
  EXPECT_TRUE(neverSentNonZero);
}
