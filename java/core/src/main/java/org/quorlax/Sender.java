package org.quorlax;

import java.nio.Buffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import java.nio.ReadOnlyBufferException;
import java.util.Objects;

/**
 * Renders a transmission on demand, a block at a time: the handle encoder's samples bit for bit,
 * in a few kilobytes. {@link #start(String)} a message, then {@link #render} until it returns 0.
 * Calls are serialised on the sender; {@link #close()} releases it, and one that is never closed is
 * released once it is unreachable.
 */
public final class Sender extends NativeObject {
  private final Mode mode;
  private final int sampleRate;
  private float[] chunk;

  /** A sender for {@code mode} at {@code sampleRate} Hz (custom mode: the default grid). */
  public Sender(Mode mode, int sampleRate) {
    this(mode, sampleRate, CustomGrid.defaults());
  }

  /** A {@link QuorlaxException} for a rate or grid the mode cannot use. */
  public Sender(Mode mode, int sampleRate, CustomGrid grid) {
    super(Native.senderCreate(Objects.requireNonNull(mode, "mode").value(), sampleRate,
        Objects.requireNonNull(grid, "grid").baseHz(), grid.separation()), Native::senderDestroy);
    this.mode = mode;
    this.sampleRate = sampleRate;
  }

  public Mode mode() {
    return mode;
  }

  public int sampleRate() {
    return sampleRate;
  }

  /**
   * Starts the transmission of {@code text}: {@link Quorlax#MESSAGE_LENGTH} characters of
   * {@link Quorlax#alphabet()} (either case). A {@link QuorlaxException}
   * ({@link QuorlaxException#INVALID_ARGUMENT}) for any other text; the previous transmission stays.
   */
  public synchronized void start(String text) {
    Objects.requireNonNull(text, "text");
    try {
      Native.senderStart(handle(), text);
    } finally {
      keepAlive();
    }
  }

  /** Renders into the whole array: the count written, 0 at the end (or before a start). */
  public int render(float[] out) {
    return render(out, 0, Objects.requireNonNull(out, "out").length);
  }

  public synchronized int render(float[] out, int offset, int count) {
    checkRange(offset, count, Objects.requireNonNull(out, "out").length);
    try {
      return Native.renderFloats(handle(), out, offset, count);
    } finally {
      keepAlive();
    }
  }

  /** Renders into the buffer's remaining space from its position on, and moves the position past it. */
  public synchronized int render(FloatBuffer out) {
    if (Objects.requireNonNull(out, "out").isReadOnly()) throw new ReadOnlyBufferException();
    int at = out.position();
    int room = out.remaining();
    int written;
    try {
      long sender = handle();
      if (out.isDirect() && out.order() == ByteOrder.nativeOrder()) {
        written = Native.renderDirect(sender, out, at, room);
      } else if (out.hasArray()) {
        written = Native.renderFloats(sender, out.array(), out.arrayOffset() + at, room);
      } else {
        if (chunk == null) chunk = new float[4096];
        written = 0;
        for (int n; written < room && (n = Native.renderFloats(sender, chunk, 0, Math.min(chunk.length, room - written))) > 0; ) {
          FloatBuffer view = out.duplicate();
          ((Buffer) view).position(at + written);
          view.put(chunk, 0, n);
          written += n;
        }
      }
    } finally {
      keepAlive();
    }
    ((Buffer) out).position(at + written);
    return written;
  }
}
