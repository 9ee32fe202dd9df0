/*
 * Quorlax: data over sound. The C interface of the library.
 *
 * A handle sends and receives nine-character messages as 20-token chords.
 * Audio is mono 32-bit float at the configured sample rate.
 *
 * Threads: a handle is used by one thread at a time. QUORLAX_Configure,
 * QUORLAX_SetCustomBaseFreq, QUORLAX_SetSynthMode and QUORLAX_SetSynthVolume
 * write process-wide settings ("configuring" below): call them from one
 * thread while no other handle is being configured. Once configured,
 * different handles may encode and decode on different threads at the same
 * time. The queries, listeners made from a configuration and senders read no
 * process-wide setting: any number of threads may use them (one object per
 * thread at a time) while other threads configure handles.
 *
 * Each declaration ends with its contract in brackets: which threads may
 * call it, and whether it allocates.
 *
 * Results: 0 or a count on success; negative codes below otherwise.
 */
#ifndef QUORLAX_ZUNCORELIB_API_H
#define QUORLAX_ZUNCORELIB_API_H

#include <stddef.h>
#include <stdint.h>

/* Symbols are exported while the library itself is built; callers see plain
 * declarations (or imports from a Windows DLL). */
#if defined(QUORLAX_BUILDING_LIBRARY)
#if defined(_WIN32)
#define QUORLAX_EXPORT __declspec(dllexport)
#else
#define QUORLAX_EXPORT __attribute__((visibility("default")))
#endif
#elif defined(_WIN32) && defined(QUORLAX_DLL)
#define QUORLAX_EXPORT __declspec(dllimport)
#else
#define QUORLAX_EXPORT
#endif

/* Contracts the compiler checks for callers: a result that must be looked
 * at, and pointers that must not be null (the library still answers a null
 * one with its code; define QUORLAX_NO_CONTRACT_ATTRIBUTES to test that). */
#if (defined(__GNUC__) || defined(__clang__)) && !defined(QUORLAX_NO_CONTRACT_ATTRIBUTES)
#define QUORLAX_WARN_UNUSED_RESULT __attribute__((warn_unused_result))
#if !defined(QUORLAX_BUILDING_LIBRARY)
#define QUORLAX_NONNULL(...) __attribute__((nonnull(__VA_ARGS__)))
#endif
#endif
#ifndef QUORLAX_WARN_UNUSED_RESULT
#define QUORLAX_WARN_UNUSED_RESULT
#endif
#ifndef QUORLAX_NONNULL
#define QUORLAX_NONNULL(...)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Modes; QUORLAX_GetModeInfo gives each one's name, bands and range in Hz. */
typedef enum QUORLAX_MODE {
  QUORLAX_MODE_AUDIBLE = 2,     /* the audible band */
  QUORLAX_MODE_NONAUDIBLE = 3,  /* near the top of hearing */
  QUORLAX_MODE_COMPRESSION = 4, /* below it, where lossy codecs keep the sound */
  QUORLAX_MODE_ALL = 5,         /* sends non-audible, hears audible, non-audible and compression */
  QUORLAX_MODE_CUSTOM = 6       /* grid above a caller-chosen base frequency */
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
#define QUORLAX_ERROR_OUT_OF_MEMORY (-8) /* the heap, or the caller's block, is too small */
#define QUORLAX_CHECK_FAILED (-9) /* decoded text failed its check (GetDecodedData) */

/* Limits. */
#define QUORLAX_MESSAGE_LENGTH 9            /* characters in a message */
#define QUORLAX_MAX_CUSTOM_SEPARATION 1000  /* wider custom grids never fit a spectrum */

/* A constant English sentence for any result code; never NULL. [any thread; no allocation] */
QUORLAX_EXPORT const char* QUORLAX_GetErrorText(int code);

/* New empty handle (NULL only when out of memory). [any thread; allocates] */
QUORLAX_EXPORT void* QUORLAX_Create(void);

/* Releases the handle and its encoder/decoder. NULL is ignored. [the handle's thread] */
QUORLAX_EXPORT void QUORLAX_Destroy(void* zuningObject);

/* "Quorlax version 1.0.0 [QuorlaxSDK]", static storage. [any thread; no allocation] */
QUORLAX_EXPORT const char* QUORLAX_GetVersion(void);

/* Writes "Quorlax Python SDK" and a zero byte (19 bytes); returns 18, or -4 for NULL.
 * [any thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_GetVersionInfo(char* versioninfo);

/* Builds the encoder/decoder pair of `mode` at `samplingRate` Hz; `bufferSize`
 * samples are handed out per QUORLAX_GetEncodedAudioBuffer. Discards the
 * previous pair first. 0; -1 unrecognised mode; -5 NULL handle; -7 rate,
 * buffer size or band that this mode cannot use (the handle is then emptied);
 * -8 out of memory (emptied too). [configuring; allocates] */
QUORLAX_EXPORT int32_t QUORLAX_Configure(int mode, float samplingRate, int32_t bufferSize,
                                         void* zuningObject);

/* Lays up to one transmission's length of samples over the start of every later
 * encoding; NULL or samplesSize <= 0 removes it. 0; -5; -8 out of memory (the
 * signature is then removed). [the handle's thread; allocates] */
QUORLAX_EXPORT int32_t QUORLAX_SetAudioSignature(int32_t samplesSize, const float* samplesBuffer,
                                                 void* zuningObject);

/* Encodes the 9 alphabet characters ('0'-'9', 'a'-'v', either case) of
 * stringToEncode (`size` must be 9). type 1 adds a random melody, type 2 the
 * melodySize notes of melodyString. Returns the sample count; -4 bad message
 * or melody (the previous transmission stays); -5 no encoder; -8 out of memory.
 * Reads the process-wide synthesis volume. [the handle's thread; may allocate] */
QUORLAX_EXPORT int32_t QUORLAX_EncodeDataToAudioBuffer(const char* stringToEncode, int32_t size,
                                                       int32_t type, const char* melodyString,
                                                       int32_t melodySize, void* zuningObject);

/* Copies the next bufferSize samples (fewer at the end) into audioBuffer,
 * which holds at least bufferSize floats. Returns the count, 0 at the end; -4 NULL buffer; -5.
 * [the handle's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_GetEncodedAudioBuffer(float* audioBuffer, void* zuningObject);

/* Rewinds the encoded transmission. 0; -5. [the handle's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ResetEncodedAudioBuffer(void* zuningObject);

/* Pushes `size` captured samples and runs until the first event: -1 more audio,
 * -2 front door, 0..31 a decided token, -3 message complete. Samples after an
 * event stay queued: call again (size 0 is fine) until -1. -4 NULL buffer with
 * size > 0 or size < 0; -5 no decoder; -6 more than the free queue space
 * (nothing stored: drain with size 0 first). [the handle's thread; allocates only
 * for the values of its first message] */
QUORLAX_EXPORT int32_t QUORLAX_DecodeAudioBuffer(float* audioBuffer, int size, void* zuningObject);

/* After -3: writes the 9 characters and a zero byte into stringDecoded (at
 * least 10 bytes). +9 checked; -9 check failed (text still written); -1 no
 * complete message (empty text); -4 NULL buffer; -5. [the handle's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_GetDecodedData(char* stringDecoded, void* zuningObject);

/* The figures of the last message. [the handle's thread; no allocation]
 * Confidence 0..1: level above the band mapped from 0..15 dB, times GetConfidenceError. */
QUORLAX_EXPORT float QUORLAX_GetConfidence(void* zuningObject);
/* Share of the 12 message positions that needed no correction. */
QUORLAX_EXPORT float QUORLAX_GetConfidenceError(void* zuningObject);
/* Mean level of the decided tones above the band, dB. */
QUORLAX_EXPORT float QUORLAX_GetConfidenceNoise(void* zuningObject);
/* Received level of the decided tones, dB (-infinity before the first token). */
QUORLAX_EXPORT float QUORLAX_GetReceivedZunsVolume(void* zuningObject);

/* Band heard: 0 audible, 1 non-audible, 2 compression, 3 custom; -1 none yet (mode 5) or no decoder; -5.
 * [the handle's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_GetDecodedMode(void* zuningObject);

/* Copies window/2 energy values of the last analysed hop (1024 at 44100 Hz)
 * into spectrumBuffer; returns that count; -4 NULL buffer; -5. [the handle's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_GetSpectrum(float* spectrumBuffer, void* zuningObject);

/* ------------------------------------------------------------------------
 * Queries: what the library supports, as pure functions of their arguments.
 * They read no process-wide setting (but where a comment says otherwise) and
 * allocate nothing. [any thread; no allocation]
 * ------------------------------------------------------------------------ */

/* "1.0.0": the library's version number alone. */
QUORLAX_EXPORT const char* QUORLAX_GetVersionNumber(void);

/* The 32 message characters in token order, "0123456789abcdefghijklmnopqrstuv"
 * (encoders also take the letters in upper case). */
QUORLAX_EXPORT const char* QUORLAX_GetAlphabet(void);

/* Writes up to `capacity` QUORLAX_MODE_* values into `modes` in ascending
 * order; returns how many modes there are (write none with capacity 0).
 * -4 NULL modes with capacity > 0, or capacity < 0. */
QUORLAX_EXPORT int32_t QUORLAX_GetModes(int* modes, int32_t capacity);

/* The mode called `name` ("audible", ..., case ignored), or -1. */
QUORLAX_EXPORT int32_t QUORLAX_ModeFromName(const char* name);

/* The name of a mode ("audible", "nonaudible", "compression", "all",
 * "custom"), or NULL for an unrecognised one. Static storage. */
QUORLAX_EXPORT const char* QUORLAX_GetModeName(int mode);

/* Writes up to `capacity` sample rates (Hz, ascending) at which the library
 * analyses audio; returns how many there are. Whether a mode works at one:
 * QUORLAX_IsSupported. Audio at other rates must be resampled to one of them.
 * -4 NULL rates with capacity > 0, or capacity < 0. */
QUORLAX_EXPORT int32_t QUORLAX_GetSampleRates(float* rates, int32_t capacity);

/* The default custom grid: base frequency (Hz) and separation. */
QUORLAX_EXPORT float QUORLAX_GetDefaultCustomBase(void);
QUORLAX_EXPORT int32_t QUORLAX_GetDefaultCustomSeparation(void);

/* 0 when `mode` sends and hears at `sampleRate` (custom mode with the grid
 * given, which other modes ignore); otherwise the code
 * QUORLAX_ListenerCreateEx would give: -1 unrecognised mode, -4 separation
 * < 0, -7 a rate or grid the mode cannot use. */
QUORLAX_EXPORT int32_t QUORLAX_IsSupported(int mode, float sampleRate, float customBaseHz, int customSeparation)
    QUORLAX_WARN_UNUSED_RESULT;

/* The custom base frequencies (Hz) that fit at `sampleRate` with
 * `customSeparation`: every base from *lowHz to *highHz (each rounded to the
 * analysis grid's bins, as the library rounds a base). 0; -4 NULL out or
 * separation < 0; -7 no base fits (a rate the library does not analyse at, or
 * a separation too wide). */
QUORLAX_EXPORT int32_t QUORLAX_GetCustomBaseRange(float sampleRate, int customSeparation, float* lowHz,
                                                  float* highHz);

/* What a mode is at a rate. Caller-allocated: set `size` first; later
 * versions of the library only ever add fields at the end. */
typedef struct QUORLAX_ModeInfo {
  uint32_t size;                 /* set by the caller to sizeof(QUORLAX_ModeInfo) */
  char name[16];                 /* "audible", "nonaudible", "compression", "all", "custom" */
  int sends;                     /* QUORLAX_MODE_* of the band this mode sends in */
  int hears[4];                  /* QUORLAX_MODE_* of the bands it hears, in the order ties are broken */
  int num_hears;
  int32_t token_samples;         /* one token at this rate */
  int32_t transmission_samples;  /* the 20 tokens */
  int32_t max_encoded_samples;   /* longest encoder output (melody included) */
  float low_hz, high_hz;         /* what is on air in the bands it sends or hears, shifts included */
} QUORLAX_ModeInfo;

/* Fills *out for `mode` at `sampleRate` (custom mode with the grid given).
 * 0; -4 NULL out or out->size below sizeof(QUORLAX_ModeInfo); otherwise
 * QUORLAX_IsSupported's code (out untouched). */
QUORLAX_EXPORT int32_t QUORLAX_GetModeInfo(int mode, float sampleRate, float customBaseHz, int customSeparation,
                                           QUORLAX_ModeInfo* out) QUORLAX_NONNULL(5);

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
 * grid in custom mode: call that from a configuring thread.
 * 0; -1 another mode; -4 NULL out; -7 the band does not fit at this rate. */
QUORLAX_EXPORT int32_t QUORLAX_GetBandInfo(int mode, float sampleRate, QUORLAX_BandInfo* out);

/* The same facts, growable: set `size` first. */
typedef struct QUORLAX_BandInfoEx {
  uint32_t size;         /* set by the caller to sizeof(QUORLAX_BandInfoEx) */
  int mode;              /* QUORLAX_MODE_* that sends the band */
  int decoding_mode;     /* what QUORLAX_GetDecodedMode reports for it (0..3) */
  char name[16];         /* "audible", "nonaudible", "compression", "custom" */
  int num_tones;         /* 9 */
  float tone_hz[9];      /* the tone grid at this rate, Hz */
  float shift_hz;        /* shift step on air, Hz: message tokens rotate 0, 1, 2 steps up */
  float low_hz, high_hz; /* lowest tone; highest tone plus two shift steps */
} QUORLAX_BandInfoEx;

/* Band facts as QUORLAX_GetBandInfo, with the custom grid as arguments (other
 * bands ignore them). 0; -1 another mode; -4 NULL out, out->size too small or
 * separation < 0; -7 the band does not fit at this rate. */
QUORLAX_EXPORT int32_t QUORLAX_GetBandInfoEx(int mode, float sampleRate, float customBaseHz, int customSeparation,
                                             QUORLAX_BandInfoEx* out) QUORLAX_NONNULL(5);

/* ------------------------------------------------------------------------
 * The listener: hears every band of its mode at once and never goes deaf.
 * One spectrum per hop serves every band; the front-door search runs at every
 * hop, and each door it accepts starts a reader of its own. It follows the
 * sender: tones up to 2 % off in pitch (a moving phone, a sender whose clock
 * is off, a file played at the wrong rate) and tokens as far off in tempo,
 * senders at either protocol rate, and responses that tilt across the band;
 * each message says the offsets it found. It owns its buffering: push any
 * number of samples, QUORLAX_ListenerFlush at the end of the stream, and take
 * the messages with QUORLAX_ListenerNext(Ex).
 *
 * A listener is used by one thread at a time; different listeners may run on
 * different threads. However it was made, it never allocates after creation:
 * Push, Flush, Next and a completing message included, so it can run in an
 * audio callback. Completed messages wait in a queue of
 * QUORLAX_LISTENER_QUEUE; when a caller never takes them, the oldest is
 * dropped to make room and counted (QUORLAX_ListenerDropped).
 * ------------------------------------------------------------------------ */
typedef struct QUORLAX_Listener QUORLAX_Listener;

#define QUORLAX_LISTENER_QUEUE 64 /* completed messages a listener holds by default */

typedef struct QUORLAX_ListenerConfig {
  uint32_t size;          /* set by QUORLAX_ListenerConfigInit */
  int mode;               /* QUORLAX_MODE_* */
  float sample_rate;      /* Hz */
  float custom_base_hz;   /* custom mode: lowest tone, Hz */
  int custom_separation;  /* custom mode: as QUORLAX_SetCustomBaseFreq */
  int report_failed;      /* != 0: also readings that failed their check */
  /* Capacities, 1..65536 (0: the default). A struct from an older header
   * ends before them and gets the defaults. */
  int max_readings;       /* readings in flight at once (default 8): each front door of a transmission, or
                             of sound that resembles one, holds one for about two seconds; when all are busy,
                             further doors go unread. Fewer save about 500 bytes each. */
  int queue;              /* completed messages held (default QUORLAX_LISTENER_QUEUE) */
} QUORLAX_ListenerConfig;

/* Fills *config with `mode`, `sampleRate` and the defaults (the default
 * custom grid, failed readings off, default capacities). NULL is ignored.
 * [any thread] */
QUORLAX_EXPORT void QUORLAX_ListenerConfigInit(QUORLAX_ListenerConfig* config, int mode, float sampleRate)
    QUORLAX_NONNULL(1);

/* A listener in the library's memory. NULL on failure, with *error (when not
 * NULL) set to -1 unrecognised mode, -4 NULL config, config->size too small,
 * separation < 0 or a capacity out of range, -7 rate or grid the mode cannot
 * use, -8 out of memory; 0 on success. [any thread; allocates one block] */
QUORLAX_EXPORT QUORLAX_Listener* QUORLAX_ListenerCreateEx(const QUORLAX_ListenerConfig* config, int* error)
    QUORLAX_WARN_UNUSED_RESULT;

/* Bytes of the block QUORLAX_ListenerInit needs for this configuration, or
 * the code QUORLAX_ListenerCreateEx would give (< 0). [any thread; no allocation] */
QUORLAX_EXPORT int64_t QUORLAX_ListenerSize(const QUORLAX_ListenerConfig* config) QUORLAX_WARN_UNUSED_RESULT;

/* A listener that lives entirely in the caller's block of `bytes` (any
 * alignment; at least QUORLAX_ListenerSize). It never touches the heap; the
 * block must stay put until QUORLAX_ListenerDestroy, which releases nothing
 * of it. NULL on failure, with *error as QUORLAX_ListenerCreateEx's, or -4
 * NULL memory, or -8 a block smaller than QUORLAX_ListenerSize.
 * [any thread; no allocation] */
QUORLAX_EXPORT QUORLAX_Listener* QUORLAX_ListenerInit(void* memory, int64_t bytes,
                                                      const QUORLAX_ListenerConfig* config, int* error)
    QUORLAX_WARN_UNUSED_RESULT;

typedef struct QUORLAX_Message {
  char text[10];    /* 9 characters and a zero */
  int ok;           /* 1: passed its check; 0: failed (reported only when asked) */
  int band;         /* QUORLAX_MODE_* of the band it was heard in */
  long long start;  /* first sample of its front door, counted from the first sample pushed */
  long long end;    /* one past its last token's last sample */
  float level_db;   /* received level of its tones, dB re full scale (a full-scale sine reads 0);
                       finite, -200 (nothing measured) to 400 */
  float confidence; /* as QUORLAX_GetConfidence */
} QUORLAX_Message;

/* A message with every figure the listener has for it, growable: set `size`
 * first; later versions only ever add fields at the end. */
typedef struct QUORLAX_MessageEx {
  uint32_t size;    /* set by the caller to sizeof(QUORLAX_MessageEx) */
  char text[10];    /* 9 characters and a zero */
  int ok;           /* 1: passed its check; 0: failed (reported only when asked) */
  int band;         /* QUORLAX_MODE_* of the band it was heard in */
  int64_t start;    /* first sample of its front door, counted from the first sample pushed */
  int64_t end;      /* one past its last token's last sample */
  float level_db;   /* received level of its tones, dB re full scale (a full-scale sine reads 0);
                       finite, -200 (nothing measured) to 400 */
  float confidence; /* MessageEx.snr_db mapped from 0..15 dB onto 0..1, times the share of its
                       12 positions that needed no correction (as QUORLAX_GetConfidence) */
  float snr_db;     /* mean level of its tones above the rest of the band, dB */
  int corrected;    /* positions (of 12) that the error correction changed */
  /* Added in 1.1; a caller built against the struct without them sets the
   * smaller size and gets the fields above. */
  float pitch_offset; /* its tones' frequencies over the grid's, minus 1: +0.02 is 2 % high */
  float tempo_offset; /* its tokens' rate over the nominal, minus 1: +0.02 is 2 % fast (a
                         sender playing 2 % fast, or a sender clock 2 % fast, shows +0.02 in both) */
} QUORLAX_MessageEx;

/* The size of QUORLAX_MessageEx before pitch_offset: the smallest size
 * QUORLAX_ListenerNextEx accepts. */
#define QUORLAX_MESSAGE_EX_SIZE_1_0 ((uint32_t)offsetof(QUORLAX_MessageEx, pitch_offset))

/* A listener for `mode` (2..6) at `sampleRate` Hz, as QUORLAX_ListenerCreateEx
 * with the defaults; custom mode takes the process-wide custom grid (call it
 * from a configuring thread then; see QUORLAX_ListenerSetCustom). NULL on
 * failure, with *error (when not NULL) set to -1 unrecognised mode, -7 rate
 * the mode cannot use, or -8 out of memory; 0 on success. [allocates one block] */
QUORLAX_EXPORT QUORLAX_Listener* QUORLAX_ListenerCreate(int mode, float sampleRate, int* error);

/* Custom mode: lowest tone `baseFreq` Hz, separation as QUORLAX_SetCustomBaseFreq.
 * Drops anything in flight; queued messages and positions stay. 0; -1 not a
 * custom listener; -4 separation < 0; -5 NULL listener; -7 grid outside the
 * spectrum (nothing changed in each case). Every grid fits the listener's
 * block. [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerSetCustom(QUORLAX_Listener* listener, float baseFreq, int separation);

/* on != 0: also report readings that failed their check, when no passing
 * message covers their time (they come out about a transmission later). 0; -5.
 * [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerReportFailed(QUORLAX_Listener* listener, int on);

/* Pushes `count` samples (any count >= 0). 0; -4 NULL samples with count > 0 or
 * count < 0 (nothing taken); -5 NULL listener. Samples that are not finite
 * name no tone; beyond +-1e6 (120 dB above full scale) they count as +-1e6.
 * [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerPush(QUORLAX_Listener* listener, const float* samples, int count);

/* End of stream: completes every reading in flight and queues its message.
 * Later pushes start a new stream; sample positions keep counting. 0; -5.
 * [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerFlush(QUORLAX_Listener* listener);

/* Takes the oldest completed message, in order of completion: 1 written, 0
 * none; -4 NULL out; -5 NULL listener. [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerNext(QUORLAX_Listener* listener, QUORLAX_Message* out);

/* The same with every figure: 1 written, 0 none; -4 NULL out or out->size
 * below QUORLAX_MESSAGE_EX_SIZE_1_0; -5. Fills the fields that out->size
 * covers (a caller built against an older struct gets the older fields) and
 * leaves out->size as it was. [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerNextEx(QUORLAX_Listener* listener, QUORLAX_MessageEx* out);

/* Messages dropped because the queue was full when they completed (>= 0);
 * -5 NULL listener. [the listener's thread; no allocation] */
QUORLAX_EXPORT int64_t QUORLAX_ListenerDropped(const QUORLAX_Listener* listener);

typedef struct QUORLAX_Door {
  int band;         /* QUORLAX_MODE_* of the band */
  long long start;  /* first sample of the front door, within a quarter of a token (the message is exact to the hop) */
} QUORLAX_Door;

/* Takes the oldest front door not yet taken, as it opens (one per transmission
 * candidate, before its reading completes; the newest 32 are kept). For
 * reporting what the listener is doing. 1 written, 0 none; -4 NULL out; -5.
 * [the listener's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_ListenerNextDoor(QUORLAX_Listener* listener, QUORLAX_Door* out);

/* Releases the listener (a listener in the caller's block releases nothing).
 * NULL is ignored. [the listener's thread] */
QUORLAX_EXPORT void QUORLAX_ListenerDestroy(QUORLAX_Listener* listener);

/* ------------------------------------------------------------------------
 * The sender: renders a transmission on demand, a block at a time, for
 * callers that cannot hold the encoder's ten-second buffer. Its samples are
 * QUORLAX_EncodeDataToAudioBuffer's for the same text, mode and rate (no
 * melody), bit for bit, whatever the block sizes. A few kilobytes; used by one
 * thread at a time; never allocates after creation and reads no process-wide
 * setting.
 * ------------------------------------------------------------------------ */
typedef struct QUORLAX_Sender QUORLAX_Sender;

/* Bytes of the block QUORLAX_SenderInit needs, or QUORLAX_IsSupported's code
 * (< 0). [any thread; no allocation] */
QUORLAX_EXPORT int64_t QUORLAX_SenderSize(int mode, float sampleRate, float customBaseHz, int customSeparation)
    QUORLAX_WARN_UNUSED_RESULT;

/* A sender in the caller's block (any alignment; at least QUORLAX_SenderSize).
 * NULL on failure, with *error set to QUORLAX_IsSupported's code, -4 NULL
 * memory, or -8 a block too small. [any thread; no allocation] */
QUORLAX_EXPORT QUORLAX_Sender* QUORLAX_SenderInit(void* memory, int64_t bytes, int mode, float sampleRate,
                                                  float customBaseHz, int customSeparation, int* error)
    QUORLAX_WARN_UNUSED_RESULT;

/* A sender in the library's memory; *error as QUORLAX_SenderInit's, or -8
 * out of memory. [any thread; allocates] */
QUORLAX_EXPORT QUORLAX_Sender* QUORLAX_SenderCreate(int mode, float sampleRate, float customBaseHz,
                                                    int customSeparation, int* error) QUORLAX_WARN_UNUSED_RESULT;

/* Starts the transmission of `text9`: 9 alphabet characters and a zero byte
 * (either case). 0; -4 any other text (the previous transmission stays); -5
 * NULL sender. [the sender's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_SenderStart(QUORLAX_Sender* sender, const char* text9);

/* Writes the next samples of the transmission into out, at most `count`;
 * returns how many, 0 at the end (or before a start). -4 NULL out with
 * count > 0, or count < 0; -5 NULL sender. [the sender's thread; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_SenderRender(QUORLAX_Sender* sender, float* out, int32_t count);

/* Releases the sender (one in the caller's block releases nothing). NULL is
 * ignored. [the sender's thread] */
QUORLAX_EXPORT void QUORLAX_SenderDestroy(QUORLAX_Sender* sender);

/* ------------------------------------------------------------------------ */

/* Custom band: lowest tone `baseFreq` Hz, tones (zunsSeparation + 2) * 3 bins
 * apart. Rebuilds a custom-mode pair (losing queued audio); otherwise takes
 * effect at the next QUORLAX_Configure(6). 0; -4 separation < 0; -5; -7 grid
 * outside the spectrum (nothing changed); -8 out of memory (the handle is then
 * emptied). [configuring; may allocate] */
QUORLAX_EXPORT int32_t QUORLAX_SetCustomBaseFreq(float baseFreq, int zunsSeparation, void* zuningObject);

/* Custom mode: lowest tone and one step above the highest, Hz; 0 in other modes.
 * [the handle's thread; no allocation] */
QUORLAX_EXPORT float QUORLAX_GetDecodingBeginFreq(void* zuningObject);
QUORLAX_EXPORT float QUORLAX_GetDecodingEndFreq(void* zuningObject);

/* Stored only, process-wide. 0; -5. [configuring; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_SetSynthMode(int synthMode, void* zuningObject);

/* Gain of the random melody (type 1), dB, process-wide. 0; -4 not finite; -5.
 * [configuring; no allocation] */
QUORLAX_EXPORT int32_t QUORLAX_SetSynthVolume(float synthVolume, void* zuningObject);

/* The gains our front ends accept for the melody, dB. At 0 (the default) it
 * is as loud as the tones; above, it buries them and leaves -1..1; below -60
 * it is lost under the tones. */
#define QUORLAX_SYNTH_VOLUME_MIN_DB (-60.0f)
#define QUORLAX_SYNTH_VOLUME_MAX_DB (0.0f)

#ifdef __cplusplus
}
#endif

#endif /* QUORLAX_ZUNCORELIB_API_H */
