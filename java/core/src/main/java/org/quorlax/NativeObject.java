package org.quorlax;

import java.lang.ref.PhantomReference;
import java.lang.ref.ReferenceQueue;
import java.util.Collections;
import java.util.IdentityHashMap;
import java.util.Set;
import java.util.function.LongConsumer;

/**
 * An object of the library held by a Java object: released by {@link #close()}, or by a daemon
 * thread once the Java object is unreachable. Subclasses call {@link #handle()} under their own lock
 * and {@link #keepAlive()} after the native call, so the object is never released while in use.
 * Phantom references rather than java.lang.ref.Cleaner: Android has that only from API 33.
 */
abstract class NativeObject implements AutoCloseable {
  private static final ReferenceQueue<NativeObject> UNREACHABLE = new ReferenceQueue<>();
  /** Keeps each release itself reachable until it has run. */
  private static final Set<Release> PENDING = Collections.synchronizedSet(Collections.newSetFromMap(new IdentityHashMap<>()));

  static {
    Thread releaser = new Thread(NativeObject::releaseUnreachable, "quorlax-release");
    releaser.setDaemon(true);
    releaser.start();
  }

  private static void releaseUnreachable() {
    while (true) {
      try {
        ((Release) UNREACHABLE.remove()).run();
      } catch (InterruptedException e) {
        // Only this class owns the thread: nothing asks it to stop.
      } catch (RuntimeException | Error e) {
        // One failing release must not end the thread that releases every other object.
      }
    }
  }

  /** The release action: it must not refer to the Java object it releases after. */
  private static final class Release extends PhantomReference<NativeObject> {
    private long handle;
    private final LongConsumer destroy;

    Release(NativeObject owner, long handle, LongConsumer destroy) {
      super(owner, UNREACHABLE);
      this.handle = handle;
      this.destroy = destroy;
    }

    /** Runs once, from close() or the release thread, whichever comes first. */
    void run() {
      long h;
      synchronized (this) {
        h = handle;
        handle = 0;
      }
      PENDING.remove(this);
      if (h != 0) destroy.accept(h);
    }

    synchronized long handle() {
      return handle;
    }
  }

  private final Release release;

  NativeObject(long handle, LongConsumer destroy) {
    release = new Release(this, handle, destroy);
    PENDING.add(release);
  }

  /** The library's object; an IllegalStateException once closed. Call with this object's lock held. */
  final long handle() {
    long h = release.handle();
    if (h == 0) throw new IllegalStateException(getClass().getSimpleName() + " is closed");
    return h;
  }

  /** Holds this object reachable up to this call: after a native call that used its handle. */
  final void keepAlive() {
    Native.keepAlive(this);
  }

  /** Throws IndexOutOfBoundsException unless [offset, offset + count) lies within length. */
  static void checkRange(int offset, int count, int length) {
    if (offset < 0 || count < 0 || count > length - offset) {
      throw new IndexOutOfBoundsException(
          "range [" + offset + ", " + offset + " + " + count + ") out of bounds for length " + length);
    }
  }

  /** Releases the library's object; later calls but this one throw IllegalStateException. */
  @Override
  public final synchronized void close() {
    release.run();
  }

  public final synchronized boolean isClosed() {
    return release.handle() == 0;
  }
}
