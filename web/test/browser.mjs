// Headless Debian chromium driven by puppeteer-core, and a static server for web/.
import { createReadStream, existsSync, mkdtempSync, rmSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

export const CHROMIUM = process.env.QUORLAX_CHROMIUM ?? '/usr/bin/chromium';
export const haveChromium = existsSync(CHROMIUM);

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css',
  '.wasm': 'application/wasm', '.json': 'application/json', '.wav': 'audio/wav' };

/** Serves web/ on 127.0.0.1; resolves to { url, close }. */
export function serveWeb() {
  const root = fileURLToPath(new URL('..', import.meta.url));
  const server = createServer((req, res) => {
    const path = normalize(decodeURIComponent(new URL(req.url, 'http://x').pathname));
    let file = join(root, path);
    if (!file.startsWith(root) || !existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    if (statSync(file).isDirectory()) file = join(file, 'index.html');
    res.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
    createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      resolve({ url: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((r) => server.close(r)) });
    });
  });
}

/** Launches chromium with a fresh profile; `extraArgs` adds flags (fake media devices). */
export async function launch(extraArgs = []) {
  const profile = mkdtempSync(join(tmpdir(), 'quorlax-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--autoplay-policy=no-user-gesture-required', `--user-data-dir=${profile}`, ...extraArgs],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

/** A new page on `url` whose console errors and page errors are collected in `errors`. */
export async function openPage(browser, url) {
  const page = await browser.newPage();
  page.errors = [];
  page.on('console', (m) => {
    if (m.type() === 'error') page.errors.push(m.text());
  });
  page.on('pageerror', (e) => page.errors.push(String(e)));
  await page.goto(url, { waitUntil: 'load' });
  return page;
}
