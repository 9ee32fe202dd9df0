#include "ReedSolomon.h"

#include <cstddef>

namespace QUORLAX {

namespace {

void ToPolynomial(int* recd, const int* alpha_to, int nn) {
  for (int i = 0; i < nn; i++) recd[i] = (recd[i] == -1) ? 0 : alpha_to[recd[i]];
}

}  // namespace

ReedSolomon::ReedSolomon()
    : mm(5), nn(31), tt(4), kk(23), msg_len(12), mLastDecodeCorrectable(false), tables_{} {
  Tables& t = tables_;
  const int primitive[6] = {1, 0, 1, 0, 0, 1};
  for (int i = 0; i <= mm; i++) t.pp[i] = primitive[i];
  pp = t.pp;
  alpha_to = t.alpha_to;
  index_of = t.index_of;
  gg = t.gg;
  recd = t.recd;
  for (int i = 0; i < nn; i++) recd[i] = -1;
  data = t.data;
  bb = t.bb;
  for (int i = 0; i < kElpRows; i++) t.elp[i] = t.elpRows[i];
  elp = t.elp;
  d = t.d;
  l = t.l;
  u_lu = t.u_lu;
  s = t.s;
  root = t.root;
  loc = t.loc;
  z = t.z;
  err = t.err;
  reg = t.reg;

  GenerateGaloisField();
  GeneratePoly();
}

ReedSolomon::~ReedSolomon() {}

void ReedSolomon::GenerateGaloisField() {
  int mask = 1;
  alpha_to[mm] = 0;
  for (int i = 0; i < mm; i++) {
    alpha_to[i] = mask;
    index_of[mask] = i;
    if (pp[i] != 0) alpha_to[mm] ^= mask;
    mask <<= 1;
  }
  index_of[alpha_to[mm]] = mm;
  mask >>= 1;
  for (int i = mm + 1; i < nn; i++) {
    if (alpha_to[i - 1] >= mask)
      alpha_to[i] = alpha_to[mm] ^ ((alpha_to[i - 1] ^ mask) << 1);
    else
      alpha_to[i] = alpha_to[i - 1] << 1;
    index_of[alpha_to[i]] = i;
  }
  index_of[0] = -1;
  alpha_to[nn] = 0;
}

void ReedSolomon::GeneratePoly() {
  const int np = nn - kk;
  gg[0] = 2;  // alpha: the first root is alpha^1
  gg[1] = 1;
  for (int i = 2; i <= np; i++) {
    gg[i] = 1;
    for (int j = i - 1; j > 0; j--) {
      if (gg[j] != 0)
        gg[j] = gg[j - 1] ^ alpha_to[(index_of[gg[j]] + i) % nn];
      else
        gg[j] = gg[j - 1];
    }
    gg[0] = alpha_to[(index_of[gg[0]] + i) % nn];
  }
  for (int i = 0; i <= np; i++) gg[i] = index_of[gg[i]];
}

void ReedSolomon::SetMessage(const int* message, int size) {
  if (size > kk || size < 0) return;
  msg_len = size;
  for (int i = 0; i < kk; i++) data[i] = (i < msg_len) ? (message[i] & ((1 << mm) - 1)) : 0;
}

void ReedSolomon::Encode() {
  const int np = nn - kk;
  for (int i = 0; i < np; i++) bb[i] = 0;
  for (int i = kk - 1; i >= 0; i--) {
    const int feedback = index_of[data[i] ^ bb[np - 1]];
    if (feedback != -1) {
      for (int j = np - 1; j > 0; j--)
        bb[j] = (gg[j] != -1) ? bb[j - 1] ^ alpha_to[(gg[j] + feedback) % nn] : bb[j - 1];
      bb[0] = alpha_to[(gg[0] + feedback) % nn];
    } else {
      for (int j = np - 1; j > 0; j--) bb[j] = bb[j - 1];
      bb[0] = 0;
    }
  }
}

void ReedSolomon::GetCode(int* code) const {
  for (int i = 0; i < msg_len; i++) code[i] = data[i];
  for (int i = 0; i < nn - kk; i++) code[msg_len + i] = bb[i];
}

void ReedSolomon::SetCode(const int* code, int size) {
  const int np = nn - kk;
  if (size >= kk || msg_len >= kk || size < msg_len + np) return;
  for (int i = 0; i < np; i++) recd[i] = code[msg_len + i] & ((1 << mm) - 1);
  for (int i = 0; i < msg_len; i++) recd[np + i] = code[i] & ((1 << mm) - 1);
  for (int i = np + msg_len; i < nn; i++) recd[i] = 0;
  for (int i = 0; i < nn; i++) recd[i] = index_of[recd[i]];
}

void ReedSolomon::Decode() {
  const int np = nn - kk;

  bool syn_error = false;
  s[0] = -1;
  for (int i = 1; i <= np; i++) {
    int sum = 0;
    for (int j = 0; j < nn; j++)
      if (recd[j] != -1) sum ^= alpha_to[(recd[j] + i * j) % nn];
    if (sum != 0) syn_error = true;
    s[i] = index_of[sum];
  }

  if (!syn_error) {
    ToPolynomial(recd, alpha_to, nn);
    mLastDecodeCorrectable = true;
    return;
  }

  // Berlekamp-Massey; d[] and u_lu[] are index form, elp rows switch from
  // polynomial to index form once consumed.
  d[0] = 0;
  d[1] = s[1];
  elp[0][0] = 0;
  elp[1][0] = 1;
  for (int i = 1; i < kElpCols; i++) {
    elp[0][i] = -1;
    elp[1][i] = 0;
  }
  l[0] = 0;
  l[1] = 0;
  u_lu[0] = -1;
  u_lu[1] = 0;
  int u = 0;

  do {
    u++;
    if (d[u] == -1) {
      l[u + 1] = l[u];
      for (int i = 0; i <= l[u]; i++) {
        elp[u + 1][i] = elp[u][i];
        elp[u][i] = index_of[elp[u][i]];
      }
    } else {
      int q = u - 1;
      while (d[q] == -1 && q > 0) q--;
      if (q > 0) {
        for (int j = q - 1; j >= 0; j--)
          if (d[j] != -1 && u_lu[q] < u_lu[j]) q = j;
      }
      l[u + 1] = (l[u] > l[q] + u - q) ? l[u] : l[q] + u - q;
      for (int i = 0; i < kElpCols; i++) elp[u + 1][i] = 0;
      for (int i = 0; i <= l[q]; i++) {
        if (elp[q][i] != -1 && i + u - q < kElpCols)
          elp[u + 1][i + u - q] = alpha_to[(d[u] + nn - d[q] + elp[q][i]) % nn];
      }
      for (int i = 0; i <= l[u]; i++) {
        elp[u + 1][i] ^= elp[u][i];
        elp[u][i] = index_of[elp[u][i]];
      }
    }
    u_lu[u + 1] = u - l[u + 1];

    if (u < np) {
      int x = (s[u + 1] == -1) ? 0 : alpha_to[s[u + 1]];
      for (int i = 1; i <= l[u + 1] && i < kElpCols && i <= u; i++) {
        if (s[u + 1 - i] != -1 && elp[u + 1][i] != 0)
          x ^= alpha_to[(s[u + 1 - i] + index_of[elp[u + 1][i]]) % nn];
      }
      d[u + 1] = index_of[x];
    }
  } while (u < np && l[u + 1] <= tt);

  u++;
  if (l[u] > tt) {
    ToPolynomial(recd, alpha_to, nn);
    mLastDecodeCorrectable = false;
    return;
  }

  const int deg = l[u];
  for (int i = 0; i <= deg; i++) elp[u][i] = index_of[elp[u][i]];
  for (int i = 1; i <= deg; i++) reg[i] = elp[u][i];

  // Chien search over every power of alpha.
  int count = 0;
  for (int i = 1; i <= nn; i++) {
    int q = 1;
    for (int j = 1; j <= deg; j++) {
      if (reg[j] != -1) {
        reg[j] = (reg[j] + j) % nn;
        q ^= alpha_to[reg[j]];
      }
    }
    if (q == 0) {
      if (count < tt) {
        root[count] = i;
        loc[count] = nn - i;
      }
      count++;
    }
  }

  if (count != deg) {
    ToPolynomial(recd, alpha_to, nn);
    mLastDecodeCorrectable = false;
    return;
  }
  // An error located in the shortened positions (known zeros) means the word
  // lies nearer a codeword of the full code than of ours: the corrections are
  // still made, but the word does not count as corrected.
  bool outsideMessage = false;
  for (int m = 0; m < deg; m++) outsideMessage |= loc[m] >= nn - kk + msg_len;

  // Error evaluator z(x) = S(x) * sigma(x) mod x^(deg+1), constant term 1 implied.
  for (int i = 1; i <= deg; i++) {
    int sum = (s[i] != -1 ? alpha_to[s[i]] : 0) ^ (elp[u][i] != -1 ? alpha_to[elp[u][i]] : 0);
    for (int j = 1; j < i; j++) {
      if (s[j] != -1 && elp[u][i - j] != -1) sum ^= alpha_to[(elp[u][i - j] + s[j]) % nn];
    }
    z[i] = index_of[sum];
  }

  ToPolynomial(recd, alpha_to, nn);
  for (int i = 0; i < nn; i++) err[i] = 0;

  // Forney: error value = z(X^-1) / prod over other locators of (1 + X_other X^-1).
  for (int m = 0; m < deg; m++) {
    int num = 1;
    for (int j = 1; j <= deg; j++)
      if (z[j] != -1) num ^= alpha_to[(z[j] + j * root[m]) % nn];
    if (num != 0) {
      int den = 0;
      for (int k = 0; k < deg; k++)
        if (k != m) den = (den + index_of[alpha_to[(loc[k] + root[m]) % nn] ^ 1]) % nn;
      err[loc[m]] = alpha_to[(index_of[num] - den + nn) % nn];
      recd[loc[m]] ^= err[loc[m]];
    }
  }
  mLastDecodeCorrectable = !outsideMessage;
}

void ReedSolomon::GetMessage(int* message) const {
  for (int i = 0; i < msg_len; i++) message[i] = recd[nn - kk + i];
}

}  // namespace QUORLAX
