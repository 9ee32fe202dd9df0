package org.quorlax;

import java.lang.ref.Cleaner;
import java.util.function.LongConsumer;

/**
 * An object of the library held by a Java object: released by {@link #close()}, or by the cleaner
 * once the Java object is unreachable. Subclasses call {@link #handle()} under their own lock and
 * keep themselves reachable until the native call returns, so the cleaner never releases an object
 * in use.
 */
abstract class NativeObject implements AutoCloseable {
  private static final Cleaner CLEANER = Cleaner.create();

  /** The cleaning action: it must not refer to the Java object it cleans up after. */
  private static final class Release implements Runnable {
    private long handle;
    private final LongConsumer destroy;

    Release(long handle, LongConsumer destroy) {
      this.handle = handle;
      this.destroy = destroy;
    }

    @Override
    public void run() {
      long h = handle;
      handle = 0;
      if (h != 0) destroy.accept(h);
    }
  }

  private final Release release;
  private final Cleaner.Cleanable cleanable;

  NativeObject(long handle, LongConsumer destroy) {
    release = new Release(handle, destroy);
    cleanable = CLEANER.register(this, release);
  }

  /** The library's object; an IllegalStateException once closed. Call with this object's lock held. */
  final long handle() {
    long h = release.handle;
    if (h == 0) throw new IllegalStateException(getClass().getSimpleName() + " is closed");
    return h;
  }

  /** Releases the library's object; later calls but this one throw IllegalStateException. */
  @Override
  public final synchronized void close() {
    cleanable.clean();
  }

  public final synchronized boolean isClosed() {
    return release.handle == 0;
  }
}
