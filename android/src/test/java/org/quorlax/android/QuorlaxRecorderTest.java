package org.quorlax.android;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertThrows;
import static org.junit.Assert.assertTrue;
import static org.robolectric.Shadows.shadowOf;

import android.Manifest;
import android.app.Application;
import android.media.AudioFormat;
import android.media.AudioRecord;
import android.media.MediaRecorder;
import android.os.Looper;
import java.io.File;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;
import org.junit.runner.RunWith;
import org.quorlax.Message;
import org.quorlax.Mode;
import org.quorlax.Quorlax;
import org.robolectric.RobolectricTestRunner;
import org.robolectric.RuntimeEnvironment;
import org.robolectric.shadows.ShadowAudioRecord;

@RunWith(RobolectricTestRunner.class)
public class QuorlaxRecorderTest {
  @Rule public TemporaryFolder folder = new TemporaryFolder();

  private final Application app = RuntimeEnvironment.getApplication();
  private final List<Message> heard = new ArrayList<>();
  private final List<Integer> errors = new ArrayList<>();
  private boolean calledOffTheMainThread;

  private final QuorlaxRecorder.Callback callback = new QuorlaxRecorder.Callback() {
    @Override
    public void onMessage(Message message) {
      calledOffTheMainThread |= Looper.myLooper() != Looper.getMainLooper();
      heard.add(message);
    }

    @Override
    public void onError(int audioRecordError) {
      calledOffTheMainThread |= Looper.myLooper() != Looper.getMainLooper();
      errors.add(audioRecordError);
    }
  };

  @Before
  public void grant() {
    shadowOf(app).grantPermissions(Manifest.permission.RECORD_AUDIO);
  }

  /** A microphone playing a WAV of {@code text} sent in {@code mode} at 48000 Hz. */
  private WavMicrophone microphone(String text, Mode mode, int errorAfterwards) throws Exception {
    float[] samples = Quorlax.encode(text, mode, QuorlaxRecorder.DEFAULT_SAMPLE_RATE);
    File wav = WavMicrophone.write(folder.newFile(text + ".wav"), samples, QuorlaxRecorder.DEFAULT_SAMPLE_RATE);
    WavMicrophone microphone = new WavMicrophone(wav, errorAfterwards);
    ShadowAudioRecord.setSourceProvider(record -> microphone);
    return microphone;
  }

  /** Starts, waits until the file is used up (bounded), stops and runs the main thread's queue. */
  private void record(QuorlaxRecorder recorder, WavMicrophone microphone) throws InterruptedException {
    recorder.start();
    assertTrue("the capture thread read the whole file", microphone.finished.await(60, TimeUnit.SECONDS));
    recorder.stop();
    shadowOf(Looper.getMainLooper()).idle();
  }

  @Test
  public void hearsAWavThroughTheMicrophoneInFloats() throws Exception {
    WavMicrophone microphone = microphone("hello1234", Mode.NONAUDIBLE, 0);
    QuorlaxRecorder recorder = new QuorlaxRecorder(app, Mode.ALL, callback);
    recorder.start();
    assertEquals(AudioFormat.ENCODING_PCM_FLOAT, recorder.encoding());
    // Robolectric's device offers no UNPROCESSED source.
    assertEquals(MediaRecorder.AudioSource.VOICE_RECOGNITION, recorder.audioSource());
    assertTrue(microphone.finished.await(60, TimeUnit.SECONDS));
    recorder.stop();
    assertEquals(-1, recorder.encoding());
    shadowOf(Looper.getMainLooper()).idle();
    assertEquals(1, heard.size());
    Message m = heard.get(0);
    assertEquals("hello1234", m.text());
    assertTrue(m.ok());
    assertEquals(Mode.NONAUDIBLE, m.band());
    // The WAV starts a quarter of a second before the transmission.
    assertEquals(QuorlaxRecorder.DEFAULT_SAMPLE_RATE / 4, m.start(), 256);
    assertEquals(false, calledOffTheMainThread);
    assertEquals(List.of(), errors);
  }

  @Test
  public void hearsIn16BitWhenAskedTo() throws Exception {
    WavMicrophone microphone = microphone("short5678", Mode.AUDIBLE, 0);
    QuorlaxRecorder recorder = new QuorlaxRecorder(app, Mode.AUDIBLE, callback).preferFloat(false);
    recorder.start();
    assertEquals(AudioFormat.ENCODING_PCM_16BIT, recorder.encoding());
    assertTrue(microphone.finished.await(60, TimeUnit.SECONDS));
    recorder.stop();
    shadowOf(Looper.getMainLooper()).idle();
    assertEquals(1, heard.size());
    assertEquals("short5678", heard.get(0).text());
  }

  /** A microphone that dies: the error reaches the callback, after what was heard before it. */
  @Test
  public void captureErrorsReachTheCallback() throws Exception {
    WavMicrophone microphone = microphone("beforeerr", Mode.AUDIBLE, AudioRecord.ERROR_DEAD_OBJECT);
    QuorlaxRecorder recorder = new QuorlaxRecorder(app, Mode.AUDIBLE, callback);
    recorder.start();
    assertTrue(microphone.finished.await(60, TimeUnit.SECONDS));
    for (int i = 0; i < 6000 && recorder.isCapturing(); i++) Thread.sleep(10);
    assertEquals(false, recorder.isCapturing());
    recorder.stop();
    shadowOf(Looper.getMainLooper()).idle();
    assertEquals(List.of(AudioRecord.ERROR_DEAD_OBJECT), errors);
    assertEquals(1, heard.size());
    assertEquals("beforeerr", heard.get(0).text());
    assertEquals(false, calledOffTheMainThread);
  }

  /** Stopped, a recorder starts again and hears the next file. */
  @Test
  public void restarts() throws Exception {
    QuorlaxRecorder recorder = new QuorlaxRecorder(app, Mode.AUDIBLE, callback);
    record(recorder, microphone("first1234", Mode.AUDIBLE, 0));
    record(recorder, microphone("second123", Mode.AUDIBLE, 0));
    assertEquals(2, heard.size());
    assertEquals("first1234", heard.get(0).text());
    assertEquals("second123", heard.get(1).text());
  }

  @Test
  public void refusals() throws Exception {
    microphone("hello1234", Mode.AUDIBLE, 0);
    QuorlaxRecorder recorder = new QuorlaxRecorder(app, Mode.AUDIBLE, callback);
    recorder.start();
    assertThrows(IllegalStateException.class, recorder::start);
    recorder.stop();
    recorder.stop();
    shadowOf(app).denyPermissions(Manifest.permission.RECORD_AUDIO);
    assertThrows(SecurityException.class, recorder::start);
    assertEquals(-1, recorder.audioSource());
    assertThrows(NullPointerException.class, () -> new QuorlaxRecorder(app, Mode.AUDIBLE, null));
    assertThrows(NullPointerException.class, () -> new QuorlaxRecorder(null, Mode.AUDIBLE, callback));
  }

  @Test
  public void unprocessedWhereTheDeviceHasIt() {
    assertEquals(MediaRecorder.AudioSource.UNPROCESSED, QuorlaxRecorder.audioSourceFor("true"));
    for (String property : new String[] {null, "false", ""}) {
      assertEquals(MediaRecorder.AudioSource.VOICE_RECOGNITION, QuorlaxRecorder.audioSourceFor(property));
    }
  }
}
