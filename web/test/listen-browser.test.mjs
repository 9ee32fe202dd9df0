// Listening in headless chromium: the demo hears a fake microphone (a WAV of
// noise and a transmission), at the device's rate and resampled from 96000 Hz;
// at 16000 Hz it says plainly that no band fits; and what the page plays, it hears.
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import wavefile from 'wavefile';
import { encode, load } from '../dist/index.js';
import { haveChromium, launch, openPage, serveWeb } from './browser.mjs';
import { random, scene, seed } from './support.mjs';

const skip = !haveChromium && 'no chromium (apt-get install chromium)';
const SEED = seed();
const TEXT = 'heard5678';
const work = mkdtempSync(join(tmpdir(), 'quorlax-mic-'));
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
  console.log(`# seed ${SEED}: ${file}`);
  server = await serveWeb();
  browser = await launch(['--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream',
    `--use-file-for-fake-audio-capture=${file}`]);
});
after(async () => {
  await browser?.close();
  await server?.close();
  rmSync(work, { recursive: true, force: true });
});

async function heardRow(page, text) {
  await page.waitForSelector(`#heard tr[data-text="${text}"]`, { timeout: 30000 });
  return page.$eval(`#heard tr[data-text="${text}"]`, (tr) => [...tr.cells].map((c) => c.textContent));
}

test('the demo listens to the microphone and shows what it heard', { skip }, async () => {
  const page = await openPage(browser, `${server.url}/demo/`);
  await page.setViewport({ width: 1024, height: 1000 });
  await page.evaluate(() => window.quorlaxDemo.ready);
  await page.click('#listen');
  await page.waitForFunction(() => /^Listening at/.test(document.getElementById('listen-status').textContent));
  const status = await page.$eval('#listen-status', (el) => el.textContent);
  assert.match(status, /audible, nonaudible, compression/);
  const [time, text, check, band, level] = await heardRow(page, TEXT);
  assert.equal(text, TEXT);
  assert.equal(check, 'ok');
  assert.equal(band, 'audible');
  assert.match(level, /^-\d+(\.\d)? dB$/);
  assert.match(time, /\(\d+\.\d\d s\)/);
  if (process.env.QUORLAX_SCREENSHOT) await page.screenshot({ path: process.env.QUORLAX_SCREENSHOT });
  await page.click('#listen');
  await page.waitForFunction(() => document.getElementById('listen-status').textContent === 'Stopped.');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('at 96000 Hz the worklet resamples and still hears', { skip }, async () => {
  const page = await openPage(browser, `${server.url}/demo/`);
  await page.evaluate(() => window.quorlaxDemo.ready);
  const rate = await page.evaluate(async () => {
    const heard = await window.quorlaxDemo.startListening({ context: new AudioContext({ sampleRate: 96000 }) });
    return heard && [heard.inputRate, heard.rate, heard.resampled];
  });
  assert.deepEqual(rate, [96000, 48000, true]);
  assert.match(await page.$eval('#listen-status', (el) => el.textContent), /at 96000 Hz \(resampled to 48000 Hz\)/);
  const [, text, check, band] = await heardRow(page, TEXT);
  assert.deepEqual([text, check, band], [TEXT, 'ok', 'audible']);
  await page.evaluate(() => window.quorlaxDemo.stopListening());
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('at 16000 Hz the page says that no band fits', { skip }, async () => {
  const page = await openPage(browser, `${server.url}/demo/`);
  await page.evaluate(() => window.quorlaxDemo.ready);
  const started = await page.evaluate(async () =>
    Boolean(await window.quorlaxDemo.startListening({ context: new AudioContext({ sampleRate: 16000 }) })));
  assert.equal(started, false);
  const status = await page.$eval('#listen-status', (el) => [el.textContent, el.className]);
  assert.match(status[0], /no band fits: audio at 16000 Hz carries sound up to 8000 Hz.*Bluetooth headset.*\[code -7\]/);
  assert.equal(status[1], 'error');
  await page.close();
});

test('what the page plays, listen() hears (through a MediaStreamAudioDestinationNode)', { skip }, async () => {
  const page = await openPage(browser, `${server.url}/demo/`);
  await page.evaluate(() => window.quorlaxDemo.ready);
  await page.$eval('#text', (el) => { el.value = 'loop0back'; });
  await page.select('#send-mode', 'compression');
  const got = await page.evaluate(async () => {
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
  assert.deepEqual(page.errors, []);
  await page.close();
});
