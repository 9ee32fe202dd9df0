#include "wav.h"

#include <string.h>

enum { kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE, kMaxChannels = 64 };

static uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static unsigned le16(const unsigned char* p) { return (unsigned)p[0] | (unsigned)p[1] << 8; }

static int fail(WavReader* r, const char* why) {
  r->error = why;
  if (r->file != NULL) fclose(r->file);
  r->file = NULL;
  return -1;
}

/* Skips n bytes by reading them: semihosted files may not seek past their end. */
static int skip(FILE* f, uint32_t n) {
  unsigned char sink[64];
  while (n > 0) {
    const size_t take = n < sizeof sink ? n : sizeof sink;
    if (fread(sink, 1, take, f) != take) return -1;
    n -= (uint32_t)take;
  }
  return 0;
}

int wav_open(WavReader* r, const char* path) {
  memset(r, 0, sizeof *r);
  r->file = fopen(path, "rb");
  if (r->file == NULL) return fail(r, "cannot open the file");
  unsigned char head[12];
  if (fread(head, 1, sizeof head, r->file) != sizeof head || memcmp(head, "RIFF", 4) != 0 ||
      memcmp(head + 8, "WAVE", 4) != 0)
    return fail(r, "not a WAV file (no RIFF/WAVE header)");
  int have_format = 0;
  for (;;) {
    unsigned char chunk[8];
    if (fread(chunk, 1, sizeof chunk, r->file) != sizeof chunk) return fail(r, "truncated: no data chunk");
    const uint32_t size = le32(chunk + 4);
    if (memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char fmt[40];
      if (size < 16) return fail(r, "malformed fmt chunk");
      const uint32_t take = size < sizeof fmt ? size : (uint32_t)sizeof fmt;
      if (fread(fmt, 1, take, r->file) != take || skip(r->file, size - take + (size & 1)) != 0)
        return fail(r, "truncated fmt chunk");
      unsigned format = le16(fmt);
      if (format == kFormatExtensible) {
        if (size < 26) return fail(r, "malformed fmt chunk");
        format = le16(fmt + 24); /* the subformat's first two bytes */
      }
      r->channels = (int)le16(fmt + 2);
      const uint32_t rate = le32(fmt + 4);
      r->bits = (int)le16(fmt + 14);
      r->frame_bytes = (int)le16(fmt + 12);
      const int pcm = format == kFormatPcm && (r->bits == 16 || r->bits == 24);
      const int flt = format == kFormatFloat && r->bits == 32;
      if (!pcm && !flt) return fail(r, "unsupported encoding (16- or 24-bit PCM, or 32-bit float)");
      if (r->channels < 1 || r->channels > kMaxChannels || r->frame_bytes != r->channels * r->bits / 8)
        return fail(r, "malformed fmt chunk");
      if (rate == 0 || rate > 1000000) return fail(r, "malformed fmt chunk");
      r->rate = (int)rate;
      have_format = 1;
    } else if (memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return fail(r, "no fmt chunk before the data");
      r->until_end = size == 0xFFFFFFFFu;
      r->left = size - size % (uint32_t)r->frame_bytes;
      return 0;
    } else if (skip(r->file, size + (size & 1)) != 0) {
      return fail(r, "truncated: no data chunk");
    }
  }
}

int wav_read(WavReader* r, float* out, int max) {
  unsigned char raw[512];
  const int per_read = (int)sizeof raw / r->frame_bytes;
  int got = 0;
  while (got < max && (r->left > 0 || r->until_end)) {
    int frames = max - got < per_read ? max - got : (per_read > 0 ? per_read : 1);
    if (!r->until_end && (uint32_t)frames * (uint32_t)r->frame_bytes > r->left)
      frames = (int)(r->left / (uint32_t)r->frame_bytes);
    const size_t want = (size_t)frames * (size_t)r->frame_bytes;
    const size_t n = fread(raw, 1, want > sizeof raw ? sizeof raw : want, r->file);
    const int whole = (int)(n / (size_t)r->frame_bytes);
    for (int i = 0; i < whole; ++i) {
      const unsigned char* s = raw + i * r->frame_bytes;
      if (r->bits == 16) {
        out[got + i] = (float)(int16_t)le16(s) * (1.0f / 32768.0f);
      } else if (r->bits == 24) {
        const int32_t v = (int32_t)((uint32_t)s[0] << 8 | (uint32_t)s[1] << 16 | (uint32_t)s[2] << 24);
        out[got + i] = (float)v * (1.0f / 2147483648.0f);
      } else {
        const uint32_t bits = le32(s);
        memcpy(&out[got + i], &bits, sizeof bits);
      }
    }
    got += whole;
    if (!r->until_end) r->left -= (uint32_t)whole * (uint32_t)r->frame_bytes;
    if (n < want) {
      if (r->until_end) {
        r->until_end = 0;
        break;
      }
      r->error = "truncated: the file ends inside its data";
      return -1;
    }
  }
  return got;
}

void wav_close(WavReader* r) {
  if (r->file != NULL) fclose(r->file);
  r->file = NULL;
}
