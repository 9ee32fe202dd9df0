package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import java.nio.ReadOnlyBufferException;
import java.nio.ShortBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.Consumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Every public entry point answers bad input with a documented exception, never a crash. */
class HostileCallsTest {
  private static final int LENGTH = 100;

  /** A push into a listener of an object of LENGTH samples at (offset, count). */
  interface RangedPush {
    void push(Listener listener, int offset, int count);
  }

  static Stream<Arguments> rangedPushes() {
    float[] floats = new float[LENGTH];
    short[] shorts = new short[LENGTH];
    FloatBuffer direct = ByteBuffer.allocateDirect(4 * LENGTH).order(ByteOrder.nativeOrder()).asFloatBuffer();
    ShortBuffer directShorts = ByteBuffer.allocateDirect(2 * LENGTH).order(ByteOrder.nativeOrder()).asShortBuffer();
    // A buffer's limit bounds it, not its capacity.
    FloatBuffer limited = FloatBuffer.allocate(2 * LENGTH).limit(LENGTH);
    return Stream.of(
        Arguments.of("float[]", (RangedPush) (l, o, n) -> l.push(floats, o, n)),
        Arguments.of("short[]", (RangedPush) (l, o, n) -> l.push(shorts, o, n)),
        Arguments.of("direct FloatBuffer", (RangedPush) (l, o, n) -> l.push(direct, o, n)),
        Arguments.of("direct ShortBuffer", (RangedPush) (l, o, n) -> l.push(directShorts, o, n)),
        Arguments.of("limited FloatBuffer", (RangedPush) (l, o, n) -> l.push(limited, o, n)),
        Arguments.of("read-only ShortBuffer", (RangedPush) (l, o, n) -> l.push(ShortBuffer.wrap(shorts).asReadOnlyBuffer(), o, n)));
  }

  /** Offsets and counts outside the samples: IndexOutOfBoundsException, nothing pushed. */
  @ParameterizedTest(name = "{0}")
  @MethodSource("rangedPushes")
  void rangesOutsideTheSamples(String what, RangedPush push) {
    int[][] bad = {{-1, 1}, {0, -1}, {LENGTH + 1, 0}, {LENGTH, 1}, {1, LENGTH}, {Integer.MAX_VALUE, 1},
        {1, Integer.MAX_VALUE}, {Integer.MIN_VALUE, 0}, {LENGTH / 2, Integer.MAX_VALUE - 10}};
    try (Listener listener = new Listener(Mode.AUDIBLE, 44100)) {
      for (int[] c : bad) {
        assertThrows(IndexOutOfBoundsException.class, () -> push.push(listener, c[0], c[1]), () -> c[0] + ", " + c[1]);
      }
      assertDoesNotThrow(() -> push.push(listener, LENGTH, 0));
      assertDoesNotThrow(() -> push.push(listener, 0, LENGTH));
    }
  }

  @Test
  void nullsAreNullPointerExceptions() {
    try (Listener listener = new Listener(Mode.AUDIBLE, 44100); Sender sender = new Sender(Mode.AUDIBLE, 44100)) {
      List<Executable> calls = List.of(
          () -> listener.push((float[]) null), () -> listener.push((float[]) null, 0, 0),
          () -> listener.push((short[]) null), () -> listener.push((short[]) null, 0, 0),
          () -> listener.push((FloatBuffer) null), () -> listener.push((FloatBuffer) null, 0, 0),
          () -> listener.push((ShortBuffer) null), () -> listener.push((ShortBuffer) null, 0, 0),
          () -> sender.start(null), () -> sender.render((float[]) null), () -> sender.render(null, 0, 0),
          () -> sender.render((FloatBuffer) null),
          () -> new Listener((ListenerConfig) null), () -> new Listener(null, 44100),
          () -> new Sender(null, 44100), () -> new Sender(Mode.CUSTOM, 44100, null),
          () -> Quorlax.encode(null, Mode.AUDIBLE, 44100), () -> Quorlax.encode("hello1234", null, 44100),
          () -> Mode.named(null));
      for (Executable call : calls) assertThrows(NullPointerException.class, call);
    }
  }

  /** What the library refuses, with the code it refuses it with. */
  static Stream<Arguments> refusedConfigs() {
    int invalid = QuorlaxException.INVALID_ARGUMENT;
    int unsupported = QuorlaxException.UNSUPPORTED;
    List<Arguments> cases = new ArrayList<>();
    for (int rate : new int[] {0, -48000, 1, 8000, 96000, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
      cases.add(Arguments.of(ListenerConfig.of(Mode.AUDIBLE, rate), unsupported));
    }
    cases.add(Arguments.of(ListenerConfig.of(Mode.NONAUDIBLE, 22050), unsupported));
    CustomGrid[] grids = {new CustomGrid(12000, -1), new CustomGrid(12000, Integer.MIN_VALUE)};
    for (CustomGrid grid : grids) cases.add(Arguments.of(ListenerConfig.of(Mode.CUSTOM, 48000).withCustomGrid(grid), invalid));
    CustomGrid[] misfits = {new CustomGrid(Float.NaN, 0), new CustomGrid(Float.POSITIVE_INFINITY, 0),
        new CustomGrid(-100, 0), new CustomGrid(0, 0), new CustomGrid(30000, 0), new CustomGrid(12000, 1001),
        new CustomGrid(12000, Integer.MAX_VALUE)};
    for (CustomGrid grid : misfits) {
      cases.add(Arguments.of(ListenerConfig.of(Mode.CUSTOM, 48000).withCustomGrid(grid), unsupported));
    }
    return cases.stream();
  }

  /** The listener, the sender and the queries refuse alike. */
  @ParameterizedTest(name = "{0}")
  @MethodSource("refusedConfigs")
  void refusedConfigurations(ListenerConfig config, int code) {
    CustomGrid grid = config.customGrid() == null ? CustomGrid.defaults() : config.customGrid();
    assertEquals(code, assertThrows(QuorlaxException.class, () -> new Listener(config)).code(), "listener");
    assertEquals(code, assertThrows(QuorlaxException.class,
        () -> new Sender(config.mode(), config.sampleRate(), grid)).code(), "sender");
    assertEquals(code, assertThrows(QuorlaxException.class,
        () -> config.mode().info(config.sampleRate(), grid)).code(), "info");
    assertEquals(false, config.mode().isSupported(config.sampleRate(), grid));
  }

  @Test
  void modesThatDoNotExist() {
    for (int value : new int[] {0, 1, 7, -1, Integer.MIN_VALUE}) assertThrows(IllegalArgumentException.class, () -> Mode.of(value));
    for (String name : new String[] {"", "loud", "audible ", "all bands"}) {
      assertThrows(IllegalArgumentException.class, () -> Mode.named(name));
    }
    assertEquals(QuorlaxException.NOT_READY, assertThrows(QuorlaxException.class, () -> Mode.ALL.band(48000)).code());
    assertEquals(QuorlaxException.UNSUPPORTED,
        assertThrows(QuorlaxException.class, () -> Mode.NONAUDIBLE.band(22050)).code());
    assertEquals(QuorlaxException.INVALID_ARGUMENT,
        assertThrows(QuorlaxException.class, () -> CustomGrid.baseRangeHz(48000, -1)).code());
    assertEquals(QuorlaxException.UNSUPPORTED,
        assertThrows(QuorlaxException.class, () -> CustomGrid.baseRangeHz(8000, 0)).code());
  }

  /** Texts the sender refuses; the transmission it had goes on. */
  @Test
  void badMessagesLeaveTheTransmissionAlone() {
    String[] bad = {"", "hello123", "hello12345", "hello!234", "hello 234", "héllo1234", "hello\u00001234".substring(0, 9),
        "wxyz12345", "\uD83D\uDE00hello12", "hello123\u0661"};
    float[] expected = Quorlax.encode("hello1234", Mode.AUDIBLE, 48000);
    try (Sender sender = new Sender(Mode.AUDIBLE, 48000)) {
      sender.start("hello1234");
      float[] got = new float[expected.length];
      int at = sender.render(got, 0, 1000);
      for (String text : bad) {
        QuorlaxException e = assertThrows(QuorlaxException.class, () -> sender.start(text), text);
        assertEquals(QuorlaxException.INVALID_ARGUMENT, e.code(), text);
        assertThrows(QuorlaxException.class, () -> Quorlax.encode(text, Mode.AUDIBLE, 48000), text);
      }
      while (at < got.length) at += sender.render(got, at, got.length - at);
      EncodeTest.assertSameBits(expected, got);
    }
  }

  @Test
  void senderRefusesReadOnlyBuffers() {
    try (Sender sender = new Sender(Mode.AUDIBLE, 48000)) {
      sender.start("hello1234");
      assertThrows(ReadOnlyBufferException.class, () -> sender.render(FloatBuffer.allocate(10).asReadOnlyBuffer()));
      assertThrows(IndexOutOfBoundsException.class, () -> sender.render(new float[10], 5, 6));
    }
  }

  /** After close: IllegalStateException from every call but close, which may come again. */
  @Test
  void closedObjects() {
    Listener listener = new Listener(Mode.AUDIBLE, 44100);
    Sender sender = new Sender(Mode.AUDIBLE, 44100);
    listener.close();
    sender.close();
    assertTrue(listener.isClosed() && sender.isClosed());
    List<Executable> calls = List.of(() -> listener.push(new float[4]), () -> listener.push(new short[4], 0, 4),
        () -> listener.push(FloatBuffer.allocate(4)), () -> listener.push(ShortBuffer.allocate(4), 0, 4),
        listener::flush, listener::poll, listener::dropped, () -> sender.start("hello1234"),
        () -> sender.render(new float[4]), () -> sender.render(FloatBuffer.allocate(4)));
    for (Executable call : calls) assertThrows(IllegalStateException.class, call);
    assertDoesNotThrow(listener::close);
    assertDoesNotThrow(sender::close);
  }

  /** Samples that are not numbers, or far beyond full scale, name no tone: a later transmission is still heard. */
  @Test
  void wildSamplesAreSurvived() {
    int rate = 48000;
    float[] wild = new float[20000];
    float[] values = {Float.NaN, Float.POSITIVE_INFINITY, Float.NEGATIVE_INFINITY, Float.MAX_VALUE, -Float.MAX_VALUE,
        Float.MIN_VALUE, 1e30f};
    for (int i = 0; i < wild.length; i++) wild[i] = values[i % values.length];
    float[] audio = Signals.concat(wild, Signals.transmission("survive12", Mode.NONAUDIBLE, rate, 5000));
    try (Listener listener = new Listener(Mode.ALL, rate)) {
      List<Message> heard = Signals.hear(listener, audio, 777);
      assertEquals(1, heard.size(), heard::toString);
      assertEquals("survive12", heard.get(0).text());
    }
  }

  /**
   * One listener shared by threads that push, poll and close it at once: each call either works
   * or, once closed, raises IllegalStateException; the JVM survives.
   */
  @Test
  void closingWhileOthersPush() throws InterruptedException {
    for (int round = 0; round < 20; round++) {
      Listener listener = new Listener(Mode.ALL, 48000);
      AtomicReference<Throwable> unexpected = new AtomicReference<>();
      float[] block = Signals.noise(1024, 0.1f, round);
      List<Thread> threads = new ArrayList<>();
      Consumer<Runnable> spawn = body -> threads.add(new Thread(() -> {
        try {
          for (int i = 0; i < 200; i++) body.run();
        } catch (IllegalStateException closed) {
          // expected once the closer has run
        } catch (Throwable t) {
          unexpected.compareAndSet(null, t);
        }
      }));
      spawn.accept(() -> listener.push(block));
      spawn.accept(() -> listener.push(FloatBuffer.wrap(block), 10, 500));
      spawn.accept(listener::poll);
      spawn.accept(listener::flush);
      threads.add(new Thread(listener::close));
      for (Thread t : threads) t.start();
      for (Thread t : threads) t.join();
      if (unexpected.get() != null) throw new AssertionError(unexpected.get());
      assertTrue(listener.isClosed());
    }
  }
}
