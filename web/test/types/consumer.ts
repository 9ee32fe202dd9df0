// Compiled (not run) by pack.test.mjs against the installed package's declarations.
import { MODES, QuorlaxError, encode, load, play, version, type EncodeOptions, type Mode } from 'quorlax';

async function main(): Promise<void> {
  await load();
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
  if (typeof AudioContext !== 'undefined') {
    const playing = await play('hello1234', { context: new AudioContext(), mode: 'audible' });
    await playing.ended;
  }
  console.log(samples.length, value, text);
}
void main();
