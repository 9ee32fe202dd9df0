package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;

/** Listeners and senders on many threads at once, each hearing what it should. */
class ThreadsTest {
  @Test
  void manyListenersOnManyThreads() throws Exception {
    int threads = 8;
    int rounds = 3;
    ExecutorService pool = Executors.newFixedThreadPool(threads);
    try {
      List<Future<List<String>>> results = new ArrayList<>();
      for (int t = 0; t < threads; t++) {
        int id = t;
        results.add(pool.submit(() -> {
          List<String> heard = new ArrayList<>();
          for (int r = 0; r < rounds; r++) {
            Mode mode = Mode.all().get((id + r) % Mode.all().size());
            int rate = (id + r) % 2 == 0 ? 44100 : 48000;
            String text = String.format("t%dr%dvvvvv", id, r).substring(0, 9);
            float[] audio = Signals.transmission(text, mode, rate, 1000 + 97 * id);
            try (Listener listener = new Listener(mode, rate)) {
              for (Message m : Signals.hear(listener, audio, 512 + 131 * id)) heard.add(m.text());
            }
          }
          return heard;
        }));
      }
      for (int t = 0; t < threads; t++) {
        List<String> expected = new ArrayList<>();
        for (int r = 0; r < rounds; r++) expected.add(String.format("t%dr%dvvvvv", t, r).substring(0, 9));
        assertEquals(expected, results.get(t).get(), "thread " + t);
      }
    } finally {
      pool.shutdownNow();
    }
  }
}
