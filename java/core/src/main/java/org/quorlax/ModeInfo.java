package org.quorlax;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Objects;

/**
 * What a mode is at one sample rate, as the library tells it.
 *
 * @param mode the mode
 * @param sends the band it sends in
 * @param hears the bands it hears, in the order ties are broken
 * @param tokenSamples samples of one token
 * @param transmissionSamples samples of a whole transmission
 * @param maxEncodedSamples the longest the handle encoder's output gets (melody included)
 * @param lowHz lowest frequency on air in the bands it sends or hears, shifts included
 * @param highHz highest
 */
public record ModeInfo(Mode mode, Mode sends, List<Mode> hears, int tokenSamples, int transmissionSamples,
    int maxEncodedSamples, float lowHz, float highHz) {
  public ModeInfo {
    List<Mode> copy = new ArrayList<>(hears);
    for (Mode band : copy) Objects.requireNonNull(band, "hears holds null");
    hears = Collections.unmodifiableList(copy);
  }

  /** Called by the JNI glue. */
  static ModeInfo fromNative(int mode, int sends, int[] hears, int tokenSamples, int transmissionSamples,
      int maxEncodedSamples, float lowHz, float highHz) {
    List<Mode> heard = new ArrayList<>(hears.length);
    for (int band : hears) heard.add(Mode.of(band));
    return new ModeInfo(Mode.of(mode), Mode.of(sends), heard, tokenSamples, transmissionSamples,
        maxEncodedSamples, lowHz, highHz);
  }
}
