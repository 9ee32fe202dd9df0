// Signals and numbers for the tests, with no Node APIs: the browser tests
// load this file into their pages too.
const f32 = new Float32Array(1);
const i32 = new Int32Array(f32.buffer);
// Float bit patterns mapped onto one ordered integer line.
function ordered(x) {
  f32[0] = x;
  return i32[0] < 0 ? -2147483648 - i32[0] : i32[0];
}

/** How many representable floats lie between a and b (0 when equal). */
export function ulpDistance(a, b) {
  return Math.abs(ordered(a) - ordered(b));
}

/** A seeded generator of uniform numbers in [-0.5, 0.5) (32-bit LCG). */
export function random(seed) {
  let s = seed >>> 0;
  return () => {
    s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
    return s / 2 ** 32 - 0.5;
  };
}

/**
 * `lead` seconds of white noise at `noise` RMS-ish amplitude, then each of
 * `parts` (Float32Array) scaled by `gain` with `gap` seconds between, then
 * `tail` seconds. Returns { audio, offsets }.
 */
export function scene(parts, { rate, lead = 1, gap = 0.5, tail = 0.5, gain = 0.5, noise = 0.02, rnd }) {
  const total = Math.round(rate * (lead + tail + gap * (parts.length - 1))) + parts.reduce((n, p) => n + p.length, 0);
  const audio = new Float32Array(total);
  for (let i = 0; i < total; i++) audio[i] = noise * 2 * rnd();
  const offsets = [];
  let at = Math.round(rate * lead);
  for (const p of parts) {
    offsets.push(at);
    for (let i = 0; i < p.length; i++) audio[at + i] += gain * p[i];
    at += p.length + Math.round(rate * gap);
  }
  return { audio, offsets };
}
