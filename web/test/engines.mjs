// The three browser engines the package is tested in, behind one small
// interface, and a static server for web/:
//   chromium  Debian's chromium, puppeteer-core over the DevTools protocol
//   firefox   Debian's firefox-esr, puppeteer-core over WebDriver BiDi
//   webkit    WebKitGTK's MiniBrowser, through WebKitWebDriver (selenium-webdriver),
//             on a private Xvfb display
// launch(name, options) gives { name, version, open(url), close() }; a page
// has evaluate(fn, ...args) (fn runs in the page, may be async, returns JSON),
// waitFor(fn, ...args), errors() (what the page reported as errors) and close(). Options, each mapped onto the engine's own
// switch where it has one (supports(name, option)): env (the browser's
// environment: firefox's sound server), microphoneWav (a WAV as its
// microphone), denyMicrophone, noMicrophone, noWebAssembly, noSimd (the engine
// runs WebAssembly without SIMD), proxy (a port: every request goes to the test
// server there, so that a host such as quorlax.test reaches it over plain http).
import { spawn } from 'node:child_process';
import { createReadStream, existsSync, mkdtempSync, rmSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { createServer as createNetServer } from 'node:net';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { Builder } from 'selenium-webdriver';

const BINARIES = {
  chromium: process.env.QUORLAX_CHROMIUM ?? '/usr/bin/chromium',
  firefox: process.env.QUORLAX_FIREFOX ?? '/usr/bin/firefox-esr',
  webkit: process.env.QUORLAX_WEBKIT_DRIVER ?? '/usr/bin/WebKitWebDriver',
};
const MINIBROWSER = process.env.QUORLAX_MINIBROWSER ?? '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const PACKAGES = { chromium: 'chromium', firefox: 'firefox-esr', webkit: 'webkit2gtk-driver xvfb' };

/** Why `name` cannot run here (a skip reason), or false when it can. */
export function missing(name) {
  const needed = name === 'webkit' ? [BINARIES.webkit, MINIBROWSER, '/usr/bin/Xvfb'] : [BINARIES[name]];
  return needed.every(existsSync) ? false : `no ${name} here (apt-get install ${PACKAGES[name]})`;
}

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css',
  '.wasm': 'application/wasm', '.json': 'application/json', '.wav': 'audio/wav' };

/**
 * Serves web/ on 127.0.0.1, and `extra` ({ '/path': file }) beside it; resolves
 * to { url, port, close }. It answers proxy requests for any host the same way.
 */
export function serveWeb(extra = {}) {
  const root = fileURLToPath(new URL('..', import.meta.url));
  const server = createServer((req, res) => {
    const path = normalize(decodeURIComponent(new URL(req.url, 'http://x').pathname));
    let file = extra[path] ?? join(root, path);
    if ((!extra[path] && !file.startsWith(root)) || !existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    if (statSync(file).isDirectory()) file = join(file, 'index.html');
    res.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
    createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.closeAllConnections ??= () => {};
      resolve({
        url: `http://127.0.0.1:${port}`,
        port,
        close: () => new Promise((r) => {
          server.close(r);
          server.closeAllConnections();
        }),
      });
    });
  });
}

// --- puppeteer-core: chromium and firefox -----------------------------------

function chromiumArgs(o, profile) {
  const args = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--autoplay-policy=no-user-gesture-required', `--user-data-dir=${profile}`];
  if (o.microphoneWav) args.push(`--use-file-for-fake-audio-capture=${o.microphoneWav}`);
  if (!o.noMicrophone) args.push('--use-fake-device-for-media-stream');
  // Without this switch headless chromium refuses every permission prompt.
  if (!o.denyMicrophone) args.push('--use-fake-ui-for-media-stream');
  // V8 without its compilers has no WebAssembly, as where a policy turns them off.
  if (o.noWebAssembly) args.push('--js-flags=--jitless');
  if (o.proxy) args.push(`--proxy-server=http://127.0.0.1:${o.proxy}`, '--proxy-bypass-list=<-loopback>');
  return args;
}

function firefoxPrefs(o) {
  const prefs = {
    // The sound server's microphone, or (without one) a fake that plays a tone;
    // granted without a prompt.
    'media.navigator.streams.fake': !o.env?.PULSE_SERVER,
    'media.navigator.permission.disabled': !o.denyMicrophone,
    'media.autoplay.default': 0,
    'media.autoplay.block-webaudio': false,
  };
  if (o.denyMicrophone) prefs['permissions.default.microphone'] = 2;
  if (o.noWebAssembly) prefs['javascript.options.wasm'] = false;
  if (o.proxy) {
    Object.assign(prefs, { 'network.proxy.type': 1, 'network.proxy.http': '127.0.0.1', 'network.proxy.http_port': o.proxy,
      'network.proxy.no_proxies_on': '', 'network.proxy.allow_hijacking_localhost': false });
  }
  return prefs;
}

async function launchPuppeteer(name, o) {
  const profile = mkdtempSync(join(tmpdir(), `quorlax-${name}-`));
  const browser = name === 'chromium'
    ? await puppeteer.launch({ executablePath: BINARIES.chromium, headless: true, args: chromiumArgs(o, profile) })
    : await puppeteer.launch({ browser: 'firefox', executablePath: BINARIES.firefox, headless: true, env: o.env ?? process.env,
      userDataDir: profile, extraPrefsFirefox: firefoxPrefs(o) });
  const version = (await browser.version()).replace(/^[^/]*\//, '');
  return {
    name,
    version,
    async open(url) {
      const page = await browser.newPage();
      const errors = [];
      page.on('console', (m) => {
        if (m.type() === 'error') errors.push(m.text());
      });
      page.on('pageerror', (e) => errors.push(String(e)));
      await page.goto(url, { waitUntil: 'load' });
      return {
        errors: async () => errors,
        raw: page,
        evaluate: (fn, ...args) => page.evaluate(fn, ...args),
        waitFor: async (fn, ...args) => (await page.waitForFunction(fn, { timeout: 30000, polling: 50 }, ...args)).jsonValue(),
        close: () => page.close(),
      };
    },
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// --- WebKitWebDriver: webkit ---------------------------------------------------

/** A private X display (WebKitGTK needs one); resolves to { display, child }. */
function startXvfb() {
  // -displayfd: Xvfb picks a free display and writes its number to stdout.
  const child = spawn('Xvfb', ['-displayfd', '1', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => {
    err = (err + d).slice(-2000);
  });
  return new Promise((resolve, reject) => {
    const fail = (why) => {
      clearTimeout(timer);
      child.kill();
      reject(new Error(`Xvfb ${why}:\n${err}`));
    };
    const timer = setTimeout(() => fail('did not start in 20 s'), 20000);
    child.on('error', (e) => fail(String(e)));
    child.on('exit', (code) => fail(`exited (${code})`));
    child.stdout.on('data', (d) => {
      out += d;
      const m = /^(\d+)\n/.exec(out);
      if (!m) return;
      clearTimeout(timer);
      child.removeAllListeners('exit');
      resolve({ display: `:${m[1]}`, child });
    });
  });
}

function stopProcess(child) {
  child.removeAllListeners('exit');
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    child.once('exit', resolve);
    child.kill();
  });
}

function freePort() {
  const probe = createNetServer();
  return new Promise((resolve, reject) => {
    probe.on('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

async function untilAnswers(url, ms) {
  const until = Date.now() + ms;
  for (;;) {
    try {
      if ((await fetch(url)).ok) return;
    } catch {
      // not listening yet
    }
    if (Date.now() > until) throw new Error(`${url} did not answer in ${ms / 1000} s`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

async function launchWebKit(o) {
  const xvfb = await startXvfb();
  // JavaScriptCore takes its options from JSC_* variables, in every process it runs in.
  const env = { ...process.env, DISPLAY: xvfb.display };
  if (o.noSimd) env.JSC_useWasmSIMD = 'false';
  // The driver says nothing when it is ready: it is once it answers /status.
  const port = await freePort();
  const driver = spawn(BINARIES.webkit, [`--port=${port}`], { env, stdio: 'ignore' });
  try {
    await untilAnswers(`http://127.0.0.1:${port}/status`, 20000);
  } catch (e) {
    await stopProcess(driver);
    await stopProcess(xvfb.child);
    throw e;
  }
  const args = ['--automation', '--enable-media-stream=true', '--enable-mock-capture-devices=true', '--enable-webaudio=true',
    '--autoplay-policy=allow', '--media-playback-requires-user-gesture=false'];
  if (o.proxy) args.push(`--proxy=http://127.0.0.1:${o.proxy}`);
  const stop = async () => {
    await stopProcess(driver);
    await stopProcess(xvfb.child);
  };
  let session;
  try {
    session = await new Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
      browserName: 'MiniBrowser',
      'webkitgtk:browserOptions': { binary: MINIBROWSER, args },
    }).build();
    await session.manage().setTimeouts({ script: 120000, pageLoad: 60000 });
  } catch (e) {
    await stop();
    throw e;
  }
  const version = (await session.getCapabilities()).get('browserVersion');
  // Classic WebDriver runs scripts, not functions: each call sends the
  // function's source and its arguments, and waits for its promise.
  const run = async (fn, args) => {
    const r = await session.executeAsyncScript(`const done = arguments[arguments.length - 1];
      Promise.resolve().then(() => (${fn})(...Array.prototype.slice.call(arguments, 0, -1)))
        .then((value) => done({ value }), (e) => done({ error: String(e && e.stack ? e + '\\n' + e.stack : e) }));`, ...args);
    if (r.error) throw new Error(r.error);
    return r.value;
  };
  let pages = 0;
  return {
    name: 'webkit',
    version,
    async open(url) {
      // One window: a page is the window's current document.
      if (pages++) await session.get('about:blank');
      await session.get(url);
      await run(() => {
        window.quorlaxErrors = [];
        window.addEventListener('error', (e) => window.quorlaxErrors.push(String(e.message)));
        window.addEventListener('unhandledrejection', (e) => window.quorlaxErrors.push(String(e.reason)));
      }, []);
      return {
        errors: () => run(() => window.quorlaxErrors ?? [], []),
        evaluate: (fn, ...args) => run(fn, args),
        waitFor: (fn, ...args) => run(`async (...a) => {
          const test = ${fn};
          const until = Date.now() + 30000;
          for (;;) {
            const v = await test(...a);
            if (v) return v;
            if (Date.now() > until) throw new Error('timed out waiting for ' + ${JSON.stringify(String(fn))});
            await new Promise((r) => setTimeout(r, 50));
          }
        }`, args),
        close: async () => {},
      };
    },
    async close() {
      try {
        await session.quit();
      } finally {
        await stop();
      }
    },
  };
}

// The options each engine has no switch for here.
const UNSUPPORTED = {
  // V8 and SpiderMonkey keep WebAssembly SIMD on wherever the CPU has it.
  chromium: ['noSimd'],
  firefox: ['microphoneWav', 'noMicrophone', 'noSimd'],
  // MiniBrowser grants capture under automation, and JavaScriptCore keeps
  // WebAssembly whatever its options say (it interprets without a JIT).
  webkit: ['microphoneWav', 'noMicrophone', 'denyMicrophone', 'noWebAssembly'],
};

/** Whether `launch(name, { [option]: ... })` can be done here. */
export function supports(name, option) {
  return !UNSUPPORTED[name].includes(option);
}

/** Starts engine `name` with `options` (see the top of this file); unsupported ones are an error. */
export function launch(name, options = {}) {
  const refused = Object.keys(options).filter((k) => options[k] && !supports(name, k));
  if (refused.length) return Promise.reject(new Error(`${name} cannot be started with ${refused.join(', ')}`));
  return name === 'webkit' ? launchWebKit(options) : launchPuppeteer(name, options);
}
