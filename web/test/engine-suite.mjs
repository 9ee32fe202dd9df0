// The package in one browser engine: it loads (the build its SIMD support
// picks), encode() gives the native encoder's samples, a Listener hears pushed
// arrays in every mode at 44100 and 48000 Hz with and without SIMD (the two
// builds agree to the bit), play() renders, listen() hears through an
// AudioWorklet at 44100, 48000 and 96000 Hz, the demo page shows what it heard
// from the microphone, the voice filters are reported, and what the platform
// lacks or refuses is a QuorlaxPlatformError. `full` adds the no-SIMD build to
// every worklet rate; one engine runs it, the others the essentials.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import wavefile from 'wavefile';
import { encode, load } from '../dist/index.js';
import { launch, missing, serveWeb, supports } from './engines.mjs';
import { soundServerMissing, startSoundServer } from './sound-server.mjs';
import { nativeCli, random, scene, seed, ulpDistance } from './support.mjs';

const MODES = ['audible', 'nonaudible', 'compression', 'all', 'custom'];
const RATES = [44100, 48000];
const WORKLET_RATES = [44100, 48000, 96000];
// What a listener in each mode reports for a transmission sent in it ("all" sends non-audible).
const HEARD_AS = { audible: 'audible', nonaudible: 'nonaudible', compression: 'compression', all: 'nonaudible', custom: 'custom' };
const TEXTS = ['hello1234', '0vq7ab9k2'];
const MIC_TEXT = 'heard5678';
const PAGE = '/test/page/';
const VOICE_FILTERS = ['echoCancellation', 'noiseSuppression', 'autoGainControl'];

function floats(base64) {
  const bytes = Buffer.from(base64, 'base64');
  return new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
}

// The microphone's WAV: noise, a transmission, noise, as 16-bit samples at 48000 Hz.
function writeMicrophoneWav(file, rnd) {
  const rate = 48000;
  const { audio } = scene([encode(MIC_TEXT, { mode: 'audible', rate })], { rate, rnd, lead: 0.5, tail: 0.7, gain: 0.5, noise: 0.02 });
  const wav = new wavefile.WaveFile();
  wav.fromScratch(1, rate, '16', Int16Array.from(audio, (x) => Math.max(-32768, Math.min(32767, Math.round(x * 32767)))));
  writeFileSync(file, wav.toBuffer());
}

/** Registers the suite for engine `name` (chromium, firefox or webkit). */
export function engineTests(name, { full = false } = {}) {
  // CI installs every engine (scripts/install-deps.sh): there a missing one fails.
  const skip = !process.env.CI && (missing(name) || (name === 'firefox' && soundServerMissing()));
  const SEED = seed();
  const work = mkdtempSync(join(tmpdir(), `quorlax-${name}-`));
  const wavFile = join(work, 'microphone.wav');
  let server;
  let sound = null;
  let browser;
  let label = name;
  let pushedBySimd = null;

  before(async () => {
    if (skip) return;
    await load();
    writeMicrophoneWav(wavFile, random(SEED));
    server = await serveWeb({ '/test/microphone.wav': wavFile });
    if (name === 'firefox') sound = await startSoundServer();
    browser = await launch(name, supports(name, 'microphoneWav') ? { microphoneWav: wavFile } : { env: sound?.env });
    label = `${name} ${browser.version}`;
    console.log(`# ${label}: seed ${SEED} (QUORLAX_SEED reruns it)`);
  });
  after(async () => {
    await browser?.close();
    await sound?.stop();
    await server?.close();
    rmSync(work, { recursive: true, force: true });
  });

  async function withPage(url, fn, on = browser) {
    const page = await on.open(url);
    try {
      await page.waitFor(() => Boolean(window.quorlaxTest ?? window.quorlaxDemo));
      return await fn(page);
    } finally {
      await page.close();
    }
  }

  describe(`${name}`, { skip }, () => {
    test('loads the build its SIMD support picks', async (t) => {
      const got = await withPage(`${server.url}${PAGE}`, (p) => p.evaluate(() => window.quorlaxTest.start()));
      t.diagnostic(`${label}: ${got.version}, WebAssembly SIMD ${got.simdSupported ? 'yes' : 'no'}`);
      assert.match(got.version, /^Quorlax version \d+\.\d+\.\d+/);
      assert.equal(got.build.simd, got.simdSupported);
    });

    const cli = nativeCli();
    test('encode() gives the native encoder\'s samples in every mode at 44100 and 48000 Hz',
      { skip: !cli && 'no native quorlax program (build/tools/quorlax; set QUORLAX_CLI)' }, async () => {
        const cases = MODES.flatMap((mode) => RATES.map((rate) => ({ text: 'hello1234', mode, rate })));
        const got = await withPage(`${server.url}${PAGE}`, async (p) => {
          await p.evaluate(() => window.quorlaxTest.start());
          return p.evaluate((c) => window.quorlaxTest.encodeEach(c), cases);
        });
        cases.forEach((c, i) => {
          const out = execFileSync(cli, ['encode', c.text, '-m', c.mode, '-r', String(c.rate), '-o', '-'], { maxBuffer: 1 << 26 });
          const native = new Float32Array(out.buffer.slice(out.byteOffset, out.byteOffset + out.length));
          const wasm = floats(got[i]);
          assert.equal(wasm.length, native.length, `${c.mode} ${c.rate}`);
          // As in Node: libm's sin may differ in a last bit at near-ties, never more.
          let differ = 0;
          for (let k = 0; k < wasm.length; k++) {
            if (Object.is(wasm[k], native[k])) continue;
            differ++;
            assert.ok(ulpDistance(wasm[k], native[k]) <= 1, `${c.mode} ${c.rate}: sample ${k} ${wasm[k]} vs ${native[k]}`);
          }
          assert.ok(differ <= wasm.length * 1e-4, `${c.mode} ${c.rate}: ${differ} samples differ`);
        });
      });

    const PUSHED = { modes: MODES, rates: RATES, texts: TEXTS, seed: SEED };
    // What the SIMD build hears, worked out once for the two tests that need it.
    const pushedWithSimd = () => {
      pushedBySimd ??= withPage(`${server.url}${PAGE}`, async (p) => {
        await p.evaluate(() => window.quorlaxTest.start());
        return p.evaluate((a) => window.quorlaxTest.hearPushed(a), PUSHED);
      });
      return pushedBySimd;
    };

    test('a Listener hears pushed arrays in every mode at 44100 and 48000 Hz', async () => {
      const got = await pushedWithSimd();
      for (const { mode, rate, offsets, messages } of got) {
        const where = `${mode} at ${rate} Hz`;
        assert.deepEqual(messages.map((m) => [m.text, m.ok, m.band]), TEXTS.map((t) => [t, true, HEARD_AS[mode]]), where);
        messages.forEach((m, i) => assert.ok(Math.abs(m.start - offsets[i]) <= rate / 50, `${where}: start ${m.start} vs ${offsets[i]}`));
      }
    });

    test('without SIMD: the fallback build hears exactly what the SIMD build hears', async (t) => {
      // Where the engine can run WebAssembly without SIMD, the package must pick
      // the fallback by itself; elsewhere the page forces it.
      const forced = !supports(name, 'noSimd');
      const plain = forced ? browser : await launch(name, { noSimd: true, env: sound?.env });
      try {
        const got = await withPage(`${server.url}${PAGE}`, async (p) => {
          const loaded = await p.evaluate((simd) => window.quorlaxTest.start(simd), forced ? { simd: false } : {});
          const pushed = await p.evaluate((a) => window.quorlaxTest.hearPushed(a), PUSHED);
          const rates = full ? WORKLET_RATES : [48000];
          const worklet = [];
          for (const rate of rates) worklet.push(await p.evaluate((a) => window.quorlaxTest.listenToWav(a), { url: '/test/microphone.wav', rate }));
          return { loaded, pushed, worklet };
        }, plain);
        t.diagnostic(`${label}: ${forced ? 'fallback forced by load({ simd: false })' : 'an engine run without WebAssembly SIMD picked the fallback'}`);
        assert.equal(got.loaded.build.simd, false);
        if (!forced) assert.equal(got.loaded.simdSupported, false);
        assert.deepEqual(got.pushed, await pushedWithSimd(), 'every message, field for field');
        for (const w of got.worklet) assert.deepEqual(w.messages.map((m) => [m.text, m.ok]), [[MIC_TEXT, true]], `worklet at ${w.inputRate} Hz`);
      } finally {
        if (!forced) await plain.close();
      }
    });

    for (const { mode, rate } of [{ mode: 'audible', rate: 48000 }, { mode: 'nonaudible', rate: 44100 }]) {
      test(`play() renders the transmission: ${mode} at ${rate} Hz`, async () => {
        const got = await withPage(`${server.url}${PAGE}`, async (p) => {
          await p.evaluate(() => window.quorlaxTest.start());
          return p.evaluate((a) => window.quorlaxTest.renderPlay(a), { text: 'QUORLAS42', mode, rate });
        });
        const expected = encode('QUORLAS42', { mode, rate });
        const rendered = floats(got.samples);
        assert.equal(got.length, expected.length);
        assert.equal(got.rate, rate);
        // A buffer source at the context's own rate passes samples through unchanged.
        assert.deepEqual(rendered.subarray(0, expected.length), expected);
        assert.ok(rendered.subarray(expected.length).every((x) => x === 0));
      });
    }

    test('listen() hears through an AudioWorklet at 44100, 48000 and 96000 Hz', async (t) => {
      const got = await withPage(`${server.url}${PAGE}`, async (p) => {
        await p.evaluate(() => window.quorlaxTest.start());
        const out = [];
        for (const rate of WORKLET_RATES) out.push(await p.evaluate((a) => window.quorlaxTest.listenToWav(a), { url: '/test/microphone.wav', rate }));
        return out;
      });
      for (const [i, rate] of WORKLET_RATES.entries()) {
        const w = got[i];
        t.diagnostic(`${label}: context at ${w.inputRate} Hz, listener at ${w.rate} Hz${w.resampled ? ' (resampled)' : ''}` +
          (w.plays > 1 ? `, heard on play ${w.plays} of the WAV` : ''));
        assert.equal(w.inputRate, rate, 'the engine runs the context at the rate asked for');
        assert.equal(w.resampled, rate === 96000);
        assert.deepEqual(w.messages.map((m) => [m.text, m.ok, m.band]), [[MIC_TEXT, true, 'audible']], `at ${rate} Hz`);
      }
    });

    test('the demo page shows the message it heard', async (t) => {
      const got = await withPage(`${server.url}/demo/`, async (p) => {
        await p.evaluate(() => window.quorlaxDemo.ready);
        if (name === 'webkit') {
          t.diagnostic(`${label}: its microphone cannot be a WAV file (the mock device plays a tone), so the demo ` +
            'listens to a MediaStream made from the WAV inside the page');
          await p.evaluate(async () => {
            await import('/test/page/page.mjs');
            const context = new AudioContext();
            const wav = await window.quorlaxTest.wavStream(context, '/test/microphone.wav');
            await window.quorlaxDemo.startListening({ stream: wav.stream, context });
            wav.play();
          });
        } else {
          t.diagnostic(`${label}: the WAV is its microphone (${name === 'chromium' ? 'a fake capture device' : 'played into the sound server it captures from'})`);
          await p.evaluate(() => window.quorlaxDemo.startListening());
          await p.waitFor(() => /^Listening at/.test(document.getElementById('listen-status').textContent));
          if (sound) await sound.play(wavFile);
        }
        const row = await p.waitFor((text) => {
          const tr = document.querySelector(`#heard tr[data-text="${text}"]`);
          return tr && [...tr.cells].map((c) => c.textContent);
        }, MIC_TEXT);
        const status = await p.evaluate(() => document.getElementById('listen-status').textContent);
        await p.evaluate(() => window.quorlaxDemo.stopListening());
        return { row, status, errors: await p.errors() };
      });
      assert.match(got.status, /^Listening at \d+ Hz.*: audible, nonaudible, compression/);
      const [time, text, check, band, level] = got.row;
      assert.deepEqual([text, check, band], [MIC_TEXT, 'ok', 'audible']);
      assert.match(level, /^-\d+(\.\d)? dB$/);
      assert.match(time, /\(\d+\.\d\d s\)/);
      assert.deepEqual(got.errors, []);
    });

    test('voice filters: asked off, and reported as the engine applies them', async (t) => {
      const [off, on] = await withPage(`${server.url}${PAGE}`, async (p) => [
        await p.evaluate(() => window.quorlaxTest.voiceFilters({})),
        await p.evaluate((c) => window.quorlaxTest.voiceFilters(c), Object.fromEntries(VOICE_FILTERS.map((f) => [f, true]))),
      ]);
      const said = (r) => VOICE_FILTERS.map((f) => `${f} ${r[f] === null ? 'not reported' : r[f] ? 'on' : 'off'}`).join(', ');
      t.diagnostic(`${label}: asked off: ${said(off.report)}; asked on: ${said(on.report)}`);
      t.diagnostic(`${label}: microphone captures at ${off.captureRate ? `${off.captureRate} Hz` : 'a rate it does not report'}, an AudioContext left to the engine runs at ${off.contextRate} Hz`);
      const got = { off: off.report, on: on.report };
      assert.deepEqual(got.off.keptOn, [], 'every engine here lets a page turn them off');
      const reported = VOICE_FILTERS.filter((f) => got.off[f] !== null);
      assert.ok(reported.length > 0, 'the engine reports at least one filter');
      // Asked on, the report follows: nothing the engine does not report is claimed on.
      assert.deepEqual(got.on.keptOn, VOICE_FILTERS.filter((f) => got.on[f] === true));
      assert.ok(got.on.keptOn.length > 0, 'the filters asked on show as on');
    });

    test('what the platform lacks or refuses is a QuorlaxPlatformError with its own code and sentence', async (t) => {
      const inPage = (call) => withPage(`${server.url}${PAGE}`, (p) => p.evaluate((c) => window.quorlaxTest.errorOf(c), call));
      const cases = [['no AudioWorklet', await inPage('listenWithoutWorklet'), 'no-audio-worklet', /no AudioWorklet/]];
      // One engine started without WebAssembly and refusing the microphone, where
      // it has those switches; its requests go to the test server whatever the host.
      const options = { proxy: server.port, env: sound?.env };
      for (const o of ['noWebAssembly', 'denyMicrophone']) {
        if (supports(name, o)) options[o] = true;
        else t.diagnostic(`${label}: no switch for ${o} here${o === 'noWebAssembly' ? ': the page hides WebAssembly instead' : ''}`);
      }
      if (!options.noWebAssembly) cases.push(['no WebAssembly (hidden)', await inPage('loadWithoutWebAssembly'), 'no-webassembly', /no WebAssembly/]);
      const restricted = await launch(name, options);
      try {
        const open = (url, fn) => withPage(url, fn, restricted);
        const secure = `${server.url}${PAGE}`;
        if (options.noWebAssembly) {
          cases.push(['no WebAssembly', await open(secure, (p) => p.evaluate(() => window.quorlaxTest.errorOf('load'))), 'no-webassembly', /no WebAssembly/]);
        }
        if (options.denyMicrophone) {
          cases.push(['microphone refused', await open(secure, (p) => p.evaluate(() => window.quorlaxTest.errorOf('microphone'))),
            'microphone-denied', /permission was refused/]);
        }
        const insecure = await open('http://quorlax.test/test/page/', (p) => p.evaluate(async () => ({
          secure: window.isSecureContext,
          listen: await window.quorlaxTest.errorOf('listen'),
          microphone: await window.quorlaxTest.errorOf('microphone'),
        })));
        assert.equal(insecure.secure, false, 'a page from http://quorlax.test is no secure context');
        cases.push(['listen() over plain http', insecure.listen, 'insecure-context', /secure context: serve the page over https.*http:\/\/quorlax\.test/]);
        cases.push(['microphone() over plain http', insecure.microphone, 'insecure-context', /secure context/]);
      } finally {
        await restricted.close();
      }
      for (const [why, error, code, sentence] of cases) {
        assert.ok(error, `${why}: no error`);
        assert.equal(error.name, 'QuorlaxPlatformError', `${why}: ${JSON.stringify(error)}`);
        assert.equal(error.code, code, why);
        assert.match(error.message, sentence, why);
      }
    });
  });
}
