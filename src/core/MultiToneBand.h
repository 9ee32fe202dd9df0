// One multi-tone band at one rate and window, derived from its row of the band
// table: tone grid, loudness and shift step. Encoders and decoders snapshot it
// when they are built, so later changes of process-wide settings (another
// window size, a new custom base) do not alter a band already in use.
#pragma once

namespace QUORLAX {

struct MultiToneBand {
  static constexpr int kNumTones = 9;
  static constexpr int kNumTokens = 32;  // the pairs of tones that name a token
  // Senders snap a band's tones to the bins of their own rate, so a band has
  // one grid per protocol rate a sender may use (44100 and 48000 Hz).
  static constexpr int kSenderGrids = 2;
  static constexpr int kMaxShifts = 3;  // message tokens rotate through 0, 1, 2 steps

  int decodingMode = -1;            // Globals::DECODING_MODE
  float sampleRate = 0.0f;
  int windowSize = 0;
  float toneHz[kNumTones] = {};     // grid tone frequencies on the bins of this rate and window
  float nextToneHz = 0.0f;          // where a tenth tone would sit: the band's upper edge
  float toneGain[kNumTones] = {};   // synthesis gain of each tone
  float shiftHz = 0.0f;             // the encoder's shift step
  int shiftBins = 0;                // the step in bins of the 44100 Hz / 2048 grid

  // Builds band `decodingMode` (0..3) from the current process-wide settings
  // (the classes whose constructors have just set them).
  static MultiToneBand Make(int decodingMode, float sampleRate, int windowSize);
  // The same as a pure function of its inputs: the steps of `windowSize` and
  // the given custom grid. Reads and writes no process-wide setting, so any
  // thread may call it at any time.
  static MultiToneBand Compute(int decodingMode, float sampleRate, int windowSize, float customBaseHz,
                               int customSeparation);

  // Tone pair of `token` (lower first), and the token of a pair (-1: none).
  static void TonesOf(int token, int tones[2]);
  static int TokenOf(int tone1, int tone2);
  // The token whose two tones hold the most of `perTone` (votes, energies;
  // none negative): the first of equals.
  template <class T>
  static int StrongestToken(const T* perTone) {
    int best = 0;
    T most = T();
    for (int t = 0; t < kNumTokens; ++t) {
      int pair[2];
      TonesOf(t, pair);
      const T sum = perTone[pair[0]] + perTone[pair[1]];
      if (t == 0 || sum > most) {
        most = sum;
        best = t;
      }
    }
    return best;
  }

  // Decoder-side bins: bin of tone i, and the bins that shift step k (0..2)
  // moves a tone up at this rate (the encoder's shift in Hz over our bin width).
  int ToneBin(int tone) const;
  int ShiftBinsFor(int k) const;
  int SpectrumSize() const { return windowSize / 2 + 1; }

  // True when the window is at least 1024 samples, every bin a decoder reads
  // (neighbours and both shift steps included) lies inside the spectrum,
  // every sent tone below Nyquist, and neighbouring tones are at least three
  // bins apart.
  bool Fits() const;
};

}  // namespace QUORLAX
