/* A WAV file read a block at a time through the C library's stdio (on the
 * example boards, the host's files through semihosting): 16- and 24-bit PCM
 * and 32-bit float, any channel count, the first channel handed out as
 * floats with the values a desktop reader (libsndfile) gives. */
#ifndef QUORLAX_EMBEDDED_WAV_H
#define QUORLAX_EMBEDDED_WAV_H

#include <stdint.h>
#include <stdio.h>

typedef struct WavReader {
  FILE* file;
  int rate;
  int channels;
  int bits;        /* 16 or 24 (PCM), 32 (float) */
  int frame_bytes;
  uint32_t left;   /* data bytes still to read */
  int until_end;   /* the data chunk's size is unknown (0xFFFFFFFF): read to the end of the file */
  const char* error;
} WavReader;

/* 0, or -1 with r->error set (the file is then closed). */
int wav_open(WavReader* r, const char* path);

/* Up to `max` samples of the first channel into `out`: the count, 0 at the
 * end of the data, -1 with r->error set when the file ends early. */
int wav_read(WavReader* r, float* out, int max);

void wav_close(WavReader* r);

#endif
