// Reed-Solomon decoding with erasures, for readers that know which tokens
// they are unsure of. The code is the protocol's: GF(32) from x^5 + x^2 + 1,
// roots alpha^1..alpha^8, 12 message symbols (front door, word, check) at
// x^8..x^19 and 8 parity symbols at x^0..x^7, in that order on air. With s
// positions erased it corrects e further errors where 2e + s <= 8. Pure
// functions of their arguments; nothing allocates.
#pragma once

namespace QUORLAX {

constexpr int kCodeSymbols = 20;

// Corrects `received` (20 values 0..31, on-air order) treating the
// `erasures` positions listed in `erased` (0..19, distinct) as unknown.
// True, with the codeword in `corrected`, when one lies within reach; false
// (corrected untouched) otherwise. `changed` counts the positions it altered.
bool DecodeWithErasures(const int* received, const int* erased, int erasures, int* corrected, int* changed);

}  // namespace QUORLAX
