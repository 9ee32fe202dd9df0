package org.quorlax.android;

import android.Manifest;
import android.content.Context;
import android.content.pm.PackageManager;
import android.media.AudioFormat;
import android.media.AudioManager;
import android.media.AudioRecord;
import android.media.MediaRecorder;
import android.os.Handler;
import android.os.Looper;
import java.util.Objects;
import org.quorlax.Listener;
import org.quorlax.ListenerConfig;
import org.quorlax.Message;
import org.quorlax.Mode;

/**
 * Hears transmissions through the microphone: an {@link AudioRecord} (the UNPROCESSED source where
 * the device offers it, else VOICE_RECOGNITION; mono float, or 16-bit where float is refused) read
 * by a capture thread of its own into a {@link Listener}. Messages reach the {@link Callback} on
 * the main thread. Needs the RECORD_AUDIO permission, granted before {@link #start()}.
 */
public final class QuorlaxRecorder implements AutoCloseable {
  /** Android's own capture rate on nearly every device, and one the library analyses at. */
  public static final int DEFAULT_SAMPLE_RATE = 48000;

  /** Called on the main thread. */
  public interface Callback {
    void onMessage(Message message);

    /** Capture ended by itself: AudioRecord's negative read code (ERROR_DEAD_OBJECT, ...). */
    default void onError(int audioRecordError) {}
  }

  private final Context context;
  private final ListenerConfig config;
  private final Callback callback;
  private final Handler main = new Handler(Looper.getMainLooper());
  private boolean preferFloat = true;
  private volatile boolean running;
  private Thread thread;
  private AudioRecord record;
  private Listener listener;

  /** Hears {@code mode} at {@link #DEFAULT_SAMPLE_RATE}. */
  public QuorlaxRecorder(Context context, Mode mode, Callback callback) {
    this(context, ListenerConfig.of(mode, DEFAULT_SAMPLE_RATE), callback);
  }

  /** Captures at the configuration's sample rate. */
  public QuorlaxRecorder(Context context, ListenerConfig config, Callback callback) {
    this.context = Objects.requireNonNull(context, "context");
    this.config = Objects.requireNonNull(config, "config");
    this.callback = Objects.requireNonNull(callback, "callback");
  }

  /** Whether to ask for float samples first (the default) or for 16-bit ones only. */
  public synchronized QuorlaxRecorder preferFloat(boolean on) {
    preferFloat = on;
    return this;
  }

  /** The capture source: UNPROCESSED where the device says it has one, else VOICE_RECOGNITION. */
  static int audioSourceFor(String unprocessedProperty) {
    return "true".equals(unprocessedProperty) ? MediaRecorder.AudioSource.UNPROCESSED
        : MediaRecorder.AudioSource.VOICE_RECOGNITION;
  }

  /**
   * Opens the microphone and starts hearing. SecurityException without RECORD_AUDIO,
   * IllegalStateException when already started or when no capture at this rate can be opened or
   * started, QuorlaxException for a configuration the library refuses.
   */
  public synchronized void start() {
    if (thread != null) throw new IllegalStateException("QuorlaxRecorder is already started");
    if (context.checkSelfPermission(Manifest.permission.RECORD_AUDIO) != PackageManager.PERMISSION_GRANTED) {
      throw new SecurityException("QuorlaxRecorder needs the RECORD_AUDIO permission");
    }
    Listener heard = new Listener(config);
    AudioRecord opened = null;
    try {
      opened = open();
      opened.startRecording();
      if (opened.getRecordingState() != AudioRecord.RECORDSTATE_RECORDING) {
        throw new IllegalStateException("the microphone did not start (another app may hold it)");
      }
    } catch (RuntimeException e) {
      if (opened != null) opened.release();
      heard.close();
      throw e;
    }
    AudioRecord started = opened;
    listener = heard;
    record = started;
    running = true;
    thread = new Thread(() -> capture(started, heard), "QuorlaxRecorder");
    thread.start();
  }

  private AudioRecord open() {
    AudioManager audio = context.getSystemService(AudioManager.class);
    int source = audioSourceFor(audio == null ? null
        : audio.getProperty(AudioManager.PROPERTY_SUPPORT_AUDIO_SOURCE_UNPROCESSED));
    int rate = config.sampleRate();
    int[] encodings = preferFloat ? new int[] {AudioFormat.ENCODING_PCM_FLOAT, AudioFormat.ENCODING_PCM_16BIT}
        : new int[] {AudioFormat.ENCODING_PCM_16BIT};
    for (int encoding : encodings) {
      int least = AudioRecord.getMinBufferSize(rate, AudioFormat.CHANNEL_IN_MONO, encoding);
      if (least <= 0) continue;
      int bytesPerSample = encoding == AudioFormat.ENCODING_PCM_FLOAT ? 4 : 2;
      AudioRecord candidate;
      try {
        candidate = new AudioRecord.Builder()
            .setAudioSource(source)
            .setAudioFormat(new AudioFormat.Builder().setSampleRate(rate).setChannelMask(AudioFormat.CHANNEL_IN_MONO)
                .setEncoding(encoding).build())
            .setBufferSizeInBytes(Math.max(least, rate / 2 * bytesPerSample))
            .build();
      } catch (UnsupportedOperationException | IllegalArgumentException refused) {
        continue;
      }
      if (candidate.getState() == AudioRecord.STATE_INITIALIZED) return candidate;
      candidate.release();
    }
    throw new IllegalStateException("no mono capture at " + rate + " Hz on this device");
  }

  /** The capture thread: reads 20 ms at a time, pushes, hands messages to the main thread. */
  private void capture(AudioRecord source, Listener heard) {
    boolean floats = source.getAudioFormat() == AudioFormat.ENCODING_PCM_FLOAT;
    int block = config.sampleRate() / 50;
    float[] floatBlock = floats ? new float[block] : null;
    short[] shortBlock = floats ? null : new short[block];
    while (running) {
      int n = floats ? source.read(floatBlock, 0, block, AudioRecord.READ_BLOCKING)
          : source.read(shortBlock, 0, block, AudioRecord.READ_BLOCKING);
      if (n < 0) {
        if (running) main.post(() -> callback.onError(n));
        return;
      }
      if (floats) {
        heard.push(floatBlock, 0, n);
      } else {
        heard.push(shortBlock, 0, n);
      }
      deliver(heard);
    }
  }

  private void deliver(Listener heard) {
    for (Message m; (m = heard.poll()) != null; ) {
      Message message = m;
      main.post(() -> callback.onMessage(message));
    }
  }

  /** Whether the capture thread runs: false before a start, after a stop and once capture failed. */
  public synchronized boolean isCapturing() {
    return thread != null && thread.isAlive();
  }

  /** The capture source in use (MediaRecorder.AudioSource), or -1 when not started. */
  public synchronized int audioSource() {
    return record == null ? -1 : record.getAudioSource();
  }

  /** The sample encoding in use (AudioFormat.ENCODING_PCM_FLOAT or _16BIT), or -1 when not started. */
  public synchronized int encoding() {
    return record == null ? -1 : record.getAudioFormat();
  }

  /**
   * Stops capture, completes what was being heard (its messages still reach the callback) and
   * releases the microphone. A stopped recorder may be started again.
   */
  public synchronized void stop() {
    if (thread == null) return;
    running = false;
    record.stop();
    Threads.joinUninterruptibly(thread);
    listener.flush();
    deliver(listener);
    listener.close();
    record.release();
    listener = null;
    record = null;
    thread = null;
  }

  @Override
  public void close() {
    stop();
  }
}
