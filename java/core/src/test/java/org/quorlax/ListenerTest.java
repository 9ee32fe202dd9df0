package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import java.nio.ShortBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

class ListenerTest {
  /** Where a transmission starts in the round trips, in samples. */
  private static final int LEAD = 3001;
  /** Messages are exact to the hop. */
  private static final int HOP_SLACK = 256;

  /** One way of handing audio to a listener, block by block. */
  enum PushKind {
    FLOAT_ARRAY {
      @Override
      void push(Listener l, float[] audio, int block) {
        for (int at = 0; at < audio.length; at += block) l.push(audio, at, Math.min(block, audio.length - at));
      }
    },
    SHORT_ARRAY {
      @Override
      void push(Listener l, float[] audio, int block) {
        short[] shorts = Signals.toShorts(audio);
        for (int at = 0; at < shorts.length; at += block) l.push(shorts, at, Math.min(block, shorts.length - at));
      }
    },
    /** Relative pushes of a heap buffer that starts inside its array. */
    HEAP_FLOAT_BUFFER_SLICE {
      @Override
      void push(Listener l, float[] audio, int block) {
        float[] backing = new float[audio.length + 5];
        System.arraycopy(audio, 0, backing, 5, audio.length);
        FloatBuffer buffer = FloatBuffer.wrap(backing, 5, audio.length).slice();
        while (buffer.position() < buffer.capacity()) {
          buffer.limit(Math.min(buffer.position() + block, buffer.capacity()));
          l.push(buffer);
        }
      }
    },
    DIRECT_FLOAT_BUFFER {
      @Override
      void push(Listener l, float[] audio, int block) {
        FloatBuffer buffer = direct(4 * audio.length, ByteOrder.nativeOrder()).asFloatBuffer().put(audio);
        for (int at = 0; at < audio.length; at += block) l.push(buffer, at, Math.min(block, audio.length - at));
      }
    },
    /** A direct buffer in the other byte order: the listener copies it. */
    FOREIGN_ORDER_FLOAT_BUFFER {
      @Override
      void push(Listener l, float[] audio, int block) {
        FloatBuffer buffer = direct(4 * audio.length, foreignOrder()).asFloatBuffer().put(audio);
        buffer.rewind();
        while (buffer.position() < buffer.capacity()) {
          buffer.limit(Math.min(buffer.position() + block, buffer.capacity()));
          l.push(buffer);
        }
      }
    },
    READ_ONLY_FLOAT_BUFFER {
      @Override
      void push(Listener l, float[] audio, int block) {
        FloatBuffer buffer = FloatBuffer.wrap(audio).asReadOnlyBuffer();
        for (int at = 0; at < audio.length; at += block) l.push(buffer, at, Math.min(block, audio.length - at));
      }
    },
    HEAP_SHORT_BUFFER_SLICE {
      @Override
      void push(Listener l, float[] audio, int block) {
        short[] shorts = Signals.toShorts(audio);
        short[] backing = new short[shorts.length + 3];
        System.arraycopy(shorts, 0, backing, 3, shorts.length);
        ShortBuffer buffer = ShortBuffer.wrap(backing, 3, shorts.length).slice();
        for (int at = 0; at < shorts.length; at += block) l.push(buffer, at, Math.min(block, shorts.length - at));
      }
    },
    DIRECT_SHORT_BUFFER {
      @Override
      void push(Listener l, float[] audio, int block) {
        ShortBuffer buffer = direct(2 * audio.length, ByteOrder.nativeOrder()).asShortBuffer();
        buffer.put(Signals.toShorts(audio)).rewind();
        while (buffer.position() < buffer.capacity()) {
          buffer.limit(Math.min(buffer.position() + block, buffer.capacity()));
          l.push(buffer);
        }
      }
    },
    FOREIGN_ORDER_SHORT_BUFFER {
      @Override
      void push(Listener l, float[] audio, int block) {
        ShortBuffer buffer = direct(2 * audio.length, foreignOrder()).asShortBuffer();
        buffer.put(Signals.toShorts(audio));
        for (int at = 0; at < audio.length; at += block) l.push(buffer, at, Math.min(block, audio.length - at));
      }
    };

    abstract void push(Listener l, float[] audio, int block);

    static ByteBuffer direct(int bytes, ByteOrder order) {
      return ByteBuffer.allocateDirect(bytes).order(order);
    }

    static ByteOrder foreignOrder() {
      return ByteOrder.nativeOrder() == ByteOrder.LITTLE_ENDIAN ? ByteOrder.BIG_ENDIAN : ByteOrder.LITTLE_ENDIAN;
    }
  }

  /** Odd block sizes, one per case in turn, so every kind meets several. */
  private static final int[] BLOCKS = {7, 333, 1021, 4099, 65537, 1};

  /** Every mode at every rate it works at, each with every way of pushing. */
  static Stream<Arguments> roundTrips() {
    List<Arguments> cases = new ArrayList<>();
    for (Mode mode : Mode.all()) {
      for (int rate : Signals.ratesOf(mode)) {
        for (PushKind kind : PushKind.values()) {
          int block = BLOCKS[cases.size() % BLOCKS.length];
          // One-sample pushes are slow under -Xcheck:jni: keep them to the arrays.
          if (block == 1 && kind.ordinal() > PushKind.SHORT_ARRAY.ordinal()) block = 511;
          cases.add(Arguments.of(mode, rate, kind, block));
        }
      }
    }
    return cases.stream();
  }

  @ParameterizedTest(name = "{0} at {1} Hz, {2} in blocks of {3}")
  @MethodSource("roundTrips")
  void hearsWhatWasSent(Mode mode, int rate, PushKind kind, int block) {
    ModeInfo info = mode.info(rate);
    float[] audio = Signals.transmission("hello1234", info.sends(), rate, LEAD);
    try (Listener listener = new Listener(mode, rate)) {
      kind.push(listener, audio, block);
      listener.flush();
      List<Message> heard = Signals.drain(listener);
      assertEquals(1, heard.size(), heard::toString);
      Message m = heard.get(0);
      assertEquals("hello1234", m.text());
      assertTrue(m.ok());
      assertEquals(info.sends(), m.band());
      assertTrue(Math.abs(m.start() - LEAD) <= HOP_SLACK, () -> "start " + m.start());
      assertTrue(Math.abs(m.end() - m.start() - info.transmissionSamples()) <= HOP_SLACK, () -> "end " + m.end());
      // Each tone of a clean transmission is a sine of amplitude 0.325: -9.8 dBFS.
      assertEquals(-9.8f, m.levelDb(), 3f);
      assertTrue(m.confidence() > 0.5f && m.confidence() <= 1f, () -> "confidence " + m.confidence());
      assertTrue(m.snrDb() > 15f, () -> "snr " + m.snrDb());
      assertEquals(0, m.corrected());
      assertEquals(0, listener.dropped());
    }
  }

  /** A listener on its own custom grid hears a sender on that grid, and one on the default hears nothing. */
  @Test
  void customGridOfItsOwn() {
    int rate = 48000;
    float[] range = CustomGrid.baseRangeHz(rate, 1);
    CustomGrid grid = new CustomGrid(range[0] + 0.25f * (range[1] - range[0]), 1);
    float[] audio = Signals.concat(Signals.noise(2000, 1e-4f, 1),
        Quorlax.encode("grid12345", Mode.CUSTOM, rate, grid), Signals.noise(12000, 1e-4f, 2));
    try (Listener own = new Listener(ListenerConfig.of(Mode.CUSTOM, rate).withCustomGrid(grid));
        Listener other = new Listener(Mode.CUSTOM, rate)) {
      List<Message> heard = Signals.hear(own, audio, 4096);
      assertEquals(1, heard.size(), heard::toString);
      assertEquals("grid12345", heard.get(0).text());
      assertEquals(List.of(), Signals.hear(other, audio, 4096));
    }
  }

  /**
   * A transmission cut off after twelve tokens, then a whole one: the cut one comes out as a failed
   * reading only when asked for.
   */
  @Test
  void failedReadingsOnlyWhenAsked() {
    int rate = 44100;
    ModeInfo info = Mode.AUDIBLE.info(rate);
    float[] whole = Quorlax.encode("hello1234", Mode.AUDIBLE, rate);
    float[] cut = java.util.Arrays.copyOf(whole, 12 * info.tokenSamples());
    int good = 4000 + cut.length + 60000;
    float[] audio = Signals.concat(Signals.noise(4000, 1e-6f, 2), cut, Signals.noise(60000, 1e-6f, 3),
        Quorlax.encode("goodone77", Mode.AUDIBLE, rate), Signals.noise(4000, 1e-6f, 4));
    for (boolean asked : new boolean[] {false, true}) {
      try (Listener listener = new Listener(ListenerConfig.of(Mode.AUDIBLE, rate).withReportFailed(asked))) {
        List<Message> passed = new ArrayList<>();
        List<Message> failed = new ArrayList<>();
        for (Message m : Signals.hear(listener, audio, 1000)) (m.ok() ? passed : failed).add(m);
        assertEquals(1, passed.size(), passed::toString);
        assertEquals("goodone77", passed.get(0).text());
        assertTrue(Math.abs(passed.get(0).start() - good) <= HOP_SLACK);
        assertEquals(asked ? 1 : 0, failed.size(), failed::toString);
        if (asked) {
          assertFalse(failed.get(0).ok());
          assertTrue(Math.abs(failed.get(0).start() - 4000) <= HOP_SLACK, () -> "start " + failed.get(0).start());
        }
      }
    }
  }

  /** Nobody polls: the queue keeps the newest LISTENER_QUEUE messages and counts the rest. */
  @Test
  void fullQueueDropsTheOldestAndCountsThem() {
    int rate = 22050;
    int sent = Quorlax.LISTENER_QUEUE + 3;
    float[] one = Signals.concat(Quorlax.encode("queue0000", Mode.AUDIBLE, rate), Signals.noise(3000, 1e-4f, 5));
    try (Listener listener = new Listener(Mode.AUDIBLE, rate)) {
      listener.push(Signals.noise(2000, 1e-4f, 6));
      for (int i = 0; i < sent; i++) listener.push(one);
      listener.flush();
      assertEquals(3, listener.dropped());
      List<Message> heard = Signals.drain(listener);
      assertEquals(Quorlax.LISTENER_QUEUE, heard.size());
      // The oldest went: the first kept is the fourth sent.
      assertTrue(Math.abs(heard.get(0).start() - (2000 + 3L * one.length)) <= HOP_SLACK);
    }
  }

  /** After a flush the next push starts a new stream, and positions keep counting. */
  @Test
  void flushStartsANewStream() {
    int rate = 48000;
    float[] audio = Signals.transmission("again1234", Mode.NONAUDIBLE, rate, 1500);
    try (Listener listener = new Listener(Mode.ALL, rate)) {
      List<Message> first = Signals.hear(listener, audio, 2048);
      List<Message> second = Signals.hear(listener, audio, 2048);
      assertEquals(1, first.size());
      assertEquals(1, second.size());
      assertEquals(audio.length, second.get(0).start() - first.get(0).start(), HOP_SLACK);
    }
  }
}
