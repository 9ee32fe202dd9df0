// What each mode sends and hears, and whether it works at a rate, as pure
// functions of their inputs: the one answer behind the C interface's
// queries, the listener and the sender.
#pragma once

namespace QUORLAX {
namespace modes {

constexpr int kMaxHeard = 4;

// 0 when `mode` (QUORLAX_MODE_*) can send and hear at `sampleRate` with this
// custom grid (read only in custom mode); otherwise -1 unrecognised mode, -4
// negative separation, -7 a rate or grid the mode cannot use.
int Check(int mode, float sampleRate, float customBaseHz, int customSeparation);
// The bands (decoding modes) that `mode` hears, in the order ties between
// them are broken; returns their count (0 for an unrecognised mode).
int BandsHeard(int mode, int* decodingModes);
// The decoding mode of the band that `mode` sends; -1 for an unrecognised mode.
int BandSent(int mode);
// "audible", ..., "all", "custom"; null for an unrecognised mode.
const char* Name(int mode);

}  // namespace modes
}  // namespace QUORLAX
