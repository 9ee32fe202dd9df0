#include "MessageReadOut.h"

#include <cstring>

#include "Globals.h"

namespace QUORLAX {

ReadOut ReadOutTokens(ReedSolomon& rs, std::vector<int>& values, int* received, char* text) {
  const int messageSymbols = Globals::numTotalTokens - Globals::numCorrectionTokens;
  rs.msg_len = messageSymbols;
  for (int i = 0; i < messageSymbols; ++i) received[i] = values[i];
  rs.SetCode(values);
  rs.Decode();
  rs.GetMessage(values);

  ReadOut r{true, 0};
  for (int i = 0; i < messageSymbols; ++i) r.unchanged += values[i] == received[i];
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

}  // namespace QUORLAX
