package org.quorlax;

import java.util.Arrays;
import java.util.Objects;

/**
 * Quorlax: data over sound. A ~2-second chord sequence carries a nine-character code. This class
 * sends in one call and tells what the library is; {@link Listener} hears, {@link Sender} renders a
 * block at a time, {@link Mode} says what each mode is at a rate.
 *
 * <p>Everything here comes from the native library through JNI; a call it refuses raises a
 * {@link QuorlaxException} with its code.
 */
public final class Quorlax {
  /** Characters in a message. */
  public static final int MESSAGE_LENGTH = Native.constant("MESSAGE_LENGTH");
  /** Completed messages a listener holds before it drops the oldest. */
  public static final int LISTENER_QUEUE = Native.constant("LISTENER_QUEUE");
  /** The widest custom separation; wider grids never fit a spectrum. */
  public static final int MAX_CUSTOM_SEPARATION = Native.constant("MAX_CUSTOM_SEPARATION");

  private Quorlax() {}

  /**
   * One whole transmission of {@code text} in {@code mode} at {@code sampleRate} Hz, as mono float
   * samples (custom mode: the default grid).
   */
  public static float[] encode(String text, Mode mode, int sampleRate) {
    return encode(text, mode, sampleRate, CustomGrid.defaults());
  }

  public static float[] encode(String text, Mode mode, int sampleRate, CustomGrid grid) {
    Objects.requireNonNull(text, "text");
    try (Sender sender = new Sender(mode, sampleRate, grid)) {
      sender.start(text);
      float[] samples = new float[mode.info(sampleRate, grid).transmissionSamples()];
      int n = sender.render(samples);
      return n == samples.length ? samples : Arrays.copyOf(samples, n);
    }
  }

  /** The message characters in token order. */
  public static String alphabet() {
    return Native.alphabet();
  }

  /**
   * The sample rates (Hz) at which the library analyses audio; whether a mode works at one:
   * {@link Mode#isSupported(int)}.
   */
  public static int[] sampleRates() {
    float[] rates = Native.sampleRates();
    int[] out = new int[rates.length];
    for (int i = 0; i < rates.length; i++) out[i] = Math.round(rates[i]);
    return out;
  }

  /** "1.0.0": the library's version number. */
  public static String versionNumber() {
    return Native.versionNumber();
  }

  /** The library's full version string. */
  public static String version() {
    return Native.version();
  }

  /** The library's sentence for a result code. */
  public static String errorText(int code) {
    return Native.errorText(code);
  }
}
