package org.quorlax.android;

import java.io.ByteArrayInputStream;
import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Random;
import java.util.concurrent.CountDownLatch;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.UnsupportedAudioFileException;
import org.robolectric.shadows.ShadowAudioRecord;

/**
 * A microphone for Robolectric's AudioRecord that plays a 16-bit mono WAV file, then silence (or,
 * when asked, an AudioRecord error). {@link #finished} counts down once the file is used up.
 */
final class WavMicrophone implements ShadowAudioRecord.AudioRecordSource {
  final CountDownLatch finished = new CountDownLatch(1);
  private final AudioInputStream in;
  private final int errorAfterwards;

  /** {@code errorAfterwards}: 0 for silence after the file, else the read code to give. */
  WavMicrophone(File wav, int errorAfterwards) throws IOException, UnsupportedAudioFileException {
    in = AudioSystem.getAudioInputStream(wav);
    this.errorAfterwards = errorAfterwards;
  }

  /** Writes {@code samples} (-1..1) as a 16-bit mono WAV file, with quiet noise around them. */
  static File write(File file, float[] samples, int rate) throws IOException {
    Random random = new Random(rate);
    int pad = rate / 4;
    ByteBuffer pcm = ByteBuffer.allocate(2 * (samples.length + 2 * pad)).order(ByteOrder.LITTLE_ENDIAN);
    for (int i = 0; i < samples.length + 2 * pad; i++) {
      double x = random.nextGaussian() * 1e-4;
      if (i >= pad && i < pad + samples.length) x += samples[i - pad];
      pcm.putShort((short) Math.max(-32768, Math.min(32767, Math.round(x * 32768))));
    }
    AudioFormat format = new AudioFormat(rate, 16, 1, true, false);
    AudioInputStream stream = new AudioInputStream(new ByteArrayInputStream(pcm.array()), format, pcm.capacity() / 2);
    AudioSystem.write(stream, AudioFileFormat.Type.WAVE, file);
    return file;
  }

  /** Reads up to {@code count} samples from the file; -1 at its end. */
  private int read(short[] out, int offset, int count) {
    byte[] bytes = new byte[2 * count];
    int got;
    try {
      got = in.readNBytes(bytes, 0, bytes.length) / 2;
    } catch (IOException e) {
      throw new IllegalStateException(e);
    }
    if (got == 0) return -1;
    ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN).asShortBuffer().get(out, offset, got);
    return got;
  }

  /** What the microphone gives after the file: silence of the size asked, or the error. */
  private int afterwards(int count) {
    finished.countDown();
    return errorAfterwards != 0 ? errorAfterwards : count;
  }

  @Override
  public int readInShortArray(short[] out, int offset, int count, boolean blocking) {
    int got = read(out, offset, count);
    if (got >= 0) return got;
    java.util.Arrays.fill(out, offset, offset + count, (short) 0);
    return afterwards(count);
  }

  @Override
  public int readInFloatArray(float[] out, int offset, int count, boolean blocking) {
    short[] shorts = new short[count];
    int got = read(shorts, 0, count);
    if (got < 0) {
      java.util.Arrays.fill(out, offset, offset + count, 0f);
      return afterwards(count);
    }
    for (int i = 0; i < got; i++) out[offset + i] = shorts[i] / 32768f;
    return got;
  }
}
