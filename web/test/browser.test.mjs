// The demo page in headless chromium: its play path renders the encoder's samples.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { Listener, encode, load } from '../dist/index.js';
import { haveChromium, launch, openPage, serveWeb } from './browser.mjs';

const skip = !haveChromium && 'no chromium (apt-get install chromium)';
let server;
let browser;

before(async () => {
  if (skip) return;
  await load();
  server = await serveWeb();
  browser = await launch();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

for (const { mode, rate } of [{ mode: 'audible', rate: 48000 }, { mode: 'nonaudible', rate: 44100 }]) {
  test(`the page's play path renders the transmission: ${mode} at ${rate} Hz`, { skip }, async () => {
    const page = await openPage(browser, `${server.url}/demo/`);
    await page.evaluate(() => window.quorlaxDemo.ready);
    await page.$eval('#text', (el) => { el.value = ''; });
    await page.type('#text', 'QUORLAS42');
    await page.select('#send-mode', mode);
    const rendered = await page.evaluate(async (rate) => {
      const ctx = new OfflineAudioContext(1, rate * 3, rate);
      const playing = await window.quorlaxDemo.send({ context: ctx });
      const status = document.getElementById('send-status').textContent;
      const out = await ctx.startRendering();
      return { samples: Array.from(out.getChannelData(0)), length: playing.samples.length, status };
    }, rate);
    const expected = encode('QUORLAS42', { mode, rate });
    assert.equal(rendered.length, expected.length);
    assert.match(rendered.status, new RegExp(`Playing QUORLAS42 in the ${mode} band`));
    // An AudioBufferSourceNode at the context's own rate passes samples through
    // unchanged (the page hands them over as JSON, where -0 becomes 0).
    const differ = expected.filter((x, i) => x !== rendered.samples[i]).length;
    assert.equal(differ, 0, `${differ} samples differ`);
    assert.ok(rendered.samples.slice(expected.length).every((x) => x === 0));
    // And it decodes to the message.
    const l = new Listener({ mode: 'all', rate });
    const heard = [...l.push(Float32Array.from(rendered.samples)), ...l.flush()];
    l.close();
    assert.deepEqual(heard.map((m) => [m.text, m.ok, m.band]), [['QUORLAS42'.toLowerCase(), true, mode]]);
    assert.deepEqual(page.errors, []);
    await page.close();
  });
}

test('a bad message shows the library\'s error text on the page', { skip }, async () => {
  const page = await openPage(browser, `${server.url}/demo/`);
  await page.evaluate(() => window.quorlaxDemo.ready);
  await page.$eval('#text', (el) => { el.value = 'hello!'; });
  await page.click('#play');
  await page.waitForFunction(() => document.getElementById('send-status').classList.contains('error'));
  const status = await page.$eval('#send-status', (el) => el.textContent);
  assert.match(status, /invalid argument.*\[code -4\]/);
  await page.close();
});
