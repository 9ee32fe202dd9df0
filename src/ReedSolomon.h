// Systematic Reed-Solomon codec over GF(32): n=31, k=23, corrects up to 4
// symbol errors. Shortened: only msg_len message symbols and 8 parity symbols
// travel; the unused high positions are zero on both sides.
//
// On-air order: msg_len message symbols, then parity bb[0..7]. Message symbol
// i is the coefficient of x^(8+i).
//
// Nothing allocates: every table lives inside the object, so a codec can sit
// in a caller's memory block. The vector calls copy through the pointer ones
// (and are left out of the freestanding profile, which has no heap).
#pragma once

#if !defined(QUORLAX_FREESTANDING)
#include <cstddef>
#include <vector>
#endif

namespace QUORLAX {

class ReedSolomon {
 public:
  ReedSolomon();
  ~ReedSolomon();
  ReedSolomon(const ReedSolomon&) = delete;
  ReedSolomon& operator=(const ReedSolomon&) = delete;

  void GenerateGaloisField();
  void GeneratePoly();

  // Takes at most kk values; a longer message is ignored (nothing changes).
  // Values are masked to 5 bits.
  void SetMessage(const int* message, int size);
  void Encode();
  // Writes msg_len message symbols and 8 parity symbols.
  void GetCode(int* code) const;

  // Ignored (nothing changes) when code.size() >= kk, msg_len >= kk, or
  // code.size() < msg_len + 8. Symbol values are masked to 5 bits (v & 31), so
  // out-of-range input is received as a wrong symbol, never a bad table index.
  void SetCode(const int* code, int size);
  void Decode();
  // Writes the msg_len corrected message symbols.
  void GetMessage(int* message) const;

#if !defined(QUORLAX_FREESTANDING)
  void SetMessage(std::vector<int> message) { SetMessage(message.data(), static_cast<int>(message.size())); }
  void GetCode(std::vector<int>& code) {
    code.resize(static_cast<std::size_t>(msg_len + nn - kk));
    GetCode(code.data());
  }
  void SetCode(std::vector<int> code) { SetCode(code.data(), static_cast<int>(code.size())); }
  void GetMessage(std::vector<int>& message) {
    message.resize(static_cast<std::size_t>(msg_len));
    GetMessage(message.data());
  }
#endif

  int mm, nn, tt, kk, msg_len;

  int* pp;        // primitive polynomial x^5 + x^2 + 1
  int* alpha_to;  // log -> value
  int* index_of;  // value -> log, index_of[0] = -1
  int* gg;        // generator polynomial, index form
  int* recd;      // received word; starts as the zero word in index form
  int* data;
  int* bb;        // parity
  int** elp;
  int* d;
  int* l;
  int* u_lu;
  int* s;
  int* root;
  int* loc;
  int* z;
  int* err;
  int* reg;

  // True when the last Decode saw no error or corrected the word; false when it
  // gave up (the word is returned as received) or located an error in the
  // never-sent (shortened) positions (its corrections are made all the same).
  bool mLastDecodeCorrectable;

  static constexpr int kElpRows = 10;
  static constexpr int kElpCols = 8;  // locator degrees 0..7; anything higher is uncorrectable anyway

 private:
  // Where the pointers above point: sized for m = 5, n = 31, k = 23, t = 4.
  struct Tables {
    int pp[6], alpha_to[32], index_of[32], gg[9], recd[31], data[23], bb[8];
    int elpRows[kElpRows][kElpCols];
    int* elp[kElpRows];
    int d[kElpRows], l[kElpRows], u_lu[kElpRows], s[9], root[4], loc[4], z[5], err[31], reg[5];
  } tables_;
};

}  // namespace QUORLAX
