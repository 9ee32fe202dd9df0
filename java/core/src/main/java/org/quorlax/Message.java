package org.quorlax;

/**
 * A transmission the listener heard.
 *
 * @param text its characters
 * @param ok whether it passed its check (failed ones come only when the listener was asked for them)
 * @param band the band it was heard in
 * @param start the first sample of its front door, counted from the first sample pushed
 * @param end one past its last token's last sample
 * @param levelDb the received level of its tones, dB re full scale (a full-scale sine reads 0)
 * @param confidence 0..1: its level above the band, times the share of its positions that needed no
 *     correction
 * @param snrDb the mean level of its tones above the rest of the band, dB
 * @param corrected positions that the error correction changed
 */
public record Message(String text, boolean ok, Mode band, long start, long end, float levelDb, float confidence,
    float snrDb, int corrected) {
  /** Called by the JNI glue. */
  static Message fromNative(String text, boolean ok, int band, long start, long end, float levelDb,
      float confidence, float snrDb, int corrected) {
    return new Message(text, ok, Mode.of(band), start, end, levelDb, confidence, snrDb, corrected);
  }
}
