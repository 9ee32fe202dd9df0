// Helpers shared by the tests that run in Node.
import { existsSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

/** The native quorlax program: $QUORLAX_CLI, else build/tools/quorlax of this checkout; null if neither. */
export function nativeCli() {
  const path = process.env.QUORLAX_CLI ?? fileURLToPath(new URL('../../build/tools/quorlax', import.meta.url));
  if (existsSync(path)) return path;
  if (process.env.QUORLAX_CLI) throw new Error(`QUORLAX_CLI=${path} does not exist`);
  return null;
}

export { random, scene, ulpDistance } from './signal.mjs';

/** A seed for this run: $QUORLAX_SEED, else a fresh one; tests print it. */
export function seed() {
  return process.env.QUORLAX_SEED ? Number(process.env.QUORLAX_SEED) : (Math.random() * 2 ** 31) >>> 0;
}
