/* Example firmware: a receiver. It reads a WAV file from the host through
 * semihosting in blocks of 128 samples, as an I2S DMA half-buffer would
 * arrive, pushes each block into a listener that lives in a static block,
 * and prints every message as `quorlax decode` does. Its last line tells
 * what it cost:
 *   ram=BYTES instructions_per_audio_second=N
 * RAM is its static data (without the pool the listener is placed in) plus
 * the stack's high-water mark plus the listener's block; instructions are
 * those spent inside QUORLAX_ListenerPush, per second of audio. With
 * --exact, the line also counts the double-precision helper calls made
 * while pushing (none: the listener is single precision per hop).
 *
 * Semihosting command line: receiver FILE.wav [--mode MODE] [--readings N] [--failed] [--exact]
 * Exit status: 0 when a message passed its check, 1 when none did, 2 on errors. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ZunCoreLib_api.h"
#include "board.h"
#include "wav.h"

enum { kBlock = 128, kExitFound = 0, kExitNothing = 1, kExitError = 2 };

/* Where the listener lives: enough for every mode at every rate (a product
 * sizes it for its own configuration with QUORLAX_ListenerSize). */
#define POOL_BYTES (256 * 1024)
static unsigned char pool[POOL_BYTES] __attribute__((aligned(8)));

static int error(const char* what, const char* detail) {
  printf("quorlax-firmware: error: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  return kExitError;
}

/* The mode a file at `rate` is heard in by default: all bands where the
 * rate allows it, else the audible band (the only one at 22050 Hz). */
static int default_mode(float rate) {
  return QUORLAX_IsSupported(QUORLAX_MODE_ALL, rate, 0.0f, 0) == QUORLAX_OK ? QUORLAX_MODE_ALL : QUORLAX_MODE_AUDIBLE;
}

static int library_rate(float rate) {
  float rates[8];
  const int n = QUORLAX_GetSampleRates(rates, 8);
  for (int i = 0; i < n && i < 8; ++i)
    if (rates[i] == rate) return 1;
  return 0;
}

/* Prints the waiting messages as `quorlax decode` does (with `exact`, also
 * the start sample, level and confidence to the bit); counts those that
 * passed. */
static int drain(QUORLAX_Listener* listener, float rate, int failed, int exact) {
  int passed = 0;
  QUORLAX_MessageEx m;
  m.size = sizeof m;
  while (QUORLAX_ListenerNextEx(listener, &m) == 1) {
    passed += m.ok;
    if (!m.ok && !failed) continue;
    printf("%s\t%s\tband=%s\tconfidence=%.2f\tlevel=%.1f dB\tat=%.2f s", m.text, m.ok ? "ok" : "check-failed",
           QUORLAX_GetModeName(m.band), (double)m.confidence, (double)m.level_db, (double)m.start / rate);
    if (exact)
      printf("\tstart=%lld\tlevel=%a\tconfidence=%a", (long long)m.start, (double)m.level_db, (double)m.confidence);
    printf("\n");
  }
  return passed;
}

int main(int argc, char** argv) {
  board_start();
  const char* path = NULL;
  const char* mode_name = NULL;
  int readings = 0;
  int failed = 0;
  int exact = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      mode_name = argv[++i];
    } else if (strcmp(argv[i], "--readings") == 0 && i + 1 < argc) {
      readings = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--failed") == 0) {
      failed = 1;
    } else if (strcmp(argv[i], "--exact") == 0) {
      exact = 1;
    } else if (path == NULL && argv[i][0] != '-') {
      path = argv[i];
    } else {
      return error("usage: receiver FILE.wav [--mode MODE] [--readings N] [--failed] [--exact]", NULL);
    }
  }
  if (path == NULL) return error("usage: receiver FILE.wav [--mode MODE] [--readings N] [--failed] [--exact]", NULL);

  WavReader wav;
  if (wav_open(&wav, path) != 0) return error(path, wav.error);
  const float rate = (float)wav.rate;
  if (!library_rate(rate)) {
    wav_close(&wav);
    printf("quorlax-firmware: error: %s: %d Hz: the device takes", path, wav.rate);
    float rates[8];
    const int count = QUORLAX_GetSampleRates(rates, 8);
    for (int i = 0; i < count && i < 8; ++i) printf("%s %d", i == 0 ? "" : (i + 1 == count ? " or" : ","), (int)rates[i]);
    printf(" Hz as they come (no resampling here)\n");
    return kExitError;
  }
  const int mode = mode_name != NULL ? QUORLAX_ModeFromName(mode_name) : default_mode(rate);
  if (mode < 0) {
    wav_close(&wav);
    return error("unknown mode", mode_name);
  }

  /* Capacities for a device: 3 readings in flight per band heard (one per
   * transmission's door; the desktop's 8 cover overlapping senders in every
   * band at once), and a short queue, drained after every block. */
  QUORLAX_ModeInfo info;
  info.size = sizeof info;
  const int known = QUORLAX_GetModeInfo(mode, rate, QUORLAX_GetDefaultCustomBase(),
                                        QUORLAX_GetDefaultCustomSeparation(), &info);
  QUORLAX_ListenerConfig config;
  QUORLAX_ListenerConfigInit(&config, mode, rate);
  config.report_failed = failed;
  config.max_readings = readings > 0 ? readings : 3 * (known == QUORLAX_OK ? info.num_hears : 1);
  config.queue = 8;
  const int64_t bytes = QUORLAX_ListenerSize(&config);
  if (bytes < 0) {
    wav_close(&wav);
    printf("quorlax-firmware: error: %s at %d Hz: %s\n", QUORLAX_GetModeName(mode), wav.rate,
           QUORLAX_GetErrorText((int)bytes));
    return kExitError;
  }
  if (bytes > POOL_BYTES) {
    wav_close(&wav);
    return error("the listener does not fit the firmware's pool", NULL);
  }
  int code = 0;
  QUORLAX_Listener* listener = QUORLAX_ListenerInit(pool, bytes, &config, &code);
  if (listener == NULL) {
    wav_close(&wav);
    return error("cannot place the listener", QUORLAX_GetErrorText(code));
  }

  float block[kBlock];
  uint64_t spent = 0;
  uint64_t samples = 0;
  int passed = 0;
  int n;
  uint64_t doubles = 0;
  while ((n = wav_read(&wav, block, kBlock)) > 0) {
    const uint64_t before = board_instructions(), before_doubles = board_double_calls();
    QUORLAX_ListenerPush(listener, block, n);
    spent += board_instructions() - before;
    doubles += board_double_calls() - before_doubles;
    samples += (uint64_t)n;
    passed += drain(listener, rate, failed, exact);
  }
  wav_close(&wav);
  if (n < 0) return error(path, wav.error);
  QUORLAX_ListenerFlush(listener);
  passed += drain(listener, rate, failed, exact);

  const size_t ram = board_static_data() - sizeof pool + board_stack_high_water() + (size_t)bytes;
  const uint64_t per_second = samples > 0 ? spent * (uint64_t)wav.rate / samples : 0;
  printf("ram=%u instructions_per_audio_second=%llu", (unsigned)ram, (unsigned long long)per_second);
  if (exact) printf(" double_calls=%llu", (unsigned long long)doubles);
  printf("\n");
  QUORLAX_ListenerDestroy(listener);
  return passed > 0 ? kExitFound : kExitNothing;
}
