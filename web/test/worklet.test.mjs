// The AudioWorklet processor, run in Node with a stand-in for its global scope:
// before it says it is ready, a listener of its own has read a transmission in
// the processor's mode and is gone (engines that run a function slowly on its
// first calls pay that before the audio is due), and what the processor then
// hears counts from the first sample it was given, with nothing of that
// rehearsal posted.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { encode, load } from '../dist/index.js';
import { random, scene, seed } from './support.mjs';

await load();
const SEED = seed();
console.log(`# seed ${SEED} (QUORLAX_SEED reruns it)`);

const processors = new Map();
globalThis.AudioWorkletProcessor = class {
  constructor() {
    this.port = { onmessage: null, posted: [], postMessage(m) { this.posted.push(m); this.notify?.(); } };
  }
};
globalThis.registerProcessor = (name, cls) => processors.set(name, cls);
await import('../dist/worklet.js');
const Processor = processors.get('quorlax-listener');
const wasm = readFileSync(new URL('../dist/quorlax.wasm', import.meta.url));

// The listener calls the processor's module makes, in order: [name, listener, result].
const calls = [];
const RECORDED = ['QUORLAX_ListenerCreateEx', 'QUORLAX_ListenerNextEx', 'QUORLAX_ListenerDestroy'];
const instantiateModule = WebAssembly.instantiate;
WebAssembly.instantiate = async (...args) => {
  const { instance } = await instantiateModule(...args);
  const exports = { ...instance.exports };
  for (const name of RECORDED) {
    const call = instance.exports[name];
    exports[name] = (...a) => {
      const result = call(...a);
      calls.push([name, name === 'QUORLAX_ListenerCreateEx' ? result : a[0], result]);
      return result;
    };
  }
  return { instance: { exports } };
};

// Once the processor posted a message of `type` (an error it posts instead fails).
async function posted(node, type) {
  const port = node.port;
  const m = await new Promise((resolve) => {
    const look = () => {
      const found = port.posted.find((p) => p.type === type || p.type === 'error');
      if (found) resolve(found);
      return Boolean(found);
    };
    if (!look()) port.notify = look;
  });
  assert.equal(m.type, type, m.message);
  return m;
}

// Feeds audio as the engine does, one 128-sample render quantum per call.
function render(node, audio) {
  for (let i = 0; i < audio.length; i += 128) assert.equal(node.process([[audio.subarray(i, i + 128)]]), true);
}

// Each mode at a rate it is heard at, and the band a transmission sent in it is reported in ("all" sends non-audible).
const CASES = [
  { mode: 'all', rate: 44100, heardAs: 'nonaudible' },
  { mode: 'compression', rate: 48000, heardAs: 'compression' },
  { mode: 'custom', rate: 44100, heardAs: 'custom' },
  { mode: 'audible', rate: 22050, heardAs: 'audible' },
];

for (const { mode, rate, heardAs } of CASES) {
  test(`the worklet rehearses in mode ${mode} at ${rate} Hz, then hears from its first sample (seed ${SEED})`, async () => {
    const text = '0vq7ab9k2';
    const { audio, offsets } = scene([encode(text, { mode, rate })], { rate, rnd: random(SEED ^ rate), lead: 0.7 });
    calls.length = 0;
    const node = new Processor({
      processorOptions: { wasm, inputRate: rate, listener: { mode, rate, reportFailed: false } },
    });
    // Audio that comes while the module compiles and the rehearsal runs is kept.
    const early = Math.round(0.3 * rate);
    render(node, audio.subarray(0, early));
    await posted(node, 'ready');
    const beforeReady = calls.slice();
    const created = beforeReady.filter(([name]) => name === 'QUORLAX_ListenerCreateEx').map(([, l]) => l);
    const destroyed = beforeReady.filter(([name]) => name === 'QUORLAX_ListenerDestroy').map(([, l]) => l);
    assert.equal(created.length, 2, 'the listener and the rehearsal\'s');
    assert.equal(destroyed.length, 1);
    const [rehearsal] = destroyed;
    const listener = created.find((l) => l !== rehearsal);
    assert.ok(created.includes(rehearsal) && listener, 'the rehearsal\'s listener is the one released');
    const completed = (l, among) => among.filter(([name, which, r]) => name === 'QUORLAX_ListenerNextEx' && which === l && r === 1).length;
    assert.equal(completed(rehearsal, beforeReady), 1, 'the rehearsal heard its transmission');
    assert.equal(completed(listener, beforeReady), 0);
    render(node, audio.subarray(early));
    node.port.onmessage({ data: { type: 'stop' } });
    await posted(node, 'stopped');
    const errors = node.port.posted.filter((m) => m.type === 'error');
    assert.deepEqual(errors, []);
    const heard = node.port.posted.filter((m) => m.type === 'message').map((m) => m.message);
    assert.deepEqual(heard.map((m) => [m.text, m.ok, m.band]), [[text, true, heardAs]]);
    assert.equal(completed(listener, calls), 1, 'the message came from the listener kept');
    assert.ok(Math.abs(heard[0].start - offsets[0]) <= rate / 50, `start ${heard[0].start} vs ${offsets[0]}`);
  });
}
