package org.quorlax.android;

/** Waiting for the audio threads of this package. */
final class Threads {
  private Threads() {}

  /**
   * Waits until {@code thread} has ended, even when interrupted meanwhile (the interrupt is kept
   * for the caller): its audio object is released right after.
   */
  static void joinUninterruptibly(Thread thread) {
    boolean interrupted = false;
    while (thread.isAlive()) {
      try {
        thread.join();
      } catch (InterruptedException e) {
        interrupted = true;
      }
    }
    if (interrupted) Thread.currentThread().interrupt();
  }
}
