// The WebAssembly encoder against the native one, and its bad-input paths.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { test } from 'node:test';
import { MODES, QuorlaxError, encode, load, version } from '../dist/index.js';
import { nativeCli, ulpDistance } from './support.mjs';

await load();

test('version', () => {
  assert.match(version(), /^Quorlax version \d+\.\d+\.\d+/);
});

const CASES = [];
for (const mode of ['audible', 'nonaudible', 'compression', 'all', 'custom']) {
  for (const rate of [44100, 48000]) CASES.push({ mode, rate });
}
CASES.push({ mode: 'audible', rate: 22050 }, { mode: 'custom', rate: 22050, base: 3000, separation: 1 });
CASES.push({ mode: 'custom', rate: 48000, base: 12000, separation: 0 });

const cli = nativeCli();
for (const c of CASES) {
  test(`samples equal the native encoder's: ${JSON.stringify(c)}`, { skip: !cli && 'no native quorlax program (build/tools/quorlax; set QUORLAX_CLI)' }, (t) => {
    for (const text of ['hello1234', '0000000vv', 'QUORLAS42']) {
      const { mode, rate, base, separation } = c;
      const wasm = encode(text, c);
      const args = ['encode', text, '-m', mode, '-r', String(rate), '-o', '-'];
      if (base !== undefined) args.push('--base', String(base), '--separation', String(separation));
      const out = execFileSync(cli, args, { maxBuffer: 1 << 26 });
      const native = new Float32Array(out.buffer.slice(out.byteOffset, out.byteOffset + out.length));
      assert.equal(wasm.length, native.length);
      // The encoders leave near-ties to libm's sin, and musl's and glibc's may
      // differ in the last double bit there: at most one float step apart.
      let differ = 0;
      let worst = 0;
      let biggest = 0;
      for (let i = 0; i < wasm.length; i++) {
        if (Object.is(wasm[i], native[i])) continue;
        differ++;
        worst = Math.max(worst, ulpDistance(wasm[i], native[i]));
        biggest = Math.max(biggest, Math.abs(wasm[i] - native[i]));
      }
      if (differ) t.diagnostic(`${text} ${mode} ${rate}: ${differ} of ${wasm.length} samples differ, by at most ${worst} float step(s) (${biggest.toExponential(2)})`);
      assert.ok(worst <= 1, `${text}: a sample differs by ${worst} float steps`);
      assert.ok(differ <= wasm.length * 1e-4, `${text}: ${differ} samples differ`);
    }
  });
}

test('every message character is accepted in either case', () => {
  const alphabet = '0123456789abcdefghijklmnopqrstuv';
  for (let i = 0; i < alphabet.length; i += 9) {
    const text = alphabet.slice(i, i + 9).padEnd(9, '0');
    assert.deepEqual(encode(text.toUpperCase()), encode(text), text);
  }
});

test('mode by name or by value', () => {
  for (const [name, value] of Object.entries(MODES)) {
    assert.deepEqual(encode('abcdefghi', { mode: value, rate: 48000 }), encode('abcdefghi', { mode: name, rate: 48000 }), name);
  }
});

// Each error names the argument at fault (and never blames another).
const BAD = [
  { why: 'eight characters', text: 'hello123', options: {}, code: -4, names: /message "hello123"/ },
  { why: 'ten characters', text: 'hello12345', options: {}, code: -4, names: /message "hello12345"/ },
  { why: 'a character outside the alphabet', text: 'hellow123', options: {}, code: -4, names: /message "hellow123"/ },
  { why: 'a non-ASCII character', text: 'héllo1234', options: {}, code: -4, names: /message "héllo1234"/ },
  { why: 'a zero byte', text: 'hell\0o123', options: {}, code: -4, names: /message "hell\\u0000o123"/ },
  { why: 'an unknown mode name', text: 'hello1234', options: { mode: 'loud' }, code: -1, names: /^unknown mode "loud": the modes are audible \(2\)/ },
  { why: 'an unknown mode value', text: 'hello1234', options: { mode: 7 }, code: -1, names: /^unknown mode 7: the modes are audible \(2\), nonaudible \(3\), compression \(4\), all \(5\), custom \(6\)$/ },
  { why: 'a mode value as a string', text: 'hello1234', options: { mode: '2' }, code: -1, names: /^unknown mode "2"/ },
  { why: 'a rate without a band', text: 'hello1234', options: { rate: 16000 }, code: -7, names: /mode 2 at 16000 Hz/ },
  { why: 'non-audible at 22050 Hz', text: 'hello1234', options: { mode: 'nonaudible', rate: 22050 }, code: -7, names: /mode 3 at 22050 Hz/ },
  { why: 'a rate that is no number', text: 'hello1234', options: { rate: '44100' }, code: -4, names: /rate must be a number.*not "44100"/ },
  { why: 'a negative rate', text: 'hello1234', options: { rate: -44100 }, code: -7, names: /at -44100 Hz/ },
  { why: 'an infinite rate', text: 'hello1234', options: { rate: Infinity }, code: -7, names: /at Infinity Hz/ },
  { why: 'a custom grid above the spectrum', text: 'hello1234', options: { mode: 'custom', base: 21000, separation: 0 }, code: -7, names: /custom grid from 21000 Hz with separation 0 at 44100 Hz/ },
  { why: 'a negative custom separation', text: 'hello1234', options: { mode: 'custom', base: 3000, separation: -1 }, code: -4, names: /separation -1: it must be 0 or more/ },
  { why: 'a custom separation too wide', text: 'hello1234', options: { mode: 'custom', base: 3000, separation: 1000 }, code: -7, names: /custom grid from 3000 Hz with separation 1000/ },
  { why: 'a fractional custom separation', text: 'hello1234', options: { mode: 'custom', base: 3000, separation: 1.5 }, code: -4, names: /separation must be a whole number, not 1.5/ },
  { why: 'a separation without a base', text: 'hello1234', options: { mode: 'custom', separation: 1 }, code: -4, names: /separation 1 was given without the custom grid's base/ },
  { why: 'a base that is no number', text: 'hello1234', options: { mode: 'custom', base: '3000' }, code: -4, names: /base must be a number of Hz, not "3000"/ },
  { why: 'a grid outside custom mode', text: 'hello1234', options: { mode: 'audible', base: 3000 }, code: -1, names: /^base and separation apply to the custom mode only$/ },
];
for (const b of BAD) {
  test(`bad input raises the library's code and names the argument: ${b.why}`, () => {
    assert.throws(() => encode(b.text, b.options), (e) => {
      assert.ok(e instanceof QuorlaxError, `${e}`);
      assert.equal(e.code, b.code);
      assert.match(e.message, b.names);
      if (b.code !== -4 || !/message/.test(String(b.names))) assert.doesNotMatch(e.message, /message "/);
      assert.doesNotMatch(e.message, /more audio is needed/);
      return true;
    });
  });
}

test('text that is not a string is a TypeError', () => {
  for (const v of [undefined, null, 123456789, ['hello1234']]) assert.throws(() => encode(v), TypeError);
});
