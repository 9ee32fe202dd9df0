/*
 * Quorlax: data over sound. The C interface of the library.
 *
 * A handle sends and receives nine-character messages as 20-token chords.
 * Audio is mono 32-bit float at the configured sample rate.
 *
 * Threads: a handle is used by one thread at a time. QUORLAX_Configure,
 * QUORLAX_SetCustomBaseFreq, QUORLAX_SetSynthMode and QUORLAX_SetSynthVolume
 * write process-wide settings: call them from one thread while no other
 * handle is being configured. Once configured, different handles may encode
 * and decode on different threads at the same time.
 *
 * Results: 0 or a count on success; negative codes below otherwise.
 */
#ifndef QUORLAX_ZUNCORELIB_API_H
#define QUORLAX_ZUNCORELIB_API_H

#include <stdint.h>

#if defined(_WIN32)
#define QUORLAX_EXPORT __declspec(dllexport)
#else
#define QUORLAX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum QUORLAX_MODE {
  QUORLAX_MODE_AUDIBLE = 2,     /* tones about 3.3 to 9.3 kHz */
  QUORLAX_MODE_NONAUDIBLE = 3,  /* about 17.8 to 19.9 kHz */
  QUORLAX_MODE_COMPRESSION = 4, /* about 14.0 to 15.5 kHz */
  QUORLAX_MODE_ALL = 5,         /* sends non-audible, hears audible, non-audible and compression */
  QUORLAX_MODE_CUSTOM = 6       /* grid above QUORLAX_SetCustomBaseFreq's base */
} QUORLAX_MODE;

/* Result codes. */
#define QUORLAX_OK 0
#define QUORLAX_NOT_READY (-1)        /* decoder needs more audio; also an unrecognised mode */
#define QUORLAX_FRONT_DOOR (-2)       /* decoder found the start of a transmission */
#define QUORLAX_MESSAGE_COMPLETE (-3) /* decoder holds a whole message: call QUORLAX_GetDecodedData */
#define QUORLAX_ERROR_INVALID_ARGUMENT (-4)
#define QUORLAX_ERROR_NOT_CONFIGURED (-5)
#define QUORLAX_ERROR_BUFFER_FULL (-6)
#define QUORLAX_ERROR_UNSUPPORTED (-7)
#define QUORLAX_CHECK_FAILED (-9) /* decoded text failed its check (GetDecodedData) */

/* A constant English sentence for any result code; never NULL. */
QUORLAX_EXPORT const char* QUORLAX_GetErrorText(int code);

/* New empty handle (NULL only when out of memory). */
QUORLAX_EXPORT void* QUORLAX_Create(void);

/* Releases the handle and its encoder/decoder. NULL is ignored. */
QUORLAX_EXPORT void QUORLAX_Destroy(void* zuningObject);

/* "Quorlax version 1.0.0 [QuorlaxSDK]", static storage. */
QUORLAX_EXPORT const char* QUORLAX_GetVersion(void);

/* Writes "Quorlax Python SDK" and a zero byte (19 bytes); returns 18, or -4 for NULL. */
QUORLAX_EXPORT int32_t QUORLAX_GetVersionInfo(char* versioninfo);

/* Builds the encoder/decoder pair of `mode` at `samplingRate` Hz; `bufferSize`
 * samples are handed out per QUORLAX_GetEncodedAudioBuffer. Discards the
 * previous pair first. 0; -1 unrecognised mode; -5 NULL handle; -7 rate,
 * buffer size or band that this mode cannot use (the handle is then emptied). */
QUORLAX_EXPORT int32_t QUORLAX_Configure(int mode, float samplingRate, int32_t bufferSize,
                                         void* zuningObject);

/* Lays up to one transmission's length of samples over the start of every later
 * encoding; NULL or samplesSize <= 0 removes it. 0; -5. */
QUORLAX_EXPORT int32_t QUORLAX_SetAudioSignature(int32_t samplesSize, const float* samplesBuffer,
                                                 void* zuningObject);

/* Encodes the 9 alphabet characters ('0'-'9', 'a'-'v', either case) of
 * stringToEncode (`size` must be 9). type 1 adds a random melody, type 2 the
 * melodySize notes of melodyString. Returns the sample count; -4 bad message
 * or melody (the previous transmission stays); -5 no encoder. */
QUORLAX_EXPORT int32_t QUORLAX_EncodeDataToAudioBuffer(const char* stringToEncode, int32_t size,
                                                       int32_t type, const char* melodyString,
                                                       int32_t melodySize, void* zuningObject);

/* Copies the next bufferSize samples (fewer at the end) into audioBuffer,
 * which holds at least bufferSize floats. Returns the count, 0 at the end; -4 NULL buffer; -5. */
QUORLAX_EXPORT int32_t QUORLAX_GetEncodedAudioBuffer(float* audioBuffer, void* zuningObject);

/* Rewinds the encoded transmission. 0; -5. */
QUORLAX_EXPORT int32_t QUORLAX_ResetEncodedAudioBuffer(void* zuningObject);

/* Pushes `size` captured samples and runs until the first event: -1 more audio,
 * -2 front door, 0..31 a decided token, -3 message complete. Samples after an
 * event stay queued: call again (size 0 is fine) until -1. -4 NULL buffer with
 * size > 0 or size < 0; -5 no decoder; -6 more than the free queue space
 * (nothing stored: drain with size 0 first). */
QUORLAX_EXPORT int32_t QUORLAX_DecodeAudioBuffer(float* audioBuffer, int size, void* zuningObject);

/* After -3: writes the 9 characters and a zero byte into stringDecoded (at
 * least 10 bytes). +9 checked; -9 check failed (text still written); -1 no
 * complete message (empty text); -4 NULL buffer; -5. */
QUORLAX_EXPORT int32_t QUORLAX_GetDecodedData(char* stringDecoded, void* zuningObject);

/* Confidence 0..1 of the last message: level above the band mapped from 0..15 dB, times GetConfidenceError. */
QUORLAX_EXPORT float QUORLAX_GetConfidence(void* zuningObject);
/* Share of the 12 message positions that needed no correction. */
QUORLAX_EXPORT float QUORLAX_GetConfidenceError(void* zuningObject);
/* Mean level of the decided tones above the band, dB. */
QUORLAX_EXPORT float QUORLAX_GetConfidenceNoise(void* zuningObject);
/* Received level of the decided tones, dB (-infinity before the first token). */
QUORLAX_EXPORT float QUORLAX_GetReceivedZunsVolume(void* zuningObject);

/* Band heard: 0 audible, 1 non-audible, 2 compression, 3 custom; -1 none yet (mode 5) or no decoder; -5. */
QUORLAX_EXPORT int32_t QUORLAX_GetDecodedMode(void* zuningObject);

/* Copies window/2 energy values of the last analysed hop (1024 at 44100 Hz)
 * into spectrumBuffer; returns that count; -4 NULL buffer; -5. */
QUORLAX_EXPORT int32_t QUORLAX_GetSpectrum(float* spectrumBuffer, void* zuningObject);

/* Facts of one band at one rate, from the library's band table. */
typedef struct QUORLAX_BandInfo {
  int mode;              /* QUORLAX_MODE_* that sends the band */
  int decoding_mode;     /* what QUORLAX_GetDecodedMode reports for it (0..3) */
  char name[16];         /* "audible", "nonaudible", "compression", "custom" */
  int num_tones;         /* 9 */
  float tone_hz[9];      /* the tone grid at this rate, Hz */
  float shift_hz;        /* shift step on air, Hz: message tokens rotate 0, 1, 2 steps up */
  float low_hz, high_hz; /* lowest tone; highest tone plus two shift steps */
} QUORLAX_BandInfo;

/* Band facts for QUORLAX_MODE_AUDIBLE, _NONAUDIBLE, _COMPRESSION or _CUSTOM
 * (the current custom grid) at `sampleRate`. Reads the process-wide custom
 * grid. 0; -1 another mode; -4 NULL out; -7 the band does not fit at this rate. */
QUORLAX_EXPORT int32_t QUORLAX_GetBandInfo(int mode, float sampleRate, QUORLAX_BandInfo* out);

/* ------------------------------------------------------------------------
 * The listener: hears every band of its mode at once and never goes deaf.
 * One spectrum per hop serves every band; the front-door search runs at every
 * hop, and each door it accepts starts a reader of its own. It owns its
 * buffering: push any number of samples, QUORLAX_ListenerFlush at the end of
 * the stream, and take the messages with QUORLAX_ListenerNext. A listener is
 * used by one thread at a time; different listeners may run on different
 * threads. It changes no process-wide setting.
 * ------------------------------------------------------------------------ */
typedef struct QUORLAX_Listener QUORLAX_Listener;

typedef struct QUORLAX_Message {
  char text[10];    /* 9 characters and a zero */
  int ok;           /* 1: passed its check; 0: failed (reported only when asked) */
  int band;         /* QUORLAX_MODE_* of the band it was heard in */
  long long start;  /* first sample of its front door, counted from the first sample pushed */
  long long end;    /* one past its last token's last sample */
  float level_db;   /* received level of its tones, dB re full scale (a full-scale sine reads 0) */
  float confidence; /* as QUORLAX_GetConfidence */
} QUORLAX_Message;

/* A listener for `mode` (2..6; custom uses the current custom grid, see
 * QUORLAX_ListenerSetCustom) at `sampleRate` Hz. NULL on failure, with *error
 * (when not NULL) set to -1 unrecognised mode or -7 rate the mode cannot use
 * (or out of memory); 0 on success. */
QUORLAX_EXPORT QUORLAX_Listener* QUORLAX_ListenerCreate(int mode, float sampleRate, int* error);

/* Custom mode: lowest tone `baseFreq` Hz, separation as QUORLAX_SetCustomBaseFreq.
 * Drops anything in flight. 0; -1 not a custom listener; -4 separation < 0;
 * -5 NULL listener; -7 grid outside the spectrum (nothing changed). */
QUORLAX_EXPORT int32_t QUORLAX_ListenerSetCustom(QUORLAX_Listener* listener, float baseFreq, int separation);

/* on != 0: also report readings that failed their check, when no passing
 * message covers their time (they come out about a transmission later). 0; -5. */
QUORLAX_EXPORT int32_t QUORLAX_ListenerReportFailed(QUORLAX_Listener* listener, int on);

/* Pushes `count` samples (any count >= 0). 0; -4 NULL samples with count > 0 or
 * count < 0 (nothing taken); -5 NULL listener. */
QUORLAX_EXPORT int32_t QUORLAX_ListenerPush(QUORLAX_Listener* listener, const float* samples, int count);

/* End of stream: completes every reading in flight and queues its message.
 * Later pushes start a new stream; sample positions keep counting. 0; -5. */
QUORLAX_EXPORT int32_t QUORLAX_ListenerFlush(QUORLAX_Listener* listener);

/* Takes the oldest completed message, in order of completion: 1 written, 0
 * none; -4 NULL out; -5 NULL listener. */
QUORLAX_EXPORT int32_t QUORLAX_ListenerNext(QUORLAX_Listener* listener, QUORLAX_Message* out);

typedef struct QUORLAX_Door {
  int band;         /* QUORLAX_MODE_* of the band */
  long long start;  /* first sample of the front door, within a quarter of a token (the message is exact to the hop) */
} QUORLAX_Door;

/* Takes the oldest front door not yet taken, as it opens (one per transmission
 * candidate, before its reading completes; the newest 32 are kept). For
 * reporting what the listener is doing. 1 written, 0 none; -4 NULL out; -5. */
QUORLAX_EXPORT int32_t QUORLAX_ListenerNextDoor(QUORLAX_Listener* listener, QUORLAX_Door* out);

/* Releases the listener. NULL is ignored. */
QUORLAX_EXPORT void QUORLAX_ListenerDestroy(QUORLAX_Listener* listener);

/* Custom band: lowest tone `baseFreq` Hz, tones (zunsSeparation + 2) * 3 bins
 * apart. Rebuilds a custom-mode pair (losing queued audio); otherwise takes
 * effect at the next QUORLAX_Configure(6). 0; -4 separation < 0; -5; -7 grid
 * outside the spectrum (nothing changed). */
QUORLAX_EXPORT int32_t QUORLAX_SetCustomBaseFreq(float baseFreq, int zunsSeparation, void* zuningObject);

/* Custom mode: lowest tone and one step above the highest, Hz; 0 in other modes. */
QUORLAX_EXPORT float QUORLAX_GetDecodingBeginFreq(void* zuningObject);
QUORLAX_EXPORT float QUORLAX_GetDecodingEndFreq(void* zuningObject);

/* Stored only. 0; -5. */
QUORLAX_EXPORT int32_t QUORLAX_SetSynthMode(int synthMode, void* zuningObject);

/* Gain of the random melody (type 1), dB, process-wide. 0; -4 not finite; -5. */
QUORLAX_EXPORT int32_t QUORLAX_SetSynthVolume(float synthVolume, void* zuningObject);

#ifdef __cplusplus
}
#endif

#endif /* QUORLAX_ZUNCORELIB_API_H */
