// Study: the WebAssembly listener's speed against the native one in the same
// run, and the package's size. Needs a native build (build/ of this checkout,
// or QUORLAX_NATIVE_BUILD) and `npm run build`. Usage: node bench/speed.mjs [seconds]
// (QUORLAX_WASM_SIMD=0: the module without WebAssembly SIMD).
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { Listener, build as wasmBuild, encode, load } from '../dist/index.js';
import { random, scene } from '../test/support.mjs';

const web = fileURLToPath(new URL('..', import.meta.url));
const root = join(web, '..');
const build = process.env.QUORLAX_NATIVE_BUILD ?? join(root, 'build');
const seconds = Number(process.argv[2] ?? 120);
const RUNS = Number(process.env.QUORLAX_RUNS ?? 3);
const CHUNK = 4096;
const work = mkdtempSync(join(tmpdir(), 'quorlax-speed-'));

await load(process.env.QUORLAX_WASM_SIMD === '0' ? { simd: false } : {});
const lib = ['libquorlax.a', 'libquorlax_static.a'].map((f) => join(build, f)).find(existsSync);
if (!lib) throw new Error(`no libquorlax.a in ${build}: build the native library first`);
const exe = join(work, 'listener_speed');
execFileSync('cc', ['-O2', '-o', exe, join(web, 'bench', 'listener_speed.c'), `-I${join(root, 'src')}`, lib, '-lstdc++', '-lm']);

console.log(`${seconds} s of noise with a transmission every 5 s, pushes of ${CHUNK}, best of ${RUNS}; wasm ${wasmBuild().simd ? 'with' : 'without'} SIMD`);
console.log('rate   mode  native x real time  wasm x real time  wasm/native  heard');
for (const rate of [44100, 48000]) {
  for (const mode of ['all', 'audible']) {
    const tx = mode === 'all' ? ['audible', 'nonaudible', 'compression'] : [mode];
    const parts = [];
    for (let i = 0; i < seconds / 5 - 1; i++) parts.push(encode('speed1234', { mode: tx[i % tx.length], rate }));
    const { audio } = scene(parts, { rate, rnd: random(7), lead: 1, gap: 5 - parts[0].length / rate, tail: 1 });
    const file = join(work, 'audio.f32');
    writeFileSync(file, Buffer.from(audio.buffer));
    const modeValue = { all: 5, audible: 2 }[mode];
    const [nativeS, nativeHeard] = execFileSync(exe, [file, String(rate), String(modeValue), String(CHUNK), String(RUNS)], { encoding: 'utf8' })
      .trim().split(' ').map(Number);
    let wasmS = Infinity;
    let wasmHeard = 0;
    for (let r = 0; r < RUNS; r++) {
      const l = new Listener({ mode, rate });
      const t0 = performance.now();
      let heard = 0;
      for (let i = 0; i < audio.length; i += CHUNK) heard += l.push(audio.subarray(i, i + CHUNK)).length;
      heard += l.flush().length;
      wasmS = Math.min(wasmS, (performance.now() - t0) / 1000);
      wasmHeard = heard;
      l.close();
    }
    const secs = audio.length / rate;
    console.log(`${rate}  ${mode.padEnd(7)} ${(secs / nativeS).toFixed(0).padStart(8)}x ${(secs / wasmS).toFixed(0).padStart(17)}x ` +
      `${(nativeS / wasmS).toFixed(2).padStart(12)}  ${nativeHeard}/${wasmHeard} of ${parts.length}`);
  }
}

const packed = JSON.parse(execFileSync('npm', ['pack', '--dry-run', '--json', '--ignore-scripts'], { cwd: web, encoding: 'utf8' }))[0];
console.log(`package ${packed.filename}: ${packed.size} bytes compressed (${(packed.size / 1024).toFixed(1)} KiB), ` +
  `${packed.unpackedSize} unpacked, ${packed.entryCount} files`);
rmSync(work, { recursive: true, force: true });
