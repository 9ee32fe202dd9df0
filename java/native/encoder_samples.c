/* Writes the handle encoder's transmission of TEXT in MODE at RATE Hz to
 * stdout as float32 samples: the reference the Java package is checked
 * against. Usage: encoder_samples TEXT MODE RATE */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ZunCoreLib_api.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: encoder_samples TEXT MODE RATE\n");
    return 2;
  }
  void* h = QUORLAX_Create();
  int r = h == NULL ? QUORLAX_ERROR_OUT_OF_MEMORY : QUORLAX_Configure(atoi(argv[2]), (float)atof(argv[3]), 4096, h);
  if (r == QUORLAX_OK) r = QUORLAX_EncodeDataToAudioBuffer(argv[1], (int32_t)strlen(argv[1]), 0, NULL, 0, h);
  static float block[4096];
  int n = 0;
  while (r >= 0 && (n = QUORLAX_GetEncodedAudioBuffer(block, h)) > 0) fwrite(block, sizeof(float), (size_t)n, stdout);
  if (n < 0) r = n;
  QUORLAX_Destroy(h);
  if (r < 0) {
    fprintf(stderr, "encoder_samples: %s\n", QUORLAX_GetErrorText(r));
    return 1;
  }
  return 0;
}
