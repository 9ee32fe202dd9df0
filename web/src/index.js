// quorlax: data over sound in the browser and in Node, on the library built
// as WebAssembly (quorlax.wasm beside this file).
import {
  CoreListener, MODES, QuorlaxError, QuorlaxPlatformError, UNSUPPORTED, bandsHeard, instantiate, simdSupported,
} from './core.js';

export { MODES, QuorlaxError, QuorlaxPlatformError, simdSupported };

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
 * Loads the WebAssembly module (once); every other function needs it. Beside
 * this file lie two: quorlax.wasm with SIMD and quorlax-nosimd.wasm for
 * engines without it, picked by simdSupported() unless `simd` says which.
 * `wasm` gives the module's bytes or URL instead (then the caller picks).
 */
export function load({ wasm, simd } = {}) {
  if (!loading) {
    loading = (async () => {
      let bytes = wasm;
      if (bytes === undefined || typeof bytes === 'string' || bytes instanceof URL) {
        const file = (simd ?? simdSupported()) ? './quorlax.wasm' : './quorlax-nosimd.wasm';
        bytes = await readWasm(new URL(bytes ?? file, import.meta.url));
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

/** The module loaded: { simd } tells whether it is the build with WebAssembly SIMD. */
export function build() {
  return { simd: loaded().simd() };
}

/**
 * One transmission of `text` (nine of 0-9 and a-v) as float samples at `rate` Hz.
 * Custom mode takes `base` (Hz) and `separation` for its grid.
 */
export function encode(text, options = {}) {
  return loaded().encode(text, options);
}

function isOffline(context) {
  return typeof context.startRendering === 'function';
}

/**
 * Plays one transmission on an AudioContext (or OfflineAudioContext).
 * Resolves once it is scheduled: `ended` settles when it has been played.
 */
export async function play(text, { context, destination, when = 0, mode = 'audible', rate, base, separation } = {}) {
  if (typeof AudioBuffer === 'undefined' || (!context && typeof AudioContext === 'undefined')) {
    throw new QuorlaxPlatformError('needs-browser', 'play()');
  }
  const c = loaded();
  const ctx = context ?? new AudioContext();
  const r = rate ?? c.sendRate(ctx.sampleRate, c.modeValue(mode), c.gridValue(base, separation));
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

/**
 * Facts of the bands a listener in `mode` hears at `rate` Hz, from the library:
 * name, toneHz (the nine-tone grid), shiftHz, lowHz, highHz.
 */
export function bands(rate, mode = 'all') {
  return bandsHeard(loaded(), mode, rate);
}

/**
 * Hears transmissions in audio pushed in pieces of any length. `push` and
 * `flush` return the messages they completed; `start` and `end` count
 * samples from the first one pushed.
 */
export class Listener {
  constructor(options = {}) {
    this.inner = new CoreListener(loaded(), options);
    this.rate = this.inner.rate;
  }

  push(samples) {
    return this.inner.push(samples);
  }

  flush() {
    return this.inner.flush();
  }

  close() {
    this.inner.close();
  }
}

/** getUserMedia constraints that keep tones: the voice filters erase them. */
export const MICROPHONE = Object.freeze({
  echoCancellation: false,
  noiseSuppression: false,
  autoGainControl: false,
  channelCount: 1,
});

// What getUserMedia's errors mean for a caller.
const MICROPHONE_ERRORS = Object.freeze({
  NotAllowedError: 'microphone-denied',
  SecurityError: 'microphone-denied',
  NotFoundError: 'no-microphone',
  OverconstrainedError: 'no-microphone',
  NotReadableError: 'microphone-busy',
  AbortError: 'microphone-busy',
});

function requireSecureContext(what) {
  if (globalThis.isSecureContext === false) {
    throw new QuorlaxPlatformError('insecure-context', `${what} on ${globalThis.location?.origin ?? 'this page'}`);
  }
}

/**
 * The microphone with echo cancellation, noise suppression and gain control
 * off. Refusals and missing devices raise QuorlaxPlatformError (`cause` keeps
 * the engine's error).
 */
export async function microphone(constraints = {}) {
  // Node 21 and later have a navigator too, but no window.
  if (typeof window === 'undefined' || typeof navigator === 'undefined') throw new QuorlaxPlatformError('needs-browser', 'microphone()');
  requireSecureContext('microphone()');
  if (typeof navigator.mediaDevices?.getUserMedia !== 'function') throw new QuorlaxPlatformError('no-media-devices');
  try {
    return await navigator.mediaDevices.getUserMedia({ audio: { ...MICROPHONE, ...constraints }, video: false });
  } catch (e) {
    const code = MICROPHONE_ERRORS[e?.name];
    if (code) throw new QuorlaxPlatformError(code, undefined, e);
    throw e;
  }
}

const VOICE_FILTERS = Object.freeze(Object.keys(MICROPHONE).filter((k) => MICROPHONE[k] === false));

/**
 * Which voice filters the engine applies to `stream`'s audio, from its track's
 * getSettings(): true, false, or null where the engine does not say (a stream
 * that is no microphone); `keptOn` names those still on.
 */
export function voiceProcessing(stream) {
  const settings = stream?.getAudioTracks?.()[0]?.getSettings?.() ?? {};
  const report = {};
  for (const f of VOICE_FILTERS) report[f] = typeof settings[f] === 'boolean' ? settings[f] : null;
  report.keptOn = VOICE_FILTERS.filter((f) => settings[f] === true);
  return report;
}

/**
 * Where to run the listener for audio at `inputRate`: at that rate when the
 * library can, else resampled to a rate it takes (a whole ratio away where one
 * is, else the highest); a plain error when no band of the mode lies below
 * half the input rate.
 */
export function listenPlan(inputRate, options = {}) {
  const c = loaded();
  const { mode = 'all', base, separation } = options;
  const m = c.modeValue(mode);
  const grid = c.gridValue(base, separation);
  if (c.supported(m, c.rateValue(inputRate), grid) === 0) {
    return { inputRate, rate: inputRate, resampled: false, bands: bandsHeard(c, m, inputRate, grid) };
  }
  const rates = c.rates.filter((r) => c.supported(m, r, grid) === 0).reverse();
  const rate = rates.find((r) => inputRate % r === 0 || r % inputRate === 0) ?? rates[0];
  if (rate === undefined) c.require(m, inputRate, grid);
  const wanted = bandsHeard(c, m, rate, grid);
  const kept = wanted.filter((b) => b.highHz < inputRate / 2);
  if (kept.length === 0) {
    const top = Math.max(...wanted.map((b) => b.highHz), 0);
    const names = wanted.map((b) => b.name).join(', ');
    throw new QuorlaxError(UNSUPPORTED, c.errorText(UNSUPPORTED),
      `no band fits: audio at ${inputRate} Hz carries sound up to ${inputRate / 2} Hz, and the ${names} ` +
      `band${wanted.length > 1 ? 's need' : ' needs'} up to ${Math.round(top)} Hz. A Bluetooth headset in ` +
      'call mode captures like this; use a built-in or wired microphone');
  }
  return { inputRate, rate, resampled: true, bands: kept };
}

const RESAMPLER = '@alexanderolsen/libsamplerate-js/dist/libsamplerate.worklet.js';

function resamplerUrl() {
  try {
    if (typeof import.meta.resolve === 'function') return import.meta.resolve(RESAMPLER);
  } catch {
    // no import map entry: fall back to the installed layout
  }
  return new URL(`../../${RESAMPLER}`, import.meta.url).href;
}

const workletsLoaded = new WeakMap();

async function addModuleOnce(ctx, url) {
  let set = workletsLoaded.get(ctx);
  if (!set) workletsLoaded.set(ctx, (set = new Map()));
  if (!set.has(url)) set.set(url, ctx.audioWorklet.addModule(url));
  return set.get(url);
}

/**
 * Listens to `stream` (the microphone when null) in an AudioWorklet and calls
 * onMessage(message) for every message heard. Resolves once listening, to
 * { context, source, node, rate, inputRate, resampled, bands, stop() }.
 */
export async function listen(stream, onMessage, options = {}) {
  const { context, mode = 'all', base, separation, reportFailed = false, onError, resampler } = options;
  if (!context && typeof AudioContext === 'undefined') throw new QuorlaxPlatformError('needs-browser', 'listen()');
  requireSecureContext('listen()');
  if (typeof AudioWorkletNode === 'undefined' || (context && !context.audioWorklet)) {
    throw new QuorlaxPlatformError('no-audio-worklet');
  }
  loaded();
  const ctx = context ?? new AudioContext();
  let media = stream;
  let source = null;
  // What this call opened, it closes: on failure here, or in stop().
  const release = async () => {
    source?.disconnect();
    if (!stream) for (const t of media?.getTracks() ?? []) t.stop();
    if (!context) await ctx.close();
  };
  try {
    const plan = listenPlan(ctx.sampleRate, { mode, base, separation });
    media ??= await microphone();
    if (plan.resampled) await addModuleOnce(ctx, resampler ?? resamplerUrl());
    await addModuleOnce(ctx, new URL('./worklet.js', import.meta.url).href);
    const node = new AudioWorkletNode(ctx, 'quorlax-listener', {
      numberOfInputs: 1,
      numberOfOutputs: 0,
      channelCount: 1,
      channelCountMode: 'explicit',
      channelInterpretation: 'speakers',
      processorOptions: {
        wasm: wasmBytes,
        inputRate: ctx.sampleRate,
        listener: { mode, rate: plan.rate, base, separation, reportFailed },
      },
    });
    let stopped = null;
    const ready = new Promise((resolve, reject) => {
      node.port.onmessage = ({ data }) => {
        if (data.type === 'message') onMessage(data.message);
        else if (data.type === 'ready') resolve();
        else if (data.type === 'stopped') stopped?.();
        else if (data.type === 'error') {
          const e = workletError(data);
          reject(e);
          onError?.(e);
        }
      };
    });
    source = new MediaStreamAudioSourceNode(ctx, { mediaStream: media });
    source.connect(node);
    if (ctx.state === 'suspended') await ctx.resume();
    await ready;
    return {
      context: ctx,
      source,
      node,
      stream: media,
      voiceProcessing: voiceProcessing(media),
      ...plan,
      /** Stops listening; resolves after the messages still in flight were delivered. */
      async stop() {
        const done = new Promise((resolve) => (stopped = resolve));
        source.disconnect();
        node.port.postMessage({ type: 'stop' });
        await done;
        await release();
      },
    };
  } catch (e) {
    await release();
    throw e;
  }
}

// An error the worklet posted, as the class it was raised as.
function workletError({ name, code, message }) {
  if (name === 'QuorlaxError') return new QuorlaxError(code, message);
  if (name === 'QuorlaxPlatformError') return new QuorlaxPlatformError(code);
  return new Error(message);
}
