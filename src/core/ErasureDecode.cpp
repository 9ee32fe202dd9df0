#include "core/ErasureDecode.h"

namespace QUORLAX {

namespace {

constexpr int kOrder = 31;  // non-zero elements of GF(32)
constexpr int kRoots = 8;   // parity symbols: roots alpha^1..alpha^8

struct Field {
  int exp[2 * kOrder];  // alpha^i, twice over so sums of logs need no reduction
  int log[32];          // log[0] unused
};

constexpr Field MakeField() {
  Field f{};
  int x = 1;
  for (int i = 0; i < kOrder; ++i) {
    f.exp[i] = f.exp[i + kOrder] = x;
    f.log[x] = i;
    x <<= 1;
    if (x & 32) x ^= 0x25;  // x^5 = x^2 + 1
  }
  return f;
}

constexpr Field kField = MakeField();

int Mul(int a, int b) { return a == 0 || b == 0 ? 0 : kField.exp[kField.log[a] + kField.log[b]]; }
int Inverse(int a) { return kField.exp[(kOrder - kField.log[a]) % kOrder]; }
int Power(int i) { return kField.exp[((i % kOrder) + kOrder) % kOrder]; }  // alpha^i

// The exponent of the codeword polynomial that on-air position p holds.
int ExponentOf(int p) { return p < 12 ? 8 + p : p - 12; }

// p(x) at x.
int Evaluate(const int* p, int degree, int x) {
  int y = 0;
  for (int i = degree; i >= 0; --i) y = Mul(y, x) ^ p[i];
  return y;
}

void Syndromes(const int* word, int* s) {
  for (int j = 1; j <= kRoots; ++j) {
    int sum = 0;
    for (int p = 0; p < kCodeSymbols; ++p) sum ^= Mul(word[p] & 31, Power(j * ExponentOf(p)));
    s[j - 1] = sum;
  }
}

}  // namespace

bool DecodeWithErasures(const int* received, const int* erased, int erasures, int* corrected, int* changed) {
  if (erasures < 0 || erasures > kRoots) return false;
  int word[kCodeSymbols];
  for (int p = 0; p < kCodeSymbols; ++p) word[p] = received[p] & 31;
  int s[kRoots];
  Syndromes(word, s);
  // The erasure locator: the product of (1 + X x) over the erased positions.
  int lambda[kRoots + 2] = {1}, before[kRoots + 2] = {};
  for (int k = 0; k < erasures; ++k) {
    if (erased[k] < 0 || erased[k] >= kCodeSymbols) return false;
    const int x = Power(ExponentOf(erased[k]));
    for (int i = k + 1; i >= 1; --i) lambda[i] ^= Mul(lambda[i - 1], x);
  }
  for (int i = 0; i <= kRoots + 1; ++i) before[i] = lambda[i];
  // Berlekamp-Massey from the erasure locator on (Blahut's form).
  int length = erasures;
  for (int r = erasures + 1; r <= kRoots; ++r) {
    int delta = 0;
    for (int i = 0; i <= length && i < r; ++i) delta ^= Mul(lambda[i], s[r - 1 - i]);
    int shifted[kRoots + 2] = {};
    for (int i = kRoots; i >= 0; --i) shifted[i + 1] = before[i];
    if (delta == 0) {
      for (int i = 0; i <= kRoots + 1; ++i) before[i] = shifted[i];
      continue;
    }
    int next[kRoots + 2];
    for (int i = 0; i <= kRoots + 1; ++i) next[i] = lambda[i] ^ Mul(delta, shifted[i]);
    if (2 * length <= r - 1 + erasures) {
      const int inverse = Inverse(delta);
      for (int i = 0; i <= kRoots + 1; ++i) before[i] = Mul(inverse, lambda[i]);
      length = r + erasures - length;
    } else {
      for (int i = 0; i <= kRoots + 1; ++i) before[i] = shifted[i];
    }
    for (int i = 0; i <= kRoots + 1; ++i) lambda[i] = next[i];
  }
  int degree = kRoots + 1;
  while (degree > 0 && lambda[degree] == 0) --degree;
  if (degree != length || 2 * (length - erasures) + erasures > kRoots) return false;
  // Its roots among the positions on air (the shortened ones are known zeros).
  int where[kRoots], count = 0;
  for (int p = 0; p < kCodeSymbols && count <= degree; ++p)
    if (Evaluate(lambda, degree, Power(-ExponentOf(p))) == 0) {
      if (count == kRoots) return false;
      where[count++] = p;
    }
  if (count != degree) return false;
  // Forney: e = omega(1/X) / lambda'(1/X), with omega = s lambda mod x^8.
  int omega[kRoots] = {};
  for (int i = 0; i < kRoots; ++i)
    for (int j = 0; j <= i && j <= degree; ++j) omega[i] ^= Mul(lambda[j], s[i - j]);
  for (int k = 0; k < count; ++k) {
    const int inverseX = Power(-ExponentOf(where[k]));
    int slope = 0;  // lambda'(x): the odd terms, in characteristic 2
    for (int i = 1; i <= degree; i += 2) slope ^= Mul(lambda[i], Power(kField.log[inverseX] * (i - 1)));
    if (slope == 0) return false;
    word[where[k]] ^= Mul(Evaluate(omega, kRoots - 1, inverseX), Inverse(slope));
  }
  Syndromes(word, s);
  for (int j = 0; j < kRoots; ++j)
    if (s[j] != 0) return false;
  int altered = 0;
  for (int p = 0; p < kCodeSymbols; ++p) altered += word[p] != (received[p] & 31);
  for (int p = 0; p < kCodeSymbols; ++p) corrected[p] = word[p];
  if (changed != nullptr) *changed = altered;
  return true;
}

}  // namespace QUORLAX
