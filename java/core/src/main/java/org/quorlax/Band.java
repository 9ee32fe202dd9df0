package org.quorlax;

import java.util.Arrays;

/**
 * One band's facts at one sample rate, from the library's band table.
 *
 * @param mode the mode that sends the band
 * @param decodingMode what the handle decoder reports for it (0..3)
 * @param name "audible", "nonaudible", "compression" or "custom"
 * @param toneHz the tone grid, Hz (a copy on every call)
 * @param shiftHz the shift step on air: message tokens rotate 0, 1, 2 steps up
 * @param lowHz the lowest tone
 * @param highHz the highest tone plus two shift steps
 */
public record Band(Mode mode, int decodingMode, String name, float[] toneHz, float shiftHz, float lowHz,
    float highHz) {
  public Band {
    toneHz = toneHz.clone();
  }

  @Override
  public float[] toneHz() {
    return toneHz.clone();
  }

  @Override
  public boolean equals(Object other) {
    return other instanceof Band b && mode.equals(b.mode) && decodingMode == b.decodingMode && name.equals(b.name)
        && Arrays.equals(toneHz, b.toneHz) && shiftHz == b.shiftHz && lowHz == b.lowHz && highHz == b.highHz;
  }

  @Override
  public int hashCode() {
    return 31 * name.hashCode() + Arrays.hashCode(toneHz);
  }

  @Override
  public String toString() {
    return "Band[" + name + ", tones " + Arrays.toString(toneHz) + " Hz, shift " + shiftHz + " Hz]";
  }

  /** Called by the JNI glue. */
  static Band fromNative(int mode, int decodingMode, String name, float[] toneHz, float shiftHz, float lowHz,
      float highHz) {
    return new Band(Mode.of(mode), decodingMode, name, toneHz, shiftHz, lowHz, highHz);
  }
}
