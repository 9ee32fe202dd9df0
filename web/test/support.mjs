// Helpers shared by the tests.
import { existsSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

/** The native quorlax program: $QUORLAX_CLI, else build/tools/quorlax of this checkout; null if neither. */
export function nativeCli() {
  const path = process.env.QUORLAX_CLI ?? fileURLToPath(new URL('../../build/tools/quorlax', import.meta.url));
  if (existsSync(path)) return path;
  if (process.env.QUORLAX_CLI) throw new Error(`QUORLAX_CLI=${path} does not exist`);
  return null;
}

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
