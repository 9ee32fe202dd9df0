package org.quorlax;

import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A mode of the library: the bands it sends and hears. Every mode, its value and its name come from
 * the library; the constants below are the C header's modes.
 */
public final class Mode {
  private static final Map<Integer, Mode> BY_VALUE = new LinkedHashMap<>();

  static {
    for (int value : Native.modes()) BY_VALUE.put(value, new Mode(value, Native.modeName(value)));
  }

  private static final List<Mode> EVERY = Collections.unmodifiableList(new ArrayList<>(BY_VALUE.values()));

  /** The audible band. */
  public static final Mode AUDIBLE = of(Native.constant("MODE_AUDIBLE"));
  /** Near the top of hearing. */
  public static final Mode NONAUDIBLE = of(Native.constant("MODE_NONAUDIBLE"));
  /** Below it, where lossy codecs keep the sound. */
  public static final Mode COMPRESSION = of(Native.constant("MODE_COMPRESSION"));
  /** Sends non-audible; hears the audible, non-audible and compression bands at once. */
  public static final Mode ALL = of(Native.constant("MODE_ALL"));
  /** Nine tones above a base frequency of the caller's choice ({@link CustomGrid}). */
  public static final Mode CUSTOM = of(Native.constant("MODE_CUSTOM"));

  private final int value;
  private final String name;

  private Mode(int value, String name) {
    this.value = value;
    this.name = name;
  }

  /** Every mode, in the library's order. */
  public static List<Mode> all() {
    return EVERY;
  }

  /** The mode with the C value {@code value} (QUORLAX_MODE_*). */
  public static Mode of(int value) {
    Mode mode = BY_VALUE.get(value);
    if (mode == null) throw new IllegalArgumentException("no mode has the value " + value);
    return mode;
  }

  /** The mode called {@code name} ("audible", ...; case ignored). */
  public static Mode named(String name) {
    int value = Native.modeFromName(name);
    if (value < 0) throw new IllegalArgumentException("no mode is called '" + name + "'; modes: " + EVERY);
    return of(value);
  }

  /** The C value, QUORLAX_MODE_*. */
  public int value() {
    return value;
  }

  /** The library's name for it: "audible", "nonaudible", "compression", "all" or "custom". */
  public String name() {
    return name;
  }

  /** Whether this mode sends and hears at {@code sampleRate} Hz (custom mode: the default grid). */
  public boolean isSupported(int sampleRate) {
    return isSupported(sampleRate, CustomGrid.defaults());
  }

  /** Whether this mode sends and hears at {@code sampleRate} Hz with this custom grid. */
  public boolean isSupported(int sampleRate, CustomGrid grid) {
    return Native.isSupported(value, sampleRate, grid.baseHz(), grid.separation()) == 0;
  }

  /** What this mode is at {@code sampleRate} Hz; a {@link QuorlaxException} where it does not work. */
  public ModeInfo info(int sampleRate) {
    return info(sampleRate, CustomGrid.defaults());
  }

  public ModeInfo info(int sampleRate, CustomGrid grid) {
    return Native.modeInfo(value, sampleRate, grid.baseHz(), grid.separation());
  }

  /**
   * This mode's band at {@code sampleRate} Hz; a {@link QuorlaxException} for the mode that hears
   * several ({@link QuorlaxException#NOT_READY}) or a band that does not fit at the rate.
   */
  public Band band(int sampleRate) {
    return band(sampleRate, CustomGrid.defaults());
  }

  public Band band(int sampleRate, CustomGrid grid) {
    return Native.bandInfo(value, sampleRate, grid.baseHz(), grid.separation());
  }

  @Override
  public String toString() {
    return name;
  }
}
