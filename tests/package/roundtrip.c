/* A user's C program against the installed library: version, error text and
 * a round trip per row, through the public header only. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ZunCoreLib_api.h"

#ifndef EXPECTED_VERSION
#error "build with -DEXPECTED_VERSION=\"x.y.z\" (the version the package reports)"
#endif

typedef struct {
  const char* text;
  int mode;
  float rate;
  int lead_in; /* silence before the transmission: one window less one hop */
} Case;

static const Case cases[] = {
    {"hello1234", QUORLAX_MODE_AUDIBLE, 44100.0f, 1792},
    {"0vq7k2m9a", QUORLAX_MODE_NONAUDIBLE, 48000.0f, 1984},
    {"tuv000abc", QUORLAX_MODE_COMPRESSION, 44100.0f, 1792},
};

static int round_trip(const Case* c) {
  void* h = QUORLAX_Create();
  float block[1024];
  char text[30] = {0};
  float* stream;
  int length = c->lead_in, capacity = 0, n, pos, heard = 0;
  if (h == NULL || QUORLAX_Configure(c->mode, c->rate, 1024, h) != QUORLAX_OK) return 0;
  capacity = c->lead_in + QUORLAX_EncodeDataToAudioBuffer(c->text, 9, 0, NULL, 0, h) + 4096;
  stream = calloc((size_t)capacity, sizeof(float));
  if (stream == NULL) return 0;
  while ((n = QUORLAX_GetEncodedAudioBuffer(block, h)) > 0) {
    memcpy(stream + length, block, sizeof(float) * (size_t)n);
    length += n;
  }
  length = capacity;
  for (pos = 0; pos < length; pos += 1024) {
    int count = length - pos < 1024 ? length - pos : 1024;
    int ev;
    for (ev = QUORLAX_DecodeAudioBuffer(stream + pos, count, h); ev != QUORLAX_NOT_READY;
         ev = QUORLAX_DecodeAudioBuffer(NULL, 0, h)) {
      if (ev == QUORLAX_MESSAGE_COMPLETE && QUORLAX_GetDecodedData(text, h) == 9) heard = 1;
    }
  }
  free(stream);
  QUORLAX_Destroy(h);
  printf("mode %d at %.0f Hz: sent %s, heard '%s'\n", c->mode, (double)c->rate, c->text, text);
  return heard && strcmp(text, c->text) == 0;
}

int main(void) {
  const char* version = QUORLAX_GetVersion();
  size_t i;
  int failed = 0;
  printf("%s\n", version);
  if (strstr(version, " " EXPECTED_VERSION " ") == NULL) {
    fprintf(stderr, "library says '%s', the package %s\n", version, EXPECTED_VERSION);
    failed = 1;
  }
  if (strcmp(QUORLAX_GetErrorText(QUORLAX_OK), QUORLAX_GetErrorText(QUORLAX_ERROR_UNSUPPORTED)) == 0) {
    fprintf(stderr, "one error text for two codes\n");
    failed = 1;
  }
  for (i = 0; i < sizeof cases / sizeof cases[0]; i++) failed |= !round_trip(&cases[i]);
  return failed;
}
