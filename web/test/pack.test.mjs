// `npm pack` gives a small tarball of dist/ that installs into an empty
// folder, imports, encodes, and type-checks a TypeScript caller.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { encode, load } from '../dist/index.js';

const web = fileURLToPath(new URL('..', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'quorlax-pack-'));
const npm = (args, cwd) => execFileSync('npm', args, { cwd, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
let packed;

before(() => {
  // dist/ is built by then (npm test needs it); the tarball takes it as is.
  packed = JSON.parse(npm(['pack', '--json', '--ignore-scripts', '--pack-destination', work], web))[0];
});
after(() => rmSync(work, { recursive: true, force: true }));

test('the tarball holds the package and nothing else', (t) => {
  const files = packed.files.map((f) => f.path).sort();
  t.diagnostic(`${packed.filename}: ${packed.size} bytes compressed, ${packed.unpackedSize} unpacked, ${files.length} files`);
  for (const f of ['dist/index.js', 'dist/core.js', 'dist/index.d.ts', 'dist/quorlax.wasm', 'dist/quorlax-nosimd.wasm', 'package.json']) {
    assert.ok(files.includes(f), `${f} missing from ${files}`);
  }
  for (const f of files) assert.match(f, /^(dist\/[\w.-]+|package\.json|README\.md)$/, `unexpected ${f}`);
  // Both modules together, as a server sends the package compressed.
  assert.ok(packed.size < 250 * 1024, `${packed.size} bytes compressed`);
});

test('it installs into an empty folder and imports', async () => {
  const app = join(work, 'app');
  execFileSync('mkdir', ['-p', app]);
  writeFileSync(join(app, 'package.json'), JSON.stringify({ name: 'app', private: true, type: 'module' }));
  npm(['install', '--no-audit', '--no-fund', '--ignore-scripts', join(work, packed.filename)], app);
  // Each module, the one picked and the one forced, as the package exports them.
  writeFileSync(join(app, 'main.js'), `
    import { build, load, encode, version } from 'quorlax';
    await load(process.argv[2] ? { simd: process.argv[2] === 'simd' } : {});
    const s = encode('hello1234', { mode: 'compression', rate: 48000 });
    let sum = 0;
    for (const x of s) sum += x * x;
    console.log(JSON.stringify({ version: version(), simd: build().simd, length: s.length, energy: sum,
      files: ['quorlax/quorlax.wasm', 'quorlax/quorlax-nosimd.wasm'].map((f) => import.meta.resolve(f)) }));
  `);
  await load();
  const s = encode('hello1234', { mode: 'compression', rate: 48000 });
  let sum = 0;
  for (const x of s) sum += x * x;
  for (const [forced, simd] of [['', true], ['simd', true], ['plain', false]]) {
    const got = JSON.parse(execFileSync('node', ['main.js', forced], { cwd: app, encoding: 'utf8' }));
    assert.equal(got.simd, simd, forced || 'picked');
    assert.equal(got.length, s.length);
    assert.equal(got.energy, sum);
    assert.match(got.version, /^Quorlax version/);
    assert.match(got.files[0], /node_modules\/quorlax\/dist\/quorlax\.wasm$/);
    assert.match(got.files[1], /node_modules\/quorlax\/dist\/quorlax-nosimd\.wasm$/);
  }

  // The declarations serve a TypeScript caller (compiled, not run): a page
  // with the DOM library, and a Node-only project without it (Node's own types).
  const tsc = fileURLToPath(new URL('../node_modules/typescript/bin/tsc', import.meta.url));
  const nodeTypes = ['--types', 'node', '--typeRoots', fileURLToPath(new URL('../node_modules/@types', import.meta.url))];
  for (const [file, options] of [['consumer.ts', ['--lib', 'es2022,dom']], ['node-consumer.ts', ['--lib', 'es2022', ...nodeTypes]]]) {
    copyFileSync(fileURLToPath(new URL(`types/${file}`, import.meta.url)), join(app, file));
    execFileSync('node', [tsc, '--noEmit', '--strict', '--target', 'es2022', '--module', 'nodenext',
      '--moduleResolution', 'nodenext', ...options, file], { cwd: app, stdio: 'inherit' });
  }
});
