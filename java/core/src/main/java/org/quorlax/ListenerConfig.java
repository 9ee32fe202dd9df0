package org.quorlax;

import java.util.Objects;

/**
 * How a {@link Listener} is made.
 *
 * @param mode the mode it hears
 * @param sampleRate Hz
 * @param customGrid custom mode's grid; null for the library's default
 * @param reportFailed whether readings that failed their check are reported too (when no passing
 *     message covers their time; they come out about a transmission later)
 */
public record ListenerConfig(Mode mode, int sampleRate, CustomGrid customGrid, boolean reportFailed) {
  public ListenerConfig {
    Objects.requireNonNull(mode, "mode");
  }

  /** {@code mode} at {@code sampleRate} Hz with the default grid and no failed readings. */
  public static ListenerConfig of(Mode mode, int sampleRate) {
    return new ListenerConfig(mode, sampleRate, null, false);
  }

  public ListenerConfig withCustomGrid(CustomGrid grid) {
    return new ListenerConfig(mode, sampleRate, grid, reportFailed);
  }

  public ListenerConfig withReportFailed(boolean on) {
    return new ListenerConfig(mode, sampleRate, customGrid, on);
  }
}
