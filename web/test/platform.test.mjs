// What the platform lacks or refuses, in Node: play() and listen() need a
// browser; the microphone's refusals become QuorlaxPlatformErrors with their
// own codes (getUserMedia's errors stood in for by the engine's names); the
// voice filters are read from a track's settings. The real engines refuse
// for real in engine-suite.mjs.
import assert from 'node:assert/strict';
import { afterEach, test } from 'node:test';
import { QuorlaxError, QuorlaxPlatformError, build, listen, load, microphone, play, simdSupported, voiceProcessing } from '../dist/index.js';

await load();

test('the module Node loads is the SIMD build, as its engine has SIMD', () => {
  assert.equal(simdSupported(), true);
  assert.deepEqual(build(), { simd: true });
});

for (const [call, run] of [['play()', () => play('hello1234')], ['listen()', () => listen(null, () => {})], ['microphone()', () => microphone()]]) {
  test(`${call} in Node is a QuorlaxPlatformError that says it needs a browser`, async () => {
    await assert.rejects(run, (e) => {
      assert.ok(e instanceof QuorlaxPlatformError, String(e));
      assert.equal(e.code, 'needs-browser');
      assert.match(e.message, new RegExp(`needs a browser's Web Audio.*in Node, use encode\\(\\) and Listener \\(${call.replace(/[()]/g, '\\$&')}\\)`));
      assert.ok(!(e instanceof QuorlaxError));
      return true;
    });
  });
}

// A page's globals, for the length of one test.
const saved = [];
function stub(name, value) {
  saved.push([name, Object.getOwnPropertyDescriptor(globalThis, name)]);
  Object.defineProperty(globalThis, name, { value, configurable: true, writable: true });
}
afterEach(() => {
  for (const [name, d] of saved.reverse()) {
    if (d) Object.defineProperty(globalThis, name, d);
    else delete globalThis[name];
  }
  saved.length = 0;
});

function domError(name) {
  const e = new Error(`the engine's own words for ${name}`);
  e.name = name;
  return e;
}

function page({ secure = true, getUserMedia } = {}) {
  stub('window', globalThis);
  stub('isSecureContext', secure);
  stub('location', { origin: 'http://shop.example' });
  stub('navigator', { mediaDevices: getUserMedia ? { getUserMedia } : undefined });
}

const REFUSALS = [
  { error: 'NotAllowedError', code: 'microphone-denied', says: /permission was refused.*site settings.*web view.*own permissions/ },
  { error: 'SecurityError', code: 'microphone-denied', says: /permission was refused/ },
  { error: 'NotFoundError', code: 'no-microphone', says: /no microphone was found/ },
  { error: 'OverconstrainedError', code: 'no-microphone', says: /no microphone was found/ },
  { error: 'NotReadableError', code: 'microphone-busy', says: /could not be started: another program may hold it/ },
  { error: 'AbortError', code: 'microphone-busy', says: /could not be started/ },
];
for (const r of REFUSALS) {
  test(`getUserMedia's ${r.error} is a QuorlaxPlatformError '${r.code}' that keeps it as its cause`, async () => {
    const cause = domError(r.error);
    page({ getUserMedia: async () => { throw cause; } });
    await assert.rejects(microphone(), (e) => {
      assert.ok(e instanceof QuorlaxPlatformError, String(e));
      assert.equal(e.code, r.code);
      assert.match(e.message, r.says);
      assert.doesNotMatch(e.message, new RegExp(r.error));
      assert.equal(e.cause, cause);
      return true;
    });
  });
}

test('any other getUserMedia error passes through as it is', async () => {
  const odd = new TypeError('constraints are malformed');
  page({ getUserMedia: async () => { throw odd; } });
  await assert.rejects(microphone(), (e) => e === odd);
});

test('the microphone asked for has the voice filters off, and the caller may override', async () => {
  const asked = [];
  page({ getUserMedia: async (c) => { asked.push(c); return 'stream'; } });
  assert.equal(await microphone(), 'stream');
  await microphone({ echoCancellation: true, deviceId: 'usb' });
  assert.deepEqual(asked, [
    { audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false, channelCount: 1 }, video: false },
    { audio: { echoCancellation: true, noiseSuppression: false, autoGainControl: false, channelCount: 1, deviceId: 'usb' }, video: false },
  ]);
});

test('over plain http the microphone and listening are refused with the secure-context rule', async () => {
  let asked = false;
  page({ secure: false, getUserMedia: async () => { asked = true; } });
  stub('AudioContext', class {});
  stub('AudioWorkletNode', class {});
  for (const run of [() => microphone(), () => listen(null, () => {})]) {
    await assert.rejects(run, (e) => {
      assert.ok(e instanceof QuorlaxPlatformError, String(e));
      assert.equal(e.code, 'insecure-context');
      assert.match(e.message, /need a secure context: serve the page over https \(plain http counts only for localhost\)/);
      assert.match(e.message, /on http:\/\/shop\.example/);
      return true;
    });
  }
  assert.equal(asked, false, 'no permission prompt was shown');
});

test('an engine that gives pages no getUserMedia (an old web view) says so', async () => {
  page();
  await assert.rejects(microphone(), (e) => e instanceof QuorlaxPlatformError && e.code === 'no-media-devices');
});

test('an engine without AudioWorklet says so before it asks for the microphone', async () => {
  let asked = false;
  page({ getUserMedia: async () => { asked = true; } });
  stub('AudioContext', class {});
  await assert.rejects(listen(null, () => {}), (e) => {
    assert.ok(e instanceof QuorlaxPlatformError, String(e));
    assert.equal(e.code, 'no-audio-worklet');
    assert.match(e.message, /no AudioWorklet.*Safari 14\.1/);
    return true;
  });
  stub('AudioWorkletNode', class {});
  await assert.rejects(listen(null, () => {}, { context: { sampleRate: 48000 } }), (e) => e.code === 'no-audio-worklet');
  assert.equal(asked, false);
});

function trackWith(settings) {
  return { getAudioTracks: () => [{ getSettings: () => settings }] };
}

const REPORTS = [
  { why: 'all off', settings: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
    report: { echoCancellation: false, noiseSuppression: false, autoGainControl: false, keptOn: [] } },
  { why: 'echo cancellation kept on', settings: { echoCancellation: true, noiseSuppression: false, autoGainControl: false, sampleRate: 48000 },
    report: { echoCancellation: true, noiseSuppression: false, autoGainControl: false, keptOn: ['echoCancellation'] } },
  { why: 'an engine that reports one filter', settings: { echoCancellation: true },
    report: { echoCancellation: true, noiseSuppression: null, autoGainControl: null, keptOn: ['echoCancellation'] } },
  { why: 'a stream that is no microphone', settings: {},
    report: { echoCancellation: null, noiseSuppression: null, autoGainControl: null, keptOn: [] } },
  { why: 'values that are not booleans', settings: { echoCancellation: 'all', noiseSuppression: 1 },
    report: { echoCancellation: null, noiseSuppression: null, autoGainControl: null, keptOn: [] } },
];
for (const r of REPORTS) {
  test(`voiceProcessing: ${r.why}`, () => {
    assert.deepEqual(voiceProcessing(trackWith(r.settings)), r.report);
  });
}

test('voiceProcessing of no stream, or a stream without audio, reports nothing on', () => {
  const none = { echoCancellation: null, noiseSuppression: null, autoGainControl: null, keptOn: [] };
  assert.deepEqual(voiceProcessing(null), none);
  assert.deepEqual(voiceProcessing({ getAudioTracks: () => [] }), none);
});
