package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/** What the Java package sends is the C encoder's transmission, sample for sample. */
class EncodeTest {
  static Stream<Arguments> modesAndRates() {
    List<Arguments> cases = new ArrayList<>();
    for (Mode mode : Mode.all()) for (int rate : Signals.ratesOf(mode)) cases.add(Arguments.of(mode, rate));
    return cases.stream();
  }

  /** The handle encoder's samples, from the C program built beside the glue. */
  static float[] encoderSamples(String text, Mode mode, int rate) throws IOException, InterruptedException {
    String program = System.getProperty("quorlax.encoderSamples");
    assertNotNull(program, "the build passes quorlax.encoderSamples");
    Process p = new ProcessBuilder(program, text, Integer.toString(mode.value()), Integer.toString(rate))
        .redirectError(ProcessBuilder.Redirect.INHERIT).start();
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    try (InputStream in = p.getInputStream()) {
      in.transferTo(bytes);
    }
    assertEquals(0, p.waitFor(), program);
    FloatBuffer floats = ByteBuffer.wrap(bytes.toByteArray()).order(ByteOrder.nativeOrder()).asFloatBuffer();
    float[] out = new float[floats.remaining()];
    floats.get(out);
    return out;
  }

  static void assertSameBits(float[] expected, float[] actual) {
    assertEquals(expected.length, actual.length, "sample count");
    for (int i = 0; i < expected.length; i++) {
      if (Float.floatToRawIntBits(expected[i]) != Float.floatToRawIntBits(actual[i])) {
        assertEquals(expected[i], actual[i], "sample " + i);
      }
    }
  }

  @ParameterizedTest(name = "{0} at {1} Hz")
  @MethodSource("modesAndRates")
  void encodeIsTheCEncodersTransmission(Mode mode, int rate) throws Exception {
    for (String text : new String[] {"hello1234", "VOID0QRST"}) {
      float[] java = Quorlax.encode(text, mode, rate);
      assertSameBits(encoderSamples(text, mode, rate), java);
      assertEquals(mode.info(rate).transmissionSamples(), java.length);
    }
  }

  /** However a sender is drained, it renders the same samples, then 0. */
  @ParameterizedTest(name = "{0} at {1} Hz")
  @MethodSource("modesAndRates")
  void senderRendersTheSameInAnyBlocks(Mode mode, int rate) {
    float[] whole = Quorlax.encode("blocks789", mode, rate);
    try (Sender sender = new Sender(mode, rate)) {
      float[] none = new float[16];
      assertEquals(0, sender.render(none), "before a start");
      for (int block : new int[] {1, 17, 1000, 4099}) {
        sender.start("blocks789");
        float[] got = new float[whole.length + 3];
        int at = 3;
        for (int n; (n = sender.render(got, at, Math.min(block, got.length - at))) > 0; ) at += n;
        assertEquals(got.length, at, "block " + block);
        assertSameBits(whole, Arrays.copyOfRange(got, 3, got.length));
        assertEquals(0, sender.render(none), "after the end");
      }
    }
  }

  /** FloatBuffers of every kind take the same samples and move their position past them. */
  @ParameterizedTest(name = "{0} at {1} Hz")
  @MethodSource("modesAndRates")
  void senderFillsBuffers(Mode mode, int rate) {
    float[] whole = Quorlax.encode("buffer123", mode, rate);
    List<FloatBuffer> buffers = List.of(
        FloatBuffer.allocate(whole.length + 10),
        ByteBuffer.allocateDirect(4 * (whole.length + 10)).order(ByteOrder.nativeOrder()).asFloatBuffer(),
        ByteBuffer.allocateDirect(4 * (whole.length + 10)).order(ListenerTest.PushKind.foreignOrder()).asFloatBuffer());
    try (Sender sender = new Sender(mode, rate)) {
      for (FloatBuffer buffer : buffers) {
        sender.start("buffer123");
        buffer.position(10);
        while (buffer.position() < buffer.capacity()) {
          buffer.limit(Math.min(buffer.position() + 3001, buffer.capacity()));
          if (sender.render(buffer) == 0) break;
        }
        assertEquals(buffer.capacity(), buffer.position());
        float[] got = new float[whole.length];
        buffer.limit(buffer.capacity()).position(10);
        buffer.get(got);
        assertSameBits(whole, got);
      }
    }
  }

  /** A custom grid of the caller's: the sender and encode agree, and the grid is not the default one. */
  @ParameterizedTest(name = "separation {0}")
  @ValueSource(ints = {0, 3})
  void customGridReachesTheSender(int separation) {
    int rate = 44100;
    float[] range = CustomGrid.baseRangeHz(rate, separation);
    CustomGrid grid = new CustomGrid(range[0] + 0.5f * (range[1] - range[0]), separation);
    float[] own = Quorlax.encode("custom000", Mode.CUSTOM, rate, grid);
    try (Sender sender = new Sender(Mode.CUSTOM, rate, grid)) {
      sender.start("custom000");
      float[] rendered = new float[own.length];
      assertEquals(own.length, sender.render(rendered));
      assertSameBits(own, rendered);
    }
    float[] standard = Quorlax.encode("custom000", Mode.CUSTOM, rate);
    assertEquals(standard.length, own.length);
    assertFalse(Arrays.equals(standard, own));
  }
}
