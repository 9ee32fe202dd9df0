/*
 * The JNI glue of the Java package: the native methods of org.quorlax.Native
 * over the library's C interface, registered in JNI_OnLoad (the only symbol
 * this library exports).
 *
 * Java checks every argument before it calls in; the glue checks them again,
 * so a call that slips past Java raises an exception instead of handing the
 * library a bad pointer. A negative result code becomes a QuorlaxException
 * carrying the code; nothing here aborts the JVM.
 */
#include <jni.h>
#include <stdatomic.h>
#include <stdint.h>
#include <string.h>

#include "ZunCoreLib_api.h"

/* Samples converted or copied per library call: one Java array region at a time. */
#define BLOCK 4096

/* Classes and methods the glue calls back into, resolved once at load. */
static struct {
  jclass quorlax_exception, message, mode_info, band;
  jclass null_pointer, illegal_argument, index_out_of_bounds;
  jmethodID quorlax_exception_init, message_of, mode_info_of, band_of;
} g;

/* Listeners and senders alive in the library's memory, for the package's
 * leak tests. */
static atomic_long live_objects;

static void Throw(JNIEnv* env, jclass cls, const char* text) {
  (*env)->ThrowNew(env, cls, text);
}

/* A QuorlaxException for a negative result code; `what` names the step. */
static void ThrowCode(JNIEnv* env, int code, const char* what) {
  jstring text = (*env)->NewStringUTF(env, what);
  if (text == NULL) return;
  jobject e = (*env)->NewObject(env, g.quorlax_exception, g.quorlax_exception_init, (jint)code, text);
  if (e != NULL) (*env)->Throw(env, (jthrowable)e);
}

/* Handles travel as non-negative longs (zero-extended, also on 32-bit ARM). */
static QUORLAX_Listener* AsListener(jlong h) { return (QUORLAX_Listener*)(uintptr_t)h; }
static QUORLAX_Sender* AsSender(jlong h) { return (QUORLAX_Sender*)(uintptr_t)h; }

/* A new object's handle, counted among the live ones; or 0 with a
 * QuorlaxException for the code creation gave. */
static jlong Created(JNIEnv* env, void* object, int error, const char* what) {
  if (object == NULL) {
    ThrowCode(env, error != QUORLAX_OK ? error : QUORLAX_ERROR_OUT_OF_MEMORY, what);
    return 0;
  }
  atomic_fetch_add(&live_objects, 1);
  return (jlong)(uintptr_t)object;
}

/* The region [offset, offset + count) of an array of `length`, without overflow. */
static int InRange(jint offset, jint count, jint length) {
  return offset >= 0 && count >= 0 && offset <= length && count <= length - offset;
}

static int CheckArray(JNIEnv* env, jarray array, jint offset, jint count) {
  if (array == NULL) {
    Throw(env, g.null_pointer, "samples");
    return 0;
  }
  if (!InRange(offset, count, (*env)->GetArrayLength(env, array))) {
    Throw(env, g.index_out_of_bounds, "offset and count outside the array");
    return 0;
  }
  return 1;
}

/* The address of element `offset` of a direct buffer of `element` bytes, or
 * NULL with an exception pending. */
static void* DirectRegion(JNIEnv* env, jobject buffer, jint offset, jint count, size_t element) {
  if (buffer == NULL) {
    Throw(env, g.null_pointer, "buffer");
    return NULL;
  }
  char* base = (*env)->GetDirectBufferAddress(env, buffer);
  const jlong capacity = (*env)->GetDirectBufferCapacity(env, buffer);
  if (base == NULL || capacity < 0) {
    Throw(env, g.illegal_argument, "not a direct buffer");
    return NULL;
  }
  if (!InRange(offset, count, capacity > INT32_MAX ? INT32_MAX : (jint)capacity)) {
    Throw(env, g.index_out_of_bounds, "offset and count outside the buffer");
    return NULL;
  }
  return base + (size_t)offset * element;
}

/* ---- queries ---------------------------------------------------------- */

/* The header's constants, by the names the Java side asks for. */
static const struct {
  const char* name;
  int value;
} kConstants[] = {
    {"MODE_AUDIBLE", QUORLAX_MODE_AUDIBLE},
    {"MODE_NONAUDIBLE", QUORLAX_MODE_NONAUDIBLE},
    {"MODE_COMPRESSION", QUORLAX_MODE_COMPRESSION},
    {"MODE_ALL", QUORLAX_MODE_ALL},
    {"MODE_CUSTOM", QUORLAX_MODE_CUSTOM},
    {"MESSAGE_LENGTH", QUORLAX_MESSAGE_LENGTH},
    {"MAX_CUSTOM_SEPARATION", QUORLAX_MAX_CUSTOM_SEPARATION},
    {"LISTENER_QUEUE", QUORLAX_LISTENER_QUEUE},
    {"NOT_READY", QUORLAX_NOT_READY},
    {"ERROR_INVALID_ARGUMENT", QUORLAX_ERROR_INVALID_ARGUMENT},
    {"ERROR_NOT_CONFIGURED", QUORLAX_ERROR_NOT_CONFIGURED},
    {"ERROR_BUFFER_FULL", QUORLAX_ERROR_BUFFER_FULL},
    {"ERROR_UNSUPPORTED", QUORLAX_ERROR_UNSUPPORTED},
    {"ERROR_OUT_OF_MEMORY", QUORLAX_ERROR_OUT_OF_MEMORY},
    {"CHECK_FAILED", QUORLAX_CHECK_FAILED},
};

static jint JNICALL Constant(JNIEnv* env, jclass cls, jstring name) {
  (void)cls;
  if (name == NULL) {
    Throw(env, g.null_pointer, "name");
    return 0;
  }
  const char* chars = (*env)->GetStringUTFChars(env, name, NULL);
  if (chars == NULL) return 0;
  int found = -1;
  for (size_t i = 0; i < sizeof kConstants / sizeof kConstants[0] && found < 0; ++i)
    if (strcmp(kConstants[i].name, chars) == 0) found = (int)i;
  (*env)->ReleaseStringUTFChars(env, name, chars);
  if (found < 0) {
    Throw(env, g.illegal_argument, "no such constant in the C interface");
    return 0;
  }
  return kConstants[found].value;
}

static jstring JNICALL ErrorText(JNIEnv* env, jclass cls, jint code) {
  (void)cls;
  return (*env)->NewStringUTF(env, QUORLAX_GetErrorText(code));
}

static jstring JNICALL Version(JNIEnv* env, jclass cls) {
  (void)cls;
  return (*env)->NewStringUTF(env, QUORLAX_GetVersion());
}

static jstring JNICALL VersionNumber(JNIEnv* env, jclass cls) {
  (void)cls;
  return (*env)->NewStringUTF(env, QUORLAX_GetVersionNumber());
}

static jstring JNICALL Alphabet(JNIEnv* env, jclass cls) {
  (void)cls;
  return (*env)->NewStringUTF(env, QUORLAX_GetAlphabet());
}

/* A Java int[] of up to 32 C ints. */
static jintArray IntArray(JNIEnv* env, const int* values, int n) {
  jint copy[32];
  n = n < 0 ? 0 : n > 32 ? 32 : n;
  for (int i = 0; i < n; ++i) copy[i] = values[i];
  jintArray out = (*env)->NewIntArray(env, n);
  if (out != NULL) (*env)->SetIntArrayRegion(env, out, 0, n, copy);
  return out;
}

static jintArray JNICALL Modes(JNIEnv* env, jclass cls) {
  (void)cls;
  int modes[32];
  const int32_t n = QUORLAX_GetModes(modes, 32);
  if (n < 0 || n > 32) {
    ThrowCode(env, n < 0 ? n : QUORLAX_ERROR_BUFFER_FULL, "modes");
    return NULL;
  }
  return IntArray(env, modes, n);
}

static jstring JNICALL ModeName(JNIEnv* env, jclass cls, jint mode) {
  (void)cls;
  const char* name = QUORLAX_GetModeName(mode);
  return name == NULL ? NULL : (*env)->NewStringUTF(env, name);
}

/* The mode called `name` (case ignored), or -1. */
static jint JNICALL ModeFromName(JNIEnv* env, jclass cls, jstring name) {
  (void)cls;
  if (name == NULL) {
    Throw(env, g.null_pointer, "name");
    return 0;
  }
  const char* chars = (*env)->GetStringUTFChars(env, name, NULL);
  if (chars == NULL) return 0;
  const jint mode = QUORLAX_ModeFromName(chars);
  (*env)->ReleaseStringUTFChars(env, name, chars);
  return mode;
}

static jfloatArray JNICALL SampleRates(JNIEnv* env, jclass cls) {
  (void)cls;
  float rates[32];
  const int32_t n = QUORLAX_GetSampleRates(rates, 32);
  if (n < 0 || n > 32) {
    ThrowCode(env, n < 0 ? n : QUORLAX_ERROR_BUFFER_FULL, "sample rates");
    return NULL;
  }
  jfloatArray out = (*env)->NewFloatArray(env, n);
  if (out != NULL) (*env)->SetFloatArrayRegion(env, out, 0, n, rates);
  return out;
}

static jfloat JNICALL DefaultCustomBase(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return QUORLAX_GetDefaultCustomBase();
}

static jint JNICALL DefaultCustomSeparation(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return QUORLAX_GetDefaultCustomSeparation();
}

static jint JNICALL IsSupported(JNIEnv* env, jclass cls, jint mode, jfloat rate, jfloat base, jint separation) {
  (void)env;
  (void)cls;
  return QUORLAX_IsSupported(mode, rate, base, separation);
}

/* {low, high} Hz. */
static jfloatArray JNICALL CustomBaseRange(JNIEnv* env, jclass cls, jfloat rate, jint separation) {
  (void)cls;
  float range[2] = {0.0f, 0.0f};
  const int32_t r = QUORLAX_GetCustomBaseRange(rate, separation, &range[0], &range[1]);
  if (r != QUORLAX_OK) {
    ThrowCode(env, r, "custom grid");
    return NULL;
  }
  jfloatArray out = (*env)->NewFloatArray(env, 2);
  if (out != NULL) (*env)->SetFloatArrayRegion(env, out, 0, 2, range);
  return out;
}

static jobject JNICALL ModeInfo(JNIEnv* env, jclass cls, jint mode, jfloat rate, jfloat base, jint separation) {
  (void)cls;
  QUORLAX_ModeInfo info;
  memset(&info, 0, sizeof info);
  info.size = sizeof info;
  const int32_t r = QUORLAX_GetModeInfo(mode, rate, base, separation, &info);
  if (r != QUORLAX_OK) {
    ThrowCode(env, r, "mode");
    return NULL;
  }
  jintArray hears = IntArray(env, info.hears, info.num_hears > 4 ? 4 : info.num_hears);
  if (hears == NULL) return NULL;
  jvalue args[8];
  args[0].i = mode;
  args[1].i = info.sends;
  args[2].l = hears;
  args[3].i = info.token_samples;
  args[4].i = info.transmission_samples;
  args[5].i = info.max_encoded_samples;
  args[6].f = info.low_hz;
  args[7].f = info.high_hz;
  return (*env)->CallStaticObjectMethodA(env, g.mode_info, g.mode_info_of, args);
}

static jobject JNICALL BandInfo(JNIEnv* env, jclass cls, jint mode, jfloat rate, jfloat base, jint separation) {
  (void)cls;
  QUORLAX_BandInfoEx info;
  memset(&info, 0, sizeof info);
  info.size = sizeof info;
  const int32_t r = QUORLAX_GetBandInfoEx(mode, rate, base, separation, &info);
  if (r != QUORLAX_OK) {
    ThrowCode(env, r, "band");
    return NULL;
  }
  const int tones = info.num_tones < 0 ? 0 : info.num_tones > 9 ? 9 : info.num_tones;
  jfloatArray toneHz = (*env)->NewFloatArray(env, tones);
  if (toneHz == NULL) return NULL;
  (*env)->SetFloatArrayRegion(env, toneHz, 0, tones, info.tone_hz);
  info.name[sizeof info.name - 1] = '\0';
  jstring name = (*env)->NewStringUTF(env, info.name);
  if (name == NULL) return NULL;
  jvalue args[7];
  args[0].i = info.mode;
  args[1].i = info.decoding_mode;
  args[2].l = name;
  args[3].l = toneHz;
  args[4].f = info.shift_hz;
  args[5].f = info.low_hz;
  args[6].f = info.high_hz;
  return (*env)->CallStaticObjectMethodA(env, g.band, g.band_of, args);
}

/* ---- listener --------------------------------------------------------- */

static jlong JNICALL ListenerCreate(JNIEnv* env, jclass cls, jint mode, jfloat rate, jboolean customGrid,
                                    jfloat base, jint separation, jboolean reportFailed) {
  (void)cls;
  QUORLAX_ListenerConfig config;
  QUORLAX_ListenerConfigInit(&config, mode, rate);
  if (customGrid) {
    config.custom_base_hz = base;
    config.custom_separation = separation;
  }
  config.report_failed = reportFailed ? 1 : 0;
  int error = QUORLAX_OK;
  QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&config, &error);
  return Created(env, l, error, "listener");
}

static void JNICALL ListenerDestroy(JNIEnv* env, jclass cls, jlong handle) {
  (void)env;
  (void)cls;
  if (handle == 0) return;
  QUORLAX_ListenerDestroy(AsListener(handle));
  atomic_fetch_sub(&live_objects, 1);
}

static int Push(JNIEnv* env, jlong handle, const float* samples, jint count) {
  const int32_t r = QUORLAX_ListenerPush(AsListener(handle), samples, count);
  if (r < 0) ThrowCode(env, r, "push");
  return r >= 0;
}

static void JNICALL PushFloats(JNIEnv* env, jclass cls, jlong handle, jfloatArray samples, jint offset, jint count) {
  (void)cls;
  if (!CheckArray(env, samples, offset, count)) return;
  float block[BLOCK];
  while (count > 0) {
    const jint n = count < BLOCK ? count : BLOCK;
    (*env)->GetFloatArrayRegion(env, samples, offset, n, block);
    if (!Push(env, handle, block, n)) return;
    offset += n;
    count -= n;
  }
}

static void ShortsToFloats(const jshort* in, float* out, jint n) {
  for (jint i = 0; i < n; ++i) out[i] = (float)in[i] * (1.0f / 32768.0f);
}

static void JNICALL PushShorts(JNIEnv* env, jclass cls, jlong handle, jshortArray samples, jint offset, jint count) {
  (void)cls;
  if (!CheckArray(env, samples, offset, count)) return;
  jshort shorts[BLOCK];
  float block[BLOCK];
  while (count > 0) {
    const jint n = count < BLOCK ? count : BLOCK;
    (*env)->GetShortArrayRegion(env, samples, offset, n, shorts);
    ShortsToFloats(shorts, block, n);
    if (!Push(env, handle, block, n)) return;
    offset += n;
    count -= n;
  }
}

/* A direct FloatBuffer in the platform's byte order. */
static void JNICALL PushDirectFloats(JNIEnv* env, jclass cls, jlong handle, jobject buffer, jint offset, jint count) {
  (void)cls;
  const float* samples = DirectRegion(env, buffer, offset, count, sizeof(float));
  if (samples != NULL) Push(env, handle, samples, count);
}

/* A direct ShortBuffer in the platform's byte order. */
static void JNICALL PushDirectShorts(JNIEnv* env, jclass cls, jlong handle, jobject buffer, jint offset, jint count) {
  (void)cls;
  const jshort* shorts = DirectRegion(env, buffer, offset, count, sizeof(jshort));
  if (shorts == NULL) return;
  float block[BLOCK];
  for (jint done = 0; done < count;) {
    const jint n = count - done < BLOCK ? count - done : BLOCK;
    ShortsToFloats(shorts + done, block, n);
    if (!Push(env, handle, block, n)) return;
    done += n;
  }
}

static void JNICALL ListenerFlush(JNIEnv* env, jclass cls, jlong handle) {
  (void)cls;
  const int32_t r = QUORLAX_ListenerFlush(AsListener(handle));
  if (r < 0) ThrowCode(env, r, "flush");
}

/* The oldest completed message, or NULL. */
static jobject JNICALL ListenerNext(JNIEnv* env, jclass cls, jlong handle) {
  (void)cls;
  QUORLAX_MessageEx m;
  memset(&m, 0, sizeof m);
  m.size = sizeof m;
  const int32_t r = QUORLAX_ListenerNextEx(AsListener(handle), &m);
  if (r < 0) ThrowCode(env, r, "poll");
  if (r != 1) return NULL;
  /* Message characters are ASCII; anything else would not be valid modified UTF-8. */
  m.text[sizeof m.text - 1] = '\0';
  for (char* c = m.text; *c != '\0'; ++c)
    if (*c < 0x20 || *c > 0x7e) *c = '?';
  jstring text = (*env)->NewStringUTF(env, m.text);
  if (text == NULL) return NULL;
  jvalue args[9];
  args[0].l = text;
  args[1].z = m.ok ? JNI_TRUE : JNI_FALSE;
  args[2].i = m.band;
  args[3].j = m.start;
  args[4].j = m.end;
  args[5].f = m.level_db;
  args[6].f = m.confidence;
  args[7].f = m.snr_db;
  args[8].i = m.corrected;
  return (*env)->CallStaticObjectMethodA(env, g.message, g.message_of, args);
}

static jlong JNICALL ListenerDropped(JNIEnv* env, jclass cls, jlong handle) {
  (void)cls;
  const int64_t r = QUORLAX_ListenerDropped(AsListener(handle));
  if (r < 0) ThrowCode(env, (int)r, "dropped");
  return r;
}

/* ---- sender ----------------------------------------------------------- */

static jlong JNICALL SenderCreate(JNIEnv* env, jclass cls, jint mode, jfloat rate, jfloat base, jint separation) {
  (void)cls;
  int error = QUORLAX_OK;
  QUORLAX_Sender* s = QUORLAX_SenderCreate(mode, rate, base, separation, &error);
  return Created(env, s, error, "sender");
}

static void JNICALL SenderDestroy(JNIEnv* env, jclass cls, jlong handle) {
  (void)env;
  (void)cls;
  if (handle == 0) return;
  QUORLAX_SenderDestroy(AsSender(handle));
  atomic_fetch_sub(&live_objects, 1);
}

/* The library takes exactly its message length of ASCII characters and a zero. */
static void JNICALL SenderStart(JNIEnv* env, jclass cls, jlong handle, jstring text) {
  (void)cls;
  if (text == NULL) {
    Throw(env, g.null_pointer, "text");
    return;
  }
  if ((*env)->GetStringLength(env, text) != QUORLAX_MESSAGE_LENGTH) {
    ThrowCode(env, QUORLAX_ERROR_INVALID_ARGUMENT, "message length");
    return;
  }
  jchar wide[QUORLAX_MESSAGE_LENGTH];
  (*env)->GetStringRegion(env, text, 0, QUORLAX_MESSAGE_LENGTH, wide);
  char narrow[QUORLAX_MESSAGE_LENGTH + 1];
  for (int i = 0; i < QUORLAX_MESSAGE_LENGTH; ++i) {
    if (wide[i] == 0 || wide[i] > 0x7f) {
      ThrowCode(env, QUORLAX_ERROR_INVALID_ARGUMENT, "message characters");
      return;
    }
    narrow[i] = (char)wide[i];
  }
  narrow[QUORLAX_MESSAGE_LENGTH] = '\0';
  const int32_t r = QUORLAX_SenderStart(AsSender(handle), narrow);
  if (r < 0) ThrowCode(env, r, "message characters");
}

static int Render(JNIEnv* env, jlong handle, float* out, jint count) {
  const int32_t r = QUORLAX_SenderRender(AsSender(handle), out, count);
  if (r < 0) ThrowCode(env, r, "render");
  return r;
}

static jint JNICALL RenderFloats(JNIEnv* env, jclass cls, jlong handle, jfloatArray out, jint offset, jint count) {
  (void)cls;
  if (!CheckArray(env, out, offset, count)) return 0;
  float block[BLOCK];
  jint done = 0;
  while (done < count) {
    const jint want = count - done < BLOCK ? count - done : BLOCK;
    const int got = Render(env, handle, block, want);
    if (got <= 0) break;
    (*env)->SetFloatArrayRegion(env, out, offset + done, got, block);
    done += got;
    if (got < want) break;
  }
  return done;
}

static jint JNICALL RenderDirect(JNIEnv* env, jclass cls, jlong handle, jobject buffer, jint offset, jint count) {
  (void)cls;
  float* out = DirectRegion(env, buffer, offset, count, sizeof(float));
  if (out == NULL) return 0;
  const int got = Render(env, handle, out, count);
  return got < 0 ? 0 : got;
}

static jlong JNICALL LiveObjects(JNIEnv* env, jclass cls) {
  (void)env;
  (void)cls;
  return atomic_load(&live_objects);
}

/* A call the JIT cannot drop: the object passed stays reachable until here, so its
 * handle is not released while a native call still uses it. */
static void JNICALL KeepAlive(JNIEnv* env, jclass cls, jobject owner) {
  (void)env;
  (void)cls;
  (void)owner;
}

/* ---- registration ----------------------------------------------------- */

#define NATIVE(name, signature, function) {(char*)(name), (char*)(signature), (void*)(function)}

static const JNINativeMethod kMethods[] = {
    NATIVE("constant", "(Ljava/lang/String;)I", Constant),
    NATIVE("errorText", "(I)Ljava/lang/String;", ErrorText),
    NATIVE("version", "()Ljava/lang/String;", Version),
    NATIVE("versionNumber", "()Ljava/lang/String;", VersionNumber),
    NATIVE("alphabet", "()Ljava/lang/String;", Alphabet),
    NATIVE("modes", "()[I", Modes),
    NATIVE("modeName", "(I)Ljava/lang/String;", ModeName),
    NATIVE("modeFromName", "(Ljava/lang/String;)I", ModeFromName),
    NATIVE("sampleRates", "()[F", SampleRates),
    NATIVE("defaultCustomBase", "()F", DefaultCustomBase),
    NATIVE("defaultCustomSeparation", "()I", DefaultCustomSeparation),
    NATIVE("isSupported", "(IFFI)I", IsSupported),
    NATIVE("customBaseRange", "(FI)[F", CustomBaseRange),
    NATIVE("modeInfo", "(IFFI)Lorg/quorlax/ModeInfo;", ModeInfo),
    NATIVE("bandInfo", "(IFFI)Lorg/quorlax/Band;", BandInfo),
    NATIVE("listenerCreate", "(IFZFIZ)J", ListenerCreate),
    NATIVE("listenerDestroy", "(J)V", ListenerDestroy),
    NATIVE("pushFloats", "(J[FII)V", PushFloats),
    NATIVE("pushShorts", "(J[SII)V", PushShorts),
    NATIVE("pushDirectFloats", "(JLjava/nio/FloatBuffer;II)V", PushDirectFloats),
    NATIVE("pushDirectShorts", "(JLjava/nio/ShortBuffer;II)V", PushDirectShorts),
    NATIVE("listenerFlush", "(J)V", ListenerFlush),
    NATIVE("listenerNext", "(J)Lorg/quorlax/Message;", ListenerNext),
    NATIVE("listenerDropped", "(J)J", ListenerDropped),
    NATIVE("senderCreate", "(IFFI)J", SenderCreate),
    NATIVE("senderDestroy", "(J)V", SenderDestroy),
    NATIVE("senderStart", "(JLjava/lang/String;)V", SenderStart),
    NATIVE("renderFloats", "(J[FII)I", RenderFloats),
    NATIVE("renderDirect", "(JLjava/nio/FloatBuffer;II)I", RenderDirect),
    NATIVE("liveObjects", "()J", LiveObjects),
    NATIVE("keepAlive", "(Ljava/lang/Object;)V", KeepAlive),
};

static jclass GlobalClass(JNIEnv* env, const char* name) {
  jclass local = (*env)->FindClass(env, name);
  if (local == NULL) return NULL;
  jclass global = (*env)->NewGlobalRef(env, local);
  (*env)->DeleteLocalRef(env, local);
  return global;
}

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* reserved) {
  (void)reserved;
  JNIEnv* env = NULL;
  if ((*vm)->GetEnv(vm, (void**)&env, JNI_VERSION_1_6) != JNI_OK) return JNI_ERR;
  /* Natives first: looking a class up initialises it, and QuorlaxException's
   * initialiser asks the glue for the header's codes. */
  jclass natives = (*env)->FindClass(env, "org/quorlax/Native");
  if (natives == NULL) return JNI_ERR;
  const jint registered = (*env)->RegisterNatives(env, natives, kMethods, (jint)(sizeof kMethods / sizeof kMethods[0]));
  (*env)->DeleteLocalRef(env, natives);
  if (registered != JNI_OK) return JNI_ERR;
  if ((g.quorlax_exception = GlobalClass(env, "org/quorlax/QuorlaxException")) == NULL ||
      (g.message = GlobalClass(env, "org/quorlax/Message")) == NULL ||
      (g.mode_info = GlobalClass(env, "org/quorlax/ModeInfo")) == NULL ||
      (g.band = GlobalClass(env, "org/quorlax/Band")) == NULL ||
      (g.null_pointer = GlobalClass(env, "java/lang/NullPointerException")) == NULL ||
      (g.illegal_argument = GlobalClass(env, "java/lang/IllegalArgumentException")) == NULL ||
      (g.index_out_of_bounds = GlobalClass(env, "java/lang/IndexOutOfBoundsException")) == NULL)
    return JNI_ERR;
  g.quorlax_exception_init = (*env)->GetMethodID(env, g.quorlax_exception, "<init>", "(ILjava/lang/String;)V");
  g.message_of = (*env)->GetStaticMethodID(env, g.message, "fromNative",
                                           "(Ljava/lang/String;ZIJJFFFI)Lorg/quorlax/Message;");
  g.mode_info_of = (*env)->GetStaticMethodID(env, g.mode_info, "fromNative", "(II[IIIIFF)Lorg/quorlax/ModeInfo;");
  g.band_of = (*env)->GetStaticMethodID(env, g.band, "fromNative", "(IILjava/lang/String;[FFFF)Lorg/quorlax/Band;");
  if (g.quorlax_exception_init == NULL || g.message_of == NULL || g.mode_info_of == NULL || g.band_of == NULL)
    return JNI_ERR;
  return JNI_VERSION_1_6;
}
