// Compiled (not run) by pack.test.mjs without TypeScript's DOM library, as a
// Node-only project is: the declarations must stand on their own there.
import { Listener, QuorlaxError, QuorlaxPlatformError, encode, load, play, simdSupported, type Message } from 'quorlax';

async function main(): Promise<void> {
  await load({ simd: simdSupported() });
  const samples: Float32Array = encode('hello1234', { mode: 'audible', rate: 48000 });
  const listener = new Listener({ mode: 'audible', rate: 48000 });
  const heard: Message[] = [...listener.push(samples), ...listener.flush()];
  listener.close();
  try {
    await play('hello1234');
  } catch (e) {
    if (e instanceof QuorlaxPlatformError && e.code === 'needs-browser') console.log(e.message);
    else if (e instanceof QuorlaxError) console.log(e.code.toFixed(0));
  }
  console.log(heard.map((m) => m.text));
}
void main();
