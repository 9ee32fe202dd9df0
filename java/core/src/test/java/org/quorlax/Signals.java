package org.quorlax;

import java.util.ArrayList;
import java.util.List;
import java.util.Random;

/** Audio for the tests: transmissions between stretches of quiet noise. */
final class Signals {
  private Signals() {}

  /** Seeded noise at {@code amplitude}, so no stretch is digital silence. */
  static float[] noise(int count, float amplitude, long seed) {
    Random random = new Random(seed);
    float[] out = new float[count];
    for (int i = 0; i < count; i++) out[i] = (float) (random.nextGaussian() * amplitude);
    return out;
  }

  static float[] concat(float[]... parts) {
    int total = 0;
    for (float[] p : parts) total += p.length;
    float[] out = new float[total];
    int at = 0;
    for (float[] p : parts) {
      System.arraycopy(p, 0, out, at, p.length);
      at += p.length;
    }
    return out;
  }

  /** {@code text} sent after {@code lead} samples of quiet, with a quiet tail. */
  static float[] transmission(String text, Mode mode, int rate, int lead) {
    return concat(noise(lead, 1e-4f, lead), Quorlax.encode(text, mode, rate), noise(rate / 4, 1e-4f, 7));
  }

  /** 16-bit samples, as a microphone gives them. */
  static short[] toShorts(float[] samples) {
    short[] out = new short[samples.length];
    for (int i = 0; i < samples.length; i++) {
      out[i] = (short) Math.max(-32768, Math.min(32767, Math.round(samples[i] * 32768f)));
    }
    return out;
  }

  /** Every message the listener has completed. */
  static List<Message> drain(Listener listener) {
    List<Message> out = new ArrayList<>();
    for (Message m; (m = listener.poll()) != null; ) out.add(m);
    return out;
  }

  /** Pushes {@code audio} in blocks of {@code block}, flushes, and takes every message. */
  static List<Message> hear(Listener listener, float[] audio, int block) {
    for (int at = 0; at < audio.length; at += block) listener.push(audio, at, Math.min(block, audio.length - at));
    listener.flush();
    return drain(listener);
  }

  /** The rates the library analyses at where {@code mode} works (with the default grid). */
  static List<Integer> ratesOf(Mode mode) {
    List<Integer> out = new ArrayList<>();
    for (int rate : Quorlax.sampleRates()) if (mode.isSupported(rate)) out.add(rate);
    return out;
  }
}
