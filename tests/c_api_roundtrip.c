/* The public header used from strict C99: a whole round trip. */
#include <stdio.h>
#include <string.h>

#include "ZunCoreLib_api.h"

#define CAPACITY 120000

static float stream[CAPACITY];

int main(void) {
  void* h = QUORLAX_Create();
  float block[1024];
  char text[30] = {0};
  int length = 1792; /* silence before the transmission */
  int n, pos, heard = 0;
  if (QUORLAX_Configure(QUORLAX_MODE_AUDIBLE, 44100.0f, 1024, h) != QUORLAX_OK) return 1;
  if (QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, NULL, 0, h) != 92160) return 2;
  while ((n = QUORLAX_GetEncodedAudioBuffer(block, h)) > 0) {
    memcpy(stream + length, block, sizeof(float) * (size_t)n);
    length += n;
  }
  length += 4096;
  for (pos = 0; pos < length; pos += 1024) {
    int count = length - pos < 1024 ? length - pos : 1024;
    int ev;
    for (ev = QUORLAX_DecodeAudioBuffer(stream + pos, count, h); ev != QUORLAX_NOT_READY;
         ev = QUORLAX_DecodeAudioBuffer(NULL, 0, h)) {
      if (ev == QUORLAX_MESSAGE_COMPLETE && QUORLAX_GetDecodedData(text, h) == 9) heard = 1;
    }
  }
  QUORLAX_Destroy(h);
  printf("heard '%s'\n", text);
  return heard && strcmp(text, "hello1234") == 0 ? 0 : 3;
}
