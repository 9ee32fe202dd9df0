package org.quorlax.android;

import android.media.AudioAttributes;
import android.media.AudioFormat;
import android.media.AudioTrack;
import android.os.Handler;
import android.os.Looper;
import java.nio.Buffer;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.FloatBuffer;
import org.quorlax.Mode;
import org.quorlax.Sender;

/**
 * Plays transmissions through the speaker: the {@link Sender}'s samples rendered a block at a time
 * into a streaming {@link AudioTrack} (mono float) by a playback thread. A later {@link #play}
 * stops an earlier one.
 */
public final class QuorlaxPlayer implements AutoCloseable {
  /** Android's own output rate on nearly every device, and one the library sends at. */
  public static final int DEFAULT_SAMPLE_RATE = 48000;

  private final Sender sender;
  private final Handler main = new Handler(Looper.getMainLooper());
  private volatile boolean playing;
  private Thread thread;
  private AudioTrack track;

  public QuorlaxPlayer(Mode mode) {
    this(mode, DEFAULT_SAMPLE_RATE);
  }

  /** A QuorlaxException for a rate the mode cannot send at. */
  public QuorlaxPlayer(Mode mode, int sampleRate) {
    sender = new Sender(mode, sampleRate);
  }

  /**
   * Plays {@code text}; {@code whenDone} (may be null) runs on the main thread once the whole
   * transmission has been handed to the audio system. A QuorlaxException for a text that is not a
   * message, before anything plays; IllegalStateException when the device has no such output.
   */
  public synchronized void play(String text, Runnable whenDone) {
    stop();
    sender.start(text);
    int rate = sender.sampleRate();
    int least = AudioTrack.getMinBufferSize(rate, AudioFormat.CHANNEL_OUT_MONO, AudioFormat.ENCODING_PCM_FLOAT);
    AudioTrack opened = new AudioTrack.Builder()
        .setAudioAttributes(new AudioAttributes.Builder().setUsage(AudioAttributes.USAGE_MEDIA)
            .setContentType(AudioAttributes.CONTENT_TYPE_SONIFICATION).build())
        .setAudioFormat(new AudioFormat.Builder().setSampleRate(rate).setChannelMask(AudioFormat.CHANNEL_OUT_MONO)
            .setEncoding(AudioFormat.ENCODING_PCM_FLOAT).build())
        .setTransferMode(AudioTrack.MODE_STREAM)
        .setBufferSizeInBytes(Math.max(least, rate / 10 * 4))
        .build();
    if (opened.getState() != AudioTrack.STATE_INITIALIZED) {
      opened.release();
      throw new IllegalStateException("no mono float output at " + rate + " Hz on this device");
    }
    track = opened;
    playing = true;
    thread = new Thread(() -> render(opened, whenDone), "QuorlaxPlayer");
    thread.start();
  }

  /** The playback thread: 20 ms blocks from the sender, written as they are rendered. */
  private void render(AudioTrack out, Runnable whenDone) {
    ByteBuffer bytes = ByteBuffer.allocateDirect(4 * (sender.sampleRate() / 50)).order(ByteOrder.nativeOrder());
    FloatBuffer samples = bytes.asFloatBuffer();
    out.play();
    while (playing) {
      ((Buffer) samples).clear();
      int n = sender.render(samples);
      if (n == 0) break;
      ((Buffer) bytes).clear();
      ((Buffer) bytes).limit(4 * n);
      while (playing && bytes.hasRemaining()) {
        if (out.write(bytes, bytes.remaining(), AudioTrack.WRITE_BLOCKING) < 0) return;
      }
    }
    if (playing && whenDone != null) main.post(whenDone);
  }

  public synchronized boolean isPlaying() {
    return thread != null && thread.isAlive();
  }

  /**
   * Stops playback and releases the audio track (which a finished transmission keeps until this,
   * a later play or close).
   */
  public synchronized void stop() {
    if (thread == null) return;
    playing = false;
    track.stop();
    Threads.joinUninterruptibly(thread);
    track.release();
    track = null;
    thread = null;
  }

  @Override
  public synchronized void close() {
    stop();
    sender.close();
  }
}
