package org.quorlax;

import java.nio.FloatBuffer;
import java.nio.ShortBuffer;

/**
 * The native methods of the JNI glue (java/native/quorlax_jni.c), one per C call. Callers in this
 * package check arguments first; the glue checks them again and turns a negative result code into a
 * {@link QuorlaxException}. Handles are the library's pointers as non-negative longs.
 */
final class Native {
  static {
    NativeLoader.load();
  }

  private Native() {}

  /** A constant of the C header, by its name without the QUORLAX_ prefix. */
  static native int constant(String name);

  static native String errorText(int code);

  static native String version();

  static native String versionNumber();

  static native String alphabet();

  static native int[] modes();

  /** Null for a value that names no mode. */
  static native String modeName(int mode);

  /** -1 for a name that names no mode. */
  static native int modeFromName(String name);

  static native float[] sampleRates();

  static native float defaultCustomBase();

  static native int defaultCustomSeparation();

  /** 0, or the code a listener would be refused with. */
  static native int isSupported(int mode, float rate, float baseHz, int separation);

  /** {lowest, highest} custom base in Hz. */
  static native float[] customBaseRange(float rate, int separation);

  static native ModeInfo modeInfo(int mode, float rate, float baseHz, int separation);

  static native Band bandInfo(int mode, float rate, float baseHz, int separation);

  static native long listenerCreate(int mode, float rate, boolean customGrid, float baseHz, int separation,
      boolean reportFailed);

  static native void listenerDestroy(long listener);

  static native void pushFloats(long listener, float[] samples, int offset, int count);

  /** 16-bit samples, scaled by 1/32768. */
  static native void pushShorts(long listener, short[] samples, int offset, int count);

  /** A direct buffer in the platform's byte order; offset and count in samples. */
  static native void pushDirectFloats(long listener, FloatBuffer samples, int offset, int count);

  static native void pushDirectShorts(long listener, ShortBuffer samples, int offset, int count);

  static native void listenerFlush(long listener);

  /** The oldest completed message, or null. */
  static native Message listenerNext(long listener);

  static native long listenerDropped(long listener);

  static native long senderCreate(int mode, float rate, float baseHz, int separation);

  static native void senderDestroy(long sender);

  static native void senderStart(long sender, String text);

  /** Samples written, 0 at the end of the transmission. */
  static native int renderFloats(long sender, float[] out, int offset, int count);

  static native int renderDirect(long sender, FloatBuffer out, int offset, int count);

  /** Listeners and senders the glue has created and not yet destroyed. */
  static native long liveObjects();

  /** Does nothing; {@code owner} is reachable until it returns (Android has no reachabilityFence before API 28). */
  static native void keepAlive(Object owner);
}
