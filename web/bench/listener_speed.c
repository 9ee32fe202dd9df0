/* Native side of speed.mjs: times QUORLAX_Listener over a raw float32 file in
 * pushes of `chunk` samples, best of `runs`. Prints seconds and messages heard. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "ZunCoreLib_api.h"

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: listener_speed FILE RATE MODE CHUNK RUNS\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (f == NULL) return 2;
  fseek(f, 0, SEEK_END);
  const long n = ftell(f) / (long)sizeof(float);
  fseek(f, 0, SEEK_SET);
  float* audio = malloc(sizeof(float) * (size_t)n);
  if (audio == NULL || fread(audio, sizeof(float), (size_t)n, f) != (size_t)n) return 2;
  fclose(f);
  const float rate = (float)atof(argv[2]);
  const int mode = atoi(argv[3]), chunk = atoi(argv[4]), runs = atoi(argv[5]);
  double best = 1e30;
  int heard = 0;
  for (int r = 0; r < runs; r++) {
    int error = 0;
    QUORLAX_Listener* l = QUORLAX_ListenerCreate(mode, rate, &error);
    if (l == NULL) return 2;
    QUORLAX_Message m;
    heard = 0;
    const double t0 = now();
    for (long i = 0; i < n; i += chunk) {
      const int count = n - i < chunk ? (int)(n - i) : chunk;
      if (QUORLAX_ListenerPush(l, audio + i, count) < 0) return 2;
      while (QUORLAX_ListenerNext(l, &m) == 1) heard++;
    }
    QUORLAX_ListenerFlush(l);
    while (QUORLAX_ListenerNext(l, &m) == 1) heard++;
    const double t = now() - t0;
    if (t < best) best = t;
    QUORLAX_ListenerDestroy(l);
  }
  printf("%.6f %d\n", best, heard);
  free(audio);
  return 0;
}
