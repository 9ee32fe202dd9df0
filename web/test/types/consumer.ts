// Compiled (not run) by pack.test.mjs against the installed package's declarations.
import {
  Listener, MODES, QuorlaxError, QuorlaxPlatformError, bands, build, encode, listen, listenPlan, load, microphone,
  play, version, voiceProcessing, type BandInfo, type EncodeOptions, type Message, type Mode, type VoiceProcessing,
} from 'quorlax';

async function main(): Promise<void> {
  await load();
  const simd: boolean = build().simd;
  const mode: Mode = 'nonaudible';
  const options: EncodeOptions = { mode, rate: 48000 };
  const samples: Float32Array = encode('hello1234', options);
  const value: 5 = MODES.all;
  const text: string = version();
  try {
    encode('bad');
  } catch (e) {
    if (e instanceof QuorlaxError) console.log(e.code.toFixed(0), e.message);
  }
  const grid: BandInfo[] = bands(48000, 'all');
  console.log(grid.map((b) => `${b.name} ${b.toneHz.join(' ')} ${b.highHz}`));
  const listener = new Listener({ mode: 'all', rate: 48000, reportFailed: true });
  const heard: Message[] = [...listener.push(samples), ...listener.flush()];
  for (const m of heard) console.log(m.text, m.ok, m.band, m.start, m.end, m.levelDb.toFixed(1), m.confidence, m.pitchOffset, m.tempoOffset);
  listener.close();
  console.log(listenPlan(96000).resampled, samples.length, value, text, simd);
  if (typeof AudioContext !== 'undefined') {
    const context = new AudioContext();
    const playing = await play('hello1234', { context, mode: 'audible' });
    await playing.ended;
    try {
      const session = await listen(await microphone(), (m: Message) => console.log(m.text), { context, mode: 'all' });
      session.source.connect(new AnalyserNode(context));
      const filters: VoiceProcessing = voiceProcessing(session.stream);
      console.log(filters.keptOn.join(', '), session.voiceProcessing.echoCancellation);
      await session.stop();
    } catch (e) {
      if (e instanceof QuorlaxPlatformError && e.code === 'microphone-denied') console.log(e.message, e.cause);
    }
  }
}
void main();
