// Systematic Reed-Solomon codec over GF(32): n=31, k=23, corrects up to 4
// symbol errors. Shortened: only msg_len message symbols and 8 parity symbols
// travel; the unused high positions are zero on both sides.
//
// On-air order: msg_len message symbols, then parity bb[0..7]. Message symbol
// i is the coefficient of x^(8+i).
//
// Encode, SetCode and Decode allocate nothing; every table is allocated once
// by the constructor.
#pragma once

#include <vector>

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
  void SetMessage(std::vector<int> message);
  void Encode();
  void GetCode(std::vector<int>& code);

  // Ignored (nothing changes) when code.size() >= kk, msg_len >= kk, or
  // code.size() < msg_len + 8. Symbol values are masked to 5 bits (v & 31), so
  // out-of-range input is received as a wrong symbol, never a bad table index.
  void SetCode(std::vector<int> code);
  void Decode();
  void GetMessage(std::vector<int>& message);

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
};

}  // namespace QUORLAX
