/* Example firmware: a sender. It renders one transmission block by block
 * (128 samples, as a DMA half-buffer would be filled) from a sender that
 * lives in a static block, and writes the samples to a host file through
 * semihosting, as raw 32-bit floats in the processor's byte order (little
 * endian). Its last line:
 *   ram=BYTES instructions_per_audio_second=N
 *
 * Semihosting command line: sender TEXT OUT.raw [--mode MODE] [--rate HZ]
 * (defaults: audible, 48000 Hz). Exit status: 0, or 2 on errors. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ZunCoreLib_api.h"
#include "board.h"

enum { kBlock = 128, kExitError = 2 };

static unsigned char pool[4096] __attribute__((aligned(8)));

static int error(const char* what, const char* detail) {
  printf("quorlax-firmware: error: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  return kExitError;
}

int main(int argc, char** argv) {
  board_start();
  const char* usage = "usage: sender TEXT OUT.raw [--mode MODE] [--rate HZ]";
  const char* args[2] = {NULL, NULL};
  int positional = 0;
  int mode = QUORLAX_MODE_AUDIBLE;
  float rate = 48000.0f;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      mode = QUORLAX_ModeFromName(argv[++i]);
      if (mode < 0) return error("unknown mode", argv[i]);
    } else if (strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
      rate = (float)atoi(argv[++i]);
    } else if (positional < 2 && argv[i][0] != '-') {
      args[positional++] = argv[i];
    } else {
      return error(usage, NULL);
    }
  }
  if (positional != 2) return error(usage, NULL);

  const float base = QUORLAX_GetDefaultCustomBase();
  const int separation = QUORLAX_GetDefaultCustomSeparation();
  const int64_t bytes = QUORLAX_SenderSize(mode, rate, base, separation);
  if (bytes < 0) return error("this mode cannot send at this rate", QUORLAX_GetErrorText((int)bytes));
  if (bytes > (int64_t)sizeof pool) return error("the sender does not fit the firmware's pool", NULL);
  int code = 0;
  QUORLAX_Sender* sender = QUORLAX_SenderInit(pool, bytes, mode, rate, base, separation, &code);
  if (sender == NULL) return error("cannot place the sender", QUORLAX_GetErrorText(code));
  if (QUORLAX_SenderStart(sender, args[0]) != QUORLAX_OK)
    return error("a message is 9 characters of 0-9 and a-v", args[0]);

  FILE* out = fopen(args[1], "wb");
  if (out == NULL) return error("cannot write", args[1]);
  float block[kBlock];
  uint64_t spent = 0, samples = 0;
  for (;;) {
    const uint64_t before = board_instructions();
    const int n = QUORLAX_SenderRender(sender, block, kBlock);
    spent += board_instructions() - before;
    if (n <= 0) break;
    samples += (uint64_t)n;
    if (fwrite(block, sizeof(float), (size_t)n, out) != (size_t)n) {
      fclose(out);
      return error("cannot write", args[1]);
    }
  }
  fclose(out);
  QUORLAX_SenderDestroy(sender);
  const size_t ram = board_static_data() - sizeof pool + board_stack_high_water() + (size_t)bytes;
  printf("ram=%u instructions_per_audio_second=%llu\n", (unsigned)ram,
         (unsigned long long)(samples > 0 ? spent * (uint64_t)rate / samples : 0));
  return 0;
}
