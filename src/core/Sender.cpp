#include "core/Sender.h"

#include "core/AnalysisSizes.h"
#include "Globals.h"
#include "core/MessageReadOut.h"
#include "core/Modes.h"

namespace QUORLAX {

Sender::Sender(int mode, float sampleRate, float customBaseHz, int customSeparation)
    : synth_(MultiToneBand::Compute(modes::BandSent(mode), sampleRate, AnalysisWindowFor(sampleRate), customBaseHz,
                                    customSeparation),
             sampleRate) {}

int Sender::Start(const char* text) {
  if (text == nullptr) return -4;
  // Stops at the first character outside the alphabet (a zero byte included),
  // so nothing past the caller's string is read.
  for (int i = 0; i < Globals::numWordTokens; ++i)
    if (Globals::getIdxFromChar(text[i]) < 0) return -4;
  if (text[Globals::numWordTokens] != '\0') return -4;
  int values[Globals::numTotalTokens];
  FrameTokens(codec_, text, Globals::numTokensAll, values);
  synth_.Start(values);
  return 0;
}

}  // namespace QUORLAX
