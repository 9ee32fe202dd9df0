package org.quorlax;

/**
 * The tone grid of custom mode: the lowest tone in Hz and the separation (tones
 * {@code (separation + 2) * 3} analysis bins apart).
 *
 * @param baseHz the lowest tone, Hz
 * @param separation 0 or more
 */
public record CustomGrid(float baseHz, int separation) {
  private static final CustomGrid DEFAULTS =
      new CustomGrid(Native.defaultCustomBase(), Native.defaultCustomSeparation());

  /** The library's default grid, which custom mode uses unless given another. */
  public static CustomGrid defaults() {
    return DEFAULTS;
  }

  /**
   * The bases that fit at {@code sampleRate} with {@code separation}: {lowest, highest} in Hz. A
   * {@link QuorlaxException} ({@link QuorlaxException#UNSUPPORTED}) when none does.
   */
  public static float[] baseRangeHz(int sampleRate, int separation) {
    return Native.customBaseRange(sampleRate, separation);
  }
}
