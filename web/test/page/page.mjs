// What the engine tests run inside a page: each function takes and returns
// plain data (samples as base64 of their float32 bytes, so that -0 and every
// bit survive the trip to Node).
import * as quorlax from '../../dist/index.js';
import { random, scene } from '../signal.mjs';

function base64(samples) {
  const bytes = new Uint8Array(samples.buffer, samples.byteOffset, samples.byteLength);
  let s = '';
  for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(s);
}

/** Loads the package (`simd` forces a build) and says which build it runs. */
async function start({ simd } = {}) {
  await quorlax.load(simd === undefined ? {} : { simd });
  return { version: quorlax.version(), build: quorlax.build(), simdSupported: quorlax.simdSupported() };
}

/** encode() of each case, as base64. */
function encodeEach(cases) {
  return cases.map(({ text, ...options }) => base64(quorlax.encode(text, options)));
}

/**
 * For each mode at each rate: two transmissions in seeded noise, pushed to a
 * Listener in pieces of `chunk`; every message with every field.
 */
function hearPushed({ modes, rates, texts, seed, chunk = 4096 }) {
  const out = [];
  for (const mode of modes) {
    for (const rate of rates) {
      const { audio, offsets } = scene(texts.map((t) => quorlax.encode(t, { mode, rate })), { rate, rnd: random(seed ^ rate) });
      const listener = new quorlax.Listener({ mode, rate });
      const messages = [];
      for (let i = 0; i < audio.length; i += chunk) messages.push(...listener.push(audio.subarray(i, i + chunk)));
      messages.push(...listener.flush());
      listener.close();
      out.push({ mode, rate, offsets, messages });
    }
  }
  return out;
}

/** What play() renders on an OfflineAudioContext at `rate`, as base64. */
async function renderPlay({ text, mode, rate }) {
  const context = new OfflineAudioContext(1, rate * 3, rate);
  const playing = await quorlax.play(text, { context, mode });
  const rendered = await context.startRendering();
  return { length: playing.samples.length, rate: playing.rate, samples: base64(rendered.getChannelData(0)) };
}

/**
 * A MediaStream on `context` that plays the WAV at `url` each time play() is
 * called (resolving when it ended), for engines whose microphone cannot be a file.
 */
async function wavStream(context, url) {
  const response = await fetch(url);
  const buffer = await context.decodeAudioData(await response.arrayBuffer());
  const destination = new MediaStreamAudioDestinationNode(context, { channelCount: 1 });
  const play = () => {
    const source = new AudioBufferSourceNode(context, { buffer });
    source.connect(destination);
    const ended = new Promise((resolve) => source.addEventListener('ended', resolve, { once: true }));
    source.start();
    return ended;
  };
  return { stream: destination.stream, play };
}

/**
 * listen() in an AudioWorklet, on an AudioContext at `rate` (the engine's
 * choice when undefined), to the WAV at `url` played as a MediaStream: once,
 * and up to twice more while nothing was heard (a real-time engine on a
 * loaded machine drops audio); `plays` says how often.
 */
async function listenToWav({ url, rate, settle = 300 }) {
  const context = new AudioContext(rate ? { sampleRate: rate } : {});
  const wav = await wavStream(context, url);
  const messages = [];
  const heard = await quorlax.listen(wav.stream, (m) => messages.push(m), { context });
  let plays = 0;
  while (plays < 3 && messages.length === 0) {
    plays++;
    await wav.play();
    await new Promise((r) => setTimeout(r, settle));
  }
  await heard.stop();
  await context.close();
  return { inputRate: heard.inputRate, rate: heard.rate, resampled: heard.resampled, messages, plays };
}

/**
 * The microphone opened with `constraints`: the package's report of its voice
 * filters, its capture rate and the rate of an AudioContext left to the engine.
 */
async function voiceFilters(constraints) {
  const stream = await quorlax.microphone(constraints);
  const report = quorlax.voiceProcessing(stream);
  const captureRate = stream.getAudioTracks()[0].getSettings().sampleRate ?? null;
  for (const t of stream.getTracks()) t.stop();
  const context = new AudioContext();
  const contextRate = context.sampleRate;
  await context.close();
  return { report, captureRate, contextRate };
}

/** Runs `fn` with the global `name` hidden. */
async function without(name, fn) {
  const saved = globalThis[name];
  delete globalThis[name];
  try {
    return await fn();
  } finally {
    globalThis[name] = saved;
  }
}

/** The error `call` (a name below) raises, as plain data; null when it raises none. */
async function errorOf(call) {
  const calls = {
    load: () => quorlax.load(),
    microphone: () => quorlax.microphone(),
    listen: () => quorlax.listen(null, () => {}),
    // An engine without AudioWorklet, as before Safari 14.1.
    listenWithoutWorklet: () => without('AudioWorkletNode', () => quorlax.listen(null, () => {})),
    // An engine without WebAssembly, as Safari in Lockdown Mode.
    loadWithoutWebAssembly: () => without('WebAssembly', () => quorlax.load()),
  };
  try {
    await calls[call]();
    return null;
  } catch (e) {
    return { name: e.name, code: e.code, message: e.message, cause: e.cause?.name ?? null };
  }
}

window.quorlaxTest = { start, encodeEach, hearPushed, renderPlay, wavStream, listenToWav, voiceFilters, errorOf };
