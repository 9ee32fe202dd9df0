package org.quorlax.android;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertThrows;
import static org.junit.Assert.assertTrue;
import static org.robolectric.Shadows.shadowOf;

import android.os.Looper;
import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import java.util.ArrayList;
import java.util.List;
import org.junit.After;
import org.junit.Before;
import org.junit.Test;
import org.junit.runner.RunWith;
import org.quorlax.Listener;
import org.quorlax.Message;
import org.quorlax.Mode;
import org.quorlax.Quorlax;
import org.quorlax.QuorlaxException;
import org.robolectric.RobolectricTestRunner;
import org.robolectric.shadows.ShadowAudioTrack;

@RunWith(RobolectricTestRunner.class)
public class QuorlaxPlayerTest {
  private final ByteArrayOutputStream played = new ByteArrayOutputStream();
  private final ShadowAudioTrack.OnAudioDataWrittenListener speaker = (track, data, format) -> {
    synchronized (played) {
      played.write(data, 0, data.length);
    }
  };

  @Before
  public void connect() {
    ShadowAudioTrack.addAudioDataListener(speaker);
  }

  @After
  public void disconnect() {
    ShadowAudioTrack.removeAudioDataListener(speaker);
  }

  private float[] playedSamples() {
    synchronized (played) {
      FloatBuffer floats = ByteBuffer.wrap(played.toByteArray()).order(ByteOrder.nativeOrder()).asFloatBuffer();
      float[] out = new float[floats.remaining()];
      floats.get(out);
      return out;
    }
  }

  /** Waits for the playback thread to finish writing (bounded), then runs the main thread's queue. */
  private static void finish(QuorlaxPlayer player) throws InterruptedException {
    for (int i = 0; i < 6000 && player.isPlaying(); i++) Thread.sleep(10);
    shadowOf(Looper.getMainLooper()).idle();
  }

  /** What reaches the speaker is the sender's transmission, which a listener hears. */
  @Test
  public void playsTheSendersSamples() throws Exception {
    List<String> done = new ArrayList<>();
    try (QuorlaxPlayer player = new QuorlaxPlayer(Mode.NONAUDIBLE)) {
      player.play("hello1234", () -> done.add(Looper.myLooper() == Looper.getMainLooper() ? "main" : "elsewhere"));
      finish(player);
    }
    assertEquals(List.of("main"), done);
    float[] samples = playedSamples();
    float[] expected = Quorlax.encode("hello1234", Mode.NONAUDIBLE, QuorlaxPlayer.DEFAULT_SAMPLE_RATE);
    assertEquals(expected.length, samples.length);
    for (int i = 0; i < expected.length; i++) assertEquals("sample " + i, expected[i], samples[i], 0f);
    try (Listener listener = new Listener(Mode.ALL, QuorlaxPlayer.DEFAULT_SAMPLE_RATE)) {
      listener.push(new float[2000]);
      listener.push(samples);
      listener.flush();
      Message m = listener.poll();
      assertEquals("hello1234", m.text());
      assertEquals(Mode.NONAUDIBLE, m.band());
    }
  }

  /** A bad text is refused before anything plays; the player still plays the next good one. */
  @Test
  public void refusesBadTextsUpFront() throws Exception {
    try (QuorlaxPlayer player = new QuorlaxPlayer(Mode.AUDIBLE)) {
      QuorlaxException e = assertThrows(QuorlaxException.class, () -> player.play("nope!", null));
      assertEquals(QuorlaxException.INVALID_ARGUMENT, e.code());
      assertEquals(false, player.isPlaying());
      assertEquals(0, playedSamples().length);
      player.play("after1234", null);
      finish(player);
    }
    assertEquals(Quorlax.encode("after1234", Mode.AUDIBLE, QuorlaxPlayer.DEFAULT_SAMPLE_RATE).length,
        playedSamples().length);
    assertThrows(QuorlaxException.class, () -> new QuorlaxPlayer(Mode.NONAUDIBLE, 22050));
  }

  /** A later play stops an earlier one: the second transmission reaches the speaker whole. */
  @Test
  public void aLaterPlayStopsAnEarlierOne() throws Exception {
    List<String> done = new ArrayList<>();
    try (QuorlaxPlayer player = new QuorlaxPlayer(Mode.AUDIBLE)) {
      player.play("first1234", () -> done.add("first"));
      player.play("second123", () -> done.add("second"));
      finish(player);
    }
    assertTrue(done.toString(), done.equals(List.of("second")) || done.equals(List.of("first", "second")));
    float[] samples = playedSamples();
    float[] second = Quorlax.encode("second123", Mode.AUDIBLE, QuorlaxPlayer.DEFAULT_SAMPLE_RATE);
    assertTrue(samples.length >= second.length);
    for (int i = 0; i < second.length; i++) {
      assertEquals("sample " + i, second[i], samples[samples.length - second.length + i], 0f);
    }
  }
}
