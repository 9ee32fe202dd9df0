// The demo page in chromium, whose microphone is a WAV (noise, a transmission,
// noise): its play path renders the encoder's samples, a later play stops an
// earlier one and owns the status line, errors show the package's sentences,
// the labels stay beside the spectrogram, listening works resampled from
// 96000 Hz, says plainly at 16000 Hz that no band fits, and hears what the page plays.
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import wavefile from 'wavefile';
import { Listener, encode, load } from '../dist/index.js';
import { launch, missing, serveWeb } from './engines.mjs';
import { random, scene, seed } from './support.mjs';

const skip = !process.env.CI && missing('chromium');
const SEED = seed();
const TEXT = 'heard5678';
const work = mkdtempSync(join(tmpdir(), 'quorlax-demo-'));
let server;
let browser;

before(async () => {
  if (skip) return;
  await load();
  // A second of noise, the transmission, a second of noise (the fake device loops it).
  const rate = 48000;
  const { audio } = scene([encode(TEXT, { mode: 'audible', rate })], { rate, rnd: random(SEED), lead: 1, tail: 1, gain: 0.5, noise: 0.02 });
  const pcm = Int16Array.from(audio, (x) => Math.max(-32768, Math.min(32767, Math.round(x * 32767))));
  const wav = new wavefile.WaveFile();
  wav.fromScratch(1, rate, '16', pcm);
  const file = join(work, 'microphone.wav');
  writeFileSync(file, wav.toBuffer());
  server = await serveWeb();
  browser = await launch('chromium', { microphoneWav: file });
  console.log(`# chromium ${browser.version}: seed ${SEED}: ${file}`);
});
after(async () => {
  await browser?.close();
  await server?.close();
  rmSync(work, { recursive: true, force: true });
});

async function demo(on = browser) {
  const page = await on.open(`${server.url}/demo/`);
  await page.evaluate(() => window.quorlaxDemo.ready);
  return page;
}

for (const { mode, rate } of [{ mode: 'audible', rate: 48000 }, { mode: 'nonaudible', rate: 44100 }]) {
  test(`the page's play path renders the transmission: ${mode} at ${rate} Hz`, { skip }, async () => {
    const page = await demo();
    const rendered = await page.evaluate(async (m, r) => {
      document.getElementById('text').value = 'QUORLAS42';
      document.getElementById('send-mode').value = m;
      const ctx = new OfflineAudioContext(1, r * 3, r);
      const playing = await window.quorlaxDemo.send({ context: ctx });
      const status = document.getElementById('send-status').textContent;
      const out = await ctx.startRendering();
      return { samples: Array.from(out.getChannelData(0)), length: playing.samples.length, status };
    }, mode, rate);
    const expected = encode('QUORLAS42', { mode, rate });
    assert.equal(rendered.length, expected.length);
    assert.match(rendered.status, new RegExp(`Playing QUORLAS42 in the ${mode} band`));
    // An AudioBufferSourceNode at the context's own rate passes samples through
    // unchanged (the page hands them over as JSON, where -0 becomes 0).
    const differ = expected.filter((x, i) => x !== rendered.samples[i]).length;
    assert.equal(differ, 0, `${differ} samples differ`);
    assert.ok(rendered.samples.slice(expected.length).every((x) => x === 0));
    const l = new Listener({ mode: 'all', rate });
    const heard = [...l.push(Float32Array.from(rendered.samples)), ...l.flush()];
    l.close();
    assert.deepEqual(heard.map((m) => [m.text, m.ok, m.band]), [['QUORLAS42'.toLowerCase(), true, mode]]);
    assert.deepEqual(await page.errors(), []);
    await page.close();
  });
}

test('a later play stops the earlier one, and the status line follows the later one', { skip }, async () => {
  const page = await demo();
  const got = await page.evaluate(async () => {
    const { send } = window.quorlaxDemo;
    const status = () => document.getElementById('send-status').textContent;
    const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
    const context = new AudioContext();
    document.getElementById('text').value = 'first1234';
    const first = await send({ context });
    await sleep(300);
    document.getElementById('text').value = 'later5678';
    const later = await send({ context });
    const sent = context.currentTime;
    await first.ended;
    const firstStoppedAfter = context.currentTime - sent;
    await sleep(300);
    const whileLater = status();
    await later.ended;
    await sleep(50);
    const afterLater = status();
    await context.close();
    return { firstStoppedAfter, duration: first.duration, whileLater, afterLater };
  });
  assert.ok(got.firstStoppedAfter < 0.3, `the first play went on for ${got.firstStoppedAfter} s after the later one began`);
  assert.match(got.whileLater, /^Playing later5678 in the audible band/);
  assert.equal(got.afterLater, 'Played later5678.');
  await page.close();
});

test('a bad message shows the library\'s error text on the page', { skip }, async () => {
  const page = await demo();
  const status = await page.evaluate(async () => {
    document.getElementById('text').value = 'hello!';
    document.getElementById('play').click();
    const el = document.getElementById('send-status');
    while (!el.classList.contains('error')) await new Promise((r) => setTimeout(r, 20));
    return el.textContent;
  });
  assert.match(status, /invalid argument \(message "hello!": 9 characters of 0123456789abcdefghijklmnopqrstuv\) \[code -4\]/);
  await page.close();
});

test('without a microphone the page says so in a sentence, not as a raw NotFoundError', { skip }, async () => {
  const bare = await launch('chromium', { noMicrophone: true });
  try {
    const page = await demo(bare);
    const status = await page.evaluate(async () => {
      await window.quorlaxDemo.startListening();
      const el = document.getElementById('listen-status');
      return [el.textContent, el.className];
    });
    assert.match(status[0], /^no microphone was found: connect one.*\[code no-microphone\]$/);
    assert.doesNotMatch(status[0], /NotFoundError/);
    assert.equal(status[1], 'error');
  } finally {
    await bare.close();
  }
});

test('the kHz labels stay beside the spectrogram as it scrolls', { skip }, async () => {
  const page = await demo();
  await page.raw.setViewport({ width: 1024, height: 1000 });
  const got = await page.evaluate(async () => {
    // Loud noise fills every row of the picture with changing colours.
    const context = new AudioContext();
    const buffer = new AudioBuffer({ length: context.sampleRate, sampleRate: context.sampleRate });
    const x = buffer.getChannelData(0);
    for (let i = 0; i < x.length; i++) x[i] = Math.random() - 0.5;
    const source = new AudioBufferSourceNode(context, { buffer, loop: true });
    const destination = new MediaStreamAudioDestinationNode(context);
    source.connect(destination);
    source.start();
    await window.quorlaxDemo.startListening({ stream: destination.stream, context });
    const canvas = document.getElementById('spectrogram');
    const g = canvas.getContext('2d');
    const frames = () => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    const strips = () => {
      const all = g.getImageData(0, 0, canvas.width, canvas.height);
      const columns = (from, to) => {
        const out = [];
        for (let row = 0; row < canvas.height; row++) {
          for (let col = from; col < to; col++) out.push(...all.data.subarray((row * canvas.width + col) * 4, (row * canvas.width + col) * 4 + 4));
        }
        return out.join(',');
      };
      // Where the kHz scale is written, and the newest columns of the picture
      // (it scrolls left a column a frame) just before it.
      return { scale: columns(canvas.width - 40, canvas.width), newest: columns(canvas.width - 120, canvas.width - 60) };
    };
    for (let i = 0; i < 40; i++) await frames();
    const a = strips();
    for (let i = 0; i < 5; i++) await frames();
    const b = strips();
    await window.quorlaxDemo.stopListening();
    await context.close();
    return { scale: a.scale === b.scale, newest: a.newest === b.newest };
  });
  assert.equal(got.newest, false, 'the spectrogram scrolls');
  assert.equal(got.scale, true, 'the kHz scale lies on a margin of its own');
  if (process.env.QUORLAX_SCREENSHOT) await page.raw.screenshot({ path: process.env.QUORLAX_SCREENSHOT });
  await page.close();
});

test('at 96000 Hz the worklet resamples the microphone and still hears', { skip }, async () => {
  const page = await demo();
  const rate = await page.evaluate(async () => {
    const heard = await window.quorlaxDemo.startListening({ context: new AudioContext({ sampleRate: 96000 }) });
    return heard && [heard.inputRate, heard.rate, heard.resampled];
  });
  assert.deepEqual(rate, [96000, 48000, true]);
  assert.match(await page.evaluate(() => document.getElementById('listen-status').textContent), /at 96000 Hz \(resampled to 48000 Hz\)/);
  const row = await page.waitFor((text) => {
    const tr = document.querySelector(`#heard tr[data-text="${text}"]`);
    return tr && [...tr.cells].map((c) => c.textContent);
  }, TEXT);
  assert.deepEqual(row.slice(1, 4), [TEXT, 'ok', 'audible']);
  await page.evaluate(() => window.quorlaxDemo.stopListening());
  assert.deepEqual(await page.errors(), []);
  await page.close();
});

test('at 16000 Hz the page says that no band fits', { skip }, async () => {
  const page = await demo();
  const started = await page.evaluate(async () =>
    Boolean(await window.quorlaxDemo.startListening({ context: new AudioContext({ sampleRate: 16000 }) })));
  assert.equal(started, false);
  const status = await page.evaluate(() => [document.getElementById('listen-status').textContent, document.getElementById('listen-status').className]);
  assert.match(status[0], /no band fits: audio at 16000 Hz carries sound up to 8000 Hz.*Bluetooth headset.*\[code -7\]/);
  assert.equal(status[1], 'error');
  await page.close();
});

test('what the page plays, listen() hears (through a MediaStreamAudioDestinationNode)', { skip }, async () => {
  const page = await demo();
  const got = await page.evaluate(async () => {
    document.getElementById('text').value = 'loop0back';
    document.getElementById('send-mode').value = 'compression';
    const { quorlax, send } = window.quorlaxDemo;
    const context = new AudioContext();
    const destination = new MediaStreamAudioDestinationNode(context);
    const messages = [];
    const heard = await quorlax.listen(destination.stream, (m) => messages.push(m), { context, mode: 'all' });
    const playing = await send({ context, destination });
    await playing.ended;
    await new Promise((r) => setTimeout(r, 300));
    await heard.stop();
    await context.close();
    return messages;
  });
  assert.deepEqual(got.map((m) => [m.text, m.ok, m.band]), [['loop0back', true, 'compression']]);
  assert.deepEqual(await page.errors(), []);
  await page.close();
});
