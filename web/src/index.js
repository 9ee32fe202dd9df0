// quorlax: data over sound in the browser and in Node, on the library built
// as WebAssembly (quorlax.wasm beside this file).
import { MODES, QuorlaxError, instantiate } from './core.js';

export { MODES, QuorlaxError };

let core = null;
let loading = null;
let wasmBytes = null;

async function readWasm(url) {
  if (url.protocol === 'file:') {
    const fs = await import('node:fs/promises');
    return fs.readFile(url);
  }
  const res = await fetch(url);
  if (!res.ok) throw new Error(`quorlax: cannot fetch ${url} (HTTP ${res.status})`);
  return res.arrayBuffer();
}

/**
 * Loads quorlax.wasm (once); every other function needs it. `wasm` may give
 * the module's bytes or its URL when it is not served beside this file.
 */
export function load({ wasm } = {}) {
  if (!loading) {
    loading = (async () => {
      let bytes = wasm;
      if (bytes === undefined || typeof bytes === 'string' || bytes instanceof URL) {
        bytes = await readWasm(new URL(bytes ?? './quorlax.wasm', import.meta.url));
      }
      wasmBytes = bytes instanceof ArrayBuffer ? bytes : new Uint8Array(bytes).slice().buffer;
      core = await instantiate(wasmBytes);
      return core;
    })();
    loading.catch(() => {
      loading = null;
    });
  }
  return loading.then(() => undefined);
}

function loaded() {
  if (!core) throw new Error('quorlax: call `await load()` first');
  return core;
}

/** "Quorlax version 1.0.0 [QuorlaxSDK]". */
export function version() {
  return loaded().version();
}

/**
 * One transmission of `text` (nine of 0-9 and a-v) as float samples at `rate` Hz.
 * Custom mode takes `base` (Hz) and `separation` for its grid.
 */
export function encode(text, options = {}) {
  return loaded().encode(text, options);
}

// Rates the encoders synthesise at directly; at any other context rate the
// browser resamples a 48000 Hz buffer.
const SEND_RATES = [44100, 48000];

function isOffline(context) {
  return typeof context.startRendering === 'function';
}

/**
 * Plays one transmission on an AudioContext (or OfflineAudioContext).
 * Resolves once it is scheduled: `ended` settles when it has been played.
 */
export async function play(text, { context, destination, when = 0, mode = 'audible', rate, base, separation } = {}) {
  const c = loaded();
  const ctx = context ?? new AudioContext();
  const r = rate ?? (SEND_RATES.includes(ctx.sampleRate) ? ctx.sampleRate : 48000);
  const samples = c.encode(text, { mode, rate: r, base, separation });
  const buffer = new AudioBuffer({ length: samples.length, sampleRate: r, numberOfChannels: 1 });
  buffer.copyToChannel(samples, 0);
  const source = new AudioBufferSourceNode(ctx, { buffer });
  source.connect(destination ?? ctx.destination);
  const ended = new Promise((resolve) => source.addEventListener('ended', () => resolve(), { once: true }));
  if (!isOffline(ctx) && ctx.state === 'suspended') await ctx.resume();
  source.start(when);
  return { context: ctx, source, samples, rate: r, duration: samples.length / r, ended };
}
