// Builds quorlax.wasm with the project's CMake (cmake/wasm.cmake toolchain) and
// lays out dist/: both wasm modules, the ES modules and their type declarations.
// QUORLAX_WASM_BUILD sets the CMake build folder (default: build-wasm at the top;
// the build without SIMD goes to the same name with -nosimd).
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, readdirSync, rmSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const web = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const root = resolve(web, '..');
const build = resolve(process.env.QUORLAX_WASM_BUILD ?? join(root, 'build-wasm'));
const dist = join(web, 'dist');

// Debian's emscripten finds acorn there.
const nodePath = ['/usr/share/nodejs', process.env.NODE_PATH].filter(Boolean).join(':');
const env = { ...process.env, NODE_PATH: nodePath };
const run = (cmd, args) => execFileSync(cmd, args, { stdio: 'inherit', env });

// The module with wasm SIMD, and the one for engines without it.
const BUILDS = [
  { folder: build, simd: 'ON', file: 'quorlax.wasm' },
  { folder: `${build}-nosimd`, simd: 'OFF', file: 'quorlax-nosimd.wasm' },
];
for (const b of BUILDS) {
  if (!existsSync(join(b.folder, 'CMakeCache.txt'))) {
    run('cmake', ['-S', root, '-B', b.folder, '--toolchain', join(root, 'cmake', 'wasm.cmake'),
      '-DCMAKE_BUILD_TYPE=Release', `-DQUORLAX_WASM_SIMD=${b.simd}`, '-DQUORLAX_BUILD_TESTS=OFF',
      '-DQUORLAX_BUILD_PYTHON=OFF', '-DQUORLAX_BUILD_CLI=OFF', '-DQUORLAX_BUILD_BENCH=OFF', '-DBUILD_SHARED_LIBS=OFF']);
  }
  run('cmake', ['--build', b.folder, '--target', 'quorlax_wasm', '-j', '2']);
}

rmSync(dist, { recursive: true, force: true });
mkdirSync(dist);
for (const b of BUILDS) copyFileSync(join(b.folder, 'web', 'quorlax.wasm'), join(dist, b.file));
for (const f of readdirSync(join(web, 'src'))) copyFileSync(join(web, 'src', f), join(dist, f));
console.log(`quorlax: built ${dist}`);
