package org.quorlax;

import java.nio.Buffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import java.nio.ShortBuffer;
import java.util.Objects;

/**
 * The library's listener: hears every band of its mode at once and never goes deaf. Push audio as it
 * arrives (any count, mono, at the configured rate; 16-bit samples are scaled by 1/32768),
 * {@link #flush()} at the end of a stream, and take messages with {@link #poll()}.
 *
 * <p>Calls are serialised on the listener, so several threads may share one (a capture thread
 * pushing, another polling); for throughput give each thread its own. Completed messages wait in a
 * queue of {@link Quorlax#LISTENER_QUEUE}; when nobody takes them the oldest is dropped and counted
 * ({@link #dropped()}). {@link #close()} releases the native listener; one that is never closed is
 * released once it is unreachable.
 */
public final class Listener extends NativeObject {
  /** Samples copied per call from buffers whose memory the glue cannot read directly. */
  private static final int CHUNK = 4096;

  private final ListenerConfig config;
  private float[] floatChunk;
  private short[] shortChunk;

  /** A listener for {@code mode} at {@code sampleRate} Hz with the defaults. */
  public Listener(Mode mode, int sampleRate) {
    this(ListenerConfig.of(mode, sampleRate));
  }

  /** A {@link QuorlaxException} for a rate or grid the mode cannot use. */
  public Listener(ListenerConfig config) {
    super(create(config), Native::listenerDestroy);
    this.config = config;
  }

  private static long create(ListenerConfig config) {
    CustomGrid grid = Objects.requireNonNull(config, "config").customGrid();
    return Native.listenerCreate(config.mode().value(), config.sampleRate(), grid != null,
        grid == null ? 0 : grid.baseHz(), grid == null ? 0 : grid.separation(), config.reportFailed());
  }

  public ListenerConfig config() {
    return config;
  }

  public void push(float[] samples) {
    push(samples, 0, Objects.requireNonNull(samples, "samples").length);
  }

  public synchronized void push(float[] samples, int offset, int count) {
    checkRange(offset, count, Objects.requireNonNull(samples, "samples").length);
    try {
      Native.pushFloats(handle(), samples, offset, count);
    } finally {
      keepAlive();
    }
  }

  public void push(short[] samples) {
    push(samples, 0, Objects.requireNonNull(samples, "samples").length);
  }

  public synchronized void push(short[] samples, int offset, int count) {
    checkRange(offset, count, Objects.requireNonNull(samples, "samples").length);
    try {
      Native.pushShorts(handle(), samples, offset, count);
    } finally {
      keepAlive();
    }
  }

  /** Pushes the buffer's remaining samples and moves its position to its limit. */
  public void push(FloatBuffer samples) {
    int at = Objects.requireNonNull(samples, "samples").position();
    int count = samples.remaining();
    push(samples, at, count);
    ((Buffer) samples).position(at + count);
  }

  /** Pushes {@code count} samples from {@code index} on; the buffer's position stays. */
  public synchronized void push(FloatBuffer samples, int index, int count) {
    checkRange(index, count, Objects.requireNonNull(samples, "samples").limit());
    try {
      long listener = handle();
      if (samples.isDirect() && samples.order() == ByteOrder.nativeOrder()) {
        Native.pushDirectFloats(listener, samples, index, count);
      } else if (samples.hasArray()) {
        Native.pushFloats(listener, samples.array(), samples.arrayOffset() + index, count);
      } else {
        // Read-only or in the other byte order: through a copy.
        FloatBuffer view = samples.duplicate();
        if (floatChunk == null) floatChunk = new float[CHUNK];
        for (int done = 0; done < count; ) {
          int n = Math.min(CHUNK, count - done);
          ((Buffer) view).position(index + done);
          view.get(floatChunk, 0, n);
          Native.pushFloats(listener, floatChunk, 0, n);
          done += n;
        }
      }
    } finally {
      keepAlive();
    }
  }

  /** Pushes the buffer's remaining samples and moves its position to its limit. */
  public void push(ShortBuffer samples) {
    int at = Objects.requireNonNull(samples, "samples").position();
    int count = samples.remaining();
    push(samples, at, count);
    ((Buffer) samples).position(at + count);
  }

  /** Pushes {@code count} samples from {@code index} on; the buffer's position stays. */
  public synchronized void push(ShortBuffer samples, int index, int count) {
    checkRange(index, count, Objects.requireNonNull(samples, "samples").limit());
    try {
      long listener = handle();
      if (samples.isDirect() && samples.order() == ByteOrder.nativeOrder()) {
        Native.pushDirectShorts(listener, samples, index, count);
      } else if (samples.hasArray()) {
        Native.pushShorts(listener, samples.array(), samples.arrayOffset() + index, count);
      } else {
        ShortBuffer view = samples.duplicate();
        if (shortChunk == null) shortChunk = new short[CHUNK];
        for (int done = 0; done < count; ) {
          int n = Math.min(CHUNK, count - done);
          ((Buffer) view).position(index + done);
          view.get(shortChunk, 0, n);
          Native.pushShorts(listener, shortChunk, 0, n);
          done += n;
        }
      }
    } finally {
      keepAlive();
    }
  }

  /**
   * End of stream: completes every reading in flight. Later pushes start a new stream; sample
   * positions keep counting.
   */
  public synchronized void flush() {
    try {
      Native.listenerFlush(handle());
    } finally {
      keepAlive();
    }
  }

  /** The oldest completed message, or null when there is none. */
  public synchronized Message poll() {
    try {
      return Native.listenerNext(handle());
    } finally {
      keepAlive();
    }
  }

  /** Messages dropped because the queue was full when they completed. */
  public synchronized long dropped() {
    try {
      return Native.listenerDropped(handle());
    } finally {
      keepAlive();
    }
  }
}
