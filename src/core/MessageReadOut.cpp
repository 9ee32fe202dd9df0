#include "core/MessageReadOut.h"

#include "Globals.h"

namespace QUORLAX {

namespace {
constexpr float kFullConfidenceDb = 15.0f;
}

void FrameTokens(ReedSolomon& rs, const char* text, int tokens, int* values) {
  int n = 0;
  values[n++] = Globals::getIdxFromChar(Globals::frontDoorTokens[0]);
  values[n++] = Globals::getIdxFromChar(Globals::frontDoorTokens[1]);
  for (int i = 0; i < Globals::numWordTokens; ++i) values[n++] = Globals::getIdxFromChar(text[i]);
  int checkSum = 0;
  for (int i = 0; i < Globals::numWordTokens; ++i) checkSum += values[Globals::numFrontDoorTokens + i];
  values[n++] = checkSum % tokens;
  rs.SetMessage(values, n);
  rs.Encode();
  rs.GetCode(values);
}

ReadOut ReadOutTokens(ReedSolomon& rs, int* values, int* received, char* text) {
  const int messageSymbols = Globals::numTotalTokens - Globals::numCorrectionTokens;
  rs.msg_len = messageSymbols;
  for (int i = 0; i < messageSymbols; ++i) received[i] = values[i];
  rs.SetCode(values, Globals::numTotalTokens);
  rs.Decode();
  rs.GetMessage(values);

  ReadOut r{true, 0, 0.0f};
  for (int i = 0; i < messageSymbols; ++i) r.unchanged += values[i] == received[i];
  r.correctionShare = static_cast<float>(r.unchanged) / messageSymbols;
  const int checkIndex = Globals::numFrontDoorTokens + Globals::numWordTokens;
  int checkSum = 0;
  for (int i = Globals::numFrontDoorTokens; i < checkIndex; ++i) checkSum += values[i];
  r.ok = values[checkIndex] == checkSum % Globals::numTokensAll;
  // A word the code could not correct (or whose "corrections" reach positions
  // never sent), or a correction of the known front door, is a miscorrection.
  if (!rs.mLastDecodeCorrectable) r.ok = false;
  for (int i = 0; i < Globals::numFrontDoorTokens; ++i)
    if (values[i] != received[i]) r.ok = false;

  for (int i = 0; i < Globals::numWordTokens; ++i)
    text[i] = Globals::getCharFromIdx(values[Globals::numFrontDoorTokens + i]);
  text[Globals::numWordTokens] = '\0';
  return r;
}

float MessageConfidence(float meanRatioDb, float correctionShare) {
  const float x = meanRatioDb;
  const float norm = x <= 0.0f ? 0.0f : (x >= kFullConfidenceDb ? 1.0f : x / kFullConfidenceDb);
  return norm * correctionShare;
}

}  // namespace QUORLAX
