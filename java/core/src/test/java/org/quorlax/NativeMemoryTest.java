package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/** Native objects are released when closed, and when forgotten. */
class NativeMemoryTest {
  /** The process's resident memory, from the kernel. */
  static long residentBytes() throws IOException {
    for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
      if (line.startsWith("VmRSS:")) return 1024 * Long.parseLong(line.replaceAll("[^0-9]", ""));
    }
    throw new IOException("no VmRSS in /proc/self/status");
  }

  static void createAndClose(int count) {
    float[] block = Signals.noise(64, 0.01f, 1);
    for (int i = 0; i < count; i++) {
      try (Listener listener = new Listener(Mode.ALL, 48000); Sender sender = new Sender(Mode.AUDIBLE, 48000)) {
        listener.push(block);
        sender.start("leak00000");
      }
    }
  }

  /**
   * 10,000 listeners (425 kB each for this mode) made and closed: the glue's count of live objects
   * comes back, and resident memory grows by far less than one leaked listener in twenty would add.
   */
  @Test
  void tenThousandClosedListenersGrowNothing() throws IOException {
    createAndClose(500);
    System.gc();
    long live = Native.liveObjects();
    long before = residentBytes();
    createAndClose(10_000);
    System.gc();
    long grown = residentBytes() - before;
    assertTrue(Native.liveObjects() <= live, () -> "live objects " + Native.liveObjects() + ", were " + live);
    assertTrue(grown < 64L << 20, () -> "resident memory grew by " + (grown >> 20) + " MiB");
  }

  /** Forgotten listeners and senders are released by the release thread once unreachable. */
  @Test
  void forgottenObjectsAreCleaned() throws InterruptedException {
    System.gc();
    long live = Native.liveObjects();
    forget(2000);
    assertTrue(Native.liveObjects() >= live + 2000, "the forgotten objects are alive until collected");
    // Bounded waiting for the collector and the release thread, not a timing.
    for (int i = 0; i < 500 && Native.liveObjects() > live; i++) {
      System.gc();
      Thread.sleep(10);
    }
    assertEquals(live, Math.max(live, Native.liveObjects()), "live objects after collection");
  }

  @SuppressWarnings("resource")
  private static void forget(int count) {
    for (int i = 0; i < count / 2; i++) {
      new Listener(Mode.AUDIBLE, 44100).push(new float[16]);
      new Sender(Mode.AUDIBLE, 44100).start("forgot000");
    }
  }
}
