/* The public header used from strict C99: a whole round trip through the
 * handle, and another through a sender and a listener in static memory. */
#include <stdio.h>
#include <string.h>

#include "ZunCoreLib_api.h"

#define CAPACITY 120000

static float stream[CAPACITY];
static unsigned char listener_block[1 << 20];
static unsigned char sender_block[8192];

static int handle_round_trip(void) {
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
  printf("handle heard '%s'\n", text);
  return heard && strcmp(text, "hello1234") == 0 ? 0 : 3;
}

/* No heap: the sender and the listener live in static blocks. */
static int static_round_trip(void) {
  QUORLAX_ListenerConfig config;
  QUORLAX_ModeInfo info;
  QUORLAX_MessageEx m;
  QUORLAX_Sender* s;
  QUORLAX_Listener* l;
  int error, n, length = 0, heard = 0;
  info.size = sizeof info; /* growable structs: the caller says which it has */
  m.size = sizeof m;
  if (QUORLAX_GetModeInfo(QUORLAX_MODE_ALL, 48000.0f, 0.0f, 0, &info) != QUORLAX_OK) return 4;
  if (QUORLAX_SenderSize(QUORLAX_MODE_ALL, 48000.0f, 0.0f, 0) > (int64_t)sizeof sender_block) return 5;
  s = QUORLAX_SenderInit(sender_block, sizeof sender_block, QUORLAX_MODE_ALL, 48000.0f, 0.0f, 0, &error);
  if (s == NULL || QUORLAX_SenderStart(s, "static123") != QUORLAX_OK) return 6;
  while ((n = QUORLAX_SenderRender(s, stream + length, 333)) > 0) length += n;
  QUORLAX_SenderDestroy(s);
  if (length != info.transmission_samples) return 7;
  QUORLAX_ListenerConfigInit(&config, QUORLAX_MODE_ALL, 48000.0f);
  if (QUORLAX_ListenerSize(&config) > (int64_t)sizeof listener_block) return 8;
  l = QUORLAX_ListenerInit(listener_block, sizeof listener_block, &config, &error);
  if (l == NULL) return 9;
  if (QUORLAX_ListenerPush(l, stream, length) != QUORLAX_OK || QUORLAX_ListenerFlush(l) != QUORLAX_OK) return 10;
  while (QUORLAX_ListenerNextEx(l, &m) == 1) heard += m.ok && strcmp(m.text, "static123") == 0;
  QUORLAX_ListenerDestroy(l);
  printf("static listener heard '%s' in the %s band\n", m.text, QUORLAX_GetModeName(m.band));
  return heard == 1 ? 0 : 11;
}

int main(void) {
  int r = handle_round_trip();
  return r != 0 ? r : static_round_trip();
}
