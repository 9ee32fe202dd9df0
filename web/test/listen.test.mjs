// Round trips through the WebAssembly listener: every mode, both rates,
// chunk sizes from 1 to 100000, bands and plans, bad input.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { Listener, QuorlaxError, bands, encode, listenPlan, load } from '../dist/index.js';
import { random, scene, seed } from './support.mjs';

await load();
const SEED = seed();
console.log(`# seed ${SEED} (QUORLAX_SEED reruns it)`);

function hear(audio, options, chunk) {
  const l = new Listener(options);
  const got = [];
  try {
    for (let i = 0; i < audio.length; i += chunk) got.push(...l.push(audio.subarray(i, i + chunk)));
    got.push(...l.flush());
  } finally {
    l.close();
  }
  return got;
}

// What each listening mode reports for a transmission sent in it ("all" sends non-audible).
const HEARD_AS = { audible: 'audible', nonaudible: 'nonaudible', compression: 'compression', all: 'nonaudible', custom: 'custom' };

for (const mode of Object.keys(HEARD_AS)) {
  for (const rate of [44100, 48000]) {
    test(`round trip: ${mode} at ${rate} Hz (seed ${SEED})`, () => {
      const rnd = random(SEED ^ rate);
      const texts = ['hello1234', '0vq7ab9k2'];
      const { audio, offsets } = scene(texts.map((t) => encode(t, { mode, rate })), { rate, rnd });
      const got = hear(audio, { mode, rate }, 4096);
      assert.deepEqual(got.map((m) => m.text), texts);
      got.forEach((m, i) => {
        assert.equal(m.ok, true);
        assert.equal(m.band, HEARD_AS[mode]);
        const length = encode(texts[i], { mode, rate }).length;
        // The door is found within a hop or two of where it was laid.
        assert.ok(Math.abs(m.start - offsets[i]) <= rate / 50, `start ${m.start} vs ${offsets[i]}`);
        assert.ok(Math.abs(m.end - (offsets[i] + length)) <= rate / 50, `end ${m.end} vs ${offsets[i] + length}`);
        // Gain 0.5 puts the tones about 6 dB and more below full scale.
        assert.ok(m.levelDb < -3 && m.levelDb > -40, `level ${m.levelDb}`);
        assert.ok(m.confidence > 0 && m.confidence <= 1, `confidence ${m.confidence}`);
        // Sent and heard at one rate: neither pitch nor tempo is off.
        assert.ok(Math.abs(m.pitchOffset) < 5e-4 && Math.abs(m.tempoOffset) < 1e-3, `offsets ${m.pitchOffset} ${m.tempoOffset}`);
      });
    });
  }
}

test(`mode all hears each band and names it (seed ${SEED})`, () => {
  const rate = 48000;
  const rnd = random(SEED + 1);
  const sent = [['audible', 'abcdefghi'], ['compression', 'jklmnopqr'], ['nonaudible', 'stuv01234']];
  const { audio } = scene(sent.map(([mode, t]) => encode(t, { mode, rate })), { rate, rnd });
  const got = hear(audio, { mode: 'all', rate }, 2048);
  assert.deepEqual(got.map((m) => [m.band, m.text]), sent);
});

test(`chunk sizes from 1 to 100000 give the same messages (seed ${SEED})`, () => {
  const rate = 44100;
  const rnd = random(SEED + 2);
  const { audio } = scene([encode('chunk5678', { mode: 'audible', rate })], { rate, rnd, lead: 0.7, tail: 0.3 });
  const reference = hear(audio, { mode: 'all', rate }, audio.length);
  assert.equal(reference.length, 1);
  assert.equal(reference[0].text, 'chunk5678');
  for (const chunk of [1, 2, 3, 100, 127, 128, 1000, 4096, 8191, 100000]) {
    assert.deepEqual(hear(audio, { mode: 'all', rate }, chunk), reference, `chunk ${chunk}`);
  }
});

test('a transmission that ends exactly at the end of the stream is completed by flush', () => {
  const rate = 48000;
  const tx = encode('flush0123', { mode: 'compression', rate });
  const l = new Listener({ mode: 'compression', rate });
  const pushed = l.push(tx);
  const flushed = l.flush();
  l.close();
  assert.deepEqual([...pushed, ...flushed].map((m) => m.text), ['flush0123']);
});

test('a custom grid is heard by a listener on the same grid only', () => {
  const rate = 48000;
  const grid = { base: 10000, separation: 0 };
  const defaultGrid = bands(rate, 'custom');
  const tx = encode('custom123', { mode: 'custom', rate, ...grid });
  const { audio } = scene([tx], { rate, rnd: random(SEED + 3), noise: 0.005 });
  assert.deepEqual(hear(audio, { mode: 'custom', rate, ...grid }, 4096).map((m) => m.text), ['custom123']);
  assert.deepEqual(hear(audio, { mode: 'custom', rate }, 4096), []);
  assert.deepEqual(bands(rate, 'custom'), defaultGrid, 'the default grid is back');
  assert.notEqual(Math.round(defaultGrid[0].toneHz[0]), 10000);
});

test('samples may be any array of numbers', () => {
  const rate = 48000;
  const tx = Array.from(encode('list45678', { rate }));
  const l = new Listener({ rate, mode: 'audible' });
  const got = [...l.push(new Array(2000).fill(0)), ...l.push(tx), ...l.flush()];
  l.close();
  assert.deepEqual(got.map((m) => m.text), ['list45678']);
});

test('bands come from the library and fit below half the rate', () => {
  for (const rate of [44100, 48000]) {
    const all = bands(rate);
    assert.deepEqual(all.map((b) => b.name), ['audible', 'nonaudible', 'compression']);
    for (const b of all) {
      assert.equal(b.toneHz.length, 9);
      for (let i = 1; i < 9; i++) assert.ok(b.toneHz[i] > b.toneHz[i - 1], `${b.name} grid ascends`);
      assert.ok(b.lowHz <= b.toneHz[0] && b.highHz >= b.toneHz[8] + 2 * b.shiftHz - 1, b.name);
      assert.ok(b.highHz < rate / 2, `${b.name} below ${rate / 2}`);
    }
  }
  assert.deepEqual(bands(22050).map((b) => b.name), ['audible']);
  assert.deepEqual(bands(22050, 'audible').map((b) => b.name), ['audible']);
  assert.deepEqual(bands(16000), []);
});

const PLANS = [
  { input: 44100, rate: 44100, resampled: false, bands: ['audible', 'nonaudible', 'compression'] },
  { input: 48000, rate: 48000, resampled: false, bands: ['audible', 'nonaudible', 'compression'] },
  { input: 96000, rate: 48000, resampled: true, bands: ['audible', 'nonaudible', 'compression'] },
  { input: 88200, rate: 44100, resampled: true, bands: ['audible', 'nonaudible', 'compression'] },
  { input: 32000, rate: 48000, resampled: true, bands: ['audible', 'compression'] },
  { input: 22050, rate: 44100, resampled: true, bands: ['audible'] },
  { input: 22050, mode: 'audible', rate: 22050, resampled: false, bands: ['audible'] },
];
for (const p of PLANS) {
  test(`listening at ${p.input} Hz in mode ${p.mode ?? 'all'}: ${p.resampled ? `resampled to ${p.rate}` : 'directly'}`, () => {
    const plan = listenPlan(p.input, { mode: p.mode ?? 'all' });
    assert.equal(plan.rate, p.rate);
    assert.equal(plan.resampled, p.resampled);
    assert.deepEqual(plan.bands.map((b) => b.name), p.bands);
  });
}

test('no band at 16000 Hz (a headset in call mode) is said plainly', () => {
  for (const mode of ['all', 'audible', 'compression']) {
    assert.throws(() => listenPlan(16000, { mode }), (e) => {
      assert.ok(e instanceof QuorlaxError);
      assert.equal(e.code, -7);
      assert.match(e.message, /no band fits: audio at 16000 Hz carries sound up to 8000 Hz/);
      assert.match(e.message, /Bluetooth headset/);
      return true;
    });
  }
});

const BAD = [
  { why: 'an unknown mode', options: { mode: 'loud' }, code: -1, names: /^unknown mode "loud"/ },
  { why: 'mode 1', options: { mode: 1 }, code: -1, names: /^unknown mode 1: the modes are/ },
  { why: 'mode 7', options: { mode: 7 }, code: -1, names: /^unknown mode 7: the modes are/ },
  { why: 'a rate without a band', options: { rate: 16000 }, code: -7, names: /mode 5 at 16000 Hz/ },
  { why: 'non-audible at 22050 Hz', options: { mode: 'nonaudible', rate: 22050 }, code: -7, names: /mode 3 at 22050 Hz/ },
  { why: 'a negative rate', options: { rate: -48000 }, code: -7, names: /at -48000 Hz/ },
  { why: 'a rate that is not a number', options: { rate: 'fast' }, code: -4, names: /rate must be a number.*not "fast"/ },
  { why: 'a custom grid above the spectrum', options: { mode: 'custom', rate: 48000, base: 23000, separation: 0 }, code: -7, names: /custom grid from 23000 Hz with separation 0 at 48000 Hz/ },
  { why: 'a negative custom separation', options: { mode: 'custom', rate: 48000, base: 3000, separation: -2 }, code: -4, names: /separation -2: it must be 0 or more/ },
  { why: 'a grid outside custom mode', options: { mode: 'all', rate: 48000, base: 3000 }, code: -1, names: /^base and separation apply to the custom mode only$/ },
];
for (const b of BAD) {
  test(`a bad listener raises the library's code and names the argument: ${b.why}`, () => {
    assert.throws(() => new Listener(b.options), (e) => {
      assert.ok(e instanceof QuorlaxError, String(e));
      assert.equal(e.code, b.code);
      assert.match(e.message, b.names);
      assert.doesNotMatch(e.message, /more audio is needed/);
      return true;
    });
  });
}

test('bad pushes', () => {
  const l = new Listener({ rate: 48000 });
  assert.throws(() => l.push('noise'), TypeError);
  assert.throws(() => l.push(null), TypeError);
  assert.deepEqual(l.push(new Float32Array(0)), []);
  l.close();
  l.close();
  assert.throws(() => l.push(new Float32Array(10)), /closed/);
  assert.throws(() => l.flush(), /closed/);
});

test(`reportFailed: a transmission with ten tokens drowned is reported failed only when asked (seed ${SEED})`, () => {
  const rate = 44100;
  const tx = encode('fail01234', { mode: 'audible', rate });
  const token = tx.length / 20;
  const rnd = random(SEED + 4);
  // Tokens 2..11 become loud noise: far more than the eight parity tokens can correct, even
  // for the luckiest of the readers of neighbouring doors.
  for (let i = 2 * token; i < 12 * token; i++) tx[i] = 1.6 * rnd();
  const { audio } = scene([tx], { rate, rnd, noise: 0.005 });
  assert.deepEqual(hear(audio, { mode: 'audible', rate }, 4096), []);
  const failed = hear(audio, { mode: 'audible', rate, reportFailed: true }, 4096);
  assert.equal(failed.length, 1);
  assert.equal(failed[0].ok, false);
  assert.equal(failed[0].band, 'audible');
  assert.equal(failed[0].text.length, 9);
});
