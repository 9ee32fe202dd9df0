package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The library's facts as the Java package reports them, against the values users are told. */
class QueriesTest {
  @ParameterizedTest(name = "{0} = {1}")
  @CsvSource({"audible, 2", "nonaudible, 3", "compression, 4", "all, 5", "custom, 6"})
  void modesByNameAndValue(String name, int value) {
    Mode mode = Mode.of(value);
    assertEquals(name, mode.name());
    assertEquals(value, mode.value());
    assertSame(mode, Mode.named(name));
    assertSame(mode, Mode.named(name.toUpperCase(java.util.Locale.ROOT)));
  }

  @Test
  void constantsAreTheHeadersModes() {
    assertEquals(List.of(Mode.AUDIBLE, Mode.NONAUDIBLE, Mode.COMPRESSION, Mode.ALL, Mode.CUSTOM), Mode.all());
    assertEquals(5, Mode.ALL.value());
  }

  /** The README's table: what is on air at 44100 Hz, shifts included, in kHz. */
  @ParameterizedTest(name = "{0}")
  @CsvSource({"audible, 3.3, 9.8", "nonaudible, 17.8, 20.0", "compression, 14.0, 15.7"})
  void rangesOnAir(String name, float lowKhz, float highKhz) {
    ModeInfo info = Mode.named(name).info(44100);
    assertEquals(lowKhz, info.lowHz() / 1000, 0.05f);
    assertEquals(highKhz, info.highHz() / 1000, 0.05f);
  }

  @Test
  void allSendsNonAudibleAndHearsThreeBands() {
    ModeInfo info = Mode.ALL.info(48000);
    assertSame(Mode.NONAUDIBLE, info.sends());
    assertEquals(List.of(Mode.AUDIBLE, Mode.NONAUDIBLE, Mode.COMPRESSION), info.hears());
  }

  /** Tokens are 4608 samples at 44100 Hz and as long in time at 48000 Hz; 20 make a transmission. */
  @ParameterizedTest(name = "{0} Hz")
  @CsvSource({"44100, 4608", "48000, 5015"})
  void lengths(int rate, int tokenSamples) {
    for (Mode mode : Mode.all()) {
      ModeInfo info = mode.info(rate);
      assertEquals(tokenSamples, info.tokenSamples(), mode.name());
      assertEquals(20 * tokenSamples, info.transmissionSamples(), mode.name());
      assertTrue(info.maxEncodedSamples() >= info.transmissionSamples(), mode.name());
    }
  }

  /** Every mode works at 44100 and 48000 Hz; at 22050 Hz only audible (custom's default grid is too high). */
  @Test
  void supportedRates() {
    assertArrayEquals(new int[] {22050, 44100, 48000}, Quorlax.sampleRates());
    for (Mode mode : Mode.all()) {
      assertTrue(mode.isSupported(44100) && mode.isSupported(48000), mode.name());
      assertEquals(mode == Mode.AUDIBLE, mode.isSupported(22050), mode.name());
      assertFalse(mode.isSupported(8000), mode.name());
    }
    float[] range = CustomGrid.baseRangeHz(22050, 0);
    assertTrue(Mode.CUSTOM.isSupported(22050, new CustomGrid(range[0], 0)));
  }

  @Test
  void audibleBand() {
    Band band = Mode.AUDIBLE.band(44100);
    assertEquals("audible", band.name());
    assertSame(Mode.AUDIBLE, band.mode());
    assertEquals(9, band.toneHz().length);
    assertEquals(258.3984375f, band.shiftHz(), 1e-3f);
    assertEquals(band.toneHz()[0], band.lowHz());
    assertEquals(band.toneHz()[8] + 2 * band.shiftHz(), band.highHz(), 0.01f);
    band.toneHz()[0] = 0;
    assertEquals(band.lowHz(), band.toneHz()[0], "toneHz() hands out copies");
  }

  @Test
  void customGridDefaultsAndRange() {
    CustomGrid grid = CustomGrid.defaults();
    float[] range = CustomGrid.baseRangeHz(48000, grid.separation());
    assertTrue(range[0] < grid.baseHz() && grid.baseHz() < range[1], () -> grid + " in " + range[0] + ".." + range[1]);
    assertEquals(grid.baseHz(), Mode.CUSTOM.band(48000).lowHz(), 25f);
  }

  @Test
  void textFacts() {
    assertEquals("0123456789abcdefghijklmnopqrstuv", Quorlax.alphabet());
    assertEquals(9, Quorlax.MESSAGE_LENGTH);
    assertEquals(64, Quorlax.LISTENER_QUEUE);
    assertEquals(1000, Quorlax.MAX_CUSTOM_SEPARATION);
  }

  /** The jar's version is the library's: one number, set in two build files. */
  @Test
  void versionIsTheProjects() {
    assertEquals(System.getProperty("quorlax.projectVersion"), Quorlax.versionNumber());
    assertTrue(Quorlax.version().contains(Quorlax.versionNumber()), Quorlax.version());
  }

  /** Each code the package names has a sentence of its own, and exceptions carry it. */
  @Test
  void codesHaveSentences() {
    int[] codes = {QuorlaxException.NOT_READY, QuorlaxException.INVALID_ARGUMENT, QuorlaxException.NOT_CONFIGURED,
        QuorlaxException.UNSUPPORTED, QuorlaxException.OUT_OF_MEMORY};
    Set<String> sentences = new HashSet<>();
    for (int code : codes) {
      assertTrue(code < 0);
      String sentence = Quorlax.errorText(code);
      assertFalse(sentence.isBlank());
      assertTrue(sentences.add(sentence), sentence);
    }
    QuorlaxException e = assertThrows(QuorlaxException.class, () -> new Listener(Mode.AUDIBLE, 8000));
    assertEquals(QuorlaxException.UNSUPPORTED, e.code());
    assertTrue(e.getMessage().endsWith(Quorlax.errorText(QuorlaxException.UNSUPPORTED)), e.getMessage());
  }
}
